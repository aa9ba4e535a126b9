// Connections to .xlsx workbooks and text files: the connection strings the windows build, the
// tables the schema lists, the read-only rule, and the messages for files that do not open.
#include "db/connection.h"
#include "db/recordset.h"
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
};

CHACHONG_TEST_MAIN(TestFileSources)
#include "tst_filesources.moc"
