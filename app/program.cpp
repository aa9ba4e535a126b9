#include "app/program.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QWidget>

namespace app {

int runProgram(QApplication& application, const QString& programDir, WindowDirectory* directory) {
    ui::installChineseTranslations(application);
    // The main window is hidden while a check runs or the check-control window is up; closing
    // such a window must not end the program. It ends through "退出" only.
    application.setQuitOnLastWindowClosed(false);
    setWindows(directory);
    int status = 1;
    {
        mainFm1 window;
        if (window.formLoad(programDir)) {
            // "退出" ends the run at once: every window goes, nothing is saved.
            QObject::connect(&window, &mainFm1::quitRequested, &application, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    w->hide();
                QCoreApplication::exit(0);
            });
            window.show();
            status = application.exec();
        }
    }
    setWindows(nullptr);
    return status;
}

} // namespace app
