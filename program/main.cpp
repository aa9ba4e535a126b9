// The duplicate checker: finds and removes duplicate client records in Access, dBase and Excel
// customer lists.
#include "program/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Names the user's data folder (~/.local/share/chachong), where an installed program keeps
    // each user's working database.
    QCoreApplication::setApplicationName(QStringLiteral("chachong"));
    program::ProgramWindows windows;
    // chachong [FILE]: a file given is opened at start, as "打开方式" of a file manager asks.
    const QStringList arguments = QCoreApplication::arguments();
    return program::runProgram(application, QCoreApplication::applicationDirPath(), &windows,
                               arguments.size() > 1 ? arguments.at(1) : QString());
}
