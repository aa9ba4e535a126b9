// The whole job as a user waits for it: chachong-batch check on a client list (open, read,
// check on 姓名+地址, the groups written as CSV, the separation on a private copy), one process
// from start to exit, against a pandas script finding and writing the same groups from the CSV
// dump of the same rows (python3 started, pandas imported, CSV read, groups written). The list is
// checked as a GBK .dbf, as an .xlsx workbook and as a UTF-8 CSV file (the import included).
// They run alternately (A B A B ...), the medians are compared; all must find the same groups.
// Beside it, the check's peak memory against the size of the table's text (the CSV dump) and
// against pandas's own peak, and from the second size on, each kind's time against its time at
// the size before (a sheet holds at most 1,048,576 rows: beyond, no .xlsx), and the CSV job on
// every core against the same job on one thread (CHACHONG_THREADS=1), whose groups file must be
// the same byte for byte.
//   bench_wholejob [rows ...]     (default 100000 1000000); CHACHONG_BENCH_REPEATS (default 3)
#include "bench/common/process.h"
#include "bench/common/suite.h"
#include "db/formats/threads.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

QString pandasVersion() {
    QProcess ver;
    ver.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"), QStringLiteral("import pandas; print(pandas.__version__)")});
    if (!ver.waitForFinished(60000) || ver.exitCode() != 0) return {};
    return QString::fromUtf8(ver.readAllStandardOutput()).trimmed();
}

// "groups=N ..." of the runner's summary line.
long long groupsOfRunner(const QByteArray& out) {
    for (const QByteArray& word : out.simplified().split(' '))
        if (word.startsWith("groups=")) return word.mid(7).toLongLong();
    return -1;
}

// The median time of each kind of input at one size.
struct SizeTimes {
    int rows = 0;
    std::map<QString, double> seconds;
};

