#include "db/criteria.h"

#include "db/jetlexer.h"
#include "db/sqltext.h"

namespace db {

bool equalsFolded(const char16_t* a, int alen, const char16_t* b, int blen) {
    if (alen != blen) return false;
    for (int i = 0; i < alen; ++i)
        if (a[i] != b[i] && foldChar(a[i]) != foldChar(b[i])) return false;
    return true;
}

uint64_t hashFolded(const char16_t* s, int len, uint64_t h) {
    for (int i = 0; i < len; ++i) {
        h ^= foldChar(s[i]);
        h *= 1099511628211ull;
    }
    h ^= uint64_t(len) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    return h;
}

bool compileLike(const QString& pattern, LikePattern* out, QString* error) {
    out->clear();
    const char16_t* p = reinterpret_cast<const char16_t*>(pattern.utf16());
    const int n = int(pattern.size());
    for (int i = 0; i < n; ++i) {
        const char16_t c = p[i];
        LikeToken t{LikeToken::Char, false, 0, {}};
        if (c == u'%') {
            if (!out->empty() && out->back().kind == LikeToken::AnyText) continue;
            t.kind = LikeToken::AnyText;
        } else if (c == u'_') {
            t.kind = LikeToken::AnyOne;
        } else if (c == u'[') {
            int j = i + 1;
            t.kind = LikeToken::Set;
            if (j < n && p[j] == u'!') {
                t.negated = true;
                ++j;
            }
            // The first character after "[" (or "[!") belongs to the set even if it is "]".
            const int start = j;
            while (j < n && (p[j] != u']' || j == start))
                ++j;
            if (j >= n) {
                if (error) *error = QStringLiteral("条件中的模式缺少“]”：%1").arg(pattern);
                return false;
            }
            for (int k = start; k < j; ++k)
                t.set.push_back(foldChar(p[k]));
            i = j;
            if (!t.negated && t.set.size() == 1) {
                t.kind = LikeToken::Char;
                t.ch = t.set[0];
                t.set.clear();
            }
        } else {
            t.ch = foldChar(c);
        }
        out->push_back(std::move(t));
    }
    return true;
}

static bool tokenMatches(const LikeToken& t, char16_t c) {
    switch (t.kind) {
    case LikeToken::Char:
        return t.ch == foldChar(c);
    case LikeToken::AnyOne:
        return true;
    case LikeToken::Set: {
        const bool in = t.set.find(foldChar(c)) != std::u16string::npos;
        return in != t.negated;
    }
    case LikeToken::AnyText:
        return false;
    }
    return false;
}

bool likeMatch(const LikePattern& pat, const char16_t* s, int len) {
    // Iterative matching with one back-tracking point per "%" (the last one seen).
    size_t pi = 0;
    int si = 0;
    size_t starP = size_t(-1);
    int starS = 0;
    while (si < len) {
        if (pi < pat.size() && pat[pi].kind != LikeToken::AnyText && tokenMatches(pat[pi], s[si])) {
            ++pi;
            ++si;
        } else if (pi < pat.size() && pat[pi].kind == LikeToken::AnyText) {
            starP = pi++;
            starS = si;
        } else if (starP != size_t(-1)) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < pat.size() && pat[pi].kind == LikeToken::AnyText)
        ++pi;
    return pi == pat.size();
}

std::vector<std::u16string> likeLiteralRuns(const LikePattern& pattern) {
    std::vector<std::u16string> runs;
    std::u16string cur;
    for (const LikeToken& t : pattern) {
        if (t.kind == LikeToken::Char) {
            cur.push_back(t.ch);
        } else {
            if (!cur.empty()) runs.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) runs.push_back(cur);
    return runs;
}

Criterion equalsCriterion(const QStringList& fields) {
    Criterion c;
    for (const QString& f : fields) {
        CriterionTerm t;
        t.op = CriterionTerm::Equal;
        t.field = f;
        c.terms.push_back(std::move(t));
    }
    return c;
}

void setEqualsValue(CriterionTerm& term, QStringView value) {
    value = trimBlanks(value);
    term.key.assign(reinterpret_cast<const char16_t*>(value.utf16()), size_t(value.size()));
    term.value.clear(); // the text is made only when asked for (criterionText)
}

QString criterionText(const Criterion& c) {
    QStringList terms;
    for (const CriterionTerm& t : c.terms)
        terms << (t.op == CriterionTerm::Equal
                      ? sql::equals(t.field,
                                    QString::fromUtf16(t.key.data(), qsizetype(t.key.size())))
                      : sql::like(t.field, t.value));
    return sql::allOf(terms);
}

bool parseCriterion(const QString& text, Criterion* out, QString* error) {
    out->terms.clear();
    JetLexer lx(text);
    if (lx.atEnd()) return true;
    auto bad = [&](const QString& why) {
        if (error) *error = QStringLiteral("条件无效（%1）：%2").arg(why, text);
        out->terms.clear();
        return false;
    };
    for (;;) {
        CriterionTerm t;
        // A field: a [name] or everything up to a blank, "=", "<", ">" or an apostrophe.
        if (lx.peek() == QLatin1Char('[')) {
            if (lx.name(&t.field) != JetLexer::Ok) return bad(QStringLiteral("缺少字段名"));
        } else {
            t.field = lx.until(u"='<>");
            if (t.field.isEmpty()) return bad(QStringLiteral("缺少字段名"));
        }
        if (lx.symbol(QLatin1Char('='))) {
            t.op = CriterionTerm::Equal;
        } else if (lx.keyword(QLatin1StringView("Like"))) {
            t.op = CriterionTerm::Like;
        } else {
            return bad(QStringLiteral("字段 %1 后缺少“=”或“Like”").arg(t.field));
        }
        if (lx.text(&t.value) != JetLexer::Ok) return bad(QStringLiteral("缺少带引号的值"));
        if (t.op == CriterionTerm::Equal) {
            t.key = trimBlanks(t.value).toStdU16String();
        } else if (!compileLike(t.value, &t.pattern, error)) {
            out->terms.clear();
            return false;
        }
        out->terms.push_back(std::move(t));
        if (lx.atEnd()) return true;
        if (!lx.keyword(QLatin1StringView("And")))
            return bad(QStringLiteral("条件之间只能用“And”连接"));
    }
}

} // namespace db
