// libFuzzer target for the .xlsx reader: the bytes as a workbook file (with small inflate limits,
// so a run spends its time in the parsing, not in inflating), then every value of every
// worksheet and named range as the table the SQLite module would show. The tables made while the
// sheets are read must be the ones made from their cells, and the two reads end alike.
#include "db/formats/xls/xlstable.h"
#include "db/formats/xlsx/xlsx.h"

#include <cstddef>
#include <cstdint>

namespace {

size_t touch(const formats::xls::Table& t) {
    size_t n = size_t(t.fields.size());
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        for (size_t i = t.rowStart[size_t(r)]; i < t.rowStart[size_t(r) + 1]; ++i) {
            const std::optional<QString> v = t.value(r, t.values[i].col);
            if (!v || v->constData() != t.textOf(t.values[i]).data())
                __builtin_trap(); // every stored value is found again
            n += size_t(v->size());
        }
    }
    return n;
}

bool same(const formats::xls::Table& a, const formats::xls::Table& b) {
    if (a.fields != b.fields || a.longest != b.longest || a.rowStart != b.rowStart ||
        a.values.size() != b.values.size())
        return false;
    for (size_t i = 0; i < a.values.size(); ++i)
        if (a.values[i].col != b.values[i].col || a.textOf(a.values[i]) != b.textOf(b.values[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    formats::xlsx::Limits limits;
    limits.partBytes = 16 << 20;
    limits.ratioFrom = 1 << 20;
    formats::xls::Workbook book, direct;
    std::vector<std::optional<formats::xls::Table>> tables;
    const formats::xlsx::ReadError error = formats::xlsx::readWorkbook(bytes, &book, limits);
    if (formats::xlsx::readWorkbookTables(bytes, &direct, &tables, limits) != error)
        __builtin_trap();
    if (error != formats::xlsx::ReadError::None) return 0;
    if (tables.size() != book.sheets.size()) __builtin_trap();
    size_t n = 0;
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        const auto& sheet = book.sheets[i];
        // A sheet may legally span the whole grid; its table would be 16,384 columns wide.
        if (!sheet.cells.empty() && sheet.cells.back().row - sheet.cells.front().row > 100000)
            continue;
        const formats::xls::Table table = formats::xls::worksheetTable(book, sheet);
        if (tables[i] && !same(*tables[i], table)) __builtin_trap();
        n += touch(table);
    }
    for (const auto& range : book.names) {
        if (range.lastRow - range.firstRow > 100000 || range.lastCol - range.firstCol > 1000)
            continue;
        n += touch(formats::xls::rangeTable(book, range));
    }
    volatile size_t sink = n;
    (void)sink;
    return 0;
}