bool measure(int rows, int repeats, const QString& pandas, const QTemporaryDir& tmp,
             SizeTimes* times) {
    const bool sheet = rows < 1048576; // a worksheet's rows, its heading included
    const QString formats = sheet ? QStringLiteral("dbf,xlsx,csv") : QStringLiteral("dbf,csv");
    // The list is written by bench_gen in its own process: a child started from this process
    // would count this process's memory in its peak until it runs its program.
    const QString dbf = tmp.filePath(QStringLiteral("clients.dbf"));
    QProcess gen;
    gen.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_gen"),
              {QStringLiteral("--rows"), QString::number(rows), QStringLiteral("--exact"),
               QStringLiteral("0.10"), QStringLiteral("--near"), QStringLiteral("0.05"),
               QStringLiteral("--formats"), formats, QStringLiteral("--out"),
               tmp.filePath(QStringLiteral("clients"))});
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) {
        std::fprintf(stderr, "bench_gen failed: %s\n", gen.readAllStandardError().constData());
        return false;
    }
    const QByteArray runner = QByteArray(CHACHONG_PROGRAM_DIR) + "/chachong-batch";
    const QByteArray fields = QStringLiteral("姓名,地址").toUtf8();
    const QString dump = tmp.filePath(QStringLiteral("clients.csv"));
    if (!bench::runProcess(runner, {"dump", QFile::encodeName(dbf)}, dump)) return false;
    const QString ourGroups = tmp.filePath(QStringLiteral("ours.csv"));
    const QString theirGroups = tmp.filePath(QStringLiteral("pandas.csv"));
    const QString summary = tmp.filePath(QStringLiteral("summary.txt"));

    // The runner's input of each kind: the generated files, the CSV under a name of its own (the
    // dump is the baseline's input).
    const QStringList kinds = formats.split(QLatin1Char(','));
    const int n = int(kinds.size());
    std::vector<std::vector<double>> ours(kinds.size()), ourPeaks(kinds.size());
    std::vector<double> theirs, theirPeaks, oneThread;
    std::vector<long long> groups(kinds.size(), -1);
    const auto readAll = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    long long pandasGroups = -1;
    for (int i = 0; i < repeats; ++i) {
        for (int k = 0; k < n; ++k) {
            const QString input = tmp.filePath(QStringLiteral("clients.") + kinds[k]);
            const auto a = bench::runProcess(runner,
                                             {"check", QFile::encodeName(input), "--fields", fields,
                                              "--dup-csv", QFile::encodeName(ourGroups)},
                                             summary);
            if (!a) return false;
            ours[size_t(k)].push_back(a->seconds);
            ourPeaks[size_t(k)].push_back(a->peakMB);
            groups[size_t(k)] = groupsOfRunner(a->out);
            if (kinds[k] != QLatin1String("csv")) continue;
            // The same job on one thread: the same file, byte for byte.
            const QByteArray many = readAll(ourGroups);
            qputenv("CHACHONG_THREADS", "1");
            const auto one = bench::runProcess(runner,
                                               {"check", QFile::encodeName(input), "--fields",
                                                fields, "--dup-csv", QFile::encodeName(ourGroups)},
                                               summary);
            qunsetenv("CHACHONG_THREADS");
            if (!one) return false;
            if (readAll(ourGroups) != many) {
                std::fprintf(stderr, "the groups on one thread differ from those on %d\n",
                             formats::workerThreads());
                return false;
            }
            oneThread.push_back(one->seconds);
        }
        const auto b = bench::runProcess("/usr/bin/python3",
                                         {CHACHONG_PANDAS_SCRIPT, QFile::encodeName(dump),
                                          QFile::encodeName(theirGroups), fields},
                                         summary + QStringLiteral(".py"));
        if (!b) return false;
        theirs.push_back(b->seconds);
        theirPeaks.push_back(b->peakMB);
        const QList<QByteArray> p = b->out.simplified().split(' ');
        pandasGroups = p.size() == 3 ? p[2].toLongLong() : -1;
    }
    for (int k = 0; k < n; ++k)
        if (groups[size_t(k)] != pandasGroups) {
            std::fprintf(stderr, "different groups: chachong-batch on .%s %lld, pandas %lld\n",
                         qPrintable(kinds[k]), groups[size_t(k)], pandasGroups);
            return false;
        }
    QFile dumped(dump);
    const int fieldCount =
        dumped.open(QIODevice::ReadOnly) ? int(dumped.readLine().count(',')) + 1 : 0;
    const QString size = QStringLiteral("%1 rows × %2, %3 groups")
                             .arg(bench::count(rows))
                             .arg(fieldCount)
                             .arg(bench::count(pandasGroups));
    const double text = double(QFileInfo(dump).size()) / 1048576.0;
    for (int k = 0; k < n; ++k) {
        bench::row(QStringLiteral("whole job: chachong-batch check (.%1 → groups CSV, separation)")
                       .arg(kinds[k]),
                   size, bench::median(ours[size_t(k)]), bench::median(theirs),
                   QStringLiteral("pandas %1 process (CSV dump → groups → CSV)").arg(pandas), "s");
        bench::row(QStringLiteral("peak memory of that check"), size,
                   bench::median(ourPeaks[size_t(k)]), text,
                   QStringLiteral("the table's text (UTF-8 CSV)"), "MB");
    }
    bench::row(QStringLiteral("peak memory of the .dbf check"), size, bench::median(ourPeaks[0]),
               bench::median(theirPeaks), QStringLiteral("pandas's peak"), "MB");
    if (const int csv = int(kinds.indexOf(QStringLiteral("csv"))); csv >= 0)
        bench::row(QStringLiteral("whole job (.csv) on %1 threads").arg(formats::workerThreads()),
                   size, bench::median(ours[size_t(csv)]), bench::median(oneThread),
                   QStringLiteral("the same job on one thread (same groups file)"), "s");
    SizeTimes now;
    now.rows = rows;
    for (int k = 0; k < n; ++k)
        now.seconds[kinds[k]] = bench::median(ours[size_t(k)]);
    // How the time grows with the rows: this size against the one before, kind by kind.
    if (times->rows > 0)
        for (const auto& [kind, seconds] : now.seconds)
            if (const auto before = times->seconds.find(kind); before != times->seconds.end())
                bench::row(QStringLiteral("whole job (.%1) at %2× the rows")
                               .arg(kind)
                               .arg(double(rows) / times->rows, 0, 'g', 3),
                           size, seconds, before->second,
                           QStringLiteral("the same job at %1 rows").arg(bench::count(times->rows)),
                           "s");
    *times = now;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::max(2, std::atoi(argv[i])));
    if (sizes.empty()) sizes = {100000, 1000000};
    const int repeats = std::max(1, qEnvironmentVariableIntValue("CHACHONG_BENCH_REPEATS") > 0
                                        ? qEnvironmentVariableIntValue("CHACHONG_BENCH_REPEATS")
                                        : 3);
    const QString pandas = pandasVersion();
    if (pandas.isEmpty()) {
        std::fprintf(stderr, "pandas is not installed (python3-pandas): whole job skipped\n");
        return 0;
    }
    QTemporaryDir tmp;
    bench::heading();
    SizeTimes times;
    for (int rows : sizes)
        if (!measure(rows, repeats, pandas, tmp, &times)) return 1;
    return 0;
}
