// The main window driven through the scripted dialog service: start-up state, controls, the
// field lists, the postcode controls, the record counter, every step of "开始查重", "数据维护",
// "帮助" and "退出".
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/recordsetmodel.h"
#include "ui/scripteddialogs.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>

#include <sqlite3.h>

using core::appState;
using testsupport::child;
using testsupport::exec;
using testsupport::rowsOf;

namespace {

const QStringList sourceFields = {QStringLiteral("编号"), QStringLiteral("名称"),
                                  QStringLiteral("地址"), QStringLiteral("邮编"),
                                  QStringLiteral("电话"), QStringLiteral("联系人")};

// Records which windows the main window asked for.
class Recorder : public app::WindowDirectory {
public:
    QStringList calls;
    core::RunOptions options; // of the last check started
    bool showCheckRun(const QString& caption, const core::RunOptions& o) override {
        calls << QStringLiteral("mainFm11:") + caption;
        options = o;
        return true;
    }
    bool showCheckControl() override {
        calls << QStringLiteral("mainFm4");
        return true;
    }
    bool showGuide() override {
        calls << QStringLiteral("manualFm1");
        return true;
    }
};

QStringList itemsOf(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void select(QListWidget* list, const QList<int>& rows) {
    list->clearSelection();
    for (int r : rows)
        list->item(r)->setSelected(true);
}

} // namespace

class TestMainFm1 : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> dialogs_;
    std::unique_ptr<app::mainFm1> w_;
    Recorder recorder_;

    db::Connection& work() { return appState().WorkConn; }

    // What opening a dBase-like source does to the state and the window (the open commands
    // themselves belong to the import code): a table 客户 of the given rows, shown in the grid.
    void openSource(int rows, bool setFlag = true) {
        const QString path = dir_->filePath(QStringLiteral("客户资料.mdb"));
        if (!QFile::exists(path)) {
            sqlite3* db = nullptr;
            QVERIFY(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK);
            QString create = QStringLiteral("CREATE TABLE 客户 (");
            for (const QString& f : sourceFields)
                create += QStringLiteral("[%1] VARCHAR(40),").arg(f);
            create.chop(1);
            create += QLatin1Char(')');
            QVERIFY(sqlite3_exec(db, create.toUtf8().constData(), nullptr, nullptr, nullptr) ==
                    SQLITE_OK);
            const QString fill =
                QStringLiteral(
                    "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM r WHERE i < %1) "
                    "INSERT INTO 客户 SELECT i, '客户' || (i % 4), '地址' || i, '1000' || (i % 3), "
                    "'电话', '联系人' FROM r")
                    .arg(rows);
            if (rows > 0)
                QVERIFY(sqlite3_exec(db, fill.toUtf8().constData(), nullptr, nullptr, nullptr) ==
                        SQLITE_OK);
            sqlite3_close(db);
        }
        core::AppState& st = appState();
        QVERIFY(st.SourceConn.open(db::accessConnectionString(path)));
        st.SourceType = QStringLiteral("mdb");
        st.SourceTable = QStringLiteral("客户");
        st.RsSource = std::make_shared<db::Recordset>();
        QVERIFY(st.RsSource->open(db::sql::selectAll(QStringLiteral("客户")), st.SourceConn));
        w_->bindGrid(st.RsSource);
        w_->showRecordCounters();
        w_->fillFieldList();
        if (setFlag) w_->setSourceOpenedFlag(1);
    }

    // The duplicate table as the working-table build leaves it, with some rows of an earlier
    // check.
    void makeDuplicateTable(const QString& name, int rows) {
        QString create = QStringLiteral("CREATE TABLE [%1] ([No] VARCHAR(32),").arg(name);
        for (const QString& f : sourceFields)
            create += QStringLiteral("[%1] VARCHAR(4000),").arg(f);
        create += QStringLiteral("[查重流水号06] VARCHAR(4000))");
        QVERIFY(exec(work(), create));
        for (int i = 1; i <= rows; ++i)
            QVERIFY(exec(work(), QStringLiteral("INSERT INTO [%1] ([No], [名称], [查重流水号06]) "
                                                "VALUES ('%2', '旧客户', '%2')")
                                     .arg(name)
                                     .arg(i)));
    }

    // Everything "开始查重" wants, up to its confirmation.
    void readyToStart() {
        openSource(8);
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 3);
        select(child<QListWidget>(w_.get(), "List2"), {1});
        w_->Command1_Click(0);
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
    }

    void expectNothingElse() {
        QVERIFY2(dialogs_->problems().isEmpty(), qPrintable(dialogs_->problems()));
    }

