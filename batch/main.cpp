// chachong-batch: the duplicate checker without windows (see batch/runner.h).
#include "batch/runner.h"
#include "core/hugepages.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    core::useHugePages(argv);
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return batch::run(arguments, QCoreApplication::applicationDirPath(), stdout, stderr);
}
