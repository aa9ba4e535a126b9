// Peak memory of a whole exact check as a user runs it (chachong-batch check on a GBK .dbf
// client list: open, working tables, check, separation on a private copy), beside the size of
// the table's text (its UTF-8 CSV form). The check holds the table, the duplicate table and
// their indexes in memory; the ratio says how many bytes of memory a byte of text costs.
//   bench_memory [rows]          (default 1000000)
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Runs the program with its arguments; the child's peak resident size in bytes, -1 on failure.
long long peakOf(const QByteArray& program, const QList<QByteArray>& args, int* status) {
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // Only the figures of the suite go to its output.
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execv(program.constData(), argv.data());
        _exit(127);
    }
    struct rusage usage {};
    if (wait4(pid, status, 0, &usage) != pid) return -1;
    return static_cast<long long>(usage.ru_maxrss) * 1024; // kilobytes on Linux
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000000;
    QTemporaryDir tmp;
    gen::Options o;
    o.rows = rows;
    o.exactShare = 0.10;
    o.nearShare = 0.05;
    const gen::Table table = gen::generate(o);
    const QString dbf = tmp.filePath(QStringLiteral("clients.dbf"));
    const QString csv = tmp.filePath(QStringLiteral("clients.csv"));
    QString error;
    if (!gen::writeDbf(table, dbf, &error) || !gen::writeCsv(table, csv, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const double text = double(QFileInfo(csv).size());
    int status = 0;
    const QByteArray runner = QByteArray(CHACHONG_PROGRAM_DIR) + "/chachong-batch";
    const long long peak = peakOf(
        runner, {"check", QFile::encodeName(dbf), "--fields", QStringLiteral("姓名,电话").toUtf8()},
        &status);
    if (peak < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "chachong-batch check failed (status %d)\n", status);
        return 1;
    }
    bench::heading();
    bench::row(QStringLiteral("peak memory of chachong-batch check (.dbf, 2 check fields)"),
               QStringLiteral("%1 rows × %2").arg(bench::count(rows)).arg(table.fields.size()),
               peak / 1048576.0, text / 1048576.0, QStringLiteral("the table's text (UTF-8 CSV)"),
               "MB");
    return 0;
}
