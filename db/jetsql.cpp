#include "db/jetsql.h"

#include <QRegularExpression>

#include "db/jetlexer.h"

#include <vector>

namespace db {

namespace {

bool tokenize(const QString& s, std::vector<JetToken>* out, QString* error) {
    JetLexer lexer(s);
    JetToken t;
    for (;;) {
        switch (lexer.next(&t)) {
        case JetLexer::Ok:
            out->push_back(t);
            break;
        case JetLexer::End:
        case JetLexer::NotHere:
            return true;
        case JetLexer::OpenName:
            *error = QStringLiteral("语句中的名称缺少结束符：%1").arg(s);
            return false;
        case JetLexer::OpenText:
            *error = QStringLiteral("语句中的文字缺少结束引号：%1").arg(s);
            return false;
        }
    }
}

bool isWord(const JetToken& t, const char* w) {
    return t.kind == JetToken::Word && t.text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
}

QString quoteLiteral(const QString& v) {
    QString q = v;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// A Jet Like pattern as an SQLite LIKE pattern with "\" as escape character.
bool likeToSqlite(const QString& jet, QString* out, QString* error) {
    QString r;
    for (int i = 0; i < jet.size(); ++i) {
        const QChar c = jet[i];
        if (c == QLatin1Char('[')) {
            const int close = jet.indexOf(QLatin1Char(']'), i + 2);
            if (close < 0 || close != i + 2) {
                *error = QStringLiteral("不支持的模式（只支持 %、_ 和 [x]）：%1").arg(jet);
                return false;
            }
            const QChar lit = jet[i + 1];
            if (lit == QLatin1Char('%') || lit == QLatin1Char('_') || lit == QLatin1Char('\\'))
                r += QLatin1Char('\\');
            r += lit;
            i = close;
        } else if (c == QLatin1Char('\\')) {
            r += QLatin1String("\\\\");
        } else {
            r += c;
        }
    }
    *out = r;
    return true;
}

QString render(const std::vector<JetToken>& toks, size_t from, size_t to, QString* error,
               bool* ok) {
    QString out;
    const JetToken* prevSig = nullptr; // previous significant token
    for (size_t i = from; i < to && *ok; ++i) {
        const JetToken& t = toks[i];
        switch (t.kind) {
        case JetToken::Space:
            if (!out.endsWith(QLatin1Char(' '))) out += QLatin1Char(' ');
            break;
        case JetToken::Name:
            out += sqliteIdent(t.text);
            break;
        case JetToken::Word:
            out += t.text;
            break;
        case JetToken::Symbol:
            out += t.text;
            break;
        case JetToken::Text:
            if (prevSig && isWord(*prevSig, "Like")) {
                QString pat;
                if (!likeToSqlite(t.text, &pat, error)) {
                    *ok = false;
                    break;
                }
                out += quoteLiteral(pat) + QLatin1String(" ESCAPE '\\'");
            } else {
                out += quoteLiteral(t.text);
                if (prevSig && prevSig->kind == JetToken::Symbol &&
                    (prevSig->text == QLatin1String("=") || prevSig->text == QLatin1String("<>") ||
                     prevSig->text == QLatin1String("!=")))
                    out += QLatin1String(" COLLATE NOCASE");
            }
            break;
        }
        if (t.kind != JetToken::Space) prevSig = &t;
    }
    return out.trimmed();
}

size_t nextSig(const std::vector<JetToken>& toks, size_t i) {
    while (i < toks.size() && toks[i].kind == JetToken::Space)
        ++i;
    return i;
}

QString nameOf(const JetToken& t) {
    return t.text;
}

} // namespace

bool translateJet(const QString& jetSql, JetStatement* out, QString* error) {
    *out = JetStatement{};
    std::vector<JetToken> toks;
    if (!tokenize(jetSql.trimmed(), &toks, error)) return false;
    bool ok = true;
    const size_t first = nextSig(toks, 0);
    if (first >= toks.size()) {
        *error = QStringLiteral("空语句");
        return false;
    }
    if (isWord(toks[first], "Delete")) {
        // Delete [*] From t [Where ...]
        size_t i = nextSig(toks, first + 1);
        if (i < toks.size() && toks[i].kind == JetToken::Symbol &&
            toks[i].text == QLatin1String("*"))
            i = nextSig(toks, i + 1);
        out->sql = QLatin1String("DELETE ") + render(toks, i, toks.size(), error, &ok);
        out->kind = JetStatement::Other;
        return ok;
    }
    if (isWord(toks[first], "Select")) {
        // Find the top-level Into and From.
        int depth = 0;
        size_t into = toks.size(), from = toks.size();
        for (size_t i = first + 1; i < toks.size(); ++i) {
            const JetToken& t = toks[i];
            if (t.kind == JetToken::Symbol && t.text == QLatin1String("(")) ++depth;
            if (t.kind == JetToken::Symbol && t.text == QLatin1String(")")) --depth;
            if (depth != 0) continue;
            if (into == toks.size() && from == toks.size() && isWord(t, "Into")) into = i;
            if (from == toks.size() && isWord(t, "From")) from = i;
        }
        if (into < toks.size()) {
            const size_t target = nextSig(toks, into + 1);
            if (target >= toks.size() ||
                (toks[target].kind != JetToken::Name && toks[target].kind != JetToken::Word)) {
                *error = QStringLiteral("Select Into 语句缺少目标表：%1").arg(jetSql);
                return false;
            }
            out->kind = JetStatement::SelectInto;
            out->intoTable = nameOf(toks[target]);
            std::vector<JetToken> rest(toks.begin(), toks.begin() + long(into));
            rest.insert(rest.end(), toks.begin() + long(target) + 1, toks.end());
            out->sql = render(rest, 0, rest.size(), error, &ok);
            return ok;
        }
        out->kind = JetStatement::Select;
        out->sql = render(toks, 0, toks.size(), error, &ok);
        // A plain single-table select can be written back through the rowid.
        if (from < toks.size()) {
            const size_t list = nextSig(toks, first + 1);
            out->selectAll = list < toks.size() && toks[list].kind == JetToken::Symbol &&
                             toks[list].text == QLatin1String("*") &&
                             nextSig(toks, list + 1) == from;
            const size_t table = nextSig(toks, from + 1);
            if (table < toks.size() &&
                (toks[table].kind == JetToken::Name || toks[table].kind == JetToken::Word)) {
                const size_t after = nextSig(toks, table + 1);
                const bool single = after >= toks.size() || isWord(toks[after], "Where") ||
                                    isWord(toks[after], "Order");
                bool distinct = isWord(toks[nextSig(toks, first + 1)], "Distinct");
                if (single && !distinct) out->baseTable = nameOf(toks[table]);
            }
        }
        return ok;
    }
    out->kind = JetStatement::Other;
    out->sql = render(toks, first, toks.size(), error, &ok);
    return ok;
}

bool isIntoFileStatement(const QString& jetSql) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*select\\b.*\\binto\\s*\\[[^\\]]*;\\s*database\\s*="),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return re.match(jetSql).hasMatch();
}

} // namespace db
