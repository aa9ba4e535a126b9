// Export of a table to an Excel sheet through the database layer: the statement
// "select ... into [Excel 8.0;database=...].sheet from table" run on connections, and
// exportToExcel with its progress and cancel. Files are read back by xlrd and openpyxl.
#include "db/connection.h"
#include "db/exceltarget.h"
#include "db/jetsql.h"
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>

#include <sqlite3.h>

using namespace db;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A working database with one client table whose names need quoting.
QString makeDatabase(const QString& dir, int extraRows = 0) {
    const QString path = dir + QStringLiteral("/work.mdb");
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) return {};
    const char* sql = R"(
        CREATE TABLE "客户 名单" ("No" INTEGER, "姓名" VARCHAR(20), "电话" VARCHAR(20),
                                  "O'Brien]字段" VARCHAR(50), "备注 说明" MEMO, "金额" REAL);
        INSERT INTO "客户 名单" VALUES (1, '张三', '13800138000', 'O''Brien''s', '第一行
第二行', 12.5);
        INSERT INTO "客户 名单" VALUES (2, '李四', '001234', '', NULL, -3);
        INSERT INTO "客户 名单" VALUES (3, '王五', NULL, '[x]%_*?', '  空格  ', NULL);
        INSERT INTO "客户 名单" VALUES (1234567890123456789, '赵六', '0574-87654321', 'a', 'b', 0.1);
        CREATE TABLE "空表" ("姓名" TEXT, "电话" TEXT);
        CREATE TABLE "大表" ("序号" TEXT, "姓名" TEXT);
    )";
    char* err = nullptr;
    bool ok = sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK;
    sqlite3_free(err);
    if (ok && extraRows > 0) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO \"大表\" VALUES (?1, ?2)", -1, &st, nullptr);
        for (int i = 1; i <= extraRows; ++i) {
            const QByteArray no = QByteArray::number(i).rightJustified(6, '0');
            const QByteArray name = QStringLiteral("客户%1").arg(i).toUtf8();
            sqlite3_bind_text(st, 1, no.constData(), int(no.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close(db);
    return ok ? path : QString();
}

// The cells of one sheet of a dump as "r,c,type,value" lines.
QStringList cellLines(const QJsonObject& sheet) {
    QStringList lines;
    for (const auto& v : sheet[u"cells"].toArray()) {
        const QJsonArray c = v.toArray();
        const QString value = c[2] == QLatin1String("n") ? QString::number(c[3].toDouble(), 'g', 17)
                                                         : c[3].toString();
        lines << QStringLiteral("%1,%2,%3,%4")
                     .arg(c[0].toInt())
                     .arg(c[1].toInt())
                     .arg(c[2].toString(), value);
    }
    return lines;
}

// What a reader must find for the client table exported with every field, written out by
// hand: texts as texts (leading zeros kept), nulls and empty texts as no cell, numbers as
// numbers, a whole number beyond Excel's 15 digits as its digits.
const QStringList kClientCells{"0,0,s,No",
                               "0,1,s,姓名",
                               "0,2,s,电话",
                               "0,3,s,O'Brien]字段",
                               "0,4,s,备注 说明",
                               "0,5,s,金额",
                               "1,0,n,1",
                               "1,1,s,张三",
                               "1,2,s,13800138000",
                               "1,3,s,O'Brien's",
                               "1,4,s,第一行\n第二行",
                               "1,5,n,12.5",
                               "2,0,n,2",
                               "2,1,s,李四",
                               "2,2,s,001234",
                               "2,5,n,-3",
                               "3,0,n,3",
                               "3,1,s,王五",
                               "3,3,s,[x]%_*?",
                               "3,4,s,  空格  ",
                               "4,0,s,1234567890123456789",
                               "4,1,s,赵六",
                               "4,2,s,0574-87654321",
                               "4,3,s,a",
                               "4,4,s,b",
                               "4,5,n,0.10000000000000001"};

QString exportStatement(const QString& fields, const QString& path, const QString& sheet,
                        const QString& table) {
    return QStringLiteral("select ") + fields + QStringLiteral(" into [Excel 8.0;database=") +
           path + QStringLiteral("].") + sheet + QStringLiteral(" from ") + table;
}

} // namespace

class TestExcelTarget : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    Connection conn_;

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        const QString db = makeDatabase(tmp_.path(), 65535 * 2 + 7);
        QVERIFY(!db.isEmpty());
        QVERIFY2(conn_.open(accessConnectionString(db)), qPrintable(conn_.errorString()));
    }

    // The statement in the forms the windows build: every field of the table, named plainly,
    // bracketed, with apostrophes and "]" inside; sheet and table names with spaces.
    void statementForms_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("file");
        QTest::newRow("bracketed") << "[No], [姓名], [电话], [O'Brien]]字段], [备注 说明], [金额]"
                                   << "名单"
                                   << "[客户 名单]"
                                   << "a.xls";
        QTest::newRow("plain names with spaces") << "No, 姓名, 电话, O'Brien]字段, 备注 说明, 金额"
                                                 << "重复 数据"
                                                 << "客户 名单"
                                                 << "b.xls";
        QTest::newRow("star, bracketed sheet") << "*"
                                               << "[导出结果]"
                                               << "[客户 名单]"
                                               << "c.xls";
        QTest::newRow("a sheet named with from") << "*"
                                                 << "data from 2024"
                                                 << "客户 名单"
                                                 << "d.xls";
        QTest::newRow("other letter case") << "NO, 姓名, 电话, o'brien]字段, 备注 说明, 金额"
                                           << "名单"
                                           << "客户 名单"
                                           << "e.xls";
        QTest::newRow("xlsx") << "[No], [姓名], [电话], [O'Brien]]字段], [备注 说明], [金额]"
                              << "名单"
                              << "[客户 名单]"
                              << "f.xlsx";
        QTest::newRow("path with spaces, brackets and ;") << "*"
                                                          << "名单"
                                                          << "[客户 名单]"
                                                          << "客户 [2024]; 数据.xls";
    }

    void statementForms() {
        QFETCH(QString, fields);
        QFETCH(QString, sheet);
        QFETCH(QString, table);
        QFETCH(QString, file);
        const QString path = tmp_.filePath(file);
        QVERIFY2(conn_.execute(exportStatement(fields, path, sheet, table)),
                 qPrintable(conn_.errorString()));
        QVERIFY(conn_.errorString().isEmpty());
        const ExcelExportResult r = lastExcelExport(conn_);
        QVERIFY(r.ok);
        QCOMPARE(r.rows, qint64(4));
        QCOMPARE(r.sheetCount(), 1);
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 1);
        const QString name = sheet.startsWith('[') ? sheet.mid(1, sheet.size() - 2) : sheet;
        QCOMPARE(sheets[0].toObject()[u"name"].toString(), name);
        QStringList want = kClientCells;
        if (fields.startsWith("NO")) { // the heading shows the names as the statement gives them
            want[0] = "0,0,s,NO";
            want[3] = "0,3,s,o'brien]字段";
        }
        QCOMPARE(cellLines(sheets[0].toObject()), want);
    }

    // Fewer fields, in another order; the statement through a recordset, as the window runs it.
    void someFields() {
        const QString path = tmp_.filePath("some.xls");
        Recordset rs;
        QVERIFY2(rs.open(exportStatement("[电话], [姓名]", path, "名单", "[客户 名单]"), conn_),
                 qPrintable(rs.errorString()));
        QCOMPARE(cellLines(testsupport::excelDump(path)[u"sheets"][0].toObject()),
                 (QStringList{"0,0,s,电话", "0,1,s,姓名", "1,0,s,13800138000", "1,1,s,张三",
                              "2,0,s,001234", "2,1,s,李四", "3,1,s,王五", "4,0,s,0574-87654321",
                              "4,1,s,赵六"}));
    }

    // Apostrophes in the sheet name and the path are no quotes of SQL.
    void apostrophes() {
        QDir().mkpath(tmp_.filePath("O'Brien's files"));
        const QString path = tmp_.filePath("O'Brien's files/客户's.xls");
        Recordset rs;
        QVERIFY2(rs.open(exportStatement("[姓名]", path, "O'Brien 名单", "客户 名单"), conn_),
                 qPrintable(rs.errorString()));
        const QJsonObject sheet = testsupport::excelDump(path)[u"sheets"][0].toObject();
        QCOMPARE(sheet[u"name"].toString(), QStringLiteral("O'Brien 名单"));
        QCOMPARE(cellLines(sheet).size(), 5);
    }

    // Into a workbook of somebody else's: its sheets stay, the new one comes last.
    void intoAnExistingWorkbook() {
        for (const QString sample : {"xls/xlrd/namesdemo.xls", "xlsx/poi/51626_contact.xlsx"}) {
            const QString path = testsupport::copyInto(testsupport::sample(sample), tmp_.path());
            const QJsonArray before = testsupport::excelDump(path)[u"sheets"].toArray();
            QVERIFY(!before.isEmpty());
            QVERIFY2(conn_.execute(exportStatement("*", path, "客户名单", "[客户 名单]")),
                     qPrintable(conn_.errorString()));
            const QJsonArray after = testsupport::excelDump(path)[u"sheets"].toArray();
            QCOMPARE(after.size(), before.size() + 1);
            for (int i = 0; i < before.size(); ++i)
                QCOMPARE(after[i], before[i]);
            QCOMPARE(after.last().toObject()[u"name"].toString(), QStringLiteral("客户名单"));
            QCOMPARE(cellLines(after.last().toObject()), kClientCells);
        }
    }

    // More records than a sheet holds: further sheets with the heading again, none dropped.
    void continuationSheets() {
        const QString path = tmp_.filePath("big.xls");
        QVERIFY2(conn_.execute(exportStatement("[序号], [姓名]", path, "名单", "[大表]")),
                 qPrintable(conn_.errorString()));
        const ExcelExportResult r = lastExcelExport(conn_);
        QCOMPARE(r.sheets, (QStringList{"名单", "名单_2", "名单_3"}));
        QCOMPARE(r.rows, qint64(65535 * 2 + 7));
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 3);
        const int counts[] = {65536, 65536, 8};
        const int firstRecord[] = {1, 65536, 131071};
        for (int k = 0; k < 3; ++k) {
            const QJsonArray cells = sheets[k].toObject()[u"cells"].toArray();
            QCOMPARE(cells.size(), counts[k] * 2);
            QCOMPARE(cells[0].toArray()[3].toString(), QStringLiteral("序号"));
            QCOMPARE(cells[1].toArray()[3].toString(), QStringLiteral("姓名"));
            QCOMPARE(cells[2].toArray()[3].toString(),
                     QString::number(firstRecord[k]).rightJustified(6, '0'));
            QCOMPARE(cells.last().toArray()[3].toString(),
                     QStringLiteral("客户%1").arg(firstRecord[k] + counts[k] - 2));
        }
        // The names the continuation needs are checked before anything is written.
        const QString other = tmp_.filePath("big2.xls");
        QVERIFY(!conn_.execute(exportStatement("*", other, QString(30, QChar(0x540D)), "[大表]")));
        QVERIFY2(conn_.errorString().contains("续表"), qPrintable(conn_.errorString()));
        QVERIFY(!QFile::exists(other));
    }

    void emptyTable() {
        const QString path = tmp_.filePath("empty.xlsx");
        QVERIFY2(conn_.execute(exportStatement("*", path, "空", "空表")),
                 qPrintable(conn_.errorString()));
        QCOMPARE(cellLines(testsupport::excelDump(path)[u"sheets"][0].toObject()),
                 (QStringList{"0,0,s,姓名", "0,1,s,电话"}));
        QCOMPARE(lastExcelExport(conn_).rows, qint64(0));
    }

    // Errors come back in Chinese and leave the workbook as it was.
    void errors_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("file"); // an existing workbook, copied from the samples
        QTest::addColumn<QString>("reason");
        const QString p = "%1";
        QTest::newRow("no table") << exportStatement("*", p, "名单", "[没有的表]") << ""
                                  << "不存在";
        QTest::newRow("no field") << exportStatement("[姓名], [年龄]", p, "名单", "[客户 名单]")
                                  << ""
                                  << "年龄";
        QTest::newRow("bad sheet name") << exportStatement("*", p, "名单/2024", "[客户 名单]") << ""
                                        << "不允许的字符";
        QTest::newRow("sheet name too long")
            << exportStatement("*", p, QString(32, 'n'), "[客户 名单]") << ""
            << "31";
        QTest::newRow("clash, other case")
            << exportStatement("*", p, "SHEET1", "[客户 名单]") << "xls/xlrd/namesdemo.xls"
            << "重名";
        QTest::newRow("clash in an xlsx")
            << exportStatement("*", p, "sheet1", "[客户 名单]") << "xlsx/poi/49273.xlsx"
            << "重名";
        QTest::newRow("Excel 95 workbook")
            << exportStatement("*", p, "名单", "[客户 名单]") << "xls/poi/testEXCEL_95.xls"
            << "Excel 95";
        QTest::newRow("not a workbook")
            << exportStatement("*", p, "名单", "[客户 名单]") << "dbf/dbfread/people.dbf"
            << "不是Excel";
        QTest::newRow("missing folder")
            << exportStatement("*", "/no/such/folder/x.xls", "名单", "[客户 名单]") << ""
            << "文件夹不存在";
        QTest::newRow("not Excel") << "select * into [dBase IV;database=/tmp].x from [客户 名单]"
                                   << ""
                                   << "只能导出到Excel";
        QTest::newRow("no path") << "select * into [Excel 8.0;database=].x from [客户 名单]"
                                 << ""
                                 << "路径";
    }

    void errors() {
        QFETCH(QString, statement);
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QString path = tmp_.filePath("error-target.xls");
        QFile::remove(path);
        QByteArray before;
        if (!file.isEmpty()) {
            const QString copy = testsupport::copyInto(testsupport::sample(file), tmp_.path());
            path = tmp_.filePath("error-target." + QFileInfo(file).suffix());
            QFile::remove(path);
            QVERIFY(QFile::rename(copy, path));
            before = fileBytes(path);
        }
        if (statement.contains("%1")) statement = statement.arg(path);
        QVERIFY(!conn_.execute(statement));
        QVERIFY2(conn_.errorString().contains(reason), qPrintable(conn_.errorString()));
        QVERIFY(!lastExcelExport(conn_).ok);
        if (file.isEmpty())
            QVERIFY(!QFile::exists(path));
        else
            QCOMPARE(fileBytes(path), before);
        QVERIFY(QDir(tmp_.path()).entryList({"*.tmp", ".*.xls*"}, QDir::Files).isEmpty());
    }

    // A read-only workbook is refused (also where the folder would allow replacing it); the
    // permissions of a workbook that is written stay as they were.
    void permissions() {
        const QString path = testsupport::copyInto(
            testsupport::sample("xls/poi/chinese-provinces.xls"), tmp_.path());
        const QByteArray before = fileBytes(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
        QVERIFY(!conn_.execute(exportStatement("*", path, "名单", "[客户 名单]")));
        QVERIFY2(conn_.errorString().contains("只读"), qPrintable(conn_.errorString()));
        QCOMPARE(fileBytes(path), before);
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QFile::setPermissions(path, mode);
        QVERIFY2(conn_.execute(exportStatement("*", path, "名单", "[客户 名单]")),
                 qPrintable(conn_.errorString()));
        QCOMPARE(QFileInfo(path).permissions() &
                     (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                      QFile::ReadOther | QFile::WriteOther),
                 mode);
    }

    // The plain call: progress, details, and a cancel that writes nothing.
    void exportWithProgress() {
        const QString path =
            testsupport::copyInto(testsupport::sample("xls/xlrd/ragged.xls"), tmp_.path());
        const QByteArray before = fileBytes(path);
        int calls = 0, last = -1;
        ExcelExportResult r =
            exportToExcel(conn_, "大表", {"姓名"}, path, "名单", [&](int done, int total) {
                ++calls;
                last = done;
                return total == 65535 * 2 + 7 && done < 70000;
            });
        QVERIFY(!r.ok);
        QVERIFY(r.cancelled);
        QVERIFY(r.error.contains("取消"));
        QVERIFY(calls > 1);
        QVERIFY(last >= 70000);
        QCOMPARE(fileBytes(path), before);
        const QString fresh = tmp_.filePath("cancelled.xlsx");
        r = exportToExcel(conn_, "大表", {}, fresh, "名单", [](int, int) { return false; });
        QVERIFY(r.cancelled);
        QVERIFY(!QFile::exists(fresh));

        r = exportToExcel(conn_, "客户 名单", {"姓名", "电话"}, path, "名单",
                          [&](int done, int total) {
                              last = done;
                              return done <= total;
                          });
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.sheets, QStringList{"名单"});
        QCOMPARE(r.rows, qint64(4));
        QCOMPARE(last, 4);
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.last().toObject()[u"name"].toString(), QStringLiteral("名单"));
    }

    // Any connection: the sheet of an Excel source exported to a new workbook.
    void fromAnExcelConnection() {
        Connection xls;
        QVERIFY(
            xls.open(excelConnectionString(testsupport::sample("xls/poi/chinese-provinces.xls"))));
        const QString path = tmp_.filePath("provinces.xls");
        QVERIFY2(xls.execute(exportStatement("*", path, "省份", "[provinces$]")),
                 qPrintable(xls.errorString()));
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 1);
        QVERIFY(cellLines(sheets[0].toObject()).contains("1,1,s,安徽省"));
    }

    void recognisesTheStatement() {
        QVERIFY(isIntoFileStatement("select a into [Excel 8.0;database=x.xls].s from t"));
        QVERIFY(isIntoFileStatement("  SELECT [a], [b]\ninto\t[ excel 8.0;DATABASE=x].s FROM t"));
        QVERIFY(!isIntoFileStatement("select a into [Excel Daten] from t"));
        QVERIFY(!isIntoFileStatement("select a into t2 from t"));
        QVERIFY(!isIntoFileStatement("select * from [Excel 8.0;database=x]"));
        QVERIFY(isIntoFileStatement("select * into [Text;database=/tmp].x from t"));
    }
};

CHACHONG_TEST_MAIN(TestExcelTarget)
#include "tst_exceltarget.moc"
