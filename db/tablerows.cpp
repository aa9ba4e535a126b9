#include "db/tablerows.h"

#include "db/formats/sqlident.h"
#include "db/vtab/dbf/dbf_vtab.h"
#include "db/vtab/sheet/sheet_vtab.h"

#include <sqlite3.h>

#include <vector>

namespace db {

QString realText(double value) {
    return QString::number(value, 'g', 15);
}

namespace {

bool readSheet(const formats::xls::Table& t, qint64* total, const RowReader& row) {
    const qsizetype rows = t.rowCount();
    if (total) *total = rows;
    std::vector<QStringView> views(size_t(t.fields.size()));
    for (qsizetype r = 0; r < rows; ++r) {
        std::fill(views.begin(), views.end(), QStringView());
        for (size_t i = t.rowStart[size_t(r)]; i < t.rowStart[size_t(r) + 1]; ++i)
            if (t.values[i].col < views.size()) views[t.values[i].col] = t.textOf(t.values[i]);
        if (!row(views)) break;
    }
    return true;
}

bool readDbf(vtab::DbfRows& rows, qint64* total, const RowReader& row) {
    const formats::TextRows& cells = rows.values.cells;
    const char16_t* text = rows.values.text.data();
    if (total) *total = qint64(cells.size());
    std::vector<QStringView> views(size_t(cells.columns()));
    for (size_t r = 0; r < cells.size(); ++r) {
        for (int c = 0; c < cells.columns(); ++c) {
            const formats::TextCell cell = cells.cell(r, c);
            views[size_t(c)] =
                cell.length < 0 ? QStringView() : QStringView(text + cell.offset, cell.length);
        }
        if (!row(views)) break;
    }
    return true;
}

bool readSql(const Connection& conn, const QString& table, qint64* total, const RowReader& row,
             QString* error) {
    sqlite3* db = conn.handle();
    if (total) *total = conn.rowCount(table);
    const QByteArray sql =
        (QStringLiteral("SELECT * FROM ") + formats::sqliteIdent(table)).toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        return false;
    }
    const int columns = sqlite3_column_count(st);
    std::vector<QStringView> views(static_cast<size_t>(columns));
    std::vector<QString> reals(static_cast<size_t>(columns));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_NULL:
            case SQLITE_BLOB:
                views[size_t(c)] = QStringView();
                break;
            case SQLITE_FLOAT:
                reals[size_t(c)] = realText(sqlite3_column_double(st, c));
                views[size_t(c)] = reals[size_t(c)];
                break;
            default: {
                const auto* p = static_cast<const char16_t*>(sqlite3_column_text16(st, c));
                views[size_t(c)] = QStringView(p, sqlite3_column_bytes16(st, c) / 2);
                // An empty text is no null value.
                if (views[size_t(c)].isNull()) views[size_t(c)] = QStringView(u"", 0);
            }
            }
        }
        if (!row(views)) {
            rc = SQLITE_DONE;
            break;
        }
    }
    if (rc != SQLITE_DONE) *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
}

} // namespace

bool readTable(const Connection& conn, const QString& table, qint64* total, const RowReader& row,
               QString* error) {
    sqlite3* db = conn.handle();
    if (!db) {
        *error = QStringLiteral("数据库连接没有打开");
        return false;
    }
    if (const auto sheet = vtab::sheetRows(db, table)) return readSheet(*sheet, total, row);
    vtab::DbfRows rows;
    QString why;
    if (vtab::readDbfRows(db, table, &rows, &why)) return readDbf(rows, total, row);
    if (!why.isEmpty()) {
        *error = why;
        return false;
    }
    return readSql(conn, table, total, row, error);
}

} // namespace db
