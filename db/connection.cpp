#include "db/connection.h"

#include "db/connection_p.h"
#include "db/formats/filemode.h"
#include "db/formats/mdb/mdb.h"
#include "db/jetsql.h"
#include "db/mdbcopy.h"
#include "db/vtab/csv/csv_vtab.h"
#include "db/vtab/dbf/dbf_vtab.h"
#include "db/vtab/xls/xls_vtab.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace db {

ConnectionData::~ConnectionData() {
    sqlite3_finalize(dataVersionStmt);
    sqlite3_finalize(schemaVersionStmt);
    if (db) sqlite3_close_v2(db);
}

namespace {

// SQLite keeps a count of the memory it holds, under a lock taken at every allocation (each
// insert of an import makes several); nothing here reads the count. Set before SQLite starts.
[[maybe_unused]] const int memoryCountOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

// A table's journal is dropped once it holds this many changes; the recordsets that had not
// seen all of it then read their table again.
constexpr size_t maxJournal = size_t(1) << 20;

bool pragmaValue(sqlite3* db, sqlite3_stmt** stmt, const char* sql, qint64* value) {
    if (!*stmt && sqlite3_prepare_v2(db, sql, -1, stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
        return false;
    }
    const bool ok = sqlite3_step(*stmt) == SQLITE_ROW;
    if (ok) *value = sqlite3_column_int64(*stmt, 0);
    sqlite3_reset(*stmt);
    return ok;
}

} // namespace

TableChanges* ConnectionData::changesOf(const QString& table) {
    auto it = tableChanges.find(table.toLower());
    return it == tableChanges.end() ? nullptr : &it->second;
}

void ConnectionData::noteRowChange(const QString& table, qint64 rowid, const void* by, bool deleted,
                                   int changed) {
    layerChanges += changed;
    if (!journals()) return;
    if (!lastChanges || table != lastNoted) {
        lastChanges = &tableChanges[table.toLower()];
        lastNoted = table;
    }
    TableChanges& t = *lastChanges;
    if (t.changes.size() >= maxJournal) {
        t.first = t.end();
        t.changes.clear();
    }
    t.changes.push_back(RowChange{rowid, by, deleted});
}

ChangeStamp ConnectionData::stamp() {
    ChangeStamp s;
    if (!db || !journals()) return s;
    s.foreign = sqlite3_total_changes64(db) - layerChanges;
    s.epoch = epoch;
    s.valid = pragmaValue(db, &dataVersionStmt, "PRAGMA data_version", &s.dataVersion) &&
              pragmaValue(db, &schemaVersionStmt, "PRAGMA schema_version", &s.schemaVersion);
    return s;
}

QString ConnectionData::sqliteError(const QString& what) const {
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
    const QString msg = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库正被其他程序使用（已锁定），请稍后再试：%1").arg(path);
    case SQLITE_READONLY:
        return QStringLiteral("数据库文件是只读的，无法写入：%1").arg(path);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return QStringLiteral("文件不是有效的数据库或已损坏：%1").arg(path);
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满，无法写入：%1").arg(path);
    default:
        break;
    }
    if (msg.startsWith(QLatin1String("no such table")))
        return QStringLiteral("表不存在：%1（%2）").arg(msg.mid(15).trimmed(), what);
    if (msg.startsWith(QLatin1String("no such column")))
        return QStringLiteral("字段不存在：%1（%2）").arg(msg.mid(16).trimmed(), what);
    return QStringLiteral("数据库错误：%1（%2）").arg(msg, what);
}

bool ConnectionData::exec(const QString& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) {
        error = sqliteError(sql);
        return false;
    }
    return true;
}

QString accessConnectionString(const QString& path) {
    return QStringLiteral("driver={Microsoft Access Driver (*.mdb)};DBQ=") + path;
}

QString dbaseConnectionString(const QString& directory, const QString& codePage) {
    QString cs = QStringLiteral("Provider=MSDASQL.1;") +
                 QStringLiteral("Driver=Microsoft Visual FoxPro Driver;") +
                 QStringLiteral("SourceDB=") + directory + QStringLiteral(";") +
                 QStringLiteral("SourceType=DBF");
    if (!codePage.isEmpty()) cs += QStringLiteral(";CodePage=") + codePage;
    return cs;
}

