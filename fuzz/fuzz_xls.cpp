// libFuzzer target for the .xls reader: the bytes as a workbook file, then every value of every
// worksheet and named range as the table the SQLite module would show.
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"

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
        if (t.value(r, int(t.fields.size()) - 1)) ++n;
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    formats::xls::Workbook book;
    if (formats::xls::readWorkbook(bytes, &book) != formats::xls::ReadError::None) return 0;
    size_t n = 0;
    for (const auto& sheet : book.sheets)
        n += touch(formats::xls::worksheetTable(book, sheet));
    for (const auto& range : book.names)
        n += touch(formats::xls::rangeTable(book, range));
    volatile size_t sink = n;
    (void)sink;
    return 0;
}
