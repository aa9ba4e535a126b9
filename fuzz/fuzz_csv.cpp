// libFuzzer target for the text-file reader: the bytes as a .csv file (encoding and delimiter
// found from them, as for a file the user opens), then every value of the table; and the same
// bytes, as Latin-1 text, split at each delimiter the reader knows.
#include "db/formats/csv/csv.h"

#include <cstddef>
#include <cstdint>

namespace {

size_t touch(const formats::xls::Table& t) {
    size_t n = size_t(t.fields.size());
    if (t.fields.isEmpty() || t.longest.size() != size_t(t.fields.size())) __builtin_trap();
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        for (size_t i = t.rowStart[size_t(r)]; i < t.rowStart[size_t(r) + 1]; ++i) {
            const int col = t.values[i].col;
            if (col >= t.fields.size()) __builtin_trap(); // a value outside the fields
            const std::optional<QString> v = t.value(r, col);
            if (!v || v->constData() != t.textOf(t.values[i]).data())
                __builtin_trap(); // every stored value is found again
            if (v->isEmpty() || v->size() > t.longest[size_t(col)]) __builtin_trap();
            n += size_t(v->size());
        }
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    formats::xls::Table table;
    formats::csv::Format format;
    QString error;
    size_t n = 0;
    if (formats::csv::readBytes(bytes, {}, QStringLiteral("fuzz.csv"), &table, &format, &error))
        n += touch(table);
    else if (error.isEmpty())
        __builtin_trap(); // a failure says why
    const QString latin = QString::fromLatin1(bytes);
    for (const QChar d : {u',', u'\t', u';', u'|'}) {
        if (formats::csv::parse(latin, d, &table, &error)) n += touch(table);
    }
    volatile size_t sink = n;
    (void)sink;
    return 0;
}
