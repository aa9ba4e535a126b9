// The check-run window: it runs the exact check when shown, shows the end of the run in the
// order the check has it (messages, separation, the maintenance question, window moves), keeps
// its grids out of reach while the check runs, and asks before a close stops the check.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "check/engine/report.h"
#include "check/mainfm11.h"
#include "core/appstate.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/scripteddialogs.h"

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

using testsupport::child;
using testsupport::tableRows;

namespace {

class Recorder : public app::WindowDirectory {
public:
    QStringList calls;
    std::optional<check::CheckReport> shown; // the report kept when its window was asked for
    bool showCheckControl() override {
        calls << QStringLiteral("mainFm4");
        return true;
    }
    bool showReport() override {
        calls << QStringLiteral("report");
        shown = check::lastReport(core::appState().WorkConn);
        return true;
    }
};

// Answers the run's boxes and notes, at each, what the working tables hold at that moment.
class Witness : public ui::DialogService {
public:
    struct Seen {
        QString text;
        int backup, duplicates, checkTable;
        QString runCounter; // the run window's count of the check table
    };
    QList<Seen> seen;
    ui::Answer message(const QString& text, const QString&, ui::Icon, ui::Buttons b) override {
        const db::Connection& work = core::appState().WorkConn;
        QString runCounter;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "mainFm11") runCounter = child<QLineEdit>(w, "Text7")->text();
        seen.append({text, testsupport::rowsOf(work, "ClienttableDD"),
                     testsupport::rowsOf(work, "ClienttableCC"),
                     testsupport::rowsOf(core::appState().SourceConn, "src"), runCounter});
        return b == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::Cancel;
    }
    std::optional<ui::FileChoice> openFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<ui::FileChoice> saveFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        return {};
    }
};

} // namespace

class TestMainFm11 : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();
    Recorder windows_;
    std::unique_ptr<app::mainFm1> main_;

    // Shows the run window and waits until it has closed itself.
    void run(const QString& caption = "完全相同查重") {
        QPointer<check::mainFm11> w = check::mainFm11::showRun(caption, f.options());
        QCOMPARE(w->windowTitle(), caption);
        QVERIFY(child<QWidget>(w, "Picture2")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 20000);
    }

