#include "import/engine/importrows.h"

#include "db/criteria.h"
#include "db/formats/characters.h"
#include "db/sqltext.h"
#include "db/tablerows.h"

#include <sqlite3.h>

namespace sources {

namespace {
const QString importedTable = QStringLiteral("ClienttableELS");
} // namespace

ImportResult importRows(core::AppState& st, core::ProgressSink& sink) {
    ImportResult r;
    const db::RecordsetPtr source = st.RsSource; // kept alive for the whole copy
    if (!core::isOpen(source)) return r;
    r.sourceOpen = true;
    // Nothing copied: every row of the source failed.
    auto failAll = [&](const QString& why) {
        r.total = int(std::max<qint64>(0, source->connection().rowCount(source->baseTable())));
        r.failed = r.total;
        r.error = why;
        return r;
    };

    // The rows as they are written are kept as the recordset over ClienttableELS that
    // reopenImported gives RsSource (the table holds nothing else): not read back.
    auto target = std::make_shared<db::Recordset>();
    target->setCursorLocation(db::CursorLocation::Client);
    if (!target->openFields(db::sql::selectAll(importedTable), st.WorkConn))
        return failAll(target->errorString());
    const bool keep = st.WorkConn.rowCount(importedTable) == 0;
    const int columns = std::min(target->fieldCount(), source->fieldCount());
    std::vector<int> widths;
    QStringList names, marks;
    for (int i = 0; i < columns; ++i) {
        widths.push_back(target->definedSize(i));
        names << db::sql::ident(target->fieldName(i));
        marks << QStringLiteral("?");
    }
    if (columns == 0) return failAll(QStringLiteral("导入数据表没有字段"));
    const QByteArray sql =
        (QStringLiteral("INSERT INTO ") + db::sql::ident(importedTable) + QStringLiteral(" (") +
         names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
         marks.join(QStringLiteral(", ")) + QStringLiteral(")"))
            .toUtf8();
    sqlite3* h = st.WorkConn.handle();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(h, sql.constData(), -1, &insert, nullptr) != SQLITE_OK)
        return failAll(QString::fromUtf8(sqlite3_errmsg(h)));
    const bool ownTransaction = !st.WorkConn.inTransaction() && st.WorkConn.beginTransaction();
    // The rows straight from the source's table, once: RsSource holds its fields only.
    qint64 total = 0;
    qint64 row = 0;
    QString readError;
    std::vector<QStringView> written(static_cast<size_t>(columns));
    const bool read = db::readTable(
        source->connection(), source->baseTable(), &total,
        [&](std::span<const QStringView> values) {
            if (row == 0) r.total = int(total);
            if (!sink.progress(int(row), r.total)) {
                r.cancelled = true;
                return false;
            }
            ++row;
            for (int i = 0; i < columns && size_t(i) < values.size(); ++i) {
                // The first D characters of the value, then blanks trimmed: the program's one
                // trimming rule (spaces only; line breaks inside a value are data). A null
                // value is imported as an empty text, as before.
                QStringView text = values[size_t(i)];
                if (widths[size_t(i)] > 0) text = formats::firstCodePoints(text, widths[size_t(i)]);
                text = db::trimBlanks(text);
                if (text.isNull()) text = QStringView(u"", 0);
                written[size_t(i)] = text;
                // The working database keeps UTF-16: the value is bound where it lies, neither
                // copied nor converted, until the row is stored.
                sqlite3_bind_text16(insert, i + 1, text.utf16(), int(text.size() * 2),
                                    SQLITE_STATIC);
            }
            if (sqlite3_step(insert) == SQLITE_DONE) {
                ++r.copied;
                if (keep) target->adoptRow(sqlite3_last_insert_rowid(h), written, total);
            } else {
                ++r.failed;
                if (r.error.isEmpty()) r.error = QString::fromUtf8(sqlite3_errmsg(h));
            }
            sqlite3_reset(insert);
            sqlite3_clear_bindings(insert);
            return true;
        },
        &readError);
    r.total = int(total);
    if (!read) {
        r.failed = r.total - r.copied;
        if (r.error.isEmpty()) r.error = readError;
    }
    sqlite3_finalize(insert);
    if (r.cancelled) {
        if (ownTransaction) st.WorkConn.rollback();
        r.copied = 0;
        return r;
    }
    sink.progress(r.total, r.total);
    if (ownTransaction && !st.WorkConn.commit()) {
        st.WorkConn.rollback();
        r.failed = r.total;
        r.copied = 0;
        if (r.error.isEmpty()) r.error = st.WorkConn.errorString();
    }
    if (keep && ownTransaction && r.failed == 0 && r.copied == r.total) {
        target->adoptDone();
        r.rows = target;
    }
    return r;
}

bool reopenImported(core::AppState& st, ImportResult& result) {
    result.reopened = false;
    if (!result.sourceOpen) return false;
    // The source's rows go first: a list of a million rows is not held twice.
    st.RsSource.reset();
    if (result.rows && !result.cancelled) {
        st.RsSource = std::move(result.rows);
        result.reopened = true;
        return true;
    }
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    const bool opened = rs->open(db::sql::selectAll(importedTable), st.WorkConn);
    st.RsSource = opened ? rs : nullptr;
    if (!opened) {
        result.error = QStringLiteral("导入的数据无法打开：\n%1").arg(rs->errorString());
        return false;
    }
    result.reopened = !result.cancelled && result.failed == 0 && result.copied == result.total;
    return result.reopened;
}

QString importProblem(const ImportResult& result) {
    if (result.reopened) return {};
    if (result.cancelled) return QStringLiteral("导入已停止，没有导入任何数据。");
    // Every row arrived but the table could not be opened again.
    if (result.failed == 0 && result.copied == result.total) return result.error;
    return QStringLiteral("共 %1 行数据，已导入 %2 行，有 %3 行未能导入。\n%4")
        .arg(result.total)
        .arg(result.copied)
        .arg(result.failed)
        .arg(result.error);
}

} // namespace sources
