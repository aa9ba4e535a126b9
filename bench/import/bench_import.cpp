// The import of an Excel sheet as "导入Excel数据" runs it (connection, sheet, working tables,
// every row copied into the working database, the imported table reopened), beside the raw read
// of the same workbook by the program's reader (file to table of texts), best of a few runs each;
// then the import of an Excel 2007 workbook beside the import of the same rows from a CSV file
// ("导入文本数据（CSV）").
//   bench_import [rows] [runs] [xlsx-rows]          (default 65000 3 1000000)
#include "batch/session.h"
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "core/appstate.h"
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 65000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir tmp;
    gen::Options o;
    o.rows = rows;
    const gen::Table table = gen::generate(o);
    const QString file = tmp.filePath(QStringLiteral("客户.xls"));
    QString error;
    if (!gen::writeXls(table, file, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    double rawMs = std::numeric_limits<double>::max();
    double importMs = rawMs;
    long long rawCells = 0;
    int imported = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        formats::xls::Workbook book;
        if (!formats::xls::readWorkbookFile(file, &book, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        const formats::xls::Table texts = formats::xls::worksheetTable(book, book.sheets.at(0));
        rawCells = static_cast<long long>(texts.values.size());
        rawMs = std::min(rawMs, t.nsecsElapsed() / 1e6);

        t.restart();
        batch::Session session(QStringLiteral(CHACHONG_PROGRAM_DIR));
        batch::OpenRequest request;
        request.file = file;
        request.import = true;
        if (session.open(request, &error) != 0) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        imported = core::recordCountOf(core::appState().RsSource);
        importMs = std::min(importMs, t.nsecsElapsed() / 1e6);
    }
    bench::heading();
    bench::row(QStringLiteral("import of a sheet into the working database"),
               QStringLiteral("%1 rows × %2").arg(bench::count(rows)).arg(table.fields.size()),
               importMs, rawMs, QStringLiteral("raw read of the workbook"), "ms");
    if (imported != rows) {
        std::fprintf(stderr, "imported %d of %d rows (raw read: %lld values)\n", imported, rows,
                     rawCells);
        return 2;
    }

    // A workbook of today's format against the same rows as text.
    gen::Options big;
    big.rows = argc > 3 ? std::max(2, std::atoi(argv[3])) : 1000000;
    const gen::Table many = gen::generate(big);
    const QString xlsx = tmp.filePath(QStringLiteral("客户.xlsx"));
    const QString csv = tmp.filePath(QStringLiteral("客户.csv"));
    if (!gen::writeXlsx(many, xlsx, &error) || !gen::writeCsv(many, csv, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    auto importOnce = [&](const QString& file, int* count) {
        QElapsedTimer t;
        t.start();
        batch::Session session(QStringLiteral(CHACHONG_PROGRAM_DIR));
        batch::OpenRequest request;
        request.file = file;
        request.import = true;
        if (session.open(request, &error) != 0) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return -1.0;
        }
        *count = core::recordCountOf(core::appState().RsSource);
        return t.nsecsElapsed() / 1e9;
    };
    int fromXlsx = 0, fromCsv = 0;
    const double xlsxSeconds = importOnce(xlsx, &fromXlsx);
    const double csvSeconds = importOnce(csv, &fromCsv);
    if (xlsxSeconds < 0 || csvSeconds < 0) return 1;
    bench::row(QStringLiteral("import of an .xlsx workbook into the working database"),
               QStringLiteral("%1 rows × %2").arg(bench::count(big.rows)).arg(many.fields.size()),
               xlsxSeconds, csvSeconds, QStringLiteral("import of the same rows from CSV"), "s");
    if (fromXlsx != big.rows || fromCsv != big.rows) {
        std::fprintf(stderr, "imported %d (.xlsx) and %d (CSV) of %d rows\n", fromXlsx, fromCsv,
                     big.rows);
        return 2;
    }
    return 0;
}
