// The check-control window's merge and export as a user runs them: "数据合并" back into the check
// table (with the export of an Excel source's rest), the target panel for dBase, imported and
// Access targets with their messages, check_Repeat before a merge into a picked target, a merge
// that cannot be written leaving the target as it was, and the exports with the sheet-name
// questions, the success and failure boxes and the choice of "不重复数据导出" by the source file.
// Files are read back by python3-dbf, xlrd, openpyxl and LibreOffice.
#include "app/mainfm1.h"
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "control/mainfm4.h"
#include "core/appstate.h"
#include "db/formats/dbf/dbf.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/scripteddialogs.h"

#include <QAction>
#include <QComboBox>
#include <QCryptographicHash>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using testsupport::child;
using testsupport::tableRows;

using testsupport::dbfRows;
using testsupport::digest;
using testsupport::sheetNames;

namespace {

// The texts of a sheet as rows (xlrd or openpyxl); every cell must be text.
QList<QStringList> sheetTexts(const QJsonObject& dump, const QString& name) {
    QList<QStringList> rows;
    for (const QJsonValue& s : dump["sheets"].toArray()) {
        if (s["name"].toString() != name) continue;
        for (const QJsonValue& c : s["cells"].toArray()) {
            const QJsonArray cell = c.toArray();
            const int r = cell[0].toInt(), col = cell[1].toInt();
            while (rows.size() <= r)
                rows << QStringList();
            while (rows[r].size() <= col)
                rows[r] << QString();
            rows[r][col] = cell[2].toString() == "s" ? cell[3].toString() : "(not text)";
        }
    }
    return rows;
}

} // namespace

class TestMainFm4Merge : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();
    std::unique_ptr<ui::ScriptedDialogs> d_;
    std::unique_ptr<app::mainFm1> main_;
    QPointer<control::mainFm4> w_;

    // An exact check on 姓名 over the rows (fields 姓名, 电话, 地址) of an imported sheet, with
    // the separation: the check table keeps the records without duplicates.
    void checked(const QList<QStringList>& rows) {
        QVERIFY(f.load({"姓名", "电话", "地址"}, rows));
        st.SourceFileTitle = QStringLiteral("客户.xls");
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink sink;
        const core::RunResult r = check::CheckJob(st, f.options()).runAll(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
    }
    void open() {
        w_ = control::mainFm4::showControl();
        QVERIFY(w_);
    }
    void click(const QString& name) { child<QPushButton>(w_, name)->click(); }
    void trigger(const QString& name) { child<QAction>(w_, name)->trigger(); }
    QComboBox* combo(const QString& name) { return child<QComboBox>(w_, name); }
    void chooseType(int index) {
        combo("Combo1")->setCurrentIndex(index);
        w_->Combo1_Click();
    }
    QStringList comboItems(const QString& name) {
        QStringList items;
        for (int i = 0; i < combo(name)->count(); ++i)
            items << combo(name)->itemText(i);
        return items;
    }
    void noProblems() { QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems())); }
    // The check-control window with the check table closed: the merge shows the target panel.
    void toThePanel() {
        st.RsSource.reset();
        open();
        d_->expectMessage("数据是否已全部维护完毕？！");
        click("Command12");
        noProblems();
        QVERIFY(child<QGroupBox>(w_, "Frame1")->isVisible());
        QVERIFY(child<QFrame>(w_, "Picture1")->isHidden());
    }
    QString folder(const QString& name) {
        const QString dir = f.dir() + QLatin1Char('/') + name;
        QDir().mkpath(dir);
        return dir;
    }
    const ui::ScriptedDialogs::Shown* lastDialog(ui::ScriptedDialogs::Kind kind) {
        for (qsizetype i = d_->shown().size() - 1; i >= 0; --i)
            if (d_->shown()[i].kind == kind) return &d_->shown()[i];
        return nullptr;
    }

