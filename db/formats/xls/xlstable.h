#pragma once
// A worksheet or a named range seen as a table, the way the Excel database driver showed it:
// the first row holds the field names, every row below it is a record, values are text.
#include "db/formats/xls/xls.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace formats::xls {

struct Table {
    // A non-empty value: where it stands in the table's texts, twelve bytes rather than a
    // string each (a list of a million rows holds ten million of them).
    struct Value {
        uint32_t at = 0;   // in text, or in more at at - text.size()
        uint32_t size = 0; // characters
        uint16_t col = 0;  // 0-based within the table
    };

    QStringList fields;
    std::vector<qsizetype> longest; // per field, the length of its longest value
    std::vector<size_t> rowStart;   // values of record r: [rowStart[r], rowStart[r + 1])
    std::vector<Value> values;      // the non-empty values, record by record, by column
    // The texts the values stand in: a text file's decoded text as it was read, or an .xlsx
    // workbook's shared strings (shared, not copied); and in more the values written out
    // differently there (a quoted value with doubled quotes, a number's text) or, for a sheet
    // made from its cells, every value, one after another.
    QString text;
    QString more;

    qsizetype rowCount() const { return rowStart.empty() ? 0 : qsizetype(rowStart.size()) - 1; }
    QStringView textOf(const Value& v) const {
        return v.at < uint64_t(text.size()) ? QStringView(text).sliced(v.at, v.size)
                                            : QStringView(more).sliced(v.at - text.size(), v.size);
    }
    // The value of a field in a record (its text not copied: valid while the table is); none
    // for an empty cell.
    std::optional<QString> value(qsizetype row, int col) const;
    // A new last value of the record being read (col after the ones before it), copied into
    // more. Throws std::length_error past what a value can point at (4 G characters of text).
    void add(uint16_t col, QStringView value);
};

// A worksheet's used range as a table. The used range is the smallest rectangle that holds
// every cell with a value (formatted blank cells do not count): its first row gives the field
// names, each row below it to the last row with a value is a record, empty rows inside included
// (as records of NULLs). An empty sheet gives one field F1 and no records.
Table worksheetTable(const Workbook& book, const Sheet& sheet);

// A named range as a table: its first row gives the field names, its other rows down to the
// last one that holds a value are the records.
Table rangeTable(const Workbook& book, const NamedRange& range);

// Field names from the heading cells (nullopt for an empty cell). An empty heading, or one of
// blanks (U+0020) only, becomes F<position> (1-based); any other heading is kept as written. A
// repeated one gets the smallest number suffix that makes it unique without regard to case
// ("Name", "Name1").
QStringList fieldNames(const std::vector<std::optional<QString>>& headings);

} // namespace formats::xls
