#include "control/engine/merge.h"

#include "check/engine/report.h"
#include "check/engine/separation.h"
#include "core/changelog.h"
#include "core/workdb.h"
#include "db/formats/filemode.h"
#include "db/formats/mdb/mdb.h"
#include "db/sqltext.h"

#include <QDir>
#include <QSet>

#include <optional>

namespace control {

namespace {

const QString importedTable = QStringLiteral("ClienttableELS");

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString readOnlyAccess(const QString& path) {
    return QStringLiteral("此Access文件只能读取，不能写入：") + native(path);
}

// Ends the transaction a writer began on conn: rolled back when it failed (error, prefixed with
// failure) or was cancelled, committed otherwise. True when nothing of it stays written.
bool endTransaction(db::Connection& conn, QString& error, bool cancelled, const QString& failure) {
    if (!error.isEmpty() || cancelled) {
        conn.rollback();
        if (!error.isEmpty()) error = failure + error;
        return true;
    }
    if (conn.commit()) return false;
    error = failure + conn.errorString();
    return true;
}

// Writes every record of RsDup into dest, in one transaction of dest's connection, after a backup
// of userFile (when there is one, and backUp).
MergeResult writeDuplicates(core::AppState& st, const db::RecordsetPtr& dest,
                            const QString& userFile, core::ProgressSink& sink, bool backUp = true) {
    MergeResult r;
    const db::RecordsetPtr dup = st.RsDup;
    const int clientFields = dup->fieldCount() - 2; // No first, the running number last
    const int fields = std::min(dest->fieldCount(), clientFields);
    for (int c = fields + 1; c <= clientFields; ++c)
        r.leftOut << dup->fieldName(c);
    db::Connection conn = dest->connection();
    r.workingCopy = conn.isWorkingCopy();
    const int total = dup->recordCount();
    r.duplicateRows = total;
    if (total == 0) return r;

    if (!userFile.isEmpty() && !formats::mayWrite(QFileInfo(userFile))) {
        r.error = QStringLiteral("目标文件“%1”是只读的，没有合并任何记录。").arg(native(userFile));
        return r;
    }
    if (const core::Status s = userFile.isEmpty() || !backUp
                                   ? core::Status()
                                   : check::backupUserFile(userFile, &r.backupPath);
        !s.ok()) {
        r.error = s.error + QStringLiteral("\r\n为保证数据安全，没有合并任何记录。");
        return r;
    }
    if (!conn.beginTransaction()) {
        r.error = QStringLiteral("数据合并失败，没有写入任何记录：\r\n") + conn.errorString();
        return r;
    }
    // The records written, with their check fields, beside the backup (a user's file only).
    // (The values are read from the duplicates, whose columns are the table's.)
    std::optional<core::ChangeLog> log;
    QStringList names;
    const std::vector<int> logged = core::checkFieldColumns(st, *dup, &names);
    if (!userFile.isEmpty())
        log.emplace(QStringLiteral("合并"), userFile, dest->baseTable(), names, r.backupPath);
    // Nothing watching either recordset hears of each record: once, at the end.
    dest->suspendNotifications();
    dup->suspendNotifications();
    int position = 0;
    for (dup->moveFirst(); !dup->isEof(); dup->moveNext()) {
        ++position;
        bool ok = dest->addNew();
        for (int k = 0; ok && k < fields; ++k)
            ok = dest->setValue(k, dup->text(k + 1));
        if (ok) ok = dest->update();
        if (!ok) {
            const QString why = dest->errorString();
            dest->cancelUpdate();
            r.error = QStringLiteral("重复数据的第%1条记录（%2）不能写入表“%3”：\r\n%4")
                          .arg(position)
                          .arg(clientFields > 0 ? dup->text(1) : QString(), dest->baseTable(), why);
            break;
        }
        ++r.written;
        if (log)
            log->add(QStringLiteral("写入"), dest->recordCount(), core::valuesAt(*dup, logged));
        if (!sink.progress(r.written, total)) {
            r.cancelled = true;
            break;
        }
    }
    const bool undone = endTransaction(conn, r.error, r.cancelled,
                                       QStringLiteral("数据合并失败，没有写入任何记录：\r\n"));
    dest->resumeNotifications();
    dup->resumeNotifications();
    if (undone) {
        // The table is as it was: the recordset reads it again.
        r.written = 0;
        dest->requery();
    } else {
        core::setDuplicatesState(st.WorkConn, QStringLiteral("ClienttableCC"),
                                 core::DuplicatesState::Merged);
        if (QString why; log && !log->keep(&r.changeLogPath, &why)) r.notes << why;
        check::addLogToLastReport(st.WorkConn, r.changeLogPath);
    }
    if (dup->recordCount() > 0) dup->moveLast();
    return r;
}

} // namespace

QString dbaseTargetTable(const QString& fileTitle) {
    return fileTitle.left(std::max<qsizetype>(0, fileTitle.size() - 4));
}

core::Status openDbaseTarget(const core::AppState& st, const QString& path,
                             const QString& fileTitle, MergeTarget* target) {
    *target = MergeTarget();
    target->kind = TargetKind::Dbase;
    target->file = path;
    target->table = dbaseTargetTable(fileTitle);
    const QString dir = path.left(std::max<qsizetype>(0, path.size() - fileTitle.size() - 1));
    db::Connection conn;
    if (!conn.open(db::dbaseConnectionString(dir, st.SourceCodePage)))
        return QStringLiteral("无法打开目标文件“%1”：\r\n%2").arg(native(path), conn.errorString());
    if (target->table.isEmpty() || !conn.hasTable(target->table)) {
        const QString why = conn.skippedTables().isEmpty()
                                ? QStringLiteral("文件夹中没有这个数据表。")
                                : conn.skippedTables();
        return QStringLiteral("无法打开目标文件“%1”：\r\n%2").arg(native(path), why);
    }
    target->conn = conn;
    return {};
}

core::Status openAccessTarget(const core::AppState& st, const QString& path, MergeTarget* target,
                              QStringList* tables) {
    *target = MergeTarget();
    target->kind = TargetKind::Access;
    target->file = path;
    tables->clear();
    // mdbtools reads such a file; nothing on this platform writes it.
    if (mdb::isAccessFile(path)) return readOnlyAccess(path);
    db::Connection conn;
    if (!conn.open(db::accessConnectionString(path)))
        return QStringLiteral("无法打开目标文件“%1”：\r\n%2").arg(native(path), conn.errorString());
    if (conn.isWorkingCopy() || conn.isReadOnly()) return readOnlyAccess(path);
    // The working database's own tables are no targets: rows added to the template would be
    // copied into every table built from it.
    const bool workDb =
        QFileInfo(path).canonicalFilePath() == QFileInfo(st.WorkDbPath).canonicalFilePath();
    for (const db::SchemaRow& row : conn.tableSchema())
        if (row.tableType == QLatin1String("TABLE") &&
            !row.tableName.startsWith(QLatin1String("MSys")) &&
            !(workDb && core::isWorkingTable(row.tableName)))
            *tables << row.tableName;
    target->conn = conn;
    return {};
}

bool mergedBefore(const core::AppState& st) {
    return core::duplicatesState(st.WorkConn, QStringLiteral("ClienttableCC")) ==
           core::DuplicatesState::Merged;
}

core::Status mergeRefusal(const core::AppState& st) {
    const db::RecordsetPtr& dup = st.RsDup;
    if (!core::isOpen(dup)) return QStringLiteral("重复数据表没有打开，无法合并数据。");
    if (dup->isEditing() || dup->hasPendingChanges())
        return QStringLiteral("重复数据有未保存的修改，请先“保存修改”或“取消修改”，再合并数据。");
    return {};
}

core::RunResult removeRepeats(core::AppState& st, core::ProgressSink& sink) {
    core::RunResult r;
    r.error = mergeRefusal(st).error;
    if (!r.error.isEmpty()) return r;
    const db::RecordsetPtr dup = st.RsDup;
    const int compared = dup->fieldCount() - 2; // fields 1 .. count - 2
    const int total = dup->recordCount();
    r.duplicateRows = total;
    if (compared < 1 || total < 2) {
        if (total > 0) dup->moveFirst();
        return r;
    }
    db::Connection conn = dup->connection();
    if (!conn.beginTransaction()) {
        r.error = QStringLiteral("删除重复记录失败：\r\n") + conn.errorString();
        return r;
    }
    dup->suspendNotifications();
    // The records seen so far by their values, compared field by field: (AB, C) is not (A, BC).
    QSet<QStringList> seen;
    seen.reserve(total);
    int position = 0;
    int left = total;
    for (dup->moveFirst(); !dup->isEof(); dup->moveNext()) {
        ++position;
        QStringList values;
        values.reserve(compared);
        for (int c = 1; c <= compared; ++c)
            values << dup->text(c);
        if (seen.contains(values)) {
            if (!dup->deleteCurrent()) {
                r.error = dup->errorString();
                break;
            }
            ++r.deleted;
            sink.remaining(--left);
        } else {
            seen.insert(std::move(values));
        }
        if (!sink.progress(position, total)) {
            r.cancelled = true;
            break;
        }
    }
    const bool undone = endTransaction(conn, r.error, r.cancelled,
                                       QStringLiteral("删除重复记录失败，没有删除任何记录：\r\n"));
    dup->resumeNotifications();
    if (undone) {
        r.deleted = 0;
        dup->requery();
    }
    r.duplicateRows = dup->recordCount();
    if (r.duplicateRows > 0) dup->moveFirst();
    return r;
}

MergeResult mergeIntoCheckTable(core::AppState& st, core::ProgressSink& sink, bool backUp) {
    MergeResult r;
    r.error = mergeRefusal(st).error;
    if (!r.error.isEmpty()) return r;
    if (!core::isOpen(st.RsSource)) {
        r.error = QStringLiteral("查重数据库没有打开，无法合并数据。");
        return r;
    }
    const db::RecordsetPtr dup = st.RsDup;
    if (!dup->requery()) {
        r.error = QStringLiteral("无法读取重复数据表：\r\n") + dup->errorString();
        return r;
    }
    if (dup->recordCount() == 0) return r;
    if (core::duplicatesState(st.WorkConn, QStringLiteral("ClienttableCC")) ==
        core::DuplicatesState::Found) {
        r.error = QStringLiteral("这些重复记录还在查重数据库中（没有分离出去），合并会把它们"
                                 "再写入一次，没有合并任何记录。");
        return r;
    }
    if (dup->fieldCount() - 2 != st.RsSource->fieldCount()) {
        // The check kept fewer fields than the table has: the records would come back cut.
        r.error = QStringLiteral("重复数据表没有保存查重数据库的全部字段，为保证数据不丢失，"
                                 "没有合并任何记录。");
        return r;
    }
    return writeDuplicates(st, st.RsSource, check::userFileOfCheckTable(st), sink, backUp);
}

MergeResult mergeIntoTarget(core::AppState& st, const MergeTarget& target,
                            core::ProgressSink& sink) {
    MergeResult r;
    r.error = mergeRefusal(st).error;
    if (!r.error.isEmpty()) return r;
    const bool imported = target.kind == TargetKind::Imported;
    const db::Connection conn = imported ? st.WorkConn : target.conn;
    const QString table = imported ? importedTable : target.table;
    if (!conn.isOpen() || table.isEmpty()) {
        r.error = QStringLiteral("没有打开目标文件，请按“浏览”重新选择。");
        return r;
    }
    if (conn.isWorkingCopy()) {
        r.error = readOnlyAccess(target.file);
        return r;
    }
    auto dest = std::make_shared<db::Recordset>();
    dest->setCursorLocation(db::CursorLocation::Client);
    if (!dest->open(db::sql::selectAll(table), conn, db::CursorType::Dynamic,
                    db::LockType::Pessimistic) ||
        !dest->isOpen()) {
        r.error = QStringLiteral("无法打开目标表“%1”：\r\n%2").arg(table, dest->errorString());
        return r;
    }
    r = writeDuplicates(st, dest, check::userFileOfTable(st, conn, table), sink);
    if (r.ok()) st.RsSource = dest;
    return r;
}

} // namespace control