private slots:
    void init() {
        d_ = std::make_unique<ui::ScriptedDialogs>();
        main_ = std::make_unique<app::mainFm1>();
    }
    void cleanup() {
        if (w_) w_->close();
        QTRY_VERIFY(w_.isNull());
        main_.reset();
        const QString problems = d_->problems();
        d_.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    void mergeBackAndExportTheRest() {
        checked({{"张三", "13800138000", "甲"},
                 {"李四", "001234", "乙"},
                 {"张三", "13800138000", "甲"},
                 {"王五", "3", "丙"}});
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS").size(), 2);
        open();
        QVERIFY(child<QPushButton>(w_, "Command12")->isEnabled());
        QVERIFY(child<QAction>(w_, "data_joint")->isEnabled());
        // Cancel at the question changes nothing.
        d_->expectMessage("数据是否已全部维护完毕？！", ui::Answer::Cancel);
        trigger("data_joint");
        noProblems();
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS").size(), 2);
        QVERIFY(w_->isVisible());

        const QString book = folder("导出") + "/结果.xls";
        d_->expectMessage("数据是否已全部维护完毕？！")
            .expectMessage("数据库查重维护结束!")
            .expectMessage("将不重复数据导出，生成Excel文件！")
            .expectSaveFile(book)
            .expectInput("不重复客户")
            .expectMessage("OK", ui::Answer::Ok, "导出成功");
        click("Command12");
        noProblems();
        QTRY_VERIFY(w_.isNull());
        const QList<QStringList> merged = {{"李四", "001234", "乙"},
                                           {"王五", "3", "丙"},
                                           {"张三", "13800138000", "甲"},
                                           {"张三", "13800138000", "甲"}};
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS"), merged);
        QCOMPARE(sheetTexts(testsupport::excelDump(book), "不重复客户"),
                 (QList<QStringList>{{"姓名", "电话", "地址"}} + merged));
        // The save dialog offers .xls first and chosen, .xlsx second.
        const auto* save = lastDialog(ui::ScriptedDialogs::Kind::SaveFile);
        QVERIFY(save);
        QCOMPARE(save->fileOptions.filter,
                 QString("Excel (*.XLS)|*.XLS|Excel 2007 (*.XLSX)|*.XLSX"));
        QCOMPARE(save->fileOptions.filterIndex, 1);
        QCOMPARE(d_->shown().at(d_->shown().size() - 2).text, QString("请给导出到XLS文件的表名"));
        QVERIFY(main_->isVisible());
        QCOMPARE(main_->recordCounter(), QString("4/4")); // the merged table, on a record
        QCOMPARE(st.RsSource->absolutePosition(), 4);
    }

    void emptyDuplicatesStillExportTheRestAndClose() {
        checked({{"张三", "1", "甲"}, {"李四", "2", "乙"}});
        open();
        d_->expectMessage("数据是否已全部维护完毕？！")
            .expectMessage("将不重复数据导出，生成Excel文件！")
            .expectSaveFile(std::nullopt);
        click("Command12");
        noProblems();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS").size(), 2);
    }

    void aDbaseTargetThroughThePanel() {
        checked(
            {{"张三", "1", "甲"}, {"张三", "1", "甲"}, {"张三", "1", "乙"}, {"李四", "2", "丙"}});
        toThePanel();
        // No type chosen: the list says so, "确认" does nothing.
        combo("Combo1")->setCurrentIndex(-1);
        d_->expectMessage("请选择文件类型！");
        w_->Combo1_Click();
        noProblems();
        w_->Command9_Click();
        noProblems();

        chooseType(0);
        QVERIFY(child<QPushButton>(w_, "Command5")->isEnabled());
        QVERIFY(!combo("Combo2")->isEnabled());
        const QString dir = folder("目标");
        const QString file = dir + "/clients.DBF";
        QVERIFY(testsupport::makeDbf(file, {"NAME", "TEL", "ADDR"}, {{"原有", "0", "旧"}}));
        const QByteArray before = digest(file);
        // A file of another kind: said at once, and "确认" then finds no target.
        d_->expectOpenFile(dir + "/clients.txt")
            .expectMessage("不是.DBF 数据文件类型，请重新选择！", ui::Answer::Ok, "提示信息");
        click("Command5");
        noProblems();
        const auto* dialog = lastDialog(ui::ScriptedDialogs::Kind::OpenFile);
        QCOMPARE(dialog->fileOptions.filter, QString("所有文件(*.*)|*.*|数据库文件(*.DBF)|*.dbf"));
        QCOMPARE(dialog->fileOptions.filterIndex, 2);
        d_->expectMessageContaining("目标文件是否正确？重新选择！\r\n");
        click("Command9");
        noProblems();
        QVERIFY(w_->isVisible());
        QCOMPARE(dbfRows(file).size(), 1);

        d_->expectOpenFile(file);
        click("Command5");
        noProblems();
        QCOMPARE(child<QLineEdit>(w_, "Text2")->text(), file);
        QCOMPARE(combo("Combo2")->currentText(), QString("clients"));
        d_->expectMessage("数据合并完毕！");
        click("Command9");
        noProblems();
        QTRY_VERIFY(w_.isNull());
        // check_Repeat took the second 张三 1 甲 out before the merge.
        QCOMPARE(
            dbfRows(file),
            (QList<QStringList>{{"原有", "0", "旧"}, {"张三", "1", "甲"}, {"张三", "1", "乙"}}));
        const QStringList backups = QDir(dir + "/查重备份").entryList({"*.DBF"}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QCOMPARE(digest(dir + "/查重备份/" + backups.first()), before);
        QCOMPARE(child<ui::DataGrid>(main_.get(), "DataGrid1")->recordset(), st.RsSource);
        QCOMPARE(st.RsSource->baseTable(), QString("clients"));
    }

    void aDbaseTargetTooNarrowKeepsTheWindowOpen() {
        checked({{"欧阳小明", "1", "甲"}, {"欧阳小明", "1", "乙"}, {"欧阳小明", "1", "甲"}});
        toThePanel();
        chooseType(0);
        const QString dir = folder("窄");
        const QString file = dir + "/narrow.dbf";
        QString error;
        QVERIFY(formats::dbf::createTable(
            file, formats::dbf::Flavour::FoxPro2,
            {{"NAME", 'C', 6, 0, false}, {"TEL", 'C', 4, 0, false}, {"ADDR", 'C', 4, 0, false}},
            formats::dbf::parseCodePage("936"), &error));
        const QByteArray before = digest(file);
        d_->expectOpenFile(file);
        click("Command5");
        noProblems();
        d_->expectMessageContaining(
            "目标文件是否正确？重新选择！\r\n数据合并失败，没有写入任何记录");
        click("Command9");
        noProblems();
        const QString shown = d_->messageTexts().last();
        QVERIFY2(shown.contains("第1条记录（欧阳小明）") && shown.contains("NAME"),
                 qPrintable(shown));
        QVERIFY(w_->isVisible());
        // check_Repeat ran before the merge: the grid's counter shows the two records it left.
        QCOMPARE(child<QLineEdit>(w_, "Text1")->text(), QString("2/2"));
        QVERIFY(child<QGroupBox>(w_, "Frame1")->isVisible());
        QVERIFY(child<QFrame>(w_, "Picture1")->isHidden());
        QCOMPARE(digest(file), before);
    }

    void accessTargetsThroughThePanel() {
        checked({{"张三", "1", "甲"}, {"张三", "1", "乙"}});
        toThePanel();
        chooseType(2);
        QVERIFY(combo("Combo2")->isEnabled());
        const QString nwind = testsupport::copyInto(
            testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb")), f.dir());
        d_->expectOpenFile(nwind).expectMessage("此Access文件只能读取，不能写入：" +
                                                QDir::toNativeSeparators(nwind));
        click("Command5");
        noProblems();
        QVERIFY(comboItems("Combo2").isEmpty());
        QCOMPARE(lastDialog(ui::ScriptedDialogs::Kind::OpenFile)->fileOptions.filter,
                 QString("所有文件(*.*)|*.*|数据库文件(*.MDB)|*.mdb"));
        d_->expectOpenFile(f.dir() + "/客户.accdb")
            .expectMessage("数据库类型不是 .mdb类型 ，\r\n请重新选择 .mdb数据库 ！", ui::Answer::Ok,
                           "提示信息");
        click("Command5");
        noProblems();

        // An Access-form SQLite database with a system table.
        const QString user = f.dir() + "/客户库.MDB";
        QVERIFY(QFile::copy(st.WorkDbPath, user));
        {
            db::Connection c;
            QVERIFY(c.open(db::accessConnectionString(user)));
            QVERIFY(testsupport::exec(
                c, "CREATE TABLE 客户 (姓名 VARCHAR(20), 电话 VARCHAR(20), 地址 VARCHAR(20))"));
            QVERIFY(testsupport::exec(c, "CREATE TABLE MSysAccessStorage (Id INTEGER)"));
        }
        d_->expectOpenFile(user);
        click("Command5");
        noProblems();
        QVERIFY(comboItems("Combo2").contains("客户"));
        for (const QString& t : comboItems("Combo2"))
            QVERIFY2(!t.startsWith("MSys"), qPrintable(t));
        QCOMPARE(combo("Combo2")->placeholderText(), QString("点击右边三角，选择表"));
        d_->expectMessage("请选择工作表！");
        click("Command9");
        noProblems();
        combo("Combo2")->setCurrentIndex(comboItems("Combo2").indexOf("客户"));
        d_->expectMessage("数据合并完毕！");
        click("Command9");
        noProblems();
        QTRY_VERIFY(w_.isNull());
        db::Connection c;
        QVERIFY(c.open(db::accessConnectionString(user)));
        QCOMPARE(tableRows(c, "客户"),
                 (QList<QStringList>{{"张三", "1", "甲"}, {"张三", "1", "乙"}}));
    }

    void theImportedTableAsTargetThenItsExport() {
        checked({{"张三", "1", "甲"}, {"张三", "1", "甲"}, {"李四", "2", "乙"}});
        toThePanel();
        chooseType(1);
        QVERIFY(!child<QPushButton>(w_, "Command5")->isEnabled());
        QVERIFY(child<QPushButton>(w_, "Command9")->isEnabled());
        QVERIFY(!combo("Combo2")->isEnabled());
        QCOMPARE(combo("Combo2")->currentText(), QString("ClienttableELS"));
        d_->expectMessage("数据合并完毕！")
            .expectMessage("将维护完成的数据导出，生成 Execl 文件")
            .expectSaveFile(std::nullopt);
        click("Command9");
        noProblems();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS"),
                 (QList<QStringList>{{"李四", "2", "乙"}, {"张三", "1", "甲"}}));
        QCOMPARE(tableRows(st.WorkConn, "ClienttableCC").size(), 1);
    }

    void exportAskingForTheSheetName() {
        checked({{"张三", "13800138000", "甲"}, {"张三", "001234", "乙"}});
        open();
        // A copy of a workbook with four sheets and 34 named ranges.
        const QString book =
            testsupport::copyInto(testsupport::sample("xls/xlrd/namesdemo.xls"), folder("名单"));
        const QJsonObject before = testsupport::excelDump(book);
        const QByteArray bytes = digest(book);
        // An empty name ends the export without a word; so does cancelling the dialog.
        d_->expectMessage("将查重结果，重复数据导出，生成Excel文件？")
            .expectSaveFile(book)
            .expectInput("");
        click("Command13");
        d_->expectMessage("将查重结果，重复数据导出，生成Excel文件？").expectSaveFile(std::nullopt);
        click("Command13");
        noProblems();
        QCOMPARE(digest(book), bytes);

        d_->expectMessage("将重复数据导出，生成Excel文件？")
            .expectSaveFile(book)
            .expectInput("Sheet1")
            .expectMessage("重名，请重新命名！")
            .expectInput("SHEET1")
            .expectMessageContaining("大小写")
            .expectInput("重复/客户")
            .expectMessageContaining("/")
            .expectInput("Apostrophe") // a named range's name, no sheet's
            .expectMessage("OK", ui::Answer::Ok, "导出成功");
        trigger("data_Output1");
        noProblems();
        const QJsonObject after = testsupport::excelDump(book);
        QCOMPARE(sheetNames(after), sheetNames(before) + QStringList{"Apostrophe"});
        QCOMPARE(after["names"], before["names"]);
        // The check table's fields: No and the running number stay out; digits stay text.
        QCOMPARE(sheetTexts(after, "Apostrophe"), (QList<QStringList>{{"姓名", "电话", "地址"},
                                                                      {"张三", "13800138000", "甲"},
                                                                      {"张三", "001234", "乙"}}));

        // What LibreOffice shows: the new sheet beside the workbook's own.
        const QString lo = folder("lo");
        QByteArray log;
        QVERIFY2(
            testsupport::officeConvert(
                {book},
                "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1", lo,
                &log),
            log);
        for (const QString& sheet : sheetNames(before))
            QVERIFY2(QFileInfo::exists(lo + "/namesdemo-" + sheet + ".csv"), qPrintable(sheet));
        const QJsonArray rows =
            testsupport::excelDump(lo + "/namesdemo-Apostrophe.csv", "csv")["rows"].toArray();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1].toArray()[1].toString(), QString("13800138000"));
        QCOMPARE(rows[2].toArray()[1].toString(), QString("001234"));
    }

    void workbooksThatCannotTakeTheSheet() {
        checked({{"张三", "1", "甲"}, {"张三", "1", "乙"}});
        open();
        const QString dir = folder("坏");
        const QString junk = dir + "/不是Excel.xls";
        QFile j(junk);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QByteArray("姓名,电话\n").repeated(100));
        j.close();
        const QByteArray junkBytes = digest(junk);
        d_->expectMessage("将查重结果，重复数据导出，生成Excel文件？")
            .expectSaveFile(junk)
            .expectMessageContaining("无法读取Excel文件");
        click("Command13");
        noProblems();
        QCOMPARE(digest(junk), junkBytes);
        // A workbook that cannot be written: the failure box, and the file as it was.
        const QString locked =
            testsupport::copyInto(testsupport::sample("xls/poi/chinese-provinces.xls"), dir);
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray lockedBytes = digest(locked);
        d_->expectMessage("将查重结果，重复数据导出，生成Excel文件？")
            .expectSaveFile(locked)
            .expectInput("重复")
            .expectMessageContaining("失败\r\n", ui::Answer::Ok, "导出失败");
        click("Command13");
        noProblems();
        QVERIFY2(d_->messageTexts().last().contains("只读"), qPrintable(d_->messageTexts().last()));
        QCOMPARE(digest(locked), lockedBytes);
    }

    void theRestByTheSourceFile() {
        checked({{"张三", "1", "甲"}, {"张三", "1", "乙"}, {"李四", "2", "丙"}});
        open();
        st.SourceFileTitle = QStringLiteral("客户.DBF");
        d_->expectMessage("将不重复数据导出，生成Excel文件？")
            .expectMessage("没有导入的DBF格式的数据，不能执行此操作！");
        trigger("data_Output2");
        st.SourceFileTitle = QStringLiteral("客户.Mdb");
        d_->expectMessage("将不重复数据导出，生成Excel文件？").expectMessageContaining("客户.Mdb");
        trigger("data_Output2");
        d_->expectMessage("将不重复数据导出，生成Excel文件？", ui::Answer::Cancel);
        trigger("data_Output2");
        noProblems();
    }

    void theRestOfAnAccessTableToXlsx() {
        // The check table is a table of the user's database: its rest is read through SourceConn.
        QVERIFY(f.loadTable({"姓名", "电话"}, {{"张三", "1"}, {"张三", "1"}, {"李四", "001234"}}));
        st.SourceFileTitle = QStringLiteral("客户资料.mdb");
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink sink;
        QVERIFY(check::CheckJob(st, f.options()).runAll(sink).ok());
        open();
        const QString book = folder("xlsx") + "/不重复.xlsx";
        d_->expectMessage("将不重复数据导出，生成Excel文件？")
            .expectSaveFile(book)
            .expectInput("名单")
            .expectMessage("OK", ui::Answer::Ok, "导出成功");
        trigger("data_Output2");
        noProblems();
        const QJsonObject dump = testsupport::excelDump(book);
        QCOMPARE(sheetNames(dump), QStringList{"名单"});
        QCOMPARE(sheetTexts(dump, "名单"),
                 (QList<QStringList>{{"姓名", "电话"}, {"李四", "001234"}}));
    }
};

CHACHONG_TEST_MAIN(TestMainFm4Merge)
#include "tst_mainfm4merge.moc"
