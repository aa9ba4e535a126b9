// Writes a generated client list with planted copies as .dbf, .xls, .csv and .xlsx files.
//   bench_gen --rows N [--seed S] [--exact SHARE] [--near SHARE] [--region PATH] --out PREFIX
//             [--formats dbf,xls,csv,xlsx]   (default dbf,xls,csv)
// Prints "rows=N exact=E near=M seconds=T" (generation and writing). Exit 2 on a usage error,
// 1 on a failure, with a one-line reason on stderr.
#include "bench/gen/clientgen.h"
#include "bench/gen/regions.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>

namespace {

const char* const kUsage =
    "usage: bench_gen --rows N [--seed S] [--exact SHARE] [--near SHARE] [--region PATH] "
    "--out PREFIX [--formats dbf,xls,csv,xlsx]";

int usageError(const QString& reason) {
    std::fprintf(stderr, "bench_gen: %s (bench_gen --help shows the usage)\n", qPrintable(reason));
    return 2;
}

int failure(const QString& reason) {
    std::fprintf(stderr, "bench_gen: %s\n", qPrintable(reason));
    return 1;
}

bool share(const QString& text, double* out) {
    bool ok = false;
    *out = text.toDouble(&ok);
    return ok && std::isfinite(*out) && *out >= 0 && *out <= 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    gen::Options options;
    QString out;
    QStringList formats = {"dbf", "xls", "csv"};
    bool haveRows = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (!a.startsWith("--")) return usageError(QStringLiteral("unexpected argument %1").arg(a));
        if (i + 1 >= args.size()) return usageError(QStringLiteral("%1 needs a value").arg(a));
        const QString v = args[++i];
        bool ok = true;
        if (a == "--rows") {
            const qlonglong n = v.toLongLong(&ok);
            ok = ok && n >= 1 && n <= 50'000'000;
            options.rows = int(n);
            haveRows = true;
        } else if (a == "--seed") {
            options.seed = v.toUInt(&ok);
        } else if (a == "--exact") {
            ok = share(v, &options.exactShare);
        } else if (a == "--near") {
            ok = share(v, &options.nearShare);
        } else if (a == "--region") {
            options.regionCsv = v;
            ok = !v.isEmpty();
        } else if (a == "--out") {
            out = v;
            ok = !v.isEmpty();
        } else if (a == "--formats") {
            formats = v.split(',', Qt::SkipEmptyParts);
            for (const QString& f : formats)
                ok = ok && (f == "dbf" || f == "xls" || f == "csv" || f == "xlsx");
            ok = ok && !formats.isEmpty();
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        }
        if (!ok) return usageError(QStringLiteral("bad value for %1: %2").arg(a, v));
    }
    if (!haveRows) return usageError(QStringLiteral("--rows is required"));
    if (out.isEmpty()) return usageError(QStringLiteral("--out is required"));
    if (options.exactShare + options.nearShare > 1)
        return usageError(QStringLiteral("--exact and --near add up to more than 1"));

    // An explicit reference file must be usable: the built-in fallback is for its absence only.
    if (!options.regionCsv.isEmpty()) {
        std::vector<gen::Region> regions;
        QString error;
        if (!gen::readRegionCsv(options.regionCsv, &regions, &error)) return failure(error);
    }

    QElapsedTimer timer;
    timer.start();
    const gen::Table table = gen::generate(options);
    for (const QString& f : formats) {
        QString error;
        const QString path = out + '.' + f;
        bool ok = true;
        if (f == "dbf") {
            ok = gen::writeDbf(table, path, &error);
        } else if (f == "csv") {
            ok = gen::writeCsv(table, path, &error);
        } else if (f == "xlsx") {
            ok = gen::writeXlsx(table, path, &error);
        } else if (table.rows.size() > 65535) {
            std::fprintf(stderr, "bench_gen: %d rows do not fit an .xls sheet: %s not written\n",
                         options.rows, qPrintable(path));
        } else {
            ok = gen::writeXls(table, path, &error);
        }
        if (!ok) return failure(error);
    }
    std::printf("rows=%d exact=%d near=%d seconds=%.3f\n", int(table.rows.size()),
                table.exactCopies, table.nearCopies, double(timer.nsecsElapsed()) / 1e9);
    return 0;
}