QString excelConnectionString(const QString& path) {
    return QStringLiteral("Provider=MSDASQL.1;") +
           QStringLiteral("Driver={Microsoft Excel Driver (*.xls)}; ") + QStringLiteral("DBQ=") +
           path;
}

QString textConnectionString(const QString& path, const QString& codePage) {
    // A path with ";" in it goes in braces, so no part of it reads as the next entry.
    const QString dbq = path.contains(QLatin1Char(';')) && !path.contains(QLatin1Char('}'))
                            ? u'{' + path + u'}'
                            : path;
    QString cs = QStringLiteral("Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=") + dbq;
    if (!codePage.isEmpty()) cs += QStringLiteral(";CodePage=") + codePage;
    return cs;
}

ConnectionTarget parseConnectionString(const QString& cs, QString* error) {
    ConnectionTarget target;
    QString driver, provider, dbq, sourceDb, sourceType, dataSource;
    // Entries are separated by ";"; a value in braces may hold ";".
    int i = 0;
    while (i < cs.size()) {
        const int eq = cs.indexOf(QLatin1Char('='), i);
        if (eq < 0) break;
        const QString key = cs.mid(i, eq - i).trimmed().toLower();
        int j = eq + 1;
        while (j < cs.size() && cs[j] == QLatin1Char(' '))
            ++j;
        QString value;
        if (j < cs.size() && cs[j] == QLatin1Char('{')) {
            const int close = cs.indexOf(QLatin1Char('}'), j);
            value = cs.mid(j + 1, (close < 0 ? cs.size() : close) - j - 1);
            j = close < 0 ? int(cs.size()) : close + 1;
            const int semi = cs.indexOf(QLatin1Char(';'), j);
            j = semi < 0 ? int(cs.size()) : semi + 1;
        } else {
            // A path may itself hold "="; the value runs to the next ";" that starts a new
            // "key=" entry, or to the end.
            static const QRegularExpression next(QStringLiteral(";\\s*[A-Za-z ]+\\s*="));
            const QRegularExpressionMatch m = next.match(cs, j);
            const int end = m.hasMatch() ? int(m.capturedStart()) : int(cs.size());
            value = cs.mid(j, end - j);
            if (value.endsWith(QLatin1Char(';'))) value.chop(1);
            j = m.hasMatch() ? end + 1 : int(cs.size());
        }
        if (key == QLatin1String("driver"))
            driver = value;
        else if (key == QLatin1String("provider"))
            provider = value.trimmed();
        else if (key == QLatin1String("dbq"))
            dbq = value;
        else if (key == QLatin1String("sourcedb"))
            sourceDb = value;
        else if (key == QLatin1String("sourcetype"))
            sourceType = value.trimmed();
        else if (key == QLatin1String("data source"))
            dataSource = value.trimmed();
        else if (key == QLatin1String("codepage"))
            target.codePage = value.trimmed();
        i = j;
    }
    if (driver.contains(QLatin1String("Visual FoxPro"), Qt::CaseInsensitive) ||
        sourceType.compare(QLatin1String("DBF"), Qt::CaseInsensitive) == 0) {
        target.kind = SourceKind::Dbf;
        target.path = sourceDb;
    } else if (driver.contains(QLatin1String("Excel"), Qt::CaseInsensitive)) {
        target.kind = SourceKind::Xls;
        target.path = dbq;
    } else if (driver.contains(QLatin1String("Text"), Qt::CaseInsensitive)) {
        target.kind = SourceKind::Text;
        target.path = dbq;
    } else if (driver.contains(QLatin1String("Access"), Qt::CaseInsensitive)) {
        target.kind = SourceKind::Sqlite;
        target.path = dbq;
    } else if (provider.contains(QLatin1String("Jet"), Qt::CaseInsensitive) ||
               provider.contains(QLatin1String("ACE"), Qt::CaseInsensitive)) {
        target.kind = SourceKind::Sqlite;
        target.path = dataSource;
    }
    if (target.kind == SourceKind::None && error)
        *error = QStringLiteral("无法识别的连接字符串：%1").arg(cs);
    else if (target.path.isEmpty() && error) {
        *error = QStringLiteral("连接字符串中缺少文件或目录：%1").arg(cs);
        target.kind = SourceKind::None;
    }
    return target;
}

