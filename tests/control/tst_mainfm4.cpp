// The check-control window over the duplicates of an exact check: its controls as it opens, the
// walk with the walked record found in the check table, "GO", the single delete, pending edits
// saved, dropped or committed by closing, the batch delete window, "返回" to the main window, and
// the stored column widths.
#include "app/mainfm1.h"
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "control/mainfm4.h"
#include "core/appstate.h"
#include "program/program.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "tools/mainfm8.h"
#include "ui/datagrid.h"
#include "ui/scripteddialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

using testsupport::child;
using testsupport::tableRows;

namespace {

// The check table: 姓名 repeats; the key 张三 occurs three times, 李 twice with the same letters
// split differently, O'Brien%[ twice; 王五 once.
const QList<QStringList> sourceRows = {
    {"张三", "1", "甲"}, {"张三", "2", "乙"},     {"李", "AB", "C"},       {"张三", "2", "乙"},
    {"李", "A", "BC"},   {"O'Brien%[", "x", "y"}, {"O'Brien%[", "x", "z"}, {"王五", "9", "独"}};

tools::mainFm8* batchWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<tools::mainFm8*>(w); b && b->isVisible()) return b;
    return nullptr;
}

} // namespace

class TestMainFm4 : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();
    std::unique_ptr<ui::ScriptedDialogs> d_;
    std::unique_ptr<app::mainFm1> main_;
    program::ProgramWindows windows_;
    QPointer<control::mainFm4> w_;

    // The check table of the rows, and the exact check on 姓名 without the separation, so that
    // the check table still holds every duplicate. ClienttableCC then holds, in this order:
    // 1 张三 1 甲 | 张三 2 乙 | 张三 2 乙 | 2 李 AB C | 李 A BC | 3 O'Brien%[ x y | O'Brien%[ x z
    void checked(const QList<QStringList>& rows) {
        QVERIFY(f.load({"姓名", "电话", "地址"}, rows));
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink sink;
        const core::RunResult r = check::exactScan(st, f.options(), sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
    }
    void open() {
        w_ = control::mainFm4::showControl();
        QVERIFY(w_);
    }
    QString text(const char* name) { return child<QLineEdit>(w_, name)->text(); }
    void click(const QString& name) { child<QPushButton>(w_, name)->click(); }
    // The current record of a recordset: its fields joined by "|".
    static QString current(const db::RecordsetPtr& rs, int from, int count) {
        QStringList values;
        for (int c = from; c < from + count; ++c)
            values << rs->value(c).toString();
        return values.join(QLatin1Char('|'));
    }
    QStringList storedAddresses() {
        return testsupport::tableColumn(st.WorkConn, "ClienttableCC", 3);
    }
    ui::DataGrid* grid() { return child<ui::DataGrid>(w_, "DataGrid2"); }
    void noProblems() { QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems())); }

