// The import of an Excel sheet as "导入Excel数据" runs it (connection, sheet, working tables,
// every row copied into the working database, the imported table reopened), beside the raw read
// of the same workbook by the program's reader (file to table of texts), best of a few runs each.
//   bench_import [rows] [runs]          (default 65000 3)
#include "app/engine/appstate.h"
#include "batch/session.h"
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
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
        imported = app::recordCountOf(app::appState().RsSource);
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
    return 0;
}
