#include "db/jetlexer.h"

namespace db {

namespace {

bool startsWord(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') ||
           c.unicode() >= 0x80;
}

bool continuesWord(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') ||
           c == QLatin1Char('.') || (c.unicode() >= 0x80 && !c.isSpace());
}

bool opensName(QChar c) {
    return c == QLatin1Char('[') || c == QLatin1Char('"') || c == QLatin1Char('`');
}

} // namespace

void JetLexer::skipSpace() {
    while (i_ < s_.size() && s_[i_].isSpace())
        ++i_;
}

// From the opening character at i_ to its closing one; a doubled closing character is one
// character of the content.
JetLexer::Result JetLexer::quoted(QChar close, QString* out) {
    QString content;
    for (qsizetype j = i_ + 1; j < s_.size(); ++j) {
        if (s_[j] != close) {
            content += s_[j];
        } else if (j + 1 < s_.size() && s_[j + 1] == close) {
            content += close;
            ++j;
        } else {
            i_ = j + 1;
            *out = content;
            return Ok;
        }
    }
    return close == QLatin1Char('\'') ? OpenText : OpenName;
}

JetLexer::Result JetLexer::next(JetToken* token) {
    if (i_ >= s_.size()) return End;
    const QChar c = s_[i_];
    if (c.isSpace()) {
        skipSpace();
        *token = {JetToken::Space, QStringLiteral(" ")};
        return Ok;
    }
    if (opensName(c) || c == QLatin1Char('\'')) {
        QString content;
        const bool isName = c != QLatin1Char('\'');
        const Result r = quoted(c == QLatin1Char('[') ? QLatin1Char(']') : c, &content);
        if (r == Ok) *token = {isName ? JetToken::Name : JetToken::Text, content};
        return r;
    }
    if (startsWord(c)) {
        const qsizetype start = i_;
        while (i_ < s_.size() && continuesWord(s_[i_]))
            ++i_;
        *token = {JetToken::Word, s_.mid(start, i_ - start)};
        return Ok;
    }
    const QString two = s_.mid(i_, 2);
    if (two == QLatin1String("<>") || two == QLatin1String("<=") || two == QLatin1String(">=") ||
        two == QLatin1String("!=")) {
        i_ += 2;
        *token = {JetToken::Symbol, two};
    } else {
        ++i_;
        *token = {JetToken::Symbol, QString(c)};
    }
    return Ok;
}

bool JetLexer::atEnd() {
    skipSpace();
    return i_ >= s_.size();
}

QChar JetLexer::peek() {
    skipSpace();
    return i_ < s_.size() ? s_[i_] : QChar();
}

bool JetLexer::symbol(QChar c) {
    if (atEnd() || s_[i_] != c) return false;
    ++i_;
    return true;
}

bool JetLexer::keyword(QLatin1StringView word) {
    skipSpace();
    if (QStringView(s_).mid(i_, word.size()).compare(word, Qt::CaseInsensitive) != 0) return false;
    const qsizetype end = i_ + word.size();
    if (end < s_.size() && !s_[end].isSpace() && s_[end] != QLatin1Char('\'')) return false;
    i_ = end;
    return true;
}

JetLexer::Result JetLexer::name(QString* out) {
    const QChar c = peek();
    if (!opensName(c)) return NotHere;
    return quoted(c == QLatin1Char('[') ? QLatin1Char(']') : c, out);
}

JetLexer::Result JetLexer::text(QString* out) {
    if (peek() != QLatin1Char('\'')) return NotHere;
    return quoted(QLatin1Char('\''), out);
}

QString JetLexer::until(QStringView stops) {
    skipSpace();
    const qsizetype start = i_;
    while (i_ < s_.size() && !s_[i_].isSpace() && !stops.contains(s_[i_]))
        ++i_;
    return s_.mid(start, i_ - start);
}

} // namespace db
