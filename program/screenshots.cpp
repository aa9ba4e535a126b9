// Developer tool: takes screenshots of the main window, the guide viewer and a confirmation
// box, to check the Chinese captions by eye. Run it under a real X server (xvfb-run) with the
// program directory of a build:
//     xvfb-run -a -s "-screen 0 1280x1024x24" chachong_shots <program dir> <output dir> [list.dbf]
// With a client list (bench_gen --formats dbf) it also shoots the check-run window during and at
// the end of a fuzzy check of the list, the check-control window after an exact check of it,
// and the batch delete window while it deletes.
// It works on copies of the working database, the guide and the list; nothing of the build changes.
#include "app/mainfm1.h"
#include "check/engine/checkjob.h"
#include "check/mainfm11.h"
#include "control/mainfm4.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/sqltext.h"
#include "help/manualfm1.h"
#include "import/engine/sources.h"
#include "import/engine/worktables.h"
#include "tools/mainfm8.h"
#include "ui/datagrid.h"
#include "ui/qtdialogs.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <sqlite3.h>

namespace {

void settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

bool save(QWidget* w, const QString& dir, const QString& name) {
    settle();
    const QString path = dir + QLatin1Char('/') + name;
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// A client table with Chinese rows, some of them repeated, like the users' lists.
QString makeDemoSource(const QString& dir) {
    const QString path = dir + QStringLiteral("/客户资料.mdb");
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) return {};
    sqlite3_exec(db,
                 "CREATE TABLE 客户 ([客户名称] VARCHAR(60), [地址] VARCHAR(80), [邮编] VARCHAR(6),"
                 " [电话] VARCHAR(20), [联系人] VARCHAR(10))",
                 nullptr, nullptr, nullptr);
    const QStringList names = {"宏远贸易有限公司", "北京宏远贸易公司", "华信电子科技",
                               "长城建材商行",     "东方红食品厂",     "金鹏物流有限公司",
                               "新华书店",         "顺达汽车修理厂"};
    const QStringList people = {"王建国", "李秀英", "张伟", "刘洋", "陈静", "杨帆"};
    const QStringList places = {"北京市朝阳区建国路88号", "上海市浦东新区世纪大道100号",
                                "广州市天河区体育西路3号", "宁波市海曙区中山西路12号"};
    const QStringList zips = {"100022", "200120", "510620", "315000"};
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < 240; ++i) {
        const QString sql =
            QStringLiteral("INSERT INTO 客户 VALUES ('%1', '%2', '%3', '0%4-%5', '%6')")
                .arg(names.at(i % names.size()), places.at(i % places.size()),
                     zips.at(i % zips.size()))
                .arg(10 + i % 80)
                .arg(88000000 + i * 37)
                .arg(people.at(i % people.size()));
        sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

// Every question answered with OK, without a box (but "现在开始数据维护吗？" with Cancel);
// onMessage sees each text first.
struct AnswerOk : ui::DialogService {
    std::function<void(const QString&)> onMessage;
    ui::Answer message(const QString& text, const QString&, ui::Icon, ui::Buttons) override {
        if (onMessage) onMessage(text);
        return text == QStringLiteral("现在开始数据维护吗？") ? ui::Answer::Cancel : ui::Answer::Ok;
    }
    std::optional<ui::FileChoice> openFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<ui::FileChoice> saveFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        return {};
    }
};

// The check-control window after an exact check on 姓名 and 电话 of a copy of the list, then the
// batch delete window with both fields picked, before and during the delete.
bool maintenanceShots(app::mainFm1& w, const QString& list, const QString& dir,
                      const QString& out) {
    const QString folder = dir + QStringLiteral("/名单");
    QDir().mkpath(folder);
    const QFileInfo info(list);
    const QString copy = folder + QLatin1Char('/') + info.fileName();
    if (!QFile::copy(list, copy)) return false;
    core::AppState& st = core::appState();
    st.SourceConn = db::Connection();
    if (!st.SourceConn.open(db::dbaseConnectionString(folder))) return false;
    st.RsSource = std::make_shared<db::Recordset>();
    if (!st.RsSource->open(db::sql::selectAll(info.completeBaseName()), st.SourceConn))
        return false;
    st.SourceType = QStringLiteral("dbf");
    st.SourceTable = info.completeBaseName();
    st.SourcePath = copy;
    st.SourceDir = folder;
    st.SourceFileTitle = info.fileName();
    st.SourceBaseName = info.completeBaseName();
    if (!sources::createTable(st).ok()) return false;
    check::CheckJob job(st);
    if (!job.prepare({.mode = core::CheckMode::Exact,
                      .fields = {QStringLiteral("姓名"), QStringLiteral("电话")}})
             .ok())
        return false;
    core::ProgressSink quiet;
    const core::RunResult r = job.runAll(quiet);
    std::printf("exact check: %d groups, %d duplicate rows\n", r.groups, r.duplicateRows);
    w.showSource(st.SourceDir, st.SourceFileTitle, st.SourceBaseName);
    w.hide();

    control::mainFm4* control = control::mainFm4::showControl();
    control->Command6_Click(0);
    bool ok = save(control, out, QStringLiteral("mainFm4_after_check.png"));

    AnswerOk answers;
    ui::setDialogs(&answers);
    control->findChild<QPushButton*>(QStringLiteral("Command10"))->click();
    tools::mainFm8* batch = tools::mainFm8::showBatchDelete();
    auto* fields = batch->findChild<QListWidget*>(QStringLiteral("List1"));
    for (const QString& name : {QStringLiteral("姓名"), QStringLiteral("电话")})
        fields->findItems(name, Qt::MatchExactly).first()->setSelected(true);
    batch->Command1_Click(0);
    ok = save(batch, out, QStringLiteral("mainFm8_fields.png")) && ok;
    // Shot once the delete is a third of its way.
    bool during = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, batch, [&] {
        auto* bar = batch->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        if (during || !batch->isRunning() || bar->value() < 33) return;
        during = true;
        ok = save(batch, out, QStringLiteral("mainFm8_running.png")) && ok;
        ok = save(control, out, QStringLiteral("mainFm4_during_batch.png")) && ok;
    });
    poll.start(20);
    batch->Command2_Click();
    poll.stop();
    ui::setDialogs(nullptr);
    std::printf("shot during the delete: %s\n", during ? "yes" : "no (it ended first)");
    ok = save(control, out, QStringLiteral("mainFm4_after_batch.png")) && ok;
    control->close();
    return ok;
}

