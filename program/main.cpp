// The duplicate checker: finds and removes duplicate client records in Access, dBase and Excel
// customer lists.
#include "check/reportfm.h"
#include "core/hugepages.h"
#include "program/program.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

namespace {

// chachong --report-pdf REPORT.json OUT.pdf: draws a report as PDF without a window, for
// chachong-batch --report (which links no painting of its own).
int writeReportPdf(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QFile in(arguments.at(2));
    const std::optional<check::CheckReport> report =
        in.open(QIODevice::ReadOnly) ? check::reportFromJson(in.readAll()) : std::nullopt;
    const core::Status s = report ? check::writeReportPdf(*report, arguments.at(3))
                                  : core::Status(QStringLiteral("查重报告无法读取"));
    if (s.ok()) return 0;
    std::fputs(s.error.toUtf8().constData(), stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    core::useHugePages(argv);
    if (argc == 4 && std::strcmp(argv[1], "--report-pdf") == 0) return writeReportPdf(argc, argv);
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
