// libFuzzer target for the dBase/FoxPro reader and writer.
//
// The input is a .dbf file; bytes after a line "MEMOFILE" are its memo file (the seed corpus holds
// the sample tables with and without their memo files joined this way). Every value of every record
// is read, then records are appended, rewritten and deleted in memory, and a transaction is rolled
// back; the rollback must give back the bytes it started from.
#include "db/formats/dbf/dbf.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

using formats::dbf::Table;
using formats::dbf::Value;

namespace {

std::unique_ptr<QBuffer> buffer(const QByteArray& bytes) {
    auto b = std::make_unique<QBuffer>();
    b->setData(bytes);
    b->open(QIODevice::ReadWrite);
    return b;
}

void readAll(Table& t) {
    QByteArray record;
    const quint32 n = std::min<quint32>(t.recordCount(), 2000);
    for (quint32 r = 1; r <= n; ++r) {
        if (!t.readRecord(r, &record)) break;
        Table::isDeleted(record);
        for (size_t f = 0; f < t.fields().size(); ++f)
            t.value(record, int(f));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf("\nMEMOFILE\n");
    const QByteArray dbf = split >= 0 ? input.left(split) : input;
    auto dbfDevice = buffer(dbf);
    auto memoDevice = split >= 0 ? buffer(input.mid(split + 10)) : nullptr;
    QBuffer* dbfRaw = dbfDevice.get();
    QBuffer* memoRaw = memoDevice.get();
    Table t;
    QString error;
    if (!t.open(std::move(dbfDevice), std::move(memoDevice), {}, &error)) return 0;
    if (!t.hasMemoFile()) memoRaw = nullptr; // the table did not keep it
    readAll(t);
    for (int f : t.visibleFields())
        t.fields()[size_t(f)].sqlType();

    // A rolled-back transaction leaves the bytes as they were.
    const QByteArray dbfBefore = dbfRaw->data();
    const QByteArray memoBefore = memoRaw ? memoRaw->data() : QByteArray();
    if (!t.beginTransaction(&error)) return 0;
    std::vector<std::optional<Value>> values(t.fields().size());
    const QString samples[] = {QStringLiteral("1"), QStringLiteral("2024-01-02"),
                               QStringLiteral("T"), QString::fromUtf8("王小明"),
                               QStringLiteral("-12.5")};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = Value::fromText(samples[i % 5]);
    quint32 recno = 0;
    t.appendRecord(values, &recno, &error);
    if (t.recordCount() > 0) {
        t.updateRecord(1, values, &error);
        t.deleteRecord(t.recordCount(), &error);
    }
    t.savepoint(0);
    t.appendRecord({}, &recno, &error);
    t.flush(&error);
    t.rollbackTo(0, &error);
    readAll(t);
    t.rollback(&error);
    if (dbfRaw->data() != dbfBefore || (memoRaw && memoRaw->data() != memoBefore)) std::abort();
    readAll(t);
    return 0;
}
