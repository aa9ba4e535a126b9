#pragma once
// The program as a whole: the directory of every window it has, and its run once the
// QApplication exists (Chinese standard buttons, the window directory, the main window's
// start-up, the event loop).
#include "app/windowdirectory.h"

class QApplication;

namespace program {

// Every window of the program, as the main window and the other windows reach them.
class ProgramWindows : public app::WindowDirectory {
public:
    bool showTableChooser() override;
    bool showImportProgress() override;
    bool showCheckRun(const QString& caption, const core::RunOptions& options) override;
    bool showCheckControl() override;
    QWidget* showBatchDelete() override;
    bool showGuide() override;
    bool showReport() override;
    bool showRestore() override;
    bool openFile(const QString& path) override;
    bool openSource(const QString& command) override;
};

// Returns the process exit status: 0 after "退出", non-zero when the working database of
// programDir cannot be used (the user has been told why). A file given (the command line, a
// file manager's "打开方式") is opened once the main window is up.
int runProgram(QApplication& application, const QString& programDir,
               app::WindowDirectory* directory, const QString& file = QString());

} // namespace program
