#include "program/program.h"

#include "app/mainfm1.h"
#include "check/mainfm11.h"
#include "check/reportfm.h"
#include "check/restorefm.h"
#include "control/mainfm4.h"
#include "help/manualfm1.h"
#include "import/commands.h"
#include "import/mainfm5.h"
#include "import/tablefm1.h"
#include "tools/mainfm8.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace program {

bool ProgramWindows::showTableChooser() {
    sources::tableFm1::showChooser();
    return true;
}

bool ProgramWindows::showImportProgress() {
    sources::mainFm5::showImport();
    return true;
}

bool ProgramWindows::showCheckRun(const QString& caption, const core::RunOptions& options) {
    check::mainFm11::showRun(caption, options);
    return true;
}

bool ProgramWindows::showCheckControl() {
    control::mainFm4::showControl();
    return true;
}

QWidget* ProgramWindows::showBatchDelete() {
    return tools::mainFm8::showBatchDelete();
}

bool ProgramWindows::showGuide() {
    return help::manualFm1::showGuide();
}

bool ProgramWindows::showReport() {
    return check::reportFm::showLastReport();
}

bool ProgramWindows::showRestore() {
    check::restoreFm::showRestore();
    return true;
}

bool ProgramWindows::openFile(const QString& path) {
    return sources::openGivenFile(path);
}

bool ProgramWindows::openSource(const QString& command) {
    return sources::runCommand(command);
}

int runProgram(QApplication& application, const QString& programDir,
               app::WindowDirectory* directory, const QString& file) {
    ui::installChineseTranslations(application);
    // The main window is hidden while a check runs or the check-control window is up; closing
    // such a window must not end the program. It ends through "退出" only.
    application.setQuitOnLastWindowClosed(false);
    app::setWindows(directory);
    int status = 1;
    {
        app::mainFm1 window;
        if (window.formLoad(programDir)) {
            // "退出" ends the run at once: every window goes, nothing is saved.
            QObject::connect(&window, &app::mainFm1::quitRequested, &application, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    w->hide();
                QCoreApplication::exit(0);
            });
            window.show();
            if (!file.isEmpty())
                QTimer::singleShot(0, &window, [file] { sources::openGivenFile(file); });
            status = application.exec();
        }
    }
    app::setWindows(nullptr);
    return status;
}

} // namespace program
