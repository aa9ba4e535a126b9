#pragma once
// The program's run once the QApplication exists: Chinese standard buttons, the window
// directory, the main window's start-up and the event loop.
#include <QString>

class QApplication;

namespace app {

class WindowDirectory;

// Returns the process exit status: 0 after "退出", non-zero when the working database of
// programDir cannot be used (the user has been told why).
int runProgram(QApplication& application, const QString& programDir, WindowDirectory* directory);

} // namespace app