private slots:
    void init() {
        app::setWindows(&windows_);
        windows_.calls.clear();
        windows_.shown.reset();
        main_ = std::make_unique<app::mainFm1>();
        main_->show();
    }
    void cleanup() {
        main_.reset();
        app::setWindows(nullptr);
    }

    void groupsThenSeparationThenQuestion() {
        QVERIFY(f.load({"name", "tel"}, {{"张三", "1"}, {"李四", "1"}, {"张三", "1"}}));
        QVERIFY(f.prepare({"name"}));
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        run();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.RsSource->recordCount(), 1);
        QCOMPARE(st.RsDup->recordCount(), 2);
        QCOMPARE(tableRows(st.WorkConn, "ClienttableDD").size(), 2); // backed up at the end
        QVERIFY(main_->isVisible());
        QCOMPARE(main_->recordCounter(), QString("1/1")); // the table after the separation
        // The report of the run, kept before its window opens.
        QCOMPARE(windows_.calls, QStringList{"report"});
        QVERIFY(windows_.shown);
        QCOMPARE(windows_.shown->checked, 3);
        QCOMPARE(windows_.shown->groups, 1);
        QCOMPARE(windows_.shown->duplicates, 2);
        QCOMPARE(windows_.shown->separated, 2);
        QCOMPARE(windows_.shown->remaining, 1);
        QCOMPARE(windows_.shown->groupSizes.at(0).value, 1);
        QCOMPARE(windows_.shown->mode, QString("完全相同查重"));
    }

    void maintenanceKeepsTheMainWindowHidden() {
        QVERIFY(f.load({"name"}, {{"张三"}, {"张三"}}));
        QVERIFY(f.prepare({"name"}));
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Ok);
        run();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(windows_.calls, (QStringList{"report", "mainFm4"}));
        QVERIFY(!main_->isVisible());
    }

    void aSeparationThatFailsOffersNoMaintenance() {
        // The user's database is marked read-only: nothing is separated, the duplicates are
        // said to be still in the table, and no maintenance (no merge of them) is offered.
        QVERIFY(f.loadTable({"name"}, {{"张三"}, {"张三"}, {"李四"}}));
        QVERIFY(QFile::setPermissions(st.SourcePath, QFile::ReadOwner | QFile::ReadGroup));
        QVERIFY(f.prepare({"name"}));
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束")
            .expectMessage("数据文件“" + QDir::toNativeSeparators(st.SourcePath) +
                           "”是只读的，没有从中删除任何记录。\r\n重复记录仍在查重数据库中，"
                           "没有分离出去。");
        run();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(testsupport::rowsOf(st.SourceConn, "src"), 3);
        QVERIFY(main_->isVisible());
        QCOMPARE(main_->recordCounter(), QString("1/3")); // the scan leaves the grid's record
        QVERIFY(windows_.calls.isEmpty());
        QFile::setPermissions(st.SourcePath, QFile::ReadOwner | QFile::WriteOwner);
    }

    void noDuplicatesEndsWithItsMessage() {
        QVERIFY(f.load({"name"}, {{"张三"}, {"李四"}}));
        QVERIFY(f.prepare({"name"}));
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束，无重复数据！");
        run();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(main_->isVisible());
        QCOMPARE(st.RsSource->recordCount(), 2);
        // Kept, though no window shows it.
        QVERIFY(windows_.calls.isEmpty());
        const std::optional<check::CheckReport> kept = check::lastReport(st.WorkConn);
        QVERIFY(kept);
        QCOMPARE(kept->groups, 0);
        QCOMPARE(kept->remaining, 2);
    }

    void fuzzyCheckEndsInItsOrder() {
        // "查重结束", then the separation, then the backup of the duplicates, then the
        // question; the two progress bars show while it runs and go at its end.
        QVERIFY(
            f.loadTable({"名称"}, {{"宏远公司"}, {"宏远公司北京"}, {"上海新华"}, {"宏远公司"}}));
        QVERIFY(f.prepare({"名称"}, core::CheckMode::Fuzzy));
        Witness witness;
        ui::DialogService* before = ui::setDialogs(&witness);
        bool barsShown = false;
        QPointer<check::mainFm11> w = check::mainFm11::showRun("模糊查重", f.options());
        QTimer::singleShot(0, w, [&] {
            barsShown = child<QProgressBar>(w, "ProgressBar1")->isVisible() &&
                        child<QProgressBar>(w, "ProgressBar2")->isVisible();
        });
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 20000);
        ui::setDialogs(before);
        QVERIFY(barsShown);
        QCOMPARE(witness.seen.size(), 2);
        QCOMPARE(witness.seen[0].text, QString("查重结束"));
        QCOMPARE(witness.seen[0].duplicates, 3);
        QCOMPARE(witness.seen[0].backup, -1);    // no ClienttableDD before the separation
        QCOMPARE(witness.seen[0].checkTable, 4); // nothing separated yet
        QCOMPARE(witness.seen[1].text, QString("现在开始数据维护吗？"));
        QCOMPARE(witness.seen[1].backup, 3);
        QCOMPARE(witness.seen[1].checkTable, 1);
        QCOMPARE(witness.seen[1].runCounter, QString("1/1"));
        QCOMPARE(st.RsSource->recordCount(), 1);
        // The candidates in key order: the seed's twin before the longer name.
        QCOMPARE(tableRows(st.WorkConn, "ClienttableCC"),
                 QList<QStringList>(
                     {{"1", "宏远公司", "1"}, {"", "宏远公司", "2"}, {"", "宏远公司北京", "3"}}));
        QCOMPARE(main_->recordCounter(), QString("1/1"));
        QVERIFY(main_->isVisible());
    }

    void closingMidCheckAsksAndStops() {
        QList<QStringList> rows;
        for (int i = 0; i < 3000; ++i)
            rows << QStringList{QString::number(i % 1000)};
        QVERIFY(f.load({"k"}, rows));
        QVERIFY(f.prepare({"k"}));
        ui::ScriptedDialogs d;
        d.expectMessage("是否停止查重？", ui::Answer::Ok)
            .expectMessage("查重已停止，未分离任何记录");
        bool gridsLocked = false;
        QPointer<check::mainFm11> w = check::mainFm11::showRun("完全相同查重", f.options());
        // Runs at the run's first look at the event loop: the user closes the window.
        QTimer::singleShot(0, w, [&] {
            gridsLocked = !child<ui::DataGrid>(w, "DataGrid4")->isEnabled() &&
                          !child<ui::DataGrid>(w, "DataGrid5")->isEnabled();
            QVERIFY(w->isRunning());
            w->close();
            QVERIFY(w); // still there: it closes when the run has stopped
        });
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 20000);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(gridsLocked);
        QCOMPARE(st.RsSource->recordCount(), 3000);
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS").size(), 3000);
        QVERIFY(tableRows(st.WorkConn, "ClienttableCC").size() < 3000);
        QVERIFY(main_->isVisible());
    }

    void answeringCancelLetsTheCheckGoOn() {
        QVERIFY(f.load({"k"}, {{"a"}, {"a"}, {"b"}}));
        QVERIFY(f.prepare({"k"}));
        ui::ScriptedDialogs d;
        d.expectMessage("是否停止查重？", ui::Answer::Cancel)
            .expectMessage("查重结束")
            .expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        QPointer<check::mainFm11> w = check::mainFm11::showRun("完全相同查重", f.options());
        QTimer::singleShot(0, w, [&] { w->close(); });
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 20000);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.RsSource->recordCount(), 1);
    }
};

CHACHONG_TEST_MAIN(TestMainFm11)
#include "tst_mainfm11.moc"
