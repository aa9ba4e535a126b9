// The runner's CSV writer against Qt's own UTF-8 encoder and the quoting rules of RFC 4180, on
// values that need quoting, characters outside the Basic Multilingual Plane, lone surrogates,
// values larger than a write block, and a device that refuses to write.
#include "batch/csv.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <array>

using namespace db;

namespace {

// One field as the reference writes it: Qt's encoder, quotes doubled and around the value when
// it holds a comma, a quote or a line break.
QByteArray referenceField(QStringView value) {
    QByteArray bytes = value.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray referenceCsv(const Recordset& rs) {
    QByteArray out;
    for (int c = 0; c < rs.fieldCount(); ++c)
        out += (c ? "," : "") + referenceField(rs.fieldName(c));
    out += '\n';
    for (int r = 0; r < rs.recordCount(); ++r) {
        for (int c = 0; c < rs.fieldCount(); ++c)
            out += (c ? "," : "") + referenceField(rs.viewAt(r, c));
        out += '\n';
    }
    return out;
}

// A device that takes the first bytes and then refuses.
class FullDevice : public QIODevice {
public:
    explicit FullDevice(qint64 room) : room_(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        if (len > room_) {
            setErrorString(QStringLiteral("磁盘已满"));
            return -1;
        }
        room_ -= len;
        return len;
    }

private:
    qint64 room_;
};

} // namespace

class TestCsvWriter : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    Connection conn;

    // A table of the given text values, two columns, read back through a recordset.
    void fill(Recordset& rs, const QList<std::array<QString, 2>>& rows) {
        conn.execute(sql::dropTable(QStringLiteral("t"))); // absent the first time
        QVERIFY(conn.execute(QStringLiteral("CREATE TABLE t (\"名称,甲\" TEXT, \"b\"\"q\" TEXT)")));
        Recordset add;
        QVERIFY(add.open(sql::selectAll(QStringLiteral("t")), conn, CursorType::Keyset,
                         LockType::BatchOptimistic));
        for (const auto& r : rows)
            QVERIFY2(add.addRecord(std::array<QStringView, 2>{r[0], r[1]}),
                     qPrintable(add.errorString()));
        QVERIFY2(add.updateBatch(), qPrintable(add.errorString()));
        QVERIFY(rs.open(sql::selectAll(QStringLiteral("t")), conn));
        QCOMPARE(rs.recordCount(), rows.size());
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        const QString db = testsupport::copyWorkDb(tmp.path());
        QVERIFY(!db.isEmpty());
        QVERIFY2(conn.open(accessConnectionString(db)), qPrintable(conn.errorString()));
    }

    void valuesAsTheReferenceWritesThem() {
        const QString astral = QString::fromUcs4(U"𠀋𩸽😀");
        const QString lone = QString(QChar(0xD800)) + QStringLiteral("a") + QChar(0xDC00);
        Recordset rs;
        fill(rs, {{QStringLiteral("张三"), QStringLiteral("北京市,朝阳区")},
                  {QStringLiteral("say \"hi\""), QStringLiteral("line\nbreak")},
                  {QStringLiteral("cr\ronly"), QString()},
                  {QString(), QStringLiteral("")},
                  {astral, lone},
                  {QStringLiteral("ÿ ß é"), QStringLiteral("\"")},
                  {QStringLiteral(" 前后空格 "), QStringLiteral(",")}});
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY2(batch::writeCsv(rs, out, &error), qPrintable(error));
        QCOMPARE(out.data(), referenceCsv(rs));
        QVERIFY(out.data().startsWith("\"名称,甲\",\"b\"\"q\"\n张三,\"北京市,朝阳区\"\n"));
    }

    void rowsAcrossManyBlocks() {
        // Random texts of every kind of character, and one value larger than a block.
        QRandomGenerator random(20261208);
        auto text = [&](int length) {
            QString s;
            for (int i = 0; i < length; ++i) {
                const quint32 kind = random.bounded(6);
                if (kind == 0)
                    s += QChar(char16_t(0x4E00 + random.bounded(0x5000)));
                else if (kind == 1)
                    s += QString::fromUcs4(U"\U00020000");
                else if (kind == 2)
                    s += QChar(char16_t(0x80 + random.bounded(0x780)));
                else if (kind == 3)
                    s += QLatin1Char(",\"\n"[random.bounded(3)]);
                else
                    s += QChar(char16_t(0x20 + random.bounded(0x5F)));
            }
            return s;
        };
        QList<std::array<QString, 2>> rows;
        for (int i = 0; i < 20000; ++i)
            rows.append({text(random.bounded(40)), text(random.bounded(12))});
        rows[7777][1] = text(700000);
        Recordset rs;
        fill(rs, rows);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY2(batch::writeCsv(rs, out, &error), qPrintable(error));
        QVERIFY(out.data().size() > 2 << 20);
        QCOMPARE(out.data(), referenceCsv(rs));
    }

    void refusedWritesAreReported() {
        Recordset rs;
        QList<std::array<QString, 2>> rows;
        for (int i = 0; i < 30000; ++i)
            rows.append({QStringLiteral("客户%1").arg(i), QString(40, QChar(0x5730))});
        fill(rs, rows);
        FullDevice full(1 << 20);
        QString error;
        QVERIFY(!batch::writeCsv(rs, full, &error));
        QCOMPARE(error, QStringLiteral("磁盘已满"));
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