Connection::Connection() = default;

static bool startsWith(const QString& path, const char* magic, int offset, int len) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = f.read(offset + len);
    return head.size() == offset + len && head.mid(offset, len) == QByteArray(magic, len);
}

bool Connection::open(const QString& connectionString, const QString&, const QString&) {
    auto data = std::make_shared<ConnectionData>();
    data->connectionString = connectionString;
    d.reset();
    QString error;
    const ConnectionTarget target = parseConnectionString(connectionString, &error);
    auto fail = [&](const QString& message) {
        d = data; // keeps the error text; isOpen() is false
        if (data->db) {
            sqlite3_close_v2(data->db);
            data->db = nullptr;
        }
        data->kind = SourceKind::None;
        data->error = message;
        return false;
    };
    if (target.kind == SourceKind::None) return fail(error);
    data->path = target.path;
    const QFileInfo info(target.path);

    if (target.kind == SourceKind::Sqlite) {
        if (!info.exists()) return fail(QStringLiteral("找不到数据库文件：%1").arg(target.path));
        if (info.isDir())
            return fail(QStringLiteral("这是一个文件夹，不是数据库文件：%1").arg(target.path));
        if (!info.isReadable())
            return fail(QStringLiteral("无法读取数据库文件（没有权限）：%1").arg(target.path));
        if (startsWith(target.path, "SQLite format 3\0", 0, 16)) {
            const QByteArray p = QFile::encodeName(target.path);
            // A file marked read-only is opened so, whoever runs the program.
            const int mode = formats::mayWrite(info) ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
            if (sqlite3_open_v2(p.constData(), &data->db, mode | SQLITE_OPEN_FULLMUTEX, nullptr) !=
                SQLITE_OK)
                return fail(data->sqliteError(target.path));
            data->kind = SourceKind::Sqlite;
            data->readOnly = sqlite3_db_readonly(data->db, "main") == 1;
        } else if (mdb::isAccessFile(target.path)) {
            if (sqlite3_open_v2(":memory:", &data->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                nullptr) != SQLITE_OK)
                return fail(QStringLiteral("无法创建工作副本"));
            QString err;
            if (!mdb::copyToSqlite(target.path, data->db, &err)) return fail(err);
            data->kind = SourceKind::AccessCopy;
            data->workingCopy = true;
        } else {
            return fail(QStringLiteral("文件不是Access数据库：%1").arg(target.path));
        }
    } else if (target.kind == SourceKind::Dbf) {
        if (!info.exists() || !info.isDir())
            return fail(QStringLiteral("找不到dBase数据所在的文件夹：%1").arg(target.path));
        if (sqlite3_open_v2(":memory:", &data->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            return fail(QStringLiteral("无法打开dBase连接"));
        QString err;
        if (!vtab::registerDbfModule(data->db, &err) ||
            !vtab::attachDbfDirectory(data->db, target.path, target.codePage, &err))
            return fail(err);
        data->skipped = err;
        data->kind = SourceKind::Dbf;
    } else if (target.kind == SourceKind::Xls) {
        if (!info.exists()) return fail(QStringLiteral("找不到Excel文件：%1").arg(target.path));
        if (sqlite3_open_v2(":memory:", &data->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            return fail(QStringLiteral("无法打开Excel连接"));
        std::vector<vtab::SheetSchemaRow> rows;
        QString err;
        const QString suffix = info.suffix().toLower();
        if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm")) {
            if (!vtab::attachXlsxWorkbook(data->db, target.path, &rows, &data->skipped, &err))
                return fail(err);
        } else if (!vtab::attachXlsWorkbook(data->db, target.path, &rows, &err)) {
            return fail(err);
        }
        for (const auto& r : rows)
            data->fixedSchema.push_back({r.tableName, r.tableType});
        data->kind = SourceKind::Xls;
        data->readOnly = true;
    } else if (target.kind == SourceKind::Text) {
        if (!info.exists()) return fail(QStringLiteral("找不到文本文件：%1").arg(target.path));
        if (sqlite3_open_v2(":memory:", &data->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            return fail(QStringLiteral("无法打开文本文件连接"));
        QString err, table;
        if (!vtab::attachTextFile(data->db, target.path, target.codePage, &table, nullptr, &err))
            return fail(err);
        data->fixedSchema.push_back({table, QStringLiteral("TABLE")});
        data->kind = SourceKind::Text;
        data->readOnly = true;
    }
    sqlite3_busy_timeout(data->db, 3000);
    sqlite3_extended_result_codes(data->db, 1);
    d = data;
    return true;
}

void Connection::close() {
    d.reset();
}

bool Connection::isOpen() const {
    return d && d->db;
}

QString Connection::errorString() const {
    return d ? d->error : QString();
}

SourceKind Connection::kind() const {
    return d ? d->kind : SourceKind::None;
}

bool Connection::isWorkingCopy() const {
    return d && d->workingCopy;
}

bool Connection::isReadOnly() const {
    return d && d->readOnly;
}

QString Connection::skippedTables() const {
    return d ? d->skipped : QString();
}

QString Connection::path() const {
    return d ? d->path : QString();
}

QString Connection::connectionString() const {
    return d ? d->connectionString : QString();
}

sqlite3* Connection::handle() const {
    return d ? d->db : nullptr;
}

static bool notOpen(const std::shared_ptr<ConnectionData>& d) {
    if (d && d->db) return false;
    if (d) d->error = QStringLiteral("数据库连接没有打开");
    return true;
}

// Creates the target of "Select ... Into" with the declared types (and sizes) of the selected
// columns, then copies the rows; all or nothing.
static bool selectInto(ConnectionData& d, const JetStatement& st) {
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = st.sql.toUtf8();
    if (sqlite3_prepare_v2(d.db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        d.error = d.sqliteError(st.sql);
        return false;
    }
    QStringList cols;
    QStringList seen;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        if (seen.contains(name, Qt::CaseInsensitive)) {
            sqlite3_finalize(stmt);
            d.error = QStringLiteral("新表中有重复的字段名：%1").arg(name);
            return false;
        }
        seen << name;
        const char* decl = sqlite3_column_decltype(stmt, i);
        QString type = decl ? QString::fromUtf8(decl) : QStringLiteral("TEXT");
        const QString upper = type.toUpper();
        QString def = sqliteIdent(name) + QLatin1Char(' ') + type;
        if (upper.contains(QLatin1String("CHAR")) || upper.contains(QLatin1String("TEXT")) ||
            upper.contains(QLatin1String("CLOB")) || upper.contains(QLatin1String("MEMO")))
            def += QLatin1String(" COLLATE NOCASE");
        cols << def;
    }
    sqlite3_finalize(stmt);
    const QString target = sqliteIdent(st.intoTable);
    if (!d.exec(QStringLiteral("SAVEPOINT select_into"))) return false;
    const bool ok =
        d.exec(
            QStringLiteral("CREATE TABLE %1 (%2)").arg(target, cols.join(QLatin1String(", ")))) &&
        d.exec(QStringLiteral("INSERT INTO %1 %2").arg(target, st.sql));
    if (!ok) {
        const QString err = d.error;
        d.exec(QStringLiteral("ROLLBACK TO select_into"));
        d.exec(QStringLiteral("RELEASE select_into"));
        d.error = err;
        return false;
    }
    return d.exec(QStringLiteral("RELEASE select_into"));
}

namespace {
IntoFileHandler& intoFileHandler() {
    static IntoFileHandler handler;
    return handler;
}
} // namespace

void setIntoFileHandler(IntoFileHandler handler) {
    intoFileHandler() = std::move(handler);
}

bool Connection::execute(const QString& jetSql) {
    if (notOpen(d)) return false;
    if (isIntoFileStatement(jetSql)) { // select ... into [Excel 8.0;database=...].sheet
        QString error;
        const bool ok =
            intoFileHandler()
                ? intoFileHandler()(*this, jetSql, &error)
                : (error = QStringLiteral("写入文件的语句无法执行：%1").arg(jetSql), false);
        d->error = error;
        return ok;
    }
    JetStatement st;
    QString error;
    if (!translateJet(jetSql, &st, &error)) {
        d->error = error;
        return false;
    }
    if (st.kind == JetStatement::SelectInto) {
        if (hasTable(st.intoTable)) {
            d->error = QStringLiteral("表已存在：%1").arg(st.intoTable);
            return false;
        }
        return selectInto(*d, st);
    }
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = st.sql.toUtf8();
    if (sqlite3_prepare_v2(d->db, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        d->error = d->sqliteError(jetSql);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        d->error = d->sqliteError(jetSql);
        sqlite3_finalize(stmt);
        return false;
    }
    sqlite3_finalize(stmt);
    d->error.clear();
    return true;
}

std::vector<SchemaRow> Connection::tableSchema() const {
    std::vector<SchemaRow> rows;
    if (!d || !d->db) return rows;
    if (d->kind == SourceKind::Xls || d->kind == SourceKind::Text) return d->fixedSchema;
    sqlite3_stmt* stmt = nullptr;
    const char* sql = "SELECT name, type FROM sqlite_master WHERE type IN ('table','view') "
                      "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid";
    if (sqlite3_prepare_v2(d->db, sql, -1, &stmt, nullptr) != SQLITE_OK) return rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const QString name =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        const QString type =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
        QString tableType =
            type == QLatin1String("view") ? QStringLiteral("VIEW") : QStringLiteral("TABLE");
        if (name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
            tableType = QStringLiteral("SYSTEM TABLE");
        rows.push_back({name, tableType});
    }
    sqlite3_finalize(stmt);
    return rows;
}

qint64 Connection::rowCount(const QString& table) const {
    if (!d || !d->db) return -1;
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = (QStringLiteral("SELECT count(*) FROM ") + sqliteIdent(table)).toUtf8();
    if (sqlite3_prepare_v2(d->db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK) return -1;
    const qint64 n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    return n;
}

QStringList Connection::columnNames(const QString& table) const {
    QStringList names;
    if (!d || !d->db) return names;
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql =
        (QStringLiteral("SELECT * FROM ") + sqliteIdent(table) + QStringLiteral(" LIMIT 0"))
            .toUtf8();
    if (sqlite3_prepare_v2(d->db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK) return names;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        names << QString::fromUtf8(sqlite3_column_name(stmt, i));
    sqlite3_finalize(stmt);
    return names;
}

bool Connection::hasTable(const QString& name) const {
    if (!d || !d->db) return false;
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "SELECT 1 FROM sqlite_master WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(d->db, sql, -1, &stmt, nullptr) != SQLITE_OK) return false;
    const QByteArray n = name.toUtf8();
    sqlite3_bind_text(stmt, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
    const bool found = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return found;
}

void Connection::setScratch() {
    if (notOpen(d) || d->kind != SourceKind::Sqlite) return;
    sqlite3_exec(d->db, "PRAGMA synchronous = OFF; PRAGMA journal_mode = MEMORY", nullptr, nullptr,
                 nullptr);
}

bool Connection::beginTransaction() {
    if (notOpen(d)) return false;
    if (d->transactionDepth++ > 0) return true;
    if (d->exec(QStringLiteral("BEGIN"))) return true;
    d->transactionDepth = 0;
    return false;
}

bool Connection::commit() {
    if (notOpen(d) || d->transactionDepth == 0) return false;
    if (--d->transactionDepth > 0) return true;
    if (d->exec(QStringLiteral("COMMIT"))) return true;
    const QString err = d->error;
    d->forgetChanges();
    d->exec(QStringLiteral("ROLLBACK"));
    d->error = err;
    return false;
}

void Connection::rollback() {
    if (notOpen(d) || d->transactionDepth == 0) return;
    d->transactionDepth = 0;
    d->forgetChanges();
    d->exec(QStringLiteral("ROLLBACK"));
}

bool Connection::inTransaction() const {
    return d && d->transactionDepth > 0;
}

} // namespace db
