// The export glue of the check-control window: which table "不重复数据导出" takes by the source
// file's title, the sheets a workbook offers to the name check (named ranges are none), the names
// refused and asked again, and the export of the duplicates: the check table's fields only (No and
// the running number stay out, a source field named No is its own column), texts as texts, the
// user's sheets kept (and the workbook backed up first, so that it can be restored), any file
// name, a list too long for one sheet continued on "<name>_2".
// Workbooks are read back with xlrd and openpyxl.
#include "check/engine/backups.h"
#include "control/engine/export.h"
#include "core/appstate.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>

using testsupport::digest;
using testsupport::sheetNames;

namespace {

QJsonObject sheetOf(const QJsonObject& dump, const QString& name) {
    for (const QJsonValue& s : dump["sheets"].toArray())
        if (s["name"].toString() == name) return s.toObject();
    return {};
}

// A sheet's cells as rows of "type:value" texts.
QList<QStringList> cellRows(const QJsonObject& sheet) {
    QList<QStringList> rows;
    for (const QJsonValue& c : sheet["cells"].toArray()) {
        const QJsonArray cell = c.toArray();
        const int r = cell[0].toInt(), col = cell[1].toInt();
        while (rows.size() <= r)
            rows << QStringList();
        while (rows[r].size() <= col)
            rows[r] << QString();
        rows[r][col] = cell[2].toString() + ":" + cell[3].toVariant().toString();
    }
    return rows;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();

private slots:
    void theNonDuplicatesByTheSourceFile_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("expected");
        using R = control::RestExport;
        QTest::newRow("客户.DBF") << "客户.DBF" << int(R::NotImported);
        QTest::newRow("客户.dbf") << "客户.dbf" << int(R::NotImported);
        QTest::newRow("客户.Dbf") << "客户.Dbf" << int(R::Nothing);
        QTest::newRow("名单.xls") << "名单.xls" << int(R::ImportedTable);
        QTest::newRow("名单.XLS") << "名单.XLS" << int(R::ImportedTable);
        QTest::newRow("名单.xlsx") << "名单.xlsx" << int(R::ImportedTable);
        QTest::newRow("客户.CSV") << "客户.CSV" << int(R::ImportedTable);
        QTest::newRow("客户.Txt") << "客户.Txt" << int(R::ImportedTable);
        QTest::newRow("客户.csv.bak") << "客户.csv.bak" << int(R::Nothing);
        QTest::newRow("imported dBase") << "MorlayBankCC.MDB" << int(R::ImportedTable);
        QTest::newRow("打开导入数据") << "MorlayBankCC.mdb" << int(R::SourceTable);
        QTest::newRow("客户.mdb") << "客户.mdb" << int(R::SourceTable);
        QTest::newRow("客户.MDB") << "客户.MDB" << int(R::SourceTable);
        QTest::newRow("客户.Mdb") << "客户.Mdb" << int(R::Nothing);
        QTest::newRow("no source") << "" << int(R::Nothing);
    }
    void theNonDuplicatesByTheSourceFile() {
        QFETCH(QString, title);
        QFETCH(int, expected);
        QCOMPARE(int(control::restExportOf(title)), expected);
    }

    void sheetNames() {
        const QStringList sheets = {"名单", "Sheet1"};
        QCOMPARE(control::sheetNameRefusal(sheets, "名单").error, QString("重名，请重新命名！"));
        QVERIFY(control::sheetNameRefusal(sheets, "名单2").ok());
        QVERIFY(control::sheetNameRefusal(sheets, " 名单").ok());
        // Excel holds "sheet1" and "Sheet1" for one name.
        const QString otherCase = control::sheetNameRefusal(sheets, "SHEET1").error;
        QVERIFY2(otherCase.contains("Sheet1") && otherCase.contains("大小写"),
                 qPrintable(otherCase));
        // Names Excel refuses, each with its reason and the request to name again.
        const QList<QPair<QString, QString>> refused = {{QString(32, QChar(u'客')), "31"},
                                                        {"a/b", "/"},
                                                        {"[名单]", "["},
                                                        {"问?", "?"},
                                                        {"'引号'", "单引号"},
                                                        {"", "不能为空"}};
        for (const auto& [name, why] : refused) {
            const QString text = control::sheetNameRefusal(sheets, name).error;
            QVERIFY2(text.contains(why) && text.endsWith("请重新命名！"), qPrintable(name + text));
        }
        QVERIFY(control::sheetNameRefusal(sheets, QString(31, QChar(u'客'))).ok());
    }

