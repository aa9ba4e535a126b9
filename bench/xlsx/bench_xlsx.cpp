// Times reading a generated client list (10 text columns) through the SQLite modules, every
// cell of every row: the .xlsx workbook (written by libxlsxwriter with shared strings, as Excel
// writes text) against the same rows as a UTF-8 CSV file, each the best of a few runs. Both
// reads must find the same values.
//
// Usage: bench_xlsx [rows] [runs]          (default 1000000 3)
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "db/vtab/csv/csv_vtab.h"
#include "db/vtab/xls/xls_vtab.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

namespace {

struct Read {
    long long values = -1; // non-NULL values below the headings
    long long bytes = 0;   // their UTF-8 length
};

// Every value of a table, as the windows' grid would fetch it.
Read readAll(sqlite3* db, const QString& table) {
    Read r;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = ("SELECT * FROM \"" + table + "\"").toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) return r;
    r.values = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
        for (int c = 0; c < sqlite3_column_count(st); ++c)
            if (sqlite3_column_text(st, c)) {
                ++r.values;
                r.bytes += sqlite3_column_bytes(st, c);
            }
    sqlite3_finalize(st);
    return r;
}

double best(int runs, const std::function<Read()>& run, Read* out) {
    double bestMs = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        *out = run();
        bestMs = std::min(bestMs, t.nsecsElapsed() / 1e6);
    }
    return bestMs;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir dir;
    gen::Options o;
    o.rows = rows;
    const gen::Table table = gen::generate(o);
    const QString xlsx = dir.filePath(QStringLiteral("客户.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("客户.csv"));
    QString error;
    QElapsedTimer w;
    w.start();
    if (!gen::writeXlsx(table, xlsx, &error) || !gen::writeCsv(table, csv, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stderr, "wrote %d rows x %lld columns in %.1f s (.xlsx %lld bytes, CSV %lld)\n",
                 rows, static_cast<long long>(table.fields.size()), w.nsecsElapsed() / 1e9,
                 static_cast<long long>(QFileInfo(xlsx).size()),
                 static_cast<long long>(QFileInfo(csv).size()));

    Read fromXlsx, fromCsv;
    const double xlsxMs = best(
        runs,
        [&] {
            sqlite3* db = nullptr;
            sqlite3_open(":memory:", &db);
            std::vector<vtab::SheetSchemaRow> schema;
            QString e, skipped;
            Read r;
            if (vtab::attachXlsxWorkbook(db, xlsx, &schema, &skipped, &e))
                r = readAll(db, QStringLiteral("客户$"));
            else
                std::fprintf(stderr, "%s\n", qPrintable(e));
            sqlite3_close(db);
            return r;
        },
        &fromXlsx);
    const double csvMs = best(
        runs,
        [&] {
            sqlite3* db = nullptr;
            sqlite3_open(":memory:", &db);
            QString e, name;
            Read r;
            if (vtab::attachTextFile(db, csv, {}, &name, nullptr, &e))
                r = readAll(db, name);
            else
                std::fprintf(stderr, "%s\n", qPrintable(e));
            sqlite3_close(db);
            return r;
        },
        &fromCsv);

    bench::heading();
    bench::row(QStringLiteral(".xlsx read through the SQLite module, every cell"),
               QStringLiteral("%1 × %2").arg(bench::count(rows)).arg(table.fields.size()), xlsxMs,
               csvMs, QStringLiteral("the same rows from CSV"), "ms");
    if (fromXlsx.values != fromCsv.values || fromXlsx.bytes != fromCsv.bytes ||
        fromXlsx.values <= 0) {
        std::fprintf(stderr, "values read: .xlsx %lld (%lld bytes), CSV %lld (%lld bytes)\n",
                     fromXlsx.values, fromXlsx.bytes, fromCsv.values, fromCsv.bytes);
        return 2;
    }
    return 0;
}
