// The duplicate checker: finds and removes duplicate client records in Access, dBase and Excel
// customer lists.
#include "program/program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    program::ProgramWindows windows;
    return program::runProgram(application, QCoreApplication::applicationDirPath(), &windows);
}
