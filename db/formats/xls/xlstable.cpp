#include "db/formats/xls/xlstable.h"

#include "db/formats/blanks.h"

#include <QSet>

#include <algorithm>
#include <stdexcept>

namespace formats::xls {

namespace {

struct Area {
    uint32_t firstRow, lastRow;
    uint16_t firstCol, lastCol;
};

std::vector<PlacedCell>::const_iterator firstInRow(const Sheet& sheet, uint32_t row) {
    return std::lower_bound(sheet.cells.begin(), sheet.cells.end(), row,
                            [](const PlacedCell& c, uint32_t r) { return c.row < r; });
}

Table tableOf(const Workbook& book, const Sheet& sheet, const Area& a) {
    Table t;
    const int width = a.lastCol - a.firstCol + 1;
    std::vector<std::optional<QString>> headings(size_t(width), std::nullopt);
    t.longest.assign(size_t(width), 0);
    t.rowStart.reserve(size_t(a.lastRow - a.firstRow) + 1);
    t.rowStart.push_back(0);
    auto it = firstInRow(sheet, a.firstRow);
    const auto end = firstInRow(sheet, a.lastRow + 1);
    t.values.reserve(size_t(end - it));
    // Room for the values' texts at once (a number's text is short): grown by doubling, they
    // would be copied again and again, and held twice while they are.
    qsizetype room = 0;
    for (auto c = it; c != end; ++c)
        room += c->cell.kind == CellKind::Text ? c->cell.text.size() : 12;
    t.more.reserve(std::min<qsizetype>(room, 0xFFFFFFFF));
    for (; it != sheet.cells.end() && it->row == a.firstRow; ++it)
        if (it->col >= a.firstCol && it->col <= a.lastCol)
            headings[it->col - a.firstCol] = displayText(it->cell, book.date1904);
    for (uint64_t row = uint64_t(a.firstRow) + 1; row <= a.lastRow; ++row) {
        for (; it != sheet.cells.end() && it->row < row; ++it) {
        }
        for (; it != sheet.cells.end() && it->row == row; ++it) {
            if (it->col < a.firstCol || it->col > a.lastCol) continue;
            std::optional<QString> text = displayText(it->cell, book.date1904);
            if (!text) continue;
            const uint16_t col = uint16_t(it->col - a.firstCol);
            t.longest[col] = std::max(t.longest[col], text->size());
            t.add(col, *text);
        }
        t.rowStart.push_back(t.values.size()); // a row without cells is a record of NULLs
    }
    t.fields = fieldNames(headings);
    return t;
}

} // namespace

std::optional<QString> Table::value(qsizetype row, int col) const {
    if (row < 0 || row >= rowCount()) return std::nullopt;
    const auto first = values.begin() + qsizetype(rowStart[size_t(row)]);
    const auto last = values.begin() + qsizetype(rowStart[size_t(row) + 1]);
    const auto it =
        std::lower_bound(first, last, col, [](const Value& v, int c) { return v.col < c; });
    if (it == last || it->col != col) return std::nullopt;
    const QStringView v = textOf(*it);
    return QString::fromRawData(v.data(), v.size());
}

void Table::add(uint16_t col, QStringView value) {
    const uint64_t at = uint64_t(text.size()) + uint64_t(more.size());
    if (at + uint64_t(value.size()) > 0xFFFFFFFFu) throw std::length_error("table text too long");
    more.append(value);
    values.push_back({uint32_t(at), uint32_t(value.size()), col});
}

Table worksheetTable(const Workbook& book, const Sheet& sheet) {
    if (sheet.cells.empty()) {
        Table t;
        t.fields = QStringList{QStringLiteral("F1")};
        t.longest = {0};
        t.rowStart = {0};
        return t;
    }
    Area a{sheet.cells.front().row, sheet.cells.back().row, 0xFFFF, 0};
    for (const PlacedCell& c : sheet.cells) {
        a.firstCol = std::min(a.firstCol, c.col);
        a.lastCol = std::max(a.lastCol, c.col);
    }
    return tableOf(book, sheet, a);
}

Table rangeTable(const Workbook& book, const NamedRange& range) {
    const Sheet& sheet = book.sheets.at(size_t(range.sheet));
    Area a{range.firstRow, range.firstRow, range.firstCol, range.lastCol};
    for (auto it = firstInRow(sheet, range.firstRow + 1);
         it != sheet.cells.end() && it->row <= range.lastRow; ++it)
        if (it->col >= range.firstCol && it->col <= range.lastCol) a.lastRow = it->row;
    return tableOf(book, sheet, a);
}

QStringList fieldNames(const std::vector<std::optional<QString>>& headings) {
    QStringList names;
    for (size_t i = 0; i < headings.size(); ++i) {
        QString name = headings[i].value_or(QString());
        name.replace(QChar(0), QLatin1Char(' '));
        names << (isBlank(name) ? QStringLiteral("F%1").arg(i + 1) : name);
    }
    QSet<QString> taken; // every heading as written, so a suffix never takes a later one's name
    for (const QString& n : names)
        taken.insert(n.toCaseFolded());
    QSet<QString> used;
    for (QString& n : names) {
        const QString base = n;
        for (int k = 1;
             used.contains(n.toCaseFolded()) || (k > 1 && taken.contains(n.toCaseFolded())); ++k)
            n = base + QString::number(k);
        used.insert(n.toCaseFolded());
    }
    return names;
}

} // namespace formats::xls