private slots:
    void init() {
        core::resetAppState();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        QVERIFY(!testsupport::copyWorkDb(dir_->path()).isEmpty());
        // A segment left in yb_table by an earlier run: start-up empties it.
        {
            db::Connection c;
            QVERIFY(c.open(
                db::accessConnectionString(dir_->filePath(QStringLiteral("MorlayBankCC.mdb")))));
            QVERIFY(exec(c, QStringLiteral("INSERT INTO yb_table VALUES (1, '100000')")));
        }
        dialogs_ = std::make_unique<ui::ScriptedDialogs>();
        app::setWindows(&recorder_);
        recorder_.calls.clear();
        w_ = std::make_unique<app::mainFm1>();
        QVERIFY(w_->formLoad(dir_->path()));
        QVERIFY2(dialogs_->problems().isEmpty(), qPrintable(dialogs_->problems()));
        dialogs_->clear();
    }

    void cleanup() {
        const QString problems = dialogs_ ? dialogs_->problems() : QString();
        w_.reset();
        app::setWindows(nullptr);
        core::resetAppState();
        dialogs_.reset();
        dir_.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // --- start-up

    void startupState() {
        const core::AppState& st = appState();
        QCOMPARE(w_->windowTitle(), QStringLiteral("查重主控界面"));
        QCOMPARE(app::mainForm(), w_.get());
        QCOMPARE(st.AppDir, QDir(dir_->path()).absolutePath());
        QCOMPARE(st.WorkDbPath, st.AppDir + QStringLiteral("/MorlayBankCC.mdb"));
        QVERIFY(st.WorkConn.isOpen());
        QVERIFY(!core::isOpen(st.RsSource));
        QVERIFY(st.SourceType.isEmpty() && st.SourcePath.isEmpty());
        // The grid shows the permanent empty table.
        auto shown = child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset();
        QVERIFY(core::isOpen(shown));
        QCOMPARE(shown->fieldNames(), QStringList{QStringLiteral("字段")});
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->model()->rowCount(), 0);
        QVERIFY(child<QLineEdit>(w_.get(), "Text1")->text().isEmpty());
        QCOMPARE(child<QLineEdit>(w_.get(), "Text12")->text(), QStringLiteral("0"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text13")->text(), QStringLiteral("0"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("0"));
        QVERIFY(child<QRadioButton>(w_.get(), "Option5")->isChecked());
        QVERIFY(!child<QRadioButton>(w_.get(), "Option4")->isChecked());
        QVERIFY(!child<QRadioButton>(w_.get(), "Option1")->isChecked() &&
                !child<QRadioButton>(w_.get(), "Option2")->isChecked());
        QVERIFY(child<QLineEdit>(w_.get(), "Text11")->text().isEmpty());
        QVERIFY(!child<QLineEdit>(w_.get(), "Text11")->isEnabled());
        QCOMPARE(child<QListWidget>(w_.get(), "List1")->count(), 0);
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 0);
        QVERIFY(child<QFrame>(w_.get(), "Picture1")->isHidden());
        QCOMPARE(st.PostcodeMode, qint16(1));
        QCOMPARE(st.PostcodeDigits, qint16(0));
        QCOMPARE(w_->sourceOpenedFlag(), qint16(0));
        QCOMPARE(rowsOf(st.WorkConn, QStringLiteral("yb_table")), 0);
    }

    void controlsCaptionsAndTips_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tip");
        const QString none;
        QTest::newRow("Text1") << "Text1" << none << "客户记录记数";
        QTest::newRow("Label3") << "Label3"
                                << "正在打开数据库,请等待..." << none;
        QTest::newRow("Label4") << "Label4"
                                << "数据库字段名" << none;
        QTest::newRow("Label5") << "Label5"
                                << "查重字段名" << none;
        QTest::newRow("Command1(0)") << "Command1(0)"
                                     << ">" << none;
        QTest::newRow("Command1(1)") << "Command1(1)"
                                     << ">>" << none;
        QTest::newRow("Command1(2)") << "Command1(2)"
                                     << "<" << none;
        QTest::newRow("Command1(3)") << "Command1(3)"
                                     << "<<" << none;
        QTest::newRow("Label8") << "Label8"
                                << "查重方式选择" << none;
        QTest::newRow("Option1") << "Option1"
                                 << "完全相同查重" << none;
        QTest::newRow("Option2") << "Option2"
                                 << "模糊查重" << none;
        QTest::newRow("Label6") << "Label6"
                                << "快速查重" << none;
        QTest::newRow("Label7") << "Label7"
                                << "分段查重选择" << none;
        QTest::newRow("Option4") << "Option4"
                                 << "选择邮编" << none;
        QTest::newRow("Option5") << "Option5"
                                 << "取消邮编" << none;
        QTest::newRow("Text11") << "Text11" << none << "被选取的邮编字段名";
        QTest::newRow("Command29(0)") << "Command29(0)"
                                      << "加"
                                      << "邮编位数加";
        QTest::newRow("Command29(1)") << "Command29(1)"
                                      << "减"
                                      << "邮编位数减";
        QTest::newRow("Text14") << "Text14" << none << "查询邮编位数";
        QTest::newRow("Label1") << "Label1"
                                << "查重开始位置" << none;
        QTest::newRow("Text12") << "Text12" << none << "查重开始位置，请备份中间数据";
        QTest::newRow("Label2") << "Label2"
                                << "查重终止位置" << none;
        QTest::newRow("Text13") << "Text13" << none << "查重开始位置，请备份中间数据";
        QTest::newRow("Command3") << "Command3"
                                  << "开始查重" << none;
    }

    void controlsCaptionsAndTips() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, tip);
        const auto found = w_->findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* c = found.first();
        if (!caption.isNull()) {
            QString text;
            if (auto* l = qobject_cast<QLabel*>(c))
                text = l->text();
            else if (auto* b = qobject_cast<QAbstractButton*>(c))
                text = b->text();
            QCOMPARE(text, caption);
        }
        if (!tip.isNull()) QCOMPARE(c->toolTip(), tip);
    }

    void otherControlsExist() {
        for (const char* name : {"DataGrid1", "Picture1", "List1", "List2", "Frame1", "CoolBar1",
                                 "Toolbar1", "StatusBar1"})
            QVERIFY2(w_->findChild<QWidget*>(QString::fromLatin1(name)), name);
        QVERIFY(child<QLabel>(w_.get(), "Label8")->parentWidget() ==
                child<QFrame>(w_.get(), "Frame1"));
        QVERIFY(child<QRadioButton>(w_.get(), "Option1")->parentWidget() ==
                child<QFrame>(w_.get(), "Frame1"));
        QVERIFY(child<QToolBar>(w_.get(), "Toolbar1")->parentWidget() ==
                child<QFrame>(w_.get(), "CoolBar1"));
    }

    void menusAndToolbar() {
        QStringList top;
        for (QAction* a : w_->menuBar()->actions())
            top << a->text();
        QCOMPARE(top, (QStringList{"Excel数据", "DBF数据", "MDB数据", "数据维护", "查重结果",
                                   "帮助", "退出"}));
        QCOMPARE(w_->menuBar()->actions().at(4)->menu()->actions().size(), 2);
        QCOMPARE(w_->menuBar()->actions().at(4)->menu()->actions().at(0)->objectName(),
                 QStringLiteral("data_Report"));
        QCOMPARE(w_->menuBar()->actions().at(4)->menu()->actions().at(1)->objectName(),
                 QStringLiteral("data_Restore"));
        const QList<QPair<QString, QString>> commands = {
            {"inputFile_XLS", "导入Excel数据"},
            {"begin_DBF", "打开DBF数据"},
            {"Input_DBF", "导入DBF数据（可导出Excel文件）"},
            {"begin_MDB", "打开MDB数据"},
            {"begin_MDB2", "打开导入数据"}};
        for (const auto& [name, caption] : commands) {
            auto* a = w_->findChild<QAction*>(name);
            QVERIFY2(a, qPrintable(name));
            QCOMPARE(a->text(), caption);
            // Present, and (until the import code wires them) without effect.
            a->trigger();
        }
        QCOMPARE(w_->menuBar()->actions().at(1)->menu()->actions().at(1)->objectName(),
                 QStringLiteral("Input_DBF"));
        QStringList buttons;
        for (QAction* a : child<QToolBar>(w_.get(), "Toolbar1")->actions())
            buttons << a->text();
        QCOMPARE(buttons, (QStringList{"数据维护", "帮助", "退出"}));
        // The menu bar shows captions, not icons.
        for (QAction* a : w_->menuBar()->actions())
            QVERIFY(a->icon().isNull());
        // A toolbar button runs its command.
        child<QToolBar>(w_.get(), "Toolbar1")->actions().at(1)->trigger();
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("manualFm1")});
        dialogs_->expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Cancel);
        child<QToolBar>(w_.get(), "Toolbar1")->actions().at(2)->trigger();
        QVERIFY(!core::isOpen(appState().RsSource));
    }

    // --- the field lists

    void moveSelectedFields() {
        openSource(3);
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List2")), sourceFields);
        // Entries 0, 2 and 3 selected: adjacent ones move too (the walk does not advance).
        select(child<QListWidget>(w_.get(), "List2"), {0, 2, 3});
        child<QPushButton>(w_.get(), "Command1(0)")->click();
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List1")),
                 (QStringList{"编号", "地址", "邮编"}));
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List2")),
                 (QStringList{"名称", "电话", "联系人"}));
        // Nothing selected: nothing moves.
        child<QListWidget>(w_.get(), "List2")->clearSelection();
        child<QPushButton>(w_.get(), "Command1(0)")->click();
        QCOMPARE(child<QListWidget>(w_.get(), "List1")->count(), 3);
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 3);
    }

    void moveAllFields() {
        openSource(3);
        select(child<QListWidget>(w_.get(), "List2"), {1});
        child<QPushButton>(w_.get(), "Command1(0)")->click();
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List1")),
                 (QStringList{"名称", "编号", "地址", "邮编", "电话", "联系人"}));
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 0);
    }

    void moveFieldsBack() {
        openSource(3);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        select(child<QListWidget>(w_.get(), "List1"), {1, 5});
        child<QPushButton>(w_.get(), "Command1(2)")->click();
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List1")),
                 (QStringList{"编号", "地址", "邮编", "电话"}));
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List2")), (QStringList{"名称", "联系人"}));
    }

    void resetFieldLists() {
        // Without a source "<<" does nothing.
        child<QListWidget>(w_.get(), "List1")->addItem(QStringLiteral("残留"));
        child<QPushButton>(w_.get(), "Command1(3)")->click();
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List1")), QStringList{"残留"});
        openSource(3);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        child<QPushButton>(w_.get(), "Command1(3)")->click();
        QCOMPARE(child<QListWidget>(w_.get(), "List1")->count(), 0);
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List2")), sourceFields);
    }

    void clickInFieldList() {
        openSource(3, false);
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        QListWidgetItem* item = child<QListWidget>(w_.get(), "List2")->item(3);
        QTest::mouseClick(child<QListWidget>(w_.get(), "List2")->viewport(), Qt::LeftButton, {},
                          child<QListWidget>(w_.get(), "List2")->visualItemRect(item).center());
        QCOMPARE(w_->sourceOpenedFlag(), qint16(1));
        QVERIFY(child<QLineEdit>(w_.get(), "Text11")->text().isEmpty()); // no postcode field wanted
        child<QRadioButton>(w_.get(), "Option4")->click();
        QTest::mouseClick(child<QListWidget>(w_.get(), "List2")->viewport(), Qt::LeftButton, {},
                          child<QListWidget>(w_.get(), "List2")->visualItemRect(item).center());
        QCOMPARE(child<QLineEdit>(w_.get(), "Text11")->text(), QStringLiteral("邮编"));
    }

    // --- postcode controls

    void postcodeOptions() {
        core::AppState& st = appState();
        QVERIFY(exec(work(), QStringLiteral("INSERT INTO yb_table VALUES (1, '10')")));
        child<QRadioButton>(w_.get(), "Option4")->click();
        QCOMPARE(st.PostcodeMode, qint16(2));
        QVERIFY(child<QLineEdit>(w_.get(), "Text11")->isEnabled());
        QCOMPARE(st.PostcodeDigits, qint16(2));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("2"));
        QCOMPARE(rowsOf(work(), QStringLiteral("yb_table")), 0);

        child<QLineEdit>(w_.get(), "Text11")->setText(QStringLiteral("邮编"));
        QVERIFY(exec(work(), QStringLiteral("INSERT INTO yb_table VALUES (1, '10')")));
        child<QRadioButton>(w_.get(), "Option5")->click();
        QCOMPARE(st.PostcodeMode, qint16(1));
        QVERIFY(child<QLineEdit>(w_.get(), "Text11")->text().isEmpty());
        QVERIFY(!child<QLineEdit>(w_.get(), "Text11")->isEnabled());
        QCOMPARE(st.PostcodeDigits, qint16(0));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("0"));
        QCOMPARE(rowsOf(work(), QStringLiteral("yb_table")), 0);
    }

    void plusWrapsFromSixToOne() {
        // After "取消邮编" the digits are 0; "加" works in either mode.
        QStringList seen;
        for (int i = 0; i < 8; ++i) {
            QVERIFY(exec(work(), QStringLiteral("INSERT INTO yb_table VALUES (1, '10')")));
            child<QPushButton>(w_.get(), "Command29(0)")->click();
            QCOMPARE(rowsOf(work(), QStringLiteral("yb_table")), 0);
            seen << child<QLineEdit>(w_.get(), "Text14")->text();
        }
        QCOMPARE(seen, (QStringList{"1", "2", "3", "4", "5", "6", "1", "2"}));
        QCOMPARE(appState().PostcodeDigits, qint16(2));
    }

    void minusStopsAtOne() {
        // From 0 (start-up) "减" gives 1.
        child<QPushButton>(w_.get(), "Command29(1)")->click();
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("1"));
        child<QPushButton>(w_.get(), "Command29(1)")->click();
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("1"));
        child<QRadioButton>(w_.get(), "Option4")->click(); // 2
        QStringList seen;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(exec(work(), QStringLiteral("INSERT INTO yb_table VALUES (1, '10')")));
            child<QPushButton>(w_.get(), "Command29(1)")->click();
            QCOMPARE(rowsOf(work(), QStringLiteral("yb_table")), 0);
            seen << child<QLineEdit>(w_.get(), "Text14")->text();
        }
        QCOMPARE(seen, (QStringList{"1", "1", "1"}));
        QCOMPARE(appState().PostcodeDigits, qint16(1));
        // Back up from 1 with "加" and down again.
        child<QPushButton>(w_.get(), "Command29(0)")->click();
        child<QPushButton>(w_.get(), "Command29(0)")->click();
        child<QPushButton>(w_.get(), "Command29(1)")->click();
        QCOMPARE(child<QLineEdit>(w_.get(), "Text14")->text(), QStringLiteral("2"));
    }

    // --- record counter and what the open commands call

    void recordCounterFollowsTheUsersMoves() {
        // No source: moving in the grid changes nothing.
        w_->DataGrid1_RowColChange();
        QVERIFY(child<QLineEdit>(w_.get(), "Text1")->text().isEmpty());
        openSource(12);
        QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(), QStringLiteral("1/12"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text12")->text(), QStringLiteral("1"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text13")->text(), QStringLiteral("12"));
        child<ui::DataGrid>(w_.get(), "DataGrid1")
            ->setCurrentIndex(child<ui::DataGrid>(w_.get(), "DataGrid1")->model()->index(6, 2));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(), QStringLiteral("7/12"));
        QTest::keyClick(child<ui::DataGrid>(w_.get(), "DataGrid1")->viewport(), Qt::Key_End,
                        Qt::ControlModifier);
        QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(), QStringLiteral("12/12"));
    }

    void countersOfAnEmptySource() {
        openSource(0);
        QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(), QStringLiteral("0"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text12")->text(), QStringLiteral("0"));
        QCOMPARE(child<QLineEdit>(w_.get(), "Text13")->text(), QStringLiteral("0"));
        QCOMPARE(itemsOf(child<QListWidget>(w_.get(), "List2")),
                 sourceFields); // the field list still filled
    }

    void statusPanelsAndWaitPicture() {
        w_->setStatusPanels(QStringLiteral("/数据/客户"), QStringLiteral("客户表.dbf"),
                            QStringLiteral("客户表"));
        QCOMPARE(w_->statusPanel(1), QStringLiteral("/数据/客户"));
        QCOMPARE(w_->statusPanel(2), QStringLiteral("客户表.dbf"));
        QCOMPARE(w_->statusPanel(3), QStringLiteral("客户表"));
        QCOMPARE(w_->findChild<QLabel*>(QStringLiteral("StatusBar1_Panel3"))->text(),
                 QStringLiteral("客户表"));
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        w_->showWaitPicture(true);
        QVERIFY(child<QFrame>(w_.get(), "Picture1")->isVisible());
        // Over the grid, not clipped by it.
        const QRect grid(child<ui::DataGrid>(w_.get(), "DataGrid1")->mapTo(w_.get(), QPoint(0, 0)),
                         child<ui::DataGrid>(w_.get(), "DataGrid1")->size());
        const QRect pic(child<QFrame>(w_.get(), "Picture1")->mapTo(w_.get(), QPoint(0, 0)),
                        child<QFrame>(w_.get(), "Picture1")->size());
        QVERIFY(grid.contains(pic));
        w_->showWaitPicture(false);
        QVERIFY(!child<QFrame>(w_.get(), "Picture1")->isVisible());
    }

    // --- "开始查重"

    void startNeedsAnOpenSource() {
        dialogs_->expectMessage(QStringLiteral("请打开数据库！"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QVERIFY(recorder_.calls.isEmpty());
    }

    void startNeedsTheOpenedFlag() {
        // A source opened without setting the flag (as "打开导入数据" does).
        openSource(5, false);
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 1);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        dialogs_->expectMessage(QStringLiteral("请重新打开数据库！"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        // One click on any name in the field list lets the same start go ahead.
        child<QPushButton>(w_.get(), "Command1(3)")->click();
        w_->List2_Click(child<QListWidget>(w_.get(), "List2")->item(0));
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm11:完全相同查重")});
    }

    void startNeedsRecords() {
        openSource(0);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        dialogs_->expectMessage(QStringLiteral("无数据可查！"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
    }

    void startNeedsCheckFields() {
        openSource(4);
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        dialogs_->expectMessage(QStringLiteral("请选择查重字段"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
    }

    void startNeedsAKindOfCheck() {
        openSource(4);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        dialogs_->expectMessage(QStringLiteral("请选择查重方式"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
    }

    void startRangeMustHoldRecords_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("message"); // empty: the check starts
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("blank end") << "1"
                                   << ""
                                   << "查重终止位置“”不正确" << 0 << 0;
        QTest::newRow("zero end") << "1"
                                  << "0"
                                  << "查重终止位置“0”不正确" << 0 << 0;
        QTest::newRow("letters") << "a"
                                 << "8"
                                 << "查重开始位置“a”不正确" << 0 << 0;
        QTest::newRow("negative") << "-1"
                                  << "8"
                                  << "查重开始位置“-1”不正确" << 0 << 0;
        QTest::newRow("start after end") << "5"
                                         << "3"
                                         << "查重开始位置 5 大于终止位置 3" << 0 << 0;
        QTest::newRow("start beyond the table") << "9"
                                                << "12"
                                                << "查重开始位置 9 超过了记录数 8" << 0 << 0;
        QTest::newRow("full-width digits") << "２"
                                           << "３"
                                           << "" << 2 << 3;
        QTest::newRow("blanks around") << " 2 "
                                       << "7 "
                                       << "" << 2 << 7;
        QTest::newRow("end clipped") << "1"
                                     << "100"
                                     << "" << 1 << 8;
    }

    void startRangeMustHoldRecords() {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, message);
        QFETCH(int, first);
        QFETCH(int, last);
        readyToStart();
        child<QLineEdit>(w_.get(), "Text12")->setText(start);
        child<QLineEdit>(w_.get(), "Text13")->setText(end);
        if (message.isEmpty())
            dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        else
            dialogs_->expectMessageContaining(message);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        if (message.isEmpty()) {
            QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm11:完全相同查重")});
            QCOMPARE(recorder_.options.start, first);
            QCOMPARE(recorder_.options.end, last);
        } else {
            QVERIFY(recorder_.calls.isEmpty());
            QCOMPARE(rowsOf(appState().WorkConn, QStringLiteral("ClienttableCC")), 3);
        }
    }

    void confirmationTextExactly() {
        const QString expected = QStringLiteral(
            "提示：\r\n1.建议原数据文件做备份。\r\n------------------------------\r\n"
            "2.此项操作将改变上次数据结果。\r\n------------------------------\r\n"
            "                              \r\n确认开始查重吗？");
        QCOMPARE(app::mainFm1::startCheckConfirmation(), expected);
        readyToStart();
        dialogs_->expectMessage(expected, ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        const auto& box = dialogs_->shown().first();
        QCOMPARE(box.icon, ui::Icon::Question);
        QCOMPARE(box.buttons, ui::Buttons::OkCancel);
    }

    void cancelChangesNothing() {
        readyToStart();
        core::AppState& st = appState();
        st.CheckFields[0] = QStringLiteral("旧字段");
        st.CheckFieldCount = 3;
        st.CheckMode = 2;
        auto oldDup = st.RsDup;
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Cancel);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 3);
        QCOMPARE(st.CheckFields[0], QStringLiteral("旧字段"));
        QCOMPARE(st.CheckFieldCount, qint16(3));
        QCOMPARE(st.CheckMode, qint16(2));
        QCOMPARE(st.RsDup, oldDup);
        QVERIFY(recorder_.calls.isEmpty());
    }

    void postcodeFieldMissingAfterConfirmation() {
        readyToStart();
        child<QRadioButton>(w_.get(), "Option4")->click(); // postcode wanted, none chosen
        core::AppState& st = appState();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok)
            .expectMessage(QStringLiteral("请选择邮编字段"));
        const qint16 fieldsBefore = st.CheckFieldCount;
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        // Refused before anything was stored: the check fields and the duplicates stay.
        QCOMPARE(st.CheckFieldCount, fieldsBefore);
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 3);
        QVERIFY(recorder_.calls.isEmpty());
    }

    void startPreparesTheCheck() {
        readyToStart();
        core::AppState& st = appState();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(st.CheckFieldCount, qint16(1));
        QCOMPARE(st.CheckFields[0], QStringLiteral("名称"));
        QVERIFY(st.PostcodeField.isEmpty());
        QCOMPARE(st.CheckMode, qint16(1));
        QCOMPARE(w_->sourceOpenedFlag(), qint16(1));
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 0);
        QVERIFY(core::isOpen(st.RsDup));
        QCOMPARE(st.RsDup->recordCount(), 0);
        QCOMPARE(st.RsDup->lockType(), db::LockType::BatchOptimistic);
        QCOMPARE(st.RsDup->cursorLocation(), db::CursorLocation::Client);
        QCOMPARE(st.RsDup->fieldName(0), QStringLiteral("No"));
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm11:完全相同查重")});

        // Edits of the duplicates stay pending until saved.
        QVERIFY(st.RsDup->addNew());
        QVERIFY(st.RsDup->setValue(QStringLiteral("名称"), QStringLiteral("待定")));
        QVERIFY(st.RsDup->update());
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 0);
        QVERIFY(st.RsDup->updateBatch());
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 1);
    }

    void fuzzyCheckWithPostcode() {
        readyToStart();
        child<QRadioButton>(w_.get(), "Option2")->setChecked(true);
        child<QRadioButton>(w_.get(), "Option4")->click();
        child<QLineEdit>(w_.get(), "Text11")->setText(QStringLiteral("  邮编 "));
        core::AppState& st = appState();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(st.CheckMode, qint16(2));
        QCOMPARE(st.PostcodeField, QStringLiteral("邮编"));
        QCOMPARE(st.PostcodeDigits, qint16(2));
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm11:模糊查重")});
    }

    // 智能查重: the kinds as inferred, shown for the check fields in their order; one changed
    // by the user is kept for this source and comes back when the fields are chosen again.
    void smartKindsShownChangedRemembered() {
        readyToStart(); // 名称
        core::AppState& st = appState();
        st.SourcePath = dir_->filePath(QStringLiteral("客户.mdb"));
        select(child<QListWidget>(w_.get(), "List2"), {2, 4}); // 邮编, 联系人 after 名称 left
        w_->Command1_Click(0);
        child<QRadioButton>(w_.get(), "Option3")->click();
        QVERIFY(!child<QWidget>(w_.get(), "smartPanel")->isHidden());
        QVERIFY(child<QWidget>(w_.get(), "postcodePanel")->isHidden());
        QCOMPARE(w_->smartKinds(), (QStringList{"other", "postcode", "name"}));
        QCOMPARE(w_->smartLevel(), QStringLiteral("normal"));
        auto* kind = child<QComboBox>(w_.get(), "smartKind(0)");
        kind->setCurrentIndex(kind->findData(QStringLiteral("org")));
        w_->Command1_Click(3); // every field back, then chosen again
        select(child<QListWidget>(w_.get(), "List2"), {1, 3, 5});
        w_->Command1_Click(0);
        QCOMPARE(w_->smartKinds(), (QStringList{"org", "postcode", "name"}));
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(st.CheckMode, qint16(3));
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm11:智能查重")});
    }

    void checkFieldsFiveAndMore_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("one") << QStringList{" 名称 "} << 1
                             << QStringList{"名称", "旧1", "旧2", "旧3", "旧4"} << QString();
        QTest::newRow("five") << QStringList{"编号", "名称", "地址", "邮编", " 电话"} << 5
                              << QStringList{"编号", "名称", "地址", "邮编", "电话"} << QString();
        QTest::newRow("six") << QStringList{"编号", "名称", "地址", "邮编", "电话", "联系人"} << 5
                             << QStringList{"编号", "名称", "地址", "邮编", "电话"} << QString();
        // Fields the table does not have: refused after the question, nothing stored.
        QTest::newRow("unknown")
            << QStringList{"名称", "a", "b", "c", "d", "e", "f"} << 0
            << QStringList{"旧0", "旧1", "旧2", "旧3", "旧4"}
            << QString("表中没有字段“a”。表中的字段：编号、名称、地址、邮编、电话、联系人");
    }

    void checkFieldsFiveAndMore() {
        QFETCH(QStringList, entries);
        QFETCH(int, count);
        QFETCH(QStringList, fields);
        QFETCH(QString, refusal);
        openSource(4);
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 0);
        core::AppState& st = appState();
        for (int k = 0; k < 5; ++k)
            st.CheckFields[k] = QStringLiteral("旧%1").arg(k);
        child<QListWidget>(w_.get(), "List1")->addItems(entries);
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        if (!refusal.isEmpty()) dialogs_->expectMessage(refusal);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QCOMPARE(int(st.CheckFieldCount), count);
        QStringList got;
        for (const QString& f : st.CheckFields)
            got << f;
        QCOMPARE(got, fields);
    }

    void startWithoutTheDuplicateTable() {
        // A working database whose ClienttableCC is gone: a clear message, no check.
        openSource(4);
        child<QPushButton>(w_.get(), "Command1(1)")->click();
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok)
            .expectMessageContaining(QStringLiteral("ClienttableCC"));
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QVERIFY(recorder_.calls.isEmpty());
        QCOMPARE(appState().CheckMode, qint16(0));
    }

    void startWithoutACheckRunWindow() {
        app::setWindows(nullptr);
        readyToStart();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        expectNothingElse();
        QVERIFY(core::isOpen(appState().RsDup));
        QCOMPARE(appState().CheckMode, qint16(1));
    }

    // --- "数据维护"

    void maintenanceWithEmptyBackup() {
        // Right after start-up the working database has no duplicates at all.
        dialogs_->expectMessage(QStringLiteral("无重复数据！"));
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        QVERIFY(recorder_.calls.isEmpty());
    }

    void maintenanceWithEmptyBackupTable() {
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 2);
        makeDuplicateTable(QStringLiteral("ClienttableDD"), 0);
        dialogs_->expectMessage(QStringLiteral("无重复数据！"));
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        // Restored from the (empty) backup.
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 0);
    }

    void maintenanceRestoresFromBackup() {
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 1);
        makeDuplicateTable(QStringLiteral("ClienttableDD"), 4);
        core::AppState& st = appState();
        // A statement recordset left over from an earlier command is released first.
        st.RsWork = std::make_shared<db::Recordset>();
        QVERIFY(st.RsWork->open(db::sql::selectAll(QStringLiteral("empty_table")), work()));
        const std::weak_ptr<db::Recordset> old = st.RsWork;
        dialogs_->expectMessage(QStringLiteral("请打开原数据文件！"));
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        QVERIFY(old.expired());
        QVERIFY(!core::isOpen(st.RsWork));
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 4);
        QVERIFY(core::isOpen(st.RsDup));
        QCOMPARE(st.RsDup->recordCount(), 4);
        QCOMPARE(st.RsDup->lockType(), db::LockType::BatchOptimistic);
        QVERIFY(recorder_.calls.isEmpty());
    }

    void maintenanceWithoutBackupKeepsTheDuplicates() {
        // No backup to restore from: the duplicate table is used as it is, never dropped.
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 2);
        openSource(3);
        w_->show();
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        QCOMPARE(rowsOf(work(), QStringLiteral("ClienttableCC")), 2);
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm4")});
        QVERIFY(!w_->isVisible()); // hidden while the check-control window is up
    }

    void maintenanceAfterACheckUsesItsDuplicates() {
        readyToStart();
        dialogs_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok);
        child<QPushButton>(w_.get(), "Command3")->click();
        core::AppState& st = appState();
        // The check found two duplicates; an older backup must not replace them.
        makeDuplicateTable(QStringLiteral("ClienttableDD"), 5);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(st.RsDup->addNew());
            QVERIFY(st.RsDup->setValue(QStringLiteral("名称"), QStringLiteral("新")));
            QVERIFY(st.RsDup->update());
        }
        QVERIFY(st.RsDup->updateBatch());
        recorder_.calls.clear();
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        QCOMPARE(st.RsDup->recordCount(), 2);
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("mainFm4")});
    }

    void maintenanceWithoutACheckControlWindow() {
        app::setWindows(nullptr);
        makeDuplicateTable(QStringLiteral("ClienttableCC"), 2);
        openSource(3);
        w_->show();
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        expectNothingElse();
        QVERIFY(w_->isVisible()); // nothing to hand over to: the window stays
    }

    // --- "帮助", "退出"

    void helpOpensTheGuide() {
        child<QAction>(w_.get(), "help_Manual")->trigger();
        QCOMPARE(recorder_.calls, QStringList{QStringLiteral("manualFm1")});
        app::setWindows(nullptr);
        child<QAction>(w_.get(), "help_Manual")->trigger(); // no viewer registered: nothing happens
        expectNothingElse();
    }

    void exitAsksFirst() {
        QSignalSpy quit(w_.get(), &app::mainFm1::quitRequested);
        dialogs_->expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Cancel);
        child<QAction>(w_.get(), "exit_System")->trigger();
        expectNothingElse();
        QCOMPARE(quit.size(), 0);
        QCOMPARE(dialogs_->shown().first().icon, ui::Icon::Question);
        QCOMPARE(dialogs_->shown().first().buttons, ui::Buttons::OkCancel);
        dialogs_->expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Ok);
        child<QAction>(w_.get(), "exit_System")->trigger();
        expectNothingElse();
        QCOMPARE(quit.size(), 1);
    }

    void closingTheWindowAsksToo() {
        w_->show();
        QSignalSpy quit(w_.get(), &app::mainFm1::quitRequested);
        dialogs_->expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Cancel);
        QVERIFY(!w_->close());
        QVERIFY(w_->isVisible());
        dialogs_->expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Ok);
        w_->close();
        expectNothingElse();
        QCOMPARE(quit.size(), 1);
        // Once quitting, closing goes through without asking again.
        QVERIFY(w_->close());
        expectNothingElse();
    }
};

CHACHONG_TEST_MAIN(TestMainFm1)
#include "tst_mainfm1.moc"
