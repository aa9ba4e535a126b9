// Connections to .xlsx workbooks and text files: the connection strings the windows build, the
// tables the schema lists, the read-only rule, and the messages for files that do not open.
#include "db/connection.h"
#include "db/recordset.h"
#include "db/tablerows.h"
#include "tests/support/testsupport.h"

#include <sqlite3.h>

using namespace db;

class TestFileSources : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    QStringList schema(const Connection& c) {
        QStringList out;
        for (const SchemaRow& r : c.tableSchema())
            out << r.tableName + ":" + r.tableType;
        return out;
    }

    // Every row of a recordset, a value "<NULL>" when null.
    static QList<QStringList> rowsOf(Recordset& rs) {
        QList<QStringList> rows;
        for (rs.moveFirst(); !rs.isEof(); rs.moveNext()) {
            QStringList row;
            for (int c = 0; c < rs.fieldCount(); ++c) {
                const QStringView v = rs.valueView(c);
                row << (v.isNull() ? QStringLiteral("<NULL>") : v.toString());
            }
            rows << row;
        }
        return rows;
    }

private slots:
    void connectionStrings() {
        QCOMPARE(textConnectionString("/d/客户.csv"),
                 QString("Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=/d/客户.csv"));
        ConnectionTarget t =
            parseConnectionString(textConnectionString("/d/a;b=c/客户 1.txt", "GBK"), nullptr);
        QCOMPARE(int(t.kind), int(SourceKind::Text));
        QCOMPARE(t.path, QString("/d/a;b=c/客户 1.txt"));
        QCOMPARE(t.codePage, QString("GBK"));
        t = parseConnectionString(excelConnectionString("/d/名单.xlsx"), nullptr);
        QCOMPARE(int(t.kind), int(SourceKind::Xls));
        QCOMPARE(t.path, QString("/d/名单.xlsx"));
    }

    void xlsxWorkbook() {
        Connection c;
        const QString path = testsupport::sample("xlsx/poi/51626_contact.xlsx");
        QVERIFY2(c.open(excelConnectionString(path)), qPrintable(c.errorString()));
        QCOMPARE(int(c.kind()), int(SourceKind::Xls));
        QVERIFY(c.isReadOnly());
        QCOMPARE(schema(c), (QStringList{"Sheet1$:SYSTEM TABLE", "Sheet2$:SYSTEM TABLE",
                                         "Sheet3$:SYSTEM TABLE"}));
        QVERIFY(c.hasTable("sheet1$"));
        Recordset rs;
        QVERIFY2(rs.open("Select * From [Sheet1$]", c), qPrintable(rs.errorString()));
        QVERIFY(rs.recordCount() > 0);
        QVERIFY(!c.execute("Delete * From [Sheet1$]"));
        QVERIFY2(c.errorString().contains("只读"), qPrintable(c.errorString()));
    }

    // The .xls path keeps its own reader and its message for a workbook of the new format.
    void xlsxUnderXlsName() {
        const QString copy = tmp.filePath("renamed.xls");
        QVERIFY(QFile::copy(testsupport::sample("xlsx/poi/49273.xlsx"), copy));
        Connection c;
        QVERIFY(!c.open(excelConnectionString(copy)));
        QVERIFY2(c.errorString().startsWith("该文件是Excel 2007及以上版本"),
                 qPrintable(c.errorString()));
        QVERIFY(!c.open(excelConnectionString(tmp.filePath("没有.xlsx"))));
        QVERIFY2(c.errorString().contains("找不到Excel文件"), qPrintable(c.errorString()));
    }

    void textFile() {
        Connection c;
        const QString path = testsupport::sample("reference/china-region/region.csv");
        QVERIFY2(c.open(textConnectionString(path)), qPrintable(c.errorString()));
        QCOMPARE(int(c.kind()), int(SourceKind::Text));
        QVERIFY(c.isReadOnly());
        QCOMPARE(schema(c), QStringList{"region:TABLE"});
        Recordset rs;
        QVERIFY2(rs.open("Select * From region Where province = '北京市'", c),
                 qPrintable(rs.errorString()));
        QVERIFY(rs.recordCount() > 10);
        QVERIFY(!c.execute("Delete * From region"));
        QVERIFY2(c.errorString().contains("只读"), qPrintable(c.errorString()));

        // The code page of the connection string reaches the reader.
        const QString gbk = tmp.filePath("客户.csv");
        QFile f(gbk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\xd0\xd5\xc3\xfb\n\xd5\xc5\xc8\xfd\n"); // 姓名 / 张三 in GBK
        f.close();
        QVERIFY(!c.open(textConnectionString(gbk, "UTF-8")));
        QVERIFY2(c.errorString().contains("UTF-8"), qPrintable(c.errorString()));
        QVERIFY2(c.open(textConnectionString(gbk, "GBK")), qPrintable(c.errorString()));
        QVERIFY(rs.open("Select 姓名 From 客户", c));
        QCOMPARE(rs.recordCount(), 1);

        QVERIFY(!c.open(textConnectionString(tmp.filePath("没有.csv"))));
        QVERIFY2(c.errorString().startsWith("找不到文本文件"), qPrintable(c.errorString()));
    }
    // A table read once, row by row, without a recordset (an import's way): the rows a recordset
    // reads, whether they come from a sheet in memory, a text file's own text (a quoted value
    // with doubled quotes among them), a dBase file or SQLite itself (numbers, nulls, empty
    // texts); a recordset opened for its fields alone holds none of them.
    void wholeTableReadOnce_data() {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("table");
        const QString csv = tmp.filePath("名单.csv");
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("姓名,电话,备注\n张三,138,\"说\"\"好\"\"\"\n,, x \n李四,,\n");
        f.close();
        const QString db = tmp.filePath("plain.db");
        sqlite3* h = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &h), SQLITE_OK);
        QCOMPARE(sqlite3_exec(h,
                              "CREATE TABLE t(a TEXT, b REAL, c INTEGER, d TEXT);"
                              "INSERT INTO t VALUES('王五', 2.5, 7, '');"
                              "INSERT INTO t VALUES(NULL, 1e20, NULL, ' 空格 ');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(h);
        QTest::newRow("xlsx") << excelConnectionString(
                                     testsupport::sample("xlsx/poi/51626_contact.xlsx"))
                              << "Sheet1$";
        QTest::newRow("csv") << textConnectionString(csv) << "名单";
        QTest::newRow("dbf") << dbaseConnectionString(testsupport::sample("dbf/dbfread"))
                             << "people";
        QTest::newRow("sqlite") << accessConnectionString(db) << "t";
    }
    void wholeTableReadOnce() {
        QFETCH(QString, connection);
        QFETCH(QString, table);
        Connection c;
        QVERIFY2(c.open(connection), qPrintable(c.errorString()));
        Recordset rs;
        const QString sql = QStringLiteral("Select * From [%1]").arg(table);
        QVERIFY2(rs.open(sql, c), qPrintable(rs.errorString()));
        const QList<QStringList> want = rowsOf(rs);
        QVERIFY(want.size() >= 2);
        QList<QStringList> got;
        qint64 total = -1;
        QString error;
        const RowReader keep = [&](std::span<const QStringView> values) {
            QStringList row;
            for (QStringView v : values)
                row << (v.isNull() ? QStringLiteral("<NULL>") : v.toString());
            got << row;
            return true;
        };
        QVERIFY2(readTable(c, table, &total, keep, &error), qPrintable(error));
        QCOMPARE(got, want);
        QCOMPARE(total, qint64(want.size()));
        // Stopped after its first row.
        got.clear();
        QVERIFY(readTable(
            c, table, nullptr, [&](std::span<const QStringView> v) { return keep(v) && false; },
            &error));
        QCOMPARE(got.size(), 1);

        Recordset fields;
        QVERIFY2(fields.openFields(sql, c), qPrintable(fields.errorString()));
        QCOMPARE(fields.fieldNames(), rs.fieldNames());
        QCOMPARE(fields.baseTable(), rs.baseTable());
        QCOMPARE(fields.recordCount(), 0);
        QVERIFY(fields.isEof());
    }
};

CHACHONG_TEST_MAIN(TestFileSources)
#include "tst_filesources.moc"