    void theSheetsOfAWorkbook() {
        QStringList sheets;
        // Four sheets and 34 defined names, one sheet named with an apostrophe.
        const QString names = testsupport::sample("xls/xlrd/namesdemo.xls");
        core::Status s = control::workbookSheets(names, &sheets);
        QVERIFY2(s.ok(), qPrintable(s.error));
        const QJsonObject dump = testsupport::excelDump(names);
        QCOMPARE(sheets, ::sheetNames(dump));
        QVERIFY(sheets.contains("Seamus O'Reilly"));
        // A named range of the name is no clash.
        bool hasApostrophe = false;
        for (const QJsonValue& n : dump["names"].toArray())
            hasApostrophe |= n.toArray()[0].toString() == "Apostrophe";
        QVERIFY(hasApostrophe);
        QVERIFY(control::sheetNameRefusal(sheets, "Apostrophe").ok());
        QCOMPARE(control::sheetNameRefusal(sheets, "Sheet3").error, QString("重名，请重新命名！"));

        const QString xlsx = testsupport::sample("xlsx/poi/51626_contact.xlsx");
        s = control::workbookSheets(xlsx, &sheets);
        QVERIFY2(s.ok(), qPrintable(s.error));
        QCOMPARE(sheets, ::sheetNames(testsupport::excelDump(xlsx)));

        QVERIFY(control::workbookSheets(f.dir() + "/还没有.xls", &sheets).ok());
        QVERIFY(sheets.isEmpty());
        // A file that is no workbook: a reason, and the file as it was.
        const QString junk = f.dir() + "/坏.xls";
        QFile j(junk);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QByteArray("not a workbook\n").repeated(300));
        j.close();
        const QByteArray before = digest(junk);
        s = control::workbookSheets(junk, &sheets);
        QVERIFY2(s.error.startsWith("无法读取Excel文件") && s.error.contains("文件没有改动"),
                 qPrintable(s.error));
        QCOMPARE(digest(junk), before);
    }

    void theDuplicatesIntoARealWorkbook() {
        QVERIFY(f.loadDuplicates({"姓名", "电话", "客户 编码"},
                                 {{"张三", "13800138000", "001234"}, {"O'Brien", "0574-1", "0"}}));
        const QStringList fields = control::exportFields(st);
        QCOMPARE(fields, QStringList({"姓名", "电话", "客户 编码"}));
        for (const QString sample :
             {"xls/poi/chinese-provinces.xls", "xlsx/poi/51626_contact.xlsx"}) {
            const QString book = testsupport::copyInto(testsupport::sample(sample), f.dir());
            const QJsonObject before = testsupport::excelDump(book);
            const QByteArray original = digest(book);
            const db::ExcelExportResult r =
                control::exportTable(st, st.WorkConn, "ClienttableCC", book, "重复 客户");
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.rows, 2);
            QCOMPARE(control::exportSuccessText(r), QString("OK"));
            const QJsonObject after = testsupport::excelDump(book);
            // The user's sheets as they were, the new one after them.
            QCOMPARE(::sheetNames(after), ::sheetNames(before) + QStringList{"重复 客户"});
            for (const QString& name : ::sheetNames(before))
                QCOMPARE(sheetOf(after, name), sheetOf(before, name));
            QCOMPARE(cellRows(sheetOf(after, "重复 客户")),
                     (QList<QStringList>{{"s:姓名", "s:电话", "s:客户 编码"},
                                         {"s:张三", "s:13800138000", "s:001234"},
                                         {"s:O'Brien", "s:0574-1", "s:0"}}));
            // The same name again: refused by the export itself, the workbook untouched, and
            // no backup left of it.
            const QByteArray done = digest(book);
            const db::ExcelExportResult again =
                control::exportTable(st, st.WorkConn, "ClienttableCC", book, "重复 客户");
            QVERIFY(!again.ok);
            QVERIFY2(again.error.contains("重名"), qPrintable(again.error));
            QCOMPARE(digest(book), done);
            QVERIFY(again.backupPath.isEmpty());

            // The workbook as it was before the export is its one backup, and comes back byte
            // for byte; a workbook of other sheets is refused as its backup.
            const std::vector<check::Backup> backups = check::backupsOf(book);
            QCOMPARE(int(backups.size()), 1);
            QCOMPARE(backups[0].path, QFileInfo(r.backupPath).absoluteFilePath());
            QCOMPARE(digest(r.backupPath), original);
            const QFileInfo info(book);
            const QString foreign = info.path() + "/查重备份/" + info.completeBaseName() +
                                    "_20200101_000000." + info.suffix();
            QVERIFY(control::exportTable(st, st.WorkConn, "ClienttableCC", foreign, "别的").ok);
            QString undo;
            bool refused = false;
            core::Status s = check::restoreBackup(book, foreign, &undo, &refused);
            QVERIFY2(refused && s.error.contains("字段不同"), qPrintable(s.error));
            QCOMPARE(digest(book), done);
            s = check::restoreBackup(book, r.backupPath, &undo, &refused);
            QVERIFY2(s.ok(), qPrintable(s.error));
            QCOMPARE(digest(book), original);
        }
    }

    void aFieldNamedNoAndAnyFileName_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("file");
        QTest::newRow("No") << "No"
                            << "报表;v=2.xls";
        QTest::newRow("no") << "no"
                            << "名单 [2023].xls";
        QTest::newRow("NO") << "NO"
                            << "名单 [2023];v2.xlsx";
        QTest::newRow("nO") << "nO"
                            << "a].b'c,d [x].xls";
    }
    void aFieldNamedNoAndAnyFileName() {
        // The working table calls the source's No "No_1" beside its own No: the sheet's No column
        // holds the records' numbers, not the group numbers. The path is taken as it is.
        QFETCH(QString, field);
        QFETCH(QString, file);
        QVERIFY(f.load({field, "Name", "Tel"}, {{"11", "甲", "1"}, {"12", "甲", "1"}}));
        QVERIFY(f.prepare({"Name", "Tel"}));
        QVERIFY(st.RsDup->addRecord(std::vector<QStringView>{u"1", u"11", u"甲", u"1", u"1"}));
        QVERIFY(st.RsDup->addRecord(std::vector<QStringView>{u"", u"12", u"甲", u"1", u"2"}));
        QVERIFY(st.RsDup->updateBatch());
        const QString dir = f.dir() + "/输出 " + QTest::currentDataTag();
        QDir().mkpath(dir);
        const QString book = dir + "/" + file;
        const db::ExcelExportResult r =
            control::exportTable(st, st.WorkConn, "ClienttableCC", book, "重复");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{file});
        QCOMPARE(cellRows(sheetOf(testsupport::excelDump(book), "重复")),
                 (QList<QStringList>{{"s:" + field, "s:Name", "s:Tel"},
                                     {"s:11", "s:甲", "s:1"},
                                     {"s:12", "s:甲", "s:1"}}));
    }

    void moreRecordsThanASheetHoldsGoOnFurtherSheets() {
        QVERIFY(f.load({"姓名", "电话"}, {}));
        QVERIFY(testsupport::exec(st.WorkConn,
                                  "INSERT INTO ClienttableELS (姓名, 电话) WITH RECURSIVE n(i) AS "
                                  "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 65536) "
                                  "SELECT '客户' || i, printf('%011d', i) FROM n"));
        const QString book = f.dir() + "/大名单.xls";
        const db::ExcelExportResult r =
            control::exportTable(st, st.WorkConn, "ClienttableELS", book, "名单");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.sheets, QStringList({"名单", "名单_2"}));
        QCOMPARE(
            control::exportSuccessText(r),
            QString("OK\r\n共导出65536条记录。记录超过一个工作表的容量，分2个工作表导出：名单、"
                    "名单_2"));
        const QJsonObject dump = testsupport::excelDump(book);
        const QList<QStringList> first = cellRows(sheetOf(dump, "名单"));
        const QList<QStringList> second = cellRows(sheetOf(dump, "名单_2"));
        QCOMPARE(first.size(), 65536);
        QCOMPARE(first.last(), QStringList({"s:客户65535", "s:00000065535"}));
        QCOMPARE(second,
                 (QList<QStringList>{{"s:姓名", "s:电话"}, {"s:客户65536", "s:00000065536"}}));
    }
};

CHACHONG_TEST_MAIN(TestExport)
#include "tst_export.moc"