private slots:
    void init() {
        app::setWindows(&windows_); // the batch delete window opens through the program's directory
        d_ = std::make_unique<ui::ScriptedDialogs>();
        main_ = std::make_unique<app::mainFm1>();
        QSettings(QStringLiteral("GridColWidth")).clear();
    }
    void cleanup() {
        if (QWidget* b = batchWindow()) b->close();
        if (w_) w_->close();
        QTRY_VERIFY(w_.isNull());
        main_.reset();
        app::setWindows(nullptr);
        const QString problems = d_->problems();
        d_.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    void controlsAsItOpens() {
        checked(sourceRows);
        st.SourceDir = QStringLiteral("/数据");
        st.SourceFileTitle = QStringLiteral("客户.dbf");
        st.SourceBaseName = QStringLiteral("客户");
        open();
        QCOMPARE(w_->windowTitle(), QString("数据库维护"));
        // Object name | caption | tip.
        const QStringList buttons = {
            "Command6(0)|<<|",     "Command6(1)|<|",           "Command6(2)|>|",
            "Command6(3)|>>|",     "Command3|GO|转向No号记录", "Command1|单个删除|",
            "Command10|批量删除|", "Command4|保存修改|",       "Command11|取消修改|",
            "Command12|数据合并|", "Command13|导出查重结果|",  "Command8|返回|",
            "Command5|浏览|",      "Command9|确认|",           "Command7|返回|"};
        for (const QString& entry : buttons) {
            const QStringList b = entry.split('|');
            QCOMPARE(child<QPushButton>(w_, b[0])->text(), b[1]);
            QCOMPARE(child<QPushButton>(w_, b[0])->toolTip(), b[2]);
        }
        QCOMPARE(child<QLineEdit>(w_, "Text3")->toolTip(), QString("输入No号"));
        const QStringList labels = {"Label1|文件类型", "Label2|目标文件", "Label3|工作表",
                                    "Label4|正在合并数据,请等待...",
                                    "Label5|正在合并数据,请等待..."};
        for (const QString& entry : labels)
            QCOMPARE(child<QLabel>(w_, entry.section('|', 0, 0))->text(), entry.section('|', 1));
        // The merge and the export are ready; the target panel's buttons wait for a file type,
        // the panels are hidden.
        for (const char* name : {"Command12", "Command13"})
            QVERIFY(child<QPushButton>(w_, name)->isEnabled());
        for (const char* name : {"Command5", "Command9"})
            QVERIFY(!child<QPushButton>(w_, name)->isEnabled());
        QVERIFY(child<QGroupBox>(w_, "Frame1")->isHidden());
        QVERIFY(child<QFrame>(w_, "Picture2")->isHidden());
        QVERIFY(!child<QComboBox>(w_, "Combo2")->isEnabled());
        QCOMPARE(child<QComboBox>(w_, "Combo2")->count(), 0);
        QVERIFY(child<QLineEdit>(w_, "Text2")->text().isEmpty());
        auto* combo = child<QComboBox>(w_, "Combo1");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items,
                 QStringList({"数据库文件(*.DBF)", "Excel文件(*.XLS)", "Access文件(*.MDB)"}));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->placeholderText(), QString("点击右边三角，选择文件类型"));
        QCOMPARE(child<QAction>(w_, "data_joint")->text(), QString("数据合并"));
        QCOMPARE(child<QMenu>(w_, "data_Output")->title(), QString("导出查重结果"));
        QCOMPARE(child<QAction>(w_, "data_Output1")->text(),
                 QString("重复数据导出（生成Excel文件）"));
        QCOMPARE(child<QAction>(w_, "data_Output2")->text(),
                 QString("不重复数据导出（生成Excel文件）"));
        for (const char* name : {"data_joint", "data_Output1", "data_Output2"})
            QVERIFY(child<QAction>(w_, name)->isEnabled());
        QVERIFY(child<QMenu>(w_, "data_Output")->menuAction()->isEnabled());
        // The status bar: the source, and what the commands here change.
        QCOMPARE(child<QLabel>(w_, "StatusBar1_Panel1")->text(), QString("/数据"));
        QCOMPARE(child<QLabel>(w_, "StatusBar1_Panel2")->text(), QString("客户.dbf"));
        QCOMPARE(child<QLabel>(w_, "StatusBar1_Panel3")->text(), QString("客户"));
        QVERIFY(child<QLabel>(w_, "StatusNote")->text().contains("只在数据合并时"));
        // The grid on RsDup, its last column (the running number) hidden; the counters.
        QCOMPARE(grid()->recordset(), st.RsDup);
        QCOMPARE(grid()->model()->columnCount(), 5);
        for (int c = 0; c < 4; ++c)
            QVERIFY(grid()->isColumnVisible(c));
        QVERIFY(!grid()->isColumnVisible(4));
        QCOMPARE(text("Text1"), QString("7/7"));
        QCOMPARE(text("Text3"), QString("0"));
    }

    void emptyDuplicateTable() {
        checked({{"张三", "1", "a"}, {"李四", "2", "b"}});
        open();
        QCOMPARE(text("Text1"), QString("0"));
        QCOMPARE(text("Text3"), QString("0"));
        click("Command6(2)");
        QCOMPARE(text("Text1"), QString("0/0"));
        // Nothing to jump to, delete or batch-delete: no box, no window.
        child<QLineEdit>(w_, "Text3")->setText("1");
        click("Command3");
        click("Command1");
        click("Command10");
        QVERIFY(!batchWindow());
        noProblems();
    }

    void walkFindsTheWholeRecordInTheCheckTable() {
        checked(sourceRows);
        open();
        const db::RecordsetPtr& src = st.RsSource;
        const QList<std::tuple<const char*, QString, int>> steps = {
            {"Command6(0)", "1/7", 1}, // 张三 1 甲
            {"Command6(1)", "1/7", 1}, // stays on the first
            {"Command6(2)", "2/7", 2}, // 张三 2 乙: not the first 张三 of the check table
            {"Command6(2)", "3/7", 2}, // the same record again: its first whole match
            {"Command6(2)", "4/7", 3}, // 李 AB C
            {"Command6(2)", "5/7", 5}, // 李 A BC: the same letters run together are no match
            {"Command6(2)", "6/7", 6}, // O'Brien%[ x y
            {"Command6(3)", "7/7", 7}, // O'Brien%[ x z
            {"Command6(2)", "7/7", 7}, // stays on the last
            {"Command6(1)", "6/7", 6}};
        for (const auto& [button, counter, position] : steps) {
            click(button);
            QCOMPARE(text("Text1"), counter);
            QCOMPARE(src->absolutePosition(), position);
            QCOMPARE(current(src, 0, 3), current(st.RsDup, 1, 3));
        }
        // A duplicate whose record is no longer in the check table: the check table ends on its
        // last record.
        QVERIFY(src->setAbsolutePosition(1));
        QVERIFY(src->deleteCurrent());
        click("Command6(0)");
        QCOMPARE(src->absolutePosition(), 7);
        QCOMPARE(src->recordCount(), 7);
        noProblems();
    }

    void goToARecordNumber() {
        checked(sourceRows);
        open();
        auto* box = child<QLineEdit>(w_, "Text3");
        for (const char* bad : {"abc", "0", "-1", "2.0", ""}) {
            d_->expectMessage("请输入记录号（No号）");
            box->setText(bad);
            click("Command3");
        }
        // A number, but no group has it: above the record count too.
        d_->expectMessage("没找到No 999 记录");
        box->setText("999");
        click("Command3");
        noProblems();
        QCOMPARE(text("Text1"), QString("7/7"));
        box->setText(" 2 ");
        click("Command3");
        QCOMPARE(text("Text1"), QString("4/7")); // No 2 is the fourth record
        QCOMPARE(st.RsDup->value(1).toString(), QString("李"));
        // A number in range that no record carries (No is set on a group's first record only).
        d_->expectMessage("没找到No 5 记录");
        box->setText("5");
        click("Command3");
        QCOMPARE(text("Text1"), QString("4/7"));
        QCOMPARE(st.RsDup->absolutePosition(), 4);
        noProblems();
    }

    void singleDelete() {
        checked(sourceRows);
        open();
        click("Command6(0)");
        click("Command6(2)");
        d_->expectMessage("确实要删除该记录吗？", ui::Answer::Cancel);
        click("Command1");
        QCOMPARE(storedAddresses().size(), 7);
        QCOMPARE(text("Text1"), QString("2/7"));
        d_->expectMessage("确实要删除该记录吗？", ui::Answer::Ok);
        click("Command1");
        noProblems();
        QCOMPARE(storedAddresses(), QStringList({"甲", "乙", "C", "BC", "y", "z"}));
        QCOMPARE(text("Text1"), QString("2/6")); // on the record after the deleted one
        QCOMPARE(current(st.RsDup, 1, 3), QString("张三|2|乙"));
        click("Command6(3)");
        d_->expectMessage("确实要删除该记录吗？", ui::Answer::Ok);
        click("Command1");
        QCOMPARE(text("Text1"), QString("5/5")); // the last went: on the new last
        // Only the check's duplicates change: the check table keeps all its records.
        QCOMPARE(st.RsSource->recordCount(), 8);
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS").size(), 8);
        noProblems();
    }

    void deletingTheOnlyRecordsLeavesZero() {
        checked({{"张三", "1", "a"}, {"张三", "1", "a"}});
        open();
        for (const QString counter : {"1/1", "0/0"}) {
            d_->expectMessage("确实要删除该记录吗？", ui::Answer::Ok);
            click("Command1");
            QCOMPARE(text("Text1"), counter);
        }
        QVERIFY(storedAddresses().isEmpty());
        noProblems();
    }

    void pendingEditsSavedOrDropped() {
        checked(sourceRows);
        open();
        QAbstractItemModel* m = grid()->model();
        QVERIFY(m->setData(m->index(0, 3), QString("新地址")));
        QCOMPARE(st.RsDup->valueAt(0, 3).toString(), QString("新地址"));
        QCOMPARE(storedAddresses().first(), QString("甲")); // pending
        click("Command11");
        QCOMPARE(st.RsDup->valueAt(0, 3).toString(), QString("甲"));
        QCOMPARE(m->data(m->index(0, 3)).toString(), QString("甲"));
        QVERIFY(m->setData(m->index(1, 3), QString("存")));
        click("Command4");
        QCOMPARE(storedAddresses().at(1), QString("存"));
        QVERIFY(!st.RsDup->hasPendingChanges());
        noProblems();
    }

    void tooLongAnEditIsRefusedNamingTheField() {
        checked(sourceRows);
        open();
        QAbstractItemModel* m = grid()->model();
        d_->expectMessage(
            "修改没有保存。\n原因：字段“No”的值长度为 33，超过了字段的定义长度 32，未写入",
            ui::Answer::Ok);
        QVERIFY(!m->setData(m->index(0, 0), QString(33, QChar('9'))));
        noProblems();
        QCOMPARE(m->data(m->index(0, 0)).toString(), QString("1"));
        QVERIFY(!st.RsDup->hasPendingChanges());

        // The duplicates' columns take any length; the check table's field, which the merge
        // writes, does not: "保存修改" refuses, naming the record and the field, and keeps the
        // edit.
        w_->close();
        QVERIFY(f.loadTable({"姓名", "电话"}, {{"张三", "12"}, {"张三", "12"}}, 2));
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink sink;
        QVERIFY(check::exactScan(st, f.options(), sink).ok());
        open();
        m = grid()->model();
        QVERIFY(m->setData(m->index(1, 2), QString("12345678")));
        d_->expectMessage("第 2 条重复记录的字段“电话”不能保存：字段“电话”的值长度为 8，超过了字段"
                          "的定义长度 2，未写入\r\n修改没有保存，请改正后再按“保存修改”。");
        click("Command4");
        noProblems();
        QVERIFY(st.RsDup->hasPendingChanges());
        QVERIFY(m->setData(m->index(1, 2), QString(" 34 ")));
        click("Command4");
        noProblems();
        QVERIFY(!st.RsDup->hasPendingChanges());
    }

    void closingCommitsTheEditBeingTyped() {
        checked(sourceRows);
        open();
        const QModelIndex cell = grid()->model()->index(2, 3);
        grid()->setCurrentIndex(cell);
        grid()->edit(cell);
        auto* editor = qobject_cast<QLineEdit*>(grid()->indexWidget(cell));
        QVERIFY(editor);
        editor->setText("关闭时");
        w_->close();
        QTRY_VERIFY(w_.isNull());
        QCOMPARE(st.RsDup->valueAt(2, 3).toString(), QString("关闭时"));
        QVERIFY(st.RsDup->hasPendingChanges()); // kept for a save or the merge
        QCOMPARE(storedAddresses().at(2), QString("乙"));
    }

    void backToTheMainWindow() {
        checked(sourceRows);
        main_->hide();
        main_->setWindowTitle("别的标题");
        open();
        click("Command8");
        QTRY_VERIFY(w_.isNull());
        QVERIFY(main_->isVisible());
        QCOMPARE(main_->windowTitle(), QString("查重主控界面"));
        QCOMPARE(main_->recordCounter(), QString("1/8"));
        QCOMPARE(child<ui::DataGrid>(main_.get(), "DataGrid1")->recordset(), st.RsSource);
    }

    void batchDeleteFromHere() {
        checked(sourceRows);
        open();
        click("Command10");
        tools::mainFm8* batch = batchWindow();
        QVERIFY(batch);
        auto* fields = child<QListWidget>(batch, "List1");
        fields->item(0)->setSelected(true); // 姓名
        child<QPushButton>(batch, "Command1(0)")->click();
        d_->expectMessage("确认要删除这些记录？", ui::Answer::Ok).expectMessage("批量删除结束！");
        bool lockedMeanwhile = false;
        QTimer::singleShot(0, w_, [&] { lockedMeanwhile = !w_->centralWidget()->isEnabled(); });
        child<QPushButton>(batch, "Command2")->click();
        noProblems();
        QVERIFY(lockedMeanwhile);
        QVERIFY(w_->centralWidget()->isEnabled());
        QCOMPARE(storedAddresses(), QStringList({"甲", "C", "y"}));
        QCOMPARE(text("Text1"), QString("3/3"));
        QCOMPARE(grid()->model()->rowCount(), 3);
        // Unlocked again, with the merge and the export.
        QVERIFY(w_->menuBar()->isEnabled());
        QVERIFY(child<QPushButton>(w_, "Command12")->isEnabled());
    }

    void aMergeRunsAloneAndOnce() {
        // The batch delete window stays open beside the merge: while the merge writes, its
        // "确认" (and every other command that writes tables) refuses, and nothing of the
        // duplicates it walks is deleted. A second merge of the same duplicates asks first.
        QVERIFY(f.load({"姓名", "电话", "地址"}, sourceRows));
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink quiet;
        QVERIFY(check::CheckJob(st, f.options()).runAll(quiet).ok()); // separated
        core::setSourceKind(st, core::SourceKind::Access);            // no export after the merge
        const int rest = st.RsSource->recordCount();
        open();
        click("Command10");
        tools::mainFm8* batch = batchWindow();
        QVERIFY(batch);
        child<QListWidget>(batch, "List1")->item(0)->setSelected(true);
        child<QPushButton>(batch, "Command1(0)")->click();
        const QString refusal = "正在进行“数据合并”，请等它结束后再操作。";
        d_->expectMessage("数据是否已全部维护完毕？！")
            .expectMessage(refusal)
            .expectMessage(refusal)
            .expectMessage("数据库查重维护结束!");
        bool triedMeanwhile = false;
        QTimer::singleShot(0, batch, [&] {
            triedMeanwhile = true;
            child<QPushButton>(batch, "Command2")->click();
            main_->Command3_Click(); // "开始查重" in the main window
        });
        const int duplicates = st.RsDup->recordCount();
        click("Command12");
        noProblems();
        QVERIFY(triedMeanwhile);
        QCOMPARE(st.RsDup->recordCount(), duplicates);
        QCOMPARE(st.RsSource->recordCount(), rest + duplicates);
        QVERIFY(st.RunningWork.isEmpty());
        QTRY_VERIFY(w_.isNull());

        open();
        d_->expectMessage("数据是否已全部维护完毕？！")
            .expectMessage("这些记录已经合并过一次，再次合并会重复写入。仍要合并吗？",
                           ui::Answer::Cancel);
        click("Command12");
        noProblems();
        QCOMPARE(st.RsSource->recordCount(), rest + duplicates);
        QVERIFY(w_);
    }

    void columnWidthsStoredPerDatabase() {
        checked(sourceRows);
        open();
        const QString workSection = QString(st.WorkDbPath).replace("/", "%2F");
        grid()->horizontalHeader()->resizeSection(1, 177);
        QSettings s(QStringLiteral("GridColWidth"));
        QCOMPARE(s.value(workSection + "/姓名").toString(), QString("177"));
        grid()->horizontalHeader()->resizeSection(1, 90);
        s.sync();
        QCOMPARE(s.value(workSection + "/姓名").toString(), QString("90"));
        // The main window's grid of the check table: nothing while no source file is known.
        main_->bindGrid(st.RsSource);
        auto* mainGrid = child<ui::DataGrid>(main_.get(), "DataGrid1");
        mainGrid->horizontalHeader()->resizeSection(2, 150);
        s.sync();
        QCOMPARE(s.childGroups(), QStringList{workSection});
        st.SourcePath = QStringLiteral("/数据/客户.dbf");
        mainGrid->horizontalHeader()->resizeSection(2, 151);
        s.sync();
        QCOMPARE(s.value("%2F数据%2F客户.dbf/地址").toString(), QString("151"));
    }
};

CHACHONG_TEST_MAIN(TestMainFm4)
#include "tst_mainfm4.moc"
