// Writes a generated client list with planted copies as .dbf, .xls, .csv and .xlsx files.
//   bench_gen --rows N [--seed S] [--exact SHARE] [--near SHARE] [--region PATH] --out PREFIX
//             [--formats dbf,xls,csv,xlsx]   (default dbf,xls,csv)
// Prints "rows=N exact=E near=M seconds=T" (generation and writing).
// Or a labelled list, Chinese or Latin-script, whose true duplicates are known: DIR/clients.csv
// and DIR/truth.csv (columns row, the 1-based row of clients.csv, and entity, its customer):
//   bench_gen --labelled|--latin --rows N [--seed S] [--reentry SHARE] [--lookalike SHARE]
//             [--region PATH] --out DIR
// with as many customers as make about N rows. Prints "rows=N customers=C reentries=R
// lookalikes=L seconds=T". Exit 2 on a usage error, 1 on a failure, with a one-line reason on
// stderr.
#include "bench/gen/clientgen.h"
#include "bench/gen/labelled.h"
#include "bench/gen/regions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>

namespace {

const char* const kUsage =
    "usage: bench_gen --rows N [--seed S] [--exact SHARE] [--near SHARE] [--region PATH] "
    "--out PREFIX [--formats dbf,xls,csv,xlsx]\n"
    "       bench_gen --labelled|--latin --rows N [--seed S] [--reentry SHARE] "
    "[--lookalike SHARE] [--region PATH] --out DIR";

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

// The labelled list and its truth in dir; each file replaces an old one only once complete.
int writeLabelled(bool latin, int rows, gen::LabelledOptions options, const QString& dir) {
    QElapsedTimer timer;
    timer.start();
    options.customers = gen::customersForRows(rows, options.reentryShare);
    const gen::LabelledTable table =
        latin ? gen::generateLatinLabelled(options) : gen::generateLabelled(options);
    gen::Table truth;
    truth.fields = QStringList{"row", "entity"};
    truth.rows.reserve(table.rows.size());
    for (size_t i = 0; i < table.rows.size(); ++i)
        truth.rows.push_back({QString::number(i + 1), QString::number(table.entity[i])});
    if (!QDir().mkpath(dir))
        return failure(QStringLiteral("无法建立文件夹 %1").arg(QDir::toNativeSeparators(dir)));
    QString error;
    if (!gen::writeCsv(table, QDir(dir).filePath("clients.csv"), &error) ||
        !gen::writeCsv(truth, QDir(dir).filePath("truth.csv"), &error))
        return failure(error);
    int lookalikes = 0;
    for (int source : table.lookalikeOf)
        lookalikes += source >= 0;
    std::printf("rows=%d customers=%d reentries=%d lookalikes=%d seconds=%.3f\n",
                int(table.rows.size()), options.customers, table.nearCopies, lookalikes,
                double(timer.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    gen::Options options;
    QString out;
    QStringList formats = {"dbf", "xls", "csv"};
    bool haveRows = false;
    bool labelled = false, latin = false;
    gen::LabelledOptions labelledOptions;
    QStringList plainOnly, labelledOnly; // options given that only one kind of list takes
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", kUsage);
            return 0;
        }
        if (a == "--labelled" || a == "--latin") {
            (a == "--latin" ? latin : labelled) = true;
            continue;
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
            plainOnly << a;
        } else if (a == "--near") {
            ok = share(v, &options.nearShare);
            plainOnly << a;
        } else if (a == "--reentry") {
            ok = share(v, &labelledOptions.reentryShare);
            labelledOnly << a;
        } else if (a == "--lookalike") {
            ok = share(v, &labelledOptions.lookalikeShare);
            labelledOnly << a;
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
            plainOnly << a;
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(a));
        }
        if (!ok) return usageError(QStringLiteral("bad value for %1: %2").arg(a, v));
    }
    if (!haveRows) return usageError(QStringLiteral("--rows is required"));
    if (out.isEmpty()) return usageError(QStringLiteral("--out is required"));
    if (labelled && latin) return usageError(QStringLiteral("--labelled 与 --latin 只能选一个"));
    if (!labelled && !latin && !labelledOnly.isEmpty())
        return usageError(QStringLiteral("%1 只用于 --labelled 或 --latin")
                              .arg(labelledOnly.join(QStringLiteral("、"))));
    if ((labelled || latin) && !plainOnly.isEmpty())
        return usageError(
            QStringLiteral("%1 不能与 %2 同用")
                .arg(plainOnly.join(QStringLiteral("、")),
                     latin ? QStringLiteral("--latin") : QStringLiteral("--labelled")));
    if (latin && !options.regionCsv.isEmpty())
        return usageError(QStringLiteral("--latin 的名单不用 --region"));
    if (options.exactShare + options.nearShare > 1)
        return usageError(QStringLiteral("--exact and --near add up to more than 1"));

    // An explicit reference file must be usable: the built-in fallback is for its absence only.
    if (!options.regionCsv.isEmpty()) {
        std::vector<gen::Region> regions;
        QString error;
        if (!gen::readRegionCsv(options.regionCsv, &regions, &error)) return failure(error);
    }
    if (labelled || latin) {
        labelledOptions.seed = options.seed;
        labelledOptions.regionCsv = options.regionCsv;
        return writeLabelled(latin, options.rows, labelledOptions, out);
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
