#pragma once
// The candidate records of the fuzzy check, answered from indexes instead of a query per record.
//
// Every candidate query of a run reads the same table (the check table), and
// nothing writes to it while the run lasts, so the table is read once, into a CandidateTable,
// with indexes over its key field:
//   - its rows in key order ("Order By <key>": nulls first, then the normalised value with
//     ASCII letters folded, compared by code point; equal keys keep table order);
//   - for every character and every pair of adjacent characters of the folded key values, the
//     rows that hold it ("<key> Like '%xy%'");
//   - the rows in postcode order, for "<postcode> Like '<prefix>%'" (the postcode's normalised
//     value: blanks at both ends left out, as every comparison takes it).
// A character is a Unicode code point throughout; a null value matches no pattern.
//
// A CandidateSet is one candidate query's result as a segment slot holds it: the rows of the
// query, and the rows that a filter of "<key> Like '%p%'" terms leaves. The rows of a query are
// never listed unless something walks them; a filter is answered by intersecting the posting
// lists of its terms, rarest first.
#include "db/formats/characters.h"
#include "db/recordset.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace fuzzy {

// ASCII letters folded, every other code unit as it is (the rule of "=" and "Like").
QString foldAscii(QStringView text);
using formats::codePointCount;
using formats::firstCodePoints;
// Code point order of two UTF-16 texts (UTF-16 code unit order differs for surrogates).
int compareCodePoints(QStringView a, QStringView b);

class CandidateTable {
public:
    // Reads every row of the table through the recordset (a snapshot nothing else changes while
    // the run lasts) and indexes keyColumn and, when it is not -1, postcodeColumn.
    void build(db::RecordsetPtr rows, int keyColumn, int postcodeColumn);

    int rowCount() const { return rowCount_; }
    int columnCount() const;
    // The record a row is (its bookmark in the recordset read).
    db::Bookmark bookmark(int row) const { return rows_->bookmarkAt(row); }
    // A stored value (a null view for a null value).
    QStringView value(int row, int column) const { return rows_->viewAt(row, column); }
    int keyColumn() const { return keyColumn_; }
    int postcodeColumn() const { return postcodeColumn_; }
    // Position of a row in key order.
    int rank(int row) const { return rank_[size_t(row)]; }
    // The folded normalised key of a row; empty for a null key (see keyIsNull).
    QStringView foldedKey(int row) const;
    bool keyIsNull(int row) const { return keyNull_[size_t(row)] != 0; }

    // Rows whose folded key holds the folded fragment (one or two code points), in table order;
    // null when the fragment is longer.
    const std::vector<int>* posting(QStringView foldedFragment) const;
    // A row's characters and character pairs as bits (a row that holds a fragment has its bit
    // set; a set bit proves nothing): a cheap first test before the text itself is searched.
    struct Signature {
        uint64_t bits[2] = {0, 0};
        void add(uint64_t fragmentKey);
        bool covers(const Signature& o) const {
            return (bits[0] & o.bits[0]) == o.bits[0] && (bits[1] & o.bits[1]) == o.bits[1];
        }
    };
    const Signature& signature(int row) const { return signature_[size_t(row)]; }
    static uint64_t fragmentKey(QStringView folded);
    // Rows with a non-null key, in table order.
    const std::vector<int>& keyed() const { return keyed_; }
    // Rows whose folded postcode starts with the folded prefix: a range of postcodeOrder().
    std::pair<int, int> postcodeRange(QStringView foldedPrefix) const;
    const std::vector<int>& postcodeOrder() const { return postcodeOrder_; }

private:
    db::RecordsetPtr rows_;
    int rowCount_ = 0;
    int keyColumn_ = -1;
    int postcodeColumn_ = -1;
    std::vector<char16_t> keyText_;                 // folded keys, one after another
    std::vector<std::pair<uint32_t, int32_t>> key_; // per row: offset and length in keyText_
    std::vector<uint8_t> keyNull_;
    std::vector<Signature> signature_;
    std::vector<int> rank_;
    std::vector<int> keyed_;
    std::unordered_map<uint64_t, std::vector<int>> postings_;
    std::vector<int> postcodeOrder_; // rows with a non-null postcode, by folded postcode
    std::vector<QString> foldedPostcode_;
};

// What a candidate query asked for: the key holding a fragment, or the postcode starting with a
// prefix. Empty text: every record whose field is not null.
struct CandidateQuery {
    enum Kind { KeyFragment, PostcodePrefix } kind = KeyFragment;
    QString folded; // the fragment or prefix, folded
};

class CandidateSet {
public:
    CandidateSet(const CandidateTable& table, CandidateQuery query);

    const CandidateQuery& query() const { return query_; }
    // Records under the filter in force (the whole query's result when there is none).
    int recordCount() const;
    bool hasFilter() const { return filtered_; }
    // The filter "<key> Like '%t1%' And <key> Like '%t2%' ..." (terms folded, one or two code
    // points each); no terms removes the filter.
    void setFilter(const std::vector<QStringView>& foldedTerms);
    void clearFilter() { setFilter({}); }
    // The filter's rows as setFilter finds them, worked out already (on another thread).
    void setFilterRows(std::vector<int> rows) {
        rows_ = std::move(rows);
        listed_ = false;
        filtered_ = true;
    }
    // The records under the filter in key order (the query's order).
    const std::vector<int>& rows() const;

private:
    bool inQuery(int row) const;
    bool holdsAll(int row, const std::vector<QStringView>& terms) const;

    const CandidateTable& table_;
    CandidateQuery query_;
    int queryCount_ = 0;
    bool filtered_ = false;
    mutable bool listed_ = false;
    mutable std::vector<int> rows_; // filtered: the filter's rows; otherwise listed on demand
};

} // namespace fuzzy
