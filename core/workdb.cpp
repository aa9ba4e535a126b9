#include "core/workdb.h"

#include "db/sqltext.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

namespace core {

Status openWorkDatabase(AppState& st, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("找不到工作数据库文件：\n%1\n\n它应当和本程序放在同一个文件夹中。"
                              "程序无法启动。")
            .arg(shown);
    if (!st.WorkConn.open(db::accessConnectionString(path)))
        return QStringLiteral("工作数据库文件无法打开：\n%1\n\n它不是有效的数据库文件（%2）。"
                              "程序无法启动。")
            .arg(shown, st.WorkConn.errorString());
    QString error;
    if (st.WorkConn.isWorkingCopy()) {
        error = QStringLiteral("工作数据库文件：\n%1\n\n是 Access 原始文件，本程序不能写入它。"
                               "请使用随程序提供的工作数据库。程序无法启动。")
                    .arg(shown);
    } else if (st.WorkConn.isReadOnly() || !info.isWritable() ||
               !QFileInfo(info.absolutePath()).isWritable()) {
        // Every check writes to the working tables: a database that cannot be written would
        // lose the results of the first check.
        error = QStringLiteral("工作数据库文件是只读的，无法写入：\n%1\n\n请把程序复制到可以写入的"
                               "文件夹后再运行（不要在光盘或只读位置上直接运行）。程序无法启动。")
                    .arg(shown);
    } else {
        QStringList missing;
        for (const QString& table : {QStringLiteral("ClienttableDBF"),
                                     QStringLiteral("empty_table"), QStringLiteral("yb_table")})
            if (!st.WorkConn.hasTable(table)) missing << table;
        if (!missing.isEmpty())
            error = QStringLiteral("工作数据库文件已损坏或不完整：\n%1\n\n缺少必需的表：%2。"
                                   "程序无法启动。")
                        .arg(shown, missing.join(QStringLiteral("、")));
    }
    if (!error.isEmpty()) st.WorkConn.close();
    return error;
}

void setCheckFields(AppState& st, const QStringList& checkFields) {
    const int count = int(std::min<qsizetype>(checkFields.size(), 5));
    st.CheckFieldCount = qint16(count);
    for (int k = 0; k < count; ++k)
        st.CheckFields[k] = checkFields[k];
}

Status prepareCheck(AppState& st, CheckMode mode) {
    const QString dupTable = QStringLiteral("ClienttableCC");
    if (const Status s = runStatement(st.RsDup, db::sql::deleteAll(dupTable), st.WorkConn); !s.ok())
        return QStringLiteral("无法清空重复数据表 ClienttableCC，查重没有开始。\n原因：%1\n"
                              "请重新打开数据库后再试。")
            .arg(s.error);
    st.RsDup = std::make_shared<db::Recordset>();
    st.RsDup->setCursorLocation(db::CursorLocation::Client);
    if (!st.RsDup->open(db::sql::selectAll(dupTable), st.WorkConn, db::CursorType::Keyset,
                        db::LockType::BatchOptimistic))
        return QStringLiteral("无法打开重复数据表 ClienttableCC，查重没有开始。\n原因：%1")
            .arg(st.RsDup->errorString());
    for (const QString& kept :
         {QStringLiteral("ClienttableWhy"), QStringLiteral("ClienttableReport")})
        if (st.WorkConn.hasTable(kept))
            runStatement(st.RsWork, QStringLiteral("Delete * From ") + kept, st.WorkConn);
    setCheckMode(st, mode);
    // The groups this check finds belong to the table that is open.
    setTableOwner(st.WorkConn, dupTable, sourceLabel(st));
    return {};
}

namespace {

const QString ownerTable = QStringLiteral("ClienttableOwner");

bool runSql(const db::Connection& work, const char* sql, const QString& a = {},
            const QString& b = {}, QString* result = nullptr) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(work.handle(), sql, -1, &stmt, nullptr) != SQLITE_OK) return false;
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    if (sqlite3_bind_parameter_count(stmt) >= 1)
        sqlite3_bind_text(stmt, 1, x.constData(), int(x.size()), SQLITE_TRANSIENT);
    if (sqlite3_bind_parameter_count(stmt) >= 2)
        sqlite3_bind_text(stmt, 2, y.constData(), int(y.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW && result)
        *result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

// The owner records live in a small table of their own, made when first needed (a working
// database of an older build of the program has none, or one without the state column).
bool ensureOwnerTable(const db::Connection& work) {
    if (!work.isOpen() || !runSql(work, "CREATE TABLE IF NOT EXISTS ClienttableOwner ("
                                        "[工作表] VARCHAR(32) PRIMARY KEY, [数据表] TEXT, "
                                        "[状态] TEXT)"))
        return false;
    return work.columnNames(ownerTable).contains(QStringLiteral("状态")) ||
           runSql(work, "ALTER TABLE ClienttableOwner ADD COLUMN [状态] TEXT");
}

const char* stateText(DuplicatesState state) {
    switch (state) {
    case DuplicatesState::Found:
        return "已查重";
    case DuplicatesState::Separated:
        return "已分离";
    case DuplicatesState::Merged:
        return "已合并";
    }
    return "";
}

} // namespace

bool isWorkingTable(const QString& name) {
    static const QStringList own = {"ClienttableDBF",   "empty_table",   "yb_table",
                                    "ClienttableOwner", "ClienttableCC", "ClienttableDD",
                                    "tempTable1",       "tempTable2",    "ClienttableWhy"};
    return own.contains(name, Qt::CaseInsensitive);
}

QString sourceLabel(const AppState& st) {
    QString table = st.SourceTable;
    if (table.startsWith(QLatin1Char('[')) && table.endsWith(QLatin1String("$]")))
        table = table.mid(1, table.size() - 3); // an Excel sheet
    return QStringLiteral("“%1”中的表“%2”").arg(QDir::toNativeSeparators(st.SourcePath), table);
}

QString tableOwner(const db::Connection& work, const QString& table) {
    QString owner;
    if (!work.hasTable(ownerTable)) return owner;
    runSql(work, "SELECT [数据表] FROM ClienttableOwner WHERE [工作表] = ?1", table, {}, &owner);
    return owner;
}

void setTableOwner(const db::Connection& work, const QString& table, const QString& label) {
    if (!ensureOwnerTable(work)) return;
    runSql(work,
           "INSERT OR REPLACE INTO ClienttableOwner ([工作表], [数据表], [状态]) "
           "VALUES (?1, ?2, '已查重')",
           table, label);
}

DuplicatesState duplicatesState(const db::Connection& work, const QString& table) {
    QString state;
    if (work.hasTable(ownerTable) && work.columnNames(ownerTable).contains(QStringLiteral("状态")))
        runSql(work, "SELECT [状态] FROM ClienttableOwner WHERE [工作表] = ?1", table, {}, &state);
    for (const auto s : {DuplicatesState::Found, DuplicatesState::Merged})
        if (state == QString::fromUtf8(stateText(s))) return s;
    return DuplicatesState::Separated;
}

void setDuplicatesState(const db::Connection& work, const QString& table, DuplicatesState state) {
    if (!ensureOwnerTable(work)) return;
    runSql(work, "INSERT OR IGNORE INTO ClienttableOwner ([工作表]) VALUES (?1)", table);
    runSql(work, "UPDATE ClienttableOwner SET [状态] = ?2 WHERE [工作表] = ?1", table,
           QString::fromUtf8(stateText(state)));
}

namespace {

// The owner and the state of one working table given to another (a backup, a restore).
void copyOwner(const db::Connection& work, const QString& from, const QString& to) {
    const DuplicatesState state = duplicatesState(work, from);
    setTableOwner(work, to, tableOwner(work, from));
    setDuplicatesState(work, to, state);
}

} // namespace

Status backupDuplicates(AppState& st, bool onlyRows) {
    const QString cc = QStringLiteral("ClienttableCC"), dd = QStringLiteral("ClienttableDD");
    if (onlyRows && st.WorkConn.rowCount(cc) <= 0) return {};
    st.WorkConn.execute(db::sql::dropTable(dd));
    const Status s =
        runStatement(st.RsWork, db::sql::selectInto(QStringLiteral("*"), dd, cc), st.WorkConn);
    if (s.ok()) copyOwner(st.WorkConn, cc, dd);
    return s;
}

Restore restoreDuplicates(AppState& st, QString* owner) {
    const QString cc = QStringLiteral("ClienttableCC"), dd = QStringLiteral("ClienttableDD");
    db::Connection& work = st.WorkConn;
    if (!work.hasTable(dd)) return Restore::NoBackup;
    // The working tables are built for the table that is open: a backup of other columns
    // belongs to another table.
    if (isOpen(st.RsSource) && work.hasTable(cc)) {
        const QStringList now = work.columnNames(cc), saved = work.columnNames(dd);
        bool same = now.size() == saved.size();
        for (qsizetype i = 0; same && i < now.size(); ++i)
            same = now[i].compare(saved[i], Qt::CaseInsensitive) == 0;
        if (!same) {
            *owner = tableOwner(work, dd);
            if (owner->isEmpty())
                *owner = QStringLiteral("字段为 %1 的数据表")
                             .arg(saved.mid(1, saved.size() - 2).join(QStringLiteral("、")));
            return Restore::OtherTable;
        }
    }
    const bool own = !work.inTransaction() && work.beginTransaction();
    const bool dropped =
        runStatement(st.RsWork, db::sql::dropTable(cc), work).ok() || !work.hasTable(cc);
    const bool copied =
        dropped &&
        runStatement(st.RsWork, db::sql::selectInto(QStringLiteral("*"), cc, dd), work).ok();
    if (own) {
        if (copied)
            work.commit();
        else
            work.rollback();
    }
    if (!copied) return Restore::Failed;
    copyOwner(work, dd, cc);
    return Restore::Restored;
}

Status writeReasons(const db::Connection& work, const std::vector<GroupReason>& reasons) {
    sqlite3* h = work.handle();
    auto failed = [&] {
        return Status(QStringLiteral("无法保存查重依据：") + QString::fromUtf8(sqlite3_errmsg(h)));
    };
    if (!runSql(work, "CREATE TABLE IF NOT EXISTS ClienttableWhy ([流水号] INTEGER PRIMARY KEY, "
                      "[组号] INTEGER, [相似记录] INTEGER, [得分] REAL, [依据] TEXT)") ||
        !runSql(work, "SAVEPOINT reasons"))
        return failed();
    sqlite3_stmt* stmt = nullptr;
    bool ok = runSql(work, "DELETE FROM ClienttableWhy") &&
              sqlite3_prepare_v2(h, "INSERT INTO ClienttableWhy VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                                 &stmt, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < reasons.size(); ++i) {
        const GroupReason& r = reasons[i];
        sqlite3_bind_int(stmt, 1, r.running);
        sqlite3_bind_int(stmt, 2, r.group);
        sqlite3_bind_int(stmt, 3, r.partner);
        sqlite3_bind_double(stmt, 4, r.score);
        sqlite3_bind_text16(stmt, 5, r.basis.utf16(), int(r.basis.size() * 2), SQLITE_TRANSIENT);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    const Status result = ok ? Status() : failed();
    runSql(work, ok ? "RELEASE reasons" : "ROLLBACK TO reasons");
    if (!ok) runSql(work, "RELEASE reasons");
    return result;
}

Status keepReportText(const db::Connection& work, const QString& text) {
    if (work.isOpen() &&
        runSql(work, "CREATE TABLE IF NOT EXISTS ClienttableReport ([报告] TEXT)") &&
        runSql(work, "SAVEPOINT report")) {
        const bool ok = runSql(work, "DELETE FROM ClienttableReport") &&
                        runSql(work, "INSERT INTO ClienttableReport VALUES (?1)", text);
        if (!ok) runSql(work, "ROLLBACK TO report");
        runSql(work, "RELEASE report");
        if (ok) return {};
    }
    return QStringLiteral("无法保存查重报告：") + QString::fromUtf8(sqlite3_errmsg(work.handle()));
}

QString reportText(const db::Connection& work) {
    QString text;
    if (work.isOpen() && work.hasTable(QStringLiteral("ClienttableReport")))
        runSql(work, "SELECT [报告] FROM ClienttableReport", {}, {}, &text);
    return text;
}

QHash<int, GroupReason> readReasons(const db::Connection& work) {
    QHash<int, GroupReason> reasons;
    if (!work.isOpen() || !work.hasTable(QStringLiteral("ClienttableWhy"))) return reasons;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(
            work.handle(),
            "SELECT [流水号], [组号], [相似记录], [得分], [依据] FROM ClienttableWhy", -1, &stmt,
            nullptr) != SQLITE_OK)
        return reasons;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        GroupReason r;
        r.running = sqlite3_column_int(stmt, 0);
        r.group = sqlite3_column_int(stmt, 1);
        r.partner = sqlite3_column_int(stmt, 2);
        r.score = sqlite3_column_double(stmt, 3);
        r.basis = QString::fromUtf16(static_cast<const char16_t*>(sqlite3_column_text16(stmt, 4)),
                                     sqlite3_column_bytes16(stmt, 4) / 2);
        reasons.insert(r.running, r);
    }
    sqlite3_finalize(stmt);
    return reasons;
}

} // namespace core
