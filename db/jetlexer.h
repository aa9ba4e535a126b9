#pragma once
// The lexer of the original engine's SQL (Jet), shared by the statement translator and the
// criteria of filters and finds, so both read names and texts alike:
//   [name], "name", `name`   a name; the closing character doubled inside it stands for itself
//   'text'                   a text; '' inside it is one apostrophe
//   words                    letters, digits, _ and $ (any character past ASCII counts as a
//                            letter), then also dots: t.x, 客户表, Sheet1$
//   symbols                  <> <= >= != and single characters
// White space separates tokens. Nothing is ever read past the end of the text: a name or a text
// left open is reported as such.
#include <QString>

#include <utility>

namespace db {

struct JetToken {
    enum Kind { Space, Word, Name, Text, Symbol };
    Kind kind = Space;
    QString text; // Space: " "; Word, Symbol: as written; Name: the name; Text: the value
};

class JetLexer {
public:
    enum Result { Ok, End, NotHere, OpenName, OpenText };

    explicit JetLexer(QString text) : s_(std::move(text)) {}

    // The next token of a statement; a run of white space is one Space token. End after the
    // last token; OpenName or OpenText for a name or text without its closing character.
    Result next(JetToken* token);

    // Pieces for a parser of its own grammar; each skips white space first.
    bool atEnd();
    QChar peek(); // the next character, or a null character at the end
    bool symbol(QChar c);
    // The word (compared without regard to case) followed by white space, an apostrophe or the
    // end of the text.
    bool keyword(QLatin1StringView word);
    // A name in [brackets], "quotes" or `backquotes`: NotHere when none starts here.
    Result name(QString* out);
    // A 'text': NotHere when none starts here.
    Result text(QString* out);
    // The characters up to white space, the end or one of stops, as written.
    QString until(QStringView stops);

private:
    void skipSpace();
    Result quoted(QChar close, QString* out);

    QString s_;
    qsizetype i_ = 0;
};

} // namespace db
