// Times reading a 65,000-row x 10-column .xls workbook: the program's reader (file to table of
// texts), the same through the SQLite "xls" module (attach, then SELECT every value), and
// FreeXL (open, then every cell), each the best of a few runs. Prints the times and ratios.
//
// Usage: bench_xls [rows] [runs]
#include "bench/common/suite.h"
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"
#include "db/formats/xls/xlswriter.h"
#include "db/vtab/xls/xls_vtab.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <freexl.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

using namespace formats::xls;

namespace {

// Customer-like rows: names, phone numbers, addresses, amounts, dates, codes.
SheetData makeSheet(int rows) {
    SheetData s;
    s.name = QStringLiteral("客户");
    std::vector<Cell> header;
    for (const char* h :
         {"姓名", "手机", "地址", "金额", "开户日期", "城市", "编号", "性别", "积分", "备注"})
        header.push_back(Cell::ofText(QString::fromUtf8(h)));
    s.rows.push_back(header);
    for (int r = 1; r < rows; ++r) {
        s.rows.push_back({Cell::ofText(QStringLiteral("客户%1").arg(r)),
                          Cell::ofNumber(13800000000.0 + r),
                          Cell::ofText(QStringLiteral("北京市朝阳区建国路%1号").arg(r % 997)),
                          Cell::ofNumber(r * 1.25), Cell::ofNumber(40000 + r % 3000, true),
                          Cell::ofText(QStringLiteral("城市%1").arg(r % 100)), Cell::ofNumber(r),
                          Cell::ofText(r % 2 ? QStringLiteral("男") : QStringLiteral("女")),
                          Cell::ofNumber(r % 1000),
                          r % 5 ? Cell() : Cell::ofText(QStringLiteral("VIP O'Brien"))});
    }
    return s;
}

// Best wall time of several runs, in milliseconds; check is what the run read.
double best(int runs, const std::function<long long()>& run, long long* check) {
    double bestMs = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        *check = run();
        bestMs = std::min(bestMs, t.nsecsElapsed() / 1e6);
    }
    return bestMs;
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 65000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.xls"));
    QString error;
    QElapsedTimer w;
    w.start();
    if (!writeWorkbookFile(path, {makeSheet(rows)}, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stderr, "wrote %d rows x 10 columns in %.1f ms (%lld bytes)\n", rows,
                 w.nsecsElapsed() / 1e6, static_cast<long long>(QFileInfo(path).size()));

    long long ours = 0, viaSql = 0, freexl = 0;
    const double oursMs = best(
        runs,
        [&] {
            Workbook book;
            QString e;
            if (!readWorkbookFile(path, &book, &e)) return -1LL;
            const Table t = worksheetTable(book, book.sheets.at(0));
            return static_cast<long long>(t.values.size());
        },
        &ours);

    const double sqlMs = best(
        runs,
        [&] {
            sqlite3* db = nullptr;
            sqlite3_open(":memory:", &db);
            std::vector<vtab::SheetSchemaRow> schema;
            QString e;
            long long values = -1;
            if (vtab::attachXlsWorkbook(db, path, &schema, &e)) {
                values = 0;
                sqlite3_stmt* st = nullptr;
                sqlite3_prepare_v2(db, "SELECT * FROM \"客户$\"", -1, &st, nullptr);
                while (sqlite3_step(st) == SQLITE_ROW)
                    for (int c = 0; c < sqlite3_column_count(st); ++c)
                        if (sqlite3_column_text(st, c)) ++values;
                sqlite3_finalize(st);
            }
            sqlite3_close(db);
            return values;
        },
        &viaSql);

    const QByteArray native = QFile::encodeName(path);
    const double freexlMs = best(
        runs,
        [&] {
            const void* h = nullptr;
            if (freexl_open(native.constData(), &h) != FREEXL_OK) return -1LL;
            long long values = 0;
            unsigned int sheetRows = 0;
            unsigned short sheetCols = 0;
            if (freexl_select_active_worksheet(h, 0) == FREEXL_OK &&
                freexl_worksheet_dimensions(h, &sheetRows, &sheetCols) == FREEXL_OK) {
                for (unsigned int r = 1; r < sheetRows; ++r) // row 0 holds the headings
                    for (unsigned short c = 0; c < sheetCols; ++c) {
                        FreeXL_CellValue v;
                        if (freexl_get_cell_value(h, r, c, &v) == FREEXL_OK &&
                            v.type != FREEXL_CELL_NULL)
                            ++values;
                    }
            }
            freexl_close(h);
            return values;
        },
        &freexl);

    bench::heading();
    const QString size = QStringLiteral("%1 × 10").arg(bench::count(rows));
    const QString baseline = QStringLiteral("FreeXL %1").arg(QString::fromLatin1(freexl_version()));
    bench::row(QStringLiteral(".xls read: file to table of texts"), size, oursMs, freexlMs,
               baseline, "ms");
    bench::row(QStringLiteral(".xls read: through the SQLite module"), size, sqlMs, freexlMs,
               baseline, "ms");
    if (ours != freexl || viaSql != ours) {
        std::fprintf(stderr,
                     "values read (below the headings): ours %lld, SQLite %lld, FreeXL %lld\n",
                     ours, viaSql, freexl);
        return 2;
    }
    return 0;
}
