#include "import/engine/importrows.h"

#include "db/criteria.h"
#include "db/formats/characters.h"
#include "db/sqltext.h"

#include <sqlite3.h>

namespace sources {

namespace {
const QString importedTable = QStringLiteral("ClienttableELS");
}

ImportResult importRows(core::AppState& st, core::ProgressSink& sink) {
    ImportResult r;
    const db::RecordsetPtr source = st.RsSource; // kept alive for the whole copy
    if (!core::isOpen(source)) return r;
    r.sourceOpen = true;
    r.total = source->recordCount();

    db::Recordset target;
    if (!target.open(db::sql::selectAll(importedTable), st.WorkConn)) {
        r.failed = r.total;
        r.error = target.errorString();
        return r;
    }
    const int columns = std::min(target.fieldCount(), source->fieldCount());
    std::vector<int> widths;
    QStringList names, marks;
    for (int i = 0; i < columns; ++i) {
        widths.push_back(target.definedSize(i));
        names << db::sql::ident(target.fieldName(i));
        marks << QStringLiteral("?");
    }
    target.close();
    if (columns == 0) {
        r.failed = r.total;
        r.error = QStringLiteral("导入数据表没有字段");
        return r;
    }
    const QByteArray sql =
        (QStringLiteral("INSERT INTO ") + db::sql::ident(importedTable) + QStringLiteral(" (") +
         names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
         marks.join(QStringLiteral(", ")) + QStringLiteral(")"))
            .toUtf8();
    sqlite3* h = st.WorkConn.handle();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(h, sql.constData(), -1, &insert, nullptr) != SQLITE_OK) {
        r.failed = r.total;
        r.error = QString::fromUtf8(sqlite3_errmsg(h));
        return r;
    }
    const bool ownTransaction = !st.WorkConn.inTransaction() && st.WorkConn.beginTransaction();
    // A cursor of its own over the source's rows, so the grid's current row stays where it is.
    const db::RecordsetPtr rows = source->clone();
    rows->moveFirst();
    for (int row = 0; row < r.total && !rows->isEof(); ++row, rows->moveNext()) {
        if (!sink.progress(row, r.total)) {
            r.cancelled = true;
            break;
        }
        for (int i = 0; i < columns; ++i) {
            // The first D characters of the value, then blanks trimmed: the program's one
            // trimming rule (spaces only; line breaks inside a value are data). A null value
            // is imported as an empty text, as before.
            QStringView text = rows->valueView(i);
            if (widths[size_t(i)] > 0) text = formats::firstCodePoints(text, widths[size_t(i)]);
            text = db::trimBlanks(text);
            sqlite3_bind_text16(insert, i + 1, text.isNull() ? u"" : text.utf16(),
                                int(text.size() * 2), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert) == SQLITE_DONE) {
            ++r.copied;
        } else {
            ++r.failed;
            if (r.error.isEmpty()) r.error = QString::fromUtf8(sqlite3_errmsg(h));
        }
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
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
    return r;
}

bool reopenImported(core::AppState& st, ImportResult& result) {
    result.reopened = false;
    if (!result.sourceOpen) return false;
    // The source's rows go first: a list of a million rows is not held twice.
    st.RsSource.reset();
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