// The check-run window during a fuzzy check of the list's addresses (its two progress bars, the
// groups found so far) and at its end.
bool fuzzyRunShots(app::mainFm1& w, const QString& list, const QString& dir, const QString& out) {
    const QString folder = dir + QStringLiteral("/模糊");
    QDir().mkpath(folder);
    const QString copy = folder + QLatin1Char('/') + QFileInfo(list).fileName();
    if (!QFile::copy(list, copy)) return false;
    core::AppState& st = core::appState();
    st.RsDup.reset();
    if (!sources::openDbf(st, copy, QFileInfo(copy).fileName()).ok()) return false;
    w.showSource(st.SourceDir, st.SourceFileTitle, st.SourceBaseName);
    check::CheckJob job(st);
    if (!job.prepare({.mode = core::CheckMode::Fuzzy, .fields = {QStringLiteral("地址")}}).ok())
        return false;
    AnswerOk answers;
    bool ok = true, during = false, atEnd = false;
    QPointer<check::mainFm11> run =
        check::mainFm11::showRun(QStringLiteral("模糊查重"), job.options());
    answers.onMessage = [&](const QString& text) {
        if (text != QStringLiteral("查重结束") || !run) return;
        atEnd = true;
        ok = save(run, out, QStringLiteral("mainFm11_fuzzy_end.png")) && ok;
    };
    ui::setDialogs(&answers);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (during || !run || !run->isRunning()) return;
        const auto* position = run->findChild<QLineEdit*>(QStringLiteral("Text5"));
        if (position->text().toInt() < st.RsSource->recordCount() / 2) return;
        during = true;
        ok = save(run, out, QStringLiteral("mainFm11_fuzzy_running.png")) && ok;
    });
    poll.start(20);
    while (run)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    poll.stop();
    ui::setDialogs(nullptr);
    std::printf("fuzzy check shots: during %s, at the end %s\n", during ? "yes" : "no",
                atEnd ? "yes" : "no");
    return ok && during && atEnd;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: chachong_shots PROGRAM_DIR OUTPUT_DIR\n");
        return 2;
    }
    const QString programDir = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    ui::installChineseTranslations(application);

    QTemporaryDir base;
    const QString dir = base.filePath(QStringLiteral("查重 演示"));
    QDir().mkpath(dir);
    for (const QString& f : {QStringLiteral("MorlayBankCC.mdb"), QStringLiteral("用户指南.txt")})
        QFile::copy(programDir + QLatin1Char('/') + f, dir + QLatin1Char('/') + f);

    app::mainFm1 w;
    if (!w.formLoad(dir)) return 1;
    w.show();
    bool ok = save(&w, out, QStringLiteral("mainFm1_start.png"));

    // A source as the open commands leave it.
    core::AppState& st = core::appState();
    const QString source = makeDemoSource(dir);
    st.SourceConn.open(db::accessConnectionString(source));
    st.RsSource = std::make_shared<db::Recordset>();
    st.RsSource->open(db::sql::selectAll(QStringLiteral("客户")), st.SourceConn);
    st.SourcePath = source;
    st.SourceDir = dir;
    st.SourceFileTitle = QStringLiteral("客户资料.mdb");
    st.SourceBaseName = QStringLiteral("客户资料");
    w.showSource(st.SourceDir, st.SourceFileTitle, st.SourceBaseName);
    auto* fieldList = w.findChild<QListWidget*>(QStringLiteral("List2"));
    fieldList->item(0)->setSelected(true);
    w.Command1_Click(0);
    w.findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    w.findChild<QRadioButton*>(QStringLiteral("Option4"))->click();
    w.List2_Click(fieldList->item(1));
    auto* grid = w.findChild<ui::DataGrid*>(QStringLiteral("DataGrid1"));
    grid->setCurrentIndex(grid->model()->index(4, 0));
    ok = save(&w, out, QStringLiteral("mainFm1_source.png")) && ok;

    w.showWaitPicture(true);
    ok = save(&w, out, QStringLiteral("mainFm1_wait.png")) && ok;
    w.showWaitPicture(false);

    // The confirmation of "开始查重" with Qt's own buttons, in Chinese.
    QTimer::singleShot(300, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ok = save(box, out, QStringLiteral("confirm.png")) && ok;
            if (auto* m = qobject_cast<QMessageBox*>(box)) m->button(QMessageBox::Cancel)->click();
        }
    });
    ui::QtDialogs().message(app::mainFm1::startCheckConfirmation(), ui::defaultTitle(),
                            ui::Icon::Question, ui::Buttons::OkCancel);

    if (help::manualFm1::showGuide()) {
        ok = save(help::manualFm1::instance(), out, QStringLiteral("manualFm1.png")) && ok;
        help::manualFm1::instance()->close();
    } else {
        ok = false;
    }
    if (argc > 3) {
        ok = fuzzyRunShots(w, QString::fromLocal8Bit(argv[3]), dir, out) && ok;
        ok = maintenanceShots(w, QString::fromLocal8Bit(argv[3]), dir, out) && ok;
    }
    w.hide();
    core::resetAppState();
    return ok ? 0 : 1;
}
