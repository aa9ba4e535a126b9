// The exact check as a user runs it through the windows, beside chachong-batch on the same file:
// "打开DBF数据" on a generated GBK client list, two check fields moved into the check-field list,
// "完全相同查重", "开始查重", the check-run window until it has separated the duplicates and closed
// (the dialogs answered by a script: OK, and Cancel to "现在开始数据维护吗？"). Both work in place
// on fresh copies of the file; the batch runner is timed as a whole process.
//   bench_windowpath [rows] [runs]        (default 1000000 3)
// Run it on a real display server (bench/run.sh starts it under xvfb-run with the xcb platform):
// the cost it watches is what the windows do per record.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "check/mainfm11.h"
#include "core/appstate.h"
#include "core/hugepages.h"
#include "import/commands.h"
#include "ui/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

// The user's answers: OK everywhere, Cancel to the hand-over to maintenance.
struct Answers : ui::DialogService {
    QString file;
    QStringList shown;
    ui::Answer message(const QString& text, const QString&, ui::Icon, ui::Buttons b) override {
        shown << text;
        if (b == ui::Buttons::Ok) return ui::Answer::Ok;
        return text == QStringLiteral("现在开始数据维护吗？") ? ui::Answer::Cancel : ui::Answer::Ok;
    }
    std::optional<ui::FileChoice> openFile(const ui::FileDialogOptions&) override {
        return ui::FileChoice{file, QFileInfo(file).fileName()};
    }
    std::optional<ui::FileChoice> saveFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        return {};
    }
};

struct Windows : app::WindowDirectory {
    QPointer<check::mainFm11> run;
    bool openSource(const QString& command) override { return sources::runCommand(command); }
    bool showCheckRun(const QString& caption, const core::RunOptions& options) override {
        run = check::mainFm11::showRun(caption, options);
        return true;
    }
};

// Copies the table into a folder of its own; returns the copy's path.
QString freshCopy(const QString& file, const QString& dir) {
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString to = dir + QLatin1Char('/') + QFileInfo(file).fileName();
    return QFile::copy(file, to) ? to : QString();
}

// The window path once; seconds, or a negative value after printing what went wrong.
double throughWindows(const QString& programDir, const QString& file, int* remaining) {
    core::resetAppState();
    Answers answers;
    answers.file = file;
    ui::setDialogs(&answers);
    Windows windows;
    app::setWindows(&windows);
    double seconds = -1;
    {
        app::mainFm1 w;
        if (!w.formLoad(programDir)) return -1;
        w.show();
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        w.findChild<QAction*>(QStringLiteral("begin_DBF"))->trigger();
        auto* fields = w.findChild<QListWidget*>(QStringLiteral("List2"));
        for (const QString& name : {QStringLiteral("姓名"), QStringLiteral("地址")}) {
            const auto found = fields->findItems(name, Qt::MatchExactly);
            if (found.isEmpty()) {
                std::fprintf(stderr, "no field %s: %s\n", qPrintable(name),
                             qPrintable(answers.shown.join(QLatin1Char('|'))));
                return -1;
            }
            found.first()->setSelected(true);
        }
        w.findChild<QPushButton*>(QStringLiteral("Command1(0)"))->click();
        w.findChild<QRadioButton*>(QStringLiteral("Option1"))->setChecked(true);
        w.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
        if (!windows.run) {
            std::fprintf(stderr, "the check did not start: %s\n",
                         qPrintable(answers.shown.join(QLatin1Char('|'))));
            return -1;
        }
        while (windows.run)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        seconds = t.nsecsElapsed() / 1e9;
        *remaining = core::recordCountOf(core::appState().RsSource);
    }
    app::setWindows(nullptr);
    ui::setDialogs(nullptr);
    core::resetAppState();
    return seconds;
}

double throughBatch(const QString& runner, const QString& file, QString* summary) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(runner, {QStringLiteral("check"), file, QStringLiteral("--fields"),
                     QStringLiteral("姓名,地址"), QStringLiteral("--in-place")});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "chachong-batch: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    *summary = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    core::useHugePages(argv); // as the program does
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir tmp;
    const QString programDir = tmp.filePath(QStringLiteral("program"));
    QDir().mkpath(programDir);
    const QString shipped = QStringLiteral(CHACHONG_PROGRAM_DIR);
    gen::Options o;
    o.rows = rows;
    const QString original = tmp.filePath(QStringLiteral("客户.dbf"));
    QString error;
    if (!gen::writeDbf(gen::generate(o), original, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    double windows = std::numeric_limits<double>::max(), batch = windows;
    int remaining = -1;
    QString summary;
    for (int i = 0; i < runs; ++i) {
        // A B A B: each path on a fresh copy of the file and of the working database.
        QFile::remove(programDir + QStringLiteral("/MorlayBankCC.mdb"));
        QFile::copy(shipped + QStringLiteral("/MorlayBankCC.mdb"),
                    programDir + QStringLiteral("/MorlayBankCC.mdb"));
        QFile::setPermissions(programDir + QStringLiteral("/MorlayBankCC.mdb"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const double w =
            throughWindows(programDir, freshCopy(original, tmp.filePath("w")), &remaining);
        const double b = throughBatch(shipped + QStringLiteral("/chachong-batch"),
                                      freshCopy(original, tmp.filePath("b")), &summary);
        if (w < 0 || b < 0) return 1;
        windows = std::min(windows, w);
        batch = std::min(batch, b);
    }
    bench::heading();
    bench::row(QStringLiteral("exact check through the windows (%1): open, check, separation")
                   .arg(QGuiApplication::platformName()),
               QStringLiteral("%1 rows").arg(bench::count(rows)), windows, batch,
               QStringLiteral("chachong-batch check --in-place"), "s");
    // Both paths must have done the same work.
    if (!summary.contains(QStringLiteral("remaining=%1 ").arg(remaining))) {
        std::fprintf(stderr, "the windows left %d records, chachong-batch: %s\n", remaining,
                     qPrintable(summary));
        return 2;
    }
    return 0;
}
