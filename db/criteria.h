#pragma once
// Criteria of filters and finds: "<field> = '<value>'" and "<field> Like '<pattern>'" terms
// joined by " And ", and the one text comparison rule of the program: normalised values (blanks
// at both ends left out, the stored value's and the criterion's), ASCII letter case folded, every
// other character compared as it is.
#include "db/formats/blanks.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace db {

inline char16_t foldChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool equalsFolded(const char16_t* a, int alen, const char16_t* b, int blen);

// The normalised form of a value: blanks (spaces) trimmed at both ends, nothing else.
using formats::trimBlanks;
uint64_t hashFolded(const char16_t* s, int len, uint64_t seed = 1469598103934665603ull);

// A compiled Like pattern: "%" any text, "_" any one character, "[...]" a set ("[%]" a
// literal %, "[!...]" a negated set).
struct LikeToken {
    enum Kind : uint8_t { Char, AnyOne, AnyText, Set } kind;
    bool negated = false;
    char16_t ch = 0;    // Char (folded)
    std::u16string set; // Set (folded)
};
using LikePattern = std::vector<LikeToken>;

bool compileLike(const QString& pattern, LikePattern* out, QString* error);
bool likeMatch(const LikePattern& pattern, const char16_t* s, int len);
// Runs of literal characters of a pattern (folded), for index look-ups.
std::vector<std::u16string> likeLiteralRuns(const LikePattern& pattern);

struct CriterionTerm {
    enum Op : uint8_t { Equal, Like } op = Equal;
    QString field;
    QString value;      // Equal: the value; Like: the pattern text
    std::u16string key; // Equal: the value as UTF-16
    LikePattern pattern;
    int column = -1; // resolved by the recordset
};

struct Criterion {
    std::vector<CriterionTerm> terms;
    bool empty() const { return terms.empty(); }
};

// A criterion of "=" terms on the given fields, for loops that change only the values: set a
// term's value with setEqualsValue().
Criterion equalsCriterion(const QStringList& fields);
void setEqualsValue(CriterionTerm& term, QStringView value);
// The criterion as text (built through the quoting helper).
QString criterionText(const Criterion& c);

// Parses a criterion; false with a Chinese error text for anything else.
bool parseCriterion(const QString& text, Criterion* out, QString* error);

} // namespace db
