#pragma once
// Client lists whose true duplicates are known, for measuring how well a duplicate check finds
// them: every row names the customer it belongs to. A customer may be entered more than once, each
// further entry re-typed the way clerks do it (other characters, formats and abbreviations, a
// typo, a field left out), and some customers are made to look like another one (a namesake, a
// family member, a colleague) without being the same. The same options always give the same rows.
#include "bench/gen/clientgen.h"

#include <QString>

#include <vector>

namespace gen {

struct LabelledOptions {
    int customers = 4000;         // distinct true customers
    quint32 seed = 1;             // same options -> same rows, byte for byte
    double reentryShare = 0.35;   // share of customers entered more than once (2 to 4 entries,
                                  // mostly 2)
    double lookalikeShare = 0.15; // share of customers made as hard look-alikes of another one
    QString regionCsv;            // empty: defaultRegionCsv() if it exists, else builtInRegions()
};

// The fields are 姓名 电话 地址 身份证号 单位名称 邮编 (Chinese lists) or name address city
// birth_date (Latin-script lists), in this order. copyOf gives a further entry's row of the
// customer's first entry (-1 for a first entry), nearCopies the number of further entries;
// exactCopies is 0: every further entry differs from the first.
struct LabelledTable : Table {
    std::vector<int> entity;      // per row: the true customer it belongs to (0-based)
    std::vector<QString> change;  // per row: what the entry changed against the customer's first
                                  // entry, kinds joined by '+' ("traditional+phone-format");
                                  // empty for a first entry
    std::vector<int> lookalikeOf; // per customer: the customer it was made to look like,
                                  // -1 for none
    std::vector<QString> lookalikeKind; // per customer: "namesake", "family", "colleague" or
                                        // empty
};

LabelledTable generateLabelled(const LabelledOptions& options);
// A Latin-script list (fields: name, address, city, birth_date), the same kinds of typos as
// record-linkage test lists have: letters swapped/dropped/doubled, a nickname or initial for the
// given name, word order "Surname, Given", abbreviations St/Street Rd/Road, a date written
// another way (1984-03-07 / 07.03.1984 / 7/3/1984) or one digit wrong, a field left empty.
LabelledTable generateLatinLabelled(const LabelledOptions& options);

// The number of customers whose list has about `rows` rows, at the given share of customers
// entered more than once (the same for both kinds of list).
int customersForRows(int rows, double reentryShare);

struct PairScores {
    qint64 truePairs = 0, foundPairs = 0, correctPairs = 0;
    double precision = 0, recall = 0, f1 = 0;
};
// Pairwise scores: true pairs are the pairs of rows with one entity; found pairs the pairs of rows
// in one group (groupOfRow[i] < 0: in no group). Precision of no found pair is 1; recall of no
// true pair is 1. Counts without building the pairs (group sizes, n*(n-1)/2). The rows are those
// of entity; a row past the end of groupOfRow is in no group, and values of groupOfRow past the
// end of entity are not looked at.
PairScores pairScores(const std::vector<int>& entity, const std::vector<int>& groupOfRow);

} // namespace gen
