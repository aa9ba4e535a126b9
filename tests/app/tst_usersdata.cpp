// Nothing of the user's is lost: the program driven through its windows and commands as a user
// drives it, on dBase files in a folder of the user's.
//  - an import cancelled in its file dialog leaves the source as it was, and the check of that
//    source backs the file up before it deletes from it;
//  - the backup of the duplicates survives opening sources without a check between;
//  - "数据维护" restores the backup only for the table it belongs to.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "check/mainfm11.h"
#include "core/appstate.h"
#include "import/commands.h"
#include "tests/support/testsupport.h"
#include "ui/scripteddialogs.h"

#include <QAction>
#include <QCryptographicHash>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

using core::appState;
using testsupport::child;
using testsupport::rowsOf;

using testsupport::digest;

namespace {

class Windows : public app::WindowDirectory {
public:
    QPointer<check::mainFm11> run;
    bool openSource(const QString& command) override { return sources::runCommand(command); }
    bool showCheckRun(const QString& caption, const core::RunOptions& options) override {
        run = check::mainFm11::showRun(caption, options);
        return true;
    }
};

} // namespace

class TestUsersData : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ui::ScriptedDialogs> d_;
    std::unique_ptr<app::mainFm1> w_;
    Windows windows_;

    QString userFile(const QString& name) { return dir_->filePath("用户 数据/" + name); }

    void openDbf(const QString& path) {
        d_->expectOpenFile(path);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems()));
    }

    // "开始查重" with the exact check on the given fields; the run answers Cancel to maintenance.
    void exactCheck(const QStringList& fields) {
        auto* list = child<QListWidget>(w_.get(), "List2");
        for (const QString& f : fields)
            list->findItems(f, Qt::MatchExactly).first()->setSelected(true);
        child<QPushButton>(w_.get(), "Command1(0)")->click();
        child<QRadioButton>(w_.get(), "Option1")->setChecked(true);
        d_->expectMessage(app::mainFm1::startCheckConfirmation(), ui::Answer::Ok)
            .expectMessage("查重结束")
            .expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        child<QPushButton>(w_.get(), "Command3")->click();
        QTRY_VERIFY_WITH_TIMEOUT(windows_.run.isNull(), 20000);
        QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems()));
        d_->clear();
    }

private slots:
    void init() {
        core::resetAppState();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(!testsupport::copyWorkDb(dir_->path()).isEmpty());
        QDir().mkpath(dir_->filePath("用户 数据"));
        QVERIFY(testsupport::makeDbf(userFile("客户.dbf"), {"姓名", "电话"},
                                     {{"张三", "1"}, {"张三", "1"}, {"李四", "2"}}));
        QVERIFY(testsupport::makeDbf(userFile("订单.dbf"), {"单号", "金额", "日期"},
                                     {{"1", "10", "2024"}}));
        d_ = std::make_unique<ui::ScriptedDialogs>();
        app::setWindows(&windows_);
        w_ = std::make_unique<app::mainFm1>();
        QVERIFY(w_->formLoad(dir_->path()));
        w_->show();
    }
    void cleanup() {
        if (d_) QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems()));
        w_.reset();
        d_.reset();
        app::setWindows(nullptr);
        core::resetAppState();
    }

    void cancelledImportLeavesTheOpenTableAndItsBackupRule() {
        const QString file = userFile("客户.dbf");
        const QByteArray original = digest(file);
        openDbf(file);
        // "导入DBF数据（可导出Excel文件）", then Cancel in its file dialog.
        d_->expectOpenFile(std::nullopt);
        child<QAction>(w_.get(), "Input_DBF")->trigger();
        QCOMPARE(appState().SourceType, QString("dbf"));
        QCOMPARE(w_->statusPanel(2), QString("客户.dbf"));
        exactCheck({"姓名"});
        // The check deleted from the user's file, and only after copying it.
        const QStringList backups =
            QDir(userFile("查重备份")).entryList({"客户_*.dbf"}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QCOMPARE(digest(userFile("查重备份/" + backups.first())), original);
        QCOMPARE(appState().RsSource->recordCount(), 1);
    }

    void backupOfTheDuplicatesSurvivesOpeningAgain() {
        openDbf(userFile("客户.dbf"));
        exactCheck({"姓名"});
        const db::Connection& work = appState().WorkConn;
        QCOMPARE(rowsOf(work, "ClienttableCC"), 2);
        QCOMPARE(rowsOf(work, "ClienttableDD"), 2);
        // Opening a source (twice) backs up an empty ClienttableCC: the real groups stay.
        openDbf(userFile("客户.dbf"));
        QCOMPARE(rowsOf(work, "ClienttableCC"), 0);
        QCOMPARE(rowsOf(work, "ClienttableDD"), 2);
        openDbf(userFile("客户.dbf"));
        QCOMPARE(rowsOf(work, "ClienttableDD"), 2);
        // "数据维护" brings them back (the maintenance window is not part of this test).
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        QCOMPARE(core::recordCountOf(appState().RsDup), 2);
        QCOMPARE(rowsOf(work, "ClienttableCC"), 2);
    }

    void maintenanceRefusesAnotherTablesBackup() {
        openDbf(userFile("客户.dbf"));
        exactCheck({"姓名"});
        openDbf(userFile("订单.dbf"));
        const db::Connection& work = appState().WorkConn;
        const QStringList ccColumns = work.columnNames("ClienttableCC");
        d_->expectMessageContaining("上次查重的重复数据属于另一个数据表");
        child<QAction>(w_.get(), "data_Maintain")->trigger();
        QVERIFY2(d_->problems().isEmpty(), qPrintable(d_->problems()));
        QVERIFY(
            d_->messageTexts().first().contains(QDir::toNativeSeparators(userFile("客户.dbf"))));
        // Both tables as they were: ClienttableCC built for 订单, the backup of 客户's groups.
        QCOMPARE(work.columnNames("ClienttableCC"), ccColumns);
        QCOMPARE(rowsOf(work, "ClienttableCC"), 0);
        QCOMPARE(rowsOf(work, "ClienttableDD"), 2);
        QVERIFY(!core::isOpen(appState().RsDup));
    }
};

CHACHONG_TEST_MAIN(TestUsersData)
#include "tst_usersdata.moc"
