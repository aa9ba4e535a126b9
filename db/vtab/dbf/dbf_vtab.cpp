// SQLite virtual-table module "dbf": one dBase/FoxPro table as an SQL table.
//
// Usage:
//   CREATE VIRTUAL TABLE "name" USING dbf('<path of the .dbf file>', '<code page>');
//   SELECT rowid, * FROM "name";
//   INSERT INTO "name"(NAME, AGE) VALUES ('王小明', '32');
//   UPDATE "name" SET AGE = '33' WHERE rowid = 5;
//   DELETE FROM "name" WHERE rowid = 5;
//
// The code page argument may be empty or left out; it names the code page of a table that
// declares none (no language-driver byte, no .cpg file): "GBK", "UTF-8", "936", "1252"...;
// without it such a table is read in the code page its text is guessed to be in.
// Columns are the table's fields (without _NullFlags), with declared types the database layer
// reads sizes from (VARCHAR(20), NUMERIC(10,2), DATE...); values are text. rowid is the physical
// record number (1-based); deleted records are not rows. INSERT appends a record, DELETE sets
// the deletion flag, UPDATE rewrites the record in place. Every change of a transaction is
// journalled: a failed statement or ROLLBACK restores the files, COMMIT (the end of each
// statement outside a transaction) writes the header so other programs see the change.
// DROP TABLE only detaches the table; the file stays.
#include "db/vtab/dbf/dbf_vtab.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/sqlident.h"
#include "db/vtab/vtab_util.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vtab {

namespace {

using formats::dbf::Table;
using formats::dbf::Value;

struct DbfVtab {
    sqlite3_vtab base; // first: SQLite sees only this part
    std::unique_ptr<Table> table;
    std::vector<int> columns; // field index of each column
    sqlite3* db = nullptr;
    QString name; // the table's name in the handle, folded
};

// The module's tables by handle and name, for the readers that load a whole table at once.
// Never destroyed: a connection held by a static object closes its tables after the other
// statics are gone.
std::map<std::pair<sqlite3*, QString>, DbfVtab*>& registry() {
    static auto* tables = new std::map<std::pair<sqlite3*, QString>, DbfVtab*>;
    return *tables;
}
std::mutex& registryLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

struct DbfCursor {
    sqlite3_vtab_cursor base; // first
    quint32 recno = 0;
    quint32 last = 0;
    QByteArray record;
    bool eof = true;
    // Records read ahead by this cursor: a scan reads the file in chunks, a lookup one record.
    QByteArray chunk;
    quint32 chunkFirst = 0, chunkCount = 0;
};

constexpr qint64 kReadAheadBytes = 256 * 1024;

DbfVtab* vt(sqlite3_vtab* p) {
    return reinterpret_cast<DbfVtab*>(p);
}
DbfCursor* cur(sqlite3_vtab_cursor* p) {
    return reinterpret_cast<DbfCursor*>(p);
}

// A module argument as written in CREATE VIRTUAL TABLE: 'text', "text" or a bare word.
QString unquote(const char* arg) {
    QString s = QString::fromUtf8(arg).trimmed();
    if (s.size() >= 2 && (s.front() == QLatin1Char('\'') || s.front() == QLatin1Char('"')) &&
        s.back() == s.front()) {
        const QChar q = s.front();
        s = s.mid(1, s.size() - 2);
        s.replace(QString(2, q), QString(q));
    }
    return s;
}

QString sqlString(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

int fail(sqlite3_vtab* base, const QString& message, int code = SQLITE_ERROR) {
    setError(base, message);
    return code;
}

int dbfConnect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out,
               char** err) {
    if (argc < 4) {
        *err = sqlite3_mprintf("%s",
                               QStringLiteral("dbf 表需要 .dbf 文件的路径").toUtf8().constData());
        return SQLITE_ERROR;
    }
    const QString path = unquote(argv[3]);
    const QString cpText = argc > 4 ? unquote(argv[4]) : QString();
    formats::dbf::OpenOptions options;
    if (!cpText.isEmpty()) {
        options.fallbackCodePage = formats::dbf::parseCodePage(cpText);
        if (!options.fallbackCodePage.isValid()) {
            *err = sqlite3_mprintf(
                "%s", QStringLiteral("无法识别的代码页：%1").arg(cpText).toUtf8().constData());
            return SQLITE_ERROR;
        }
    }
    auto table = std::make_unique<Table>();
    QString error;
    if (!table->open(path, options, &error)) {
        *err = sqlite3_mprintf("%s", error.toUtf8().constData());
        return SQLITE_ERROR;
    }
    auto* v = new DbfVtab{};
    v->columns = table->visibleFields();
    QStringList columns;
    for (int i : v->columns) {
        const formats::dbf::Field& f = table->fields()[size_t(i)];
        columns << formats::sqliteIdent(f.name) + QLatin1Char(' ') + f.sqlType();
    }
    v->table = std::move(table);
    v->db = db;
    v->name = QString::fromUtf8(argv[2]).toCaseFolded();
    const QByteArray sql =
        QStringLiteral("CREATE TABLE x(%1)").arg(columns.join(QLatin1String(", "))).toUtf8();
    const int rc = sqlite3_declare_vtab(db, sql.constData());
    if (rc != SQLITE_OK) {
        *err = sqlite3_mprintf(
            "%s", QStringLiteral("无法建立表 %1 的列：%2")
                      .arg(QDir::toNativeSeparators(path), QString::fromUtf8(sqlite3_errmsg(db)))
                      .toUtf8()
                      .constData());
        delete v;
        return rc;
    }
    *out = &v->base;
    const std::lock_guard<std::mutex> guard(registryLock());
    registry()[{v->db, v->name}] = v;
    return SQLITE_OK;
}

int dbfDisconnect(sqlite3_vtab* base) {
    {
        const std::lock_guard<std::mutex> guard(registryLock());
        const auto it = registry().find({vt(base)->db, vt(base)->name});
        if (it != registry().end() && it->second == vt(base)) registry().erase(it);
    }
    delete vt(base);
    return SQLITE_OK;
}

int dbfBestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable && c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = 1; // one record by its number
            info->estimatedCost = 1;
            info->estimatedRows = 1;
            info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
            return SQLITE_OK;
        }
    }
    const double rows = std::max<double>(vt(base)->table->recordCount(), 1);
    info->idxNum = 0;
    info->estimatedCost = rows * 10;
    info->estimatedRows = sqlite3_int64(rows);
    return SQLITE_OK;
}

int dbfOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    auto* c = new DbfCursor{};
    *out = &c->base;
    return SQLITE_OK;
}

int dbfClose(sqlite3_vtab_cursor* base) {
    delete cur(base);
    return SQLITE_OK;
}

// Moves to the next record that is not deleted.
int advance(DbfCursor* c) {
    Table& table = *vt(c->base.pVtab)->table;
    const int length = table.recordLength();
    while (c->recno < c->last) {
        ++c->recno;
        if (c->recno < c->chunkFirst || c->recno >= c->chunkFirst + c->chunkCount) {
            const quint32 want =
                quint32(std::clamp<qint64>(kReadAheadBytes / length, 1, c->last - c->recno + 1));
            QString error;
            c->chunkFirst = c->recno;
            c->chunkCount = table.readRecords(c->recno, want, &c->chunk, &error);
            if (c->chunkCount == 0) {
                c->eof = true;
                return fail(c->base.pVtab, error, SQLITE_IOERR);
            }
        }
        const char* p = c->chunk.constData() + qsizetype(c->recno - c->chunkFirst) * length;
        if (*p != '*') {
            c->record.resize(length);
            std::memcpy(c->record.data(), p, size_t(length));
            c->eof = false;
            return SQLITE_OK;
        }
    }
    c->eof = true;
    return SQLITE_OK;
}

int dbfFilter(sqlite3_vtab_cursor* base, int idxNum, const char*, int argc, sqlite3_value** argv) {
    DbfCursor* c = cur(base);
    Table& table = *vt(base->pVtab)->table;
    QString error;
    if (!table.refresh(&error)) return fail(base->pVtab, error);
    c->eof = true;
    c->chunkCount = 0; // every statement reads the file afresh
    if (idxNum == 1 && argc == 1) {
        sqlite3_value* v = argv[0];
        if (sqlite3_value_numeric_type(v) != SQLITE_INTEGER) return SQLITE_OK;
        const sqlite3_int64 rowid = sqlite3_value_int64(v);
        if (rowid < 1 || rowid > sqlite3_int64(table.recordCount())) return SQLITE_OK;
        c->recno = quint32(rowid - 1);
        c->last = quint32(rowid);
        return advance(c);
    }
    c->recno = 0;
    c->last = table.recordCount();
    return advance(c);
}

int dbfNext(sqlite3_vtab_cursor* base) {
    return advance(cur(base));
}

int dbfEof(sqlite3_vtab_cursor* base) {
    return cur(base)->eof;
}

int dbfColumn(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int i) {
    DbfVtab* v = vt(base->pVtab);
    // An UPDATE that leaves this column alone does not need its value (memo reads saved).
    if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;
    if (i < 0 || size_t(i) >= v->columns.size()) return SQLITE_OK;
    const Value value = v->table->value(cur(base)->record, v->columns[size_t(i)]);
    switch (value.kind) {
    case Value::Kind::Null:
        sqlite3_result_null(ctx);
        break;
    case Value::Kind::Text:
        resultText(ctx, value.text);
        break;
    case Value::Kind::Bytes:
        sqlite3_result_blob(ctx, value.bytes.constData(), int(value.bytes.size()),
                            SQLITE_TRANSIENT);
        break;
    }
    return SQLITE_OK;
}

int dbfRowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    *rowid = cur(base)->recno;
    return SQLITE_OK;
}

std::optional<Value> toValue(sqlite3_value* v, bool binaryField) {
    if (sqlite3_value_nochange(v)) return std::nullopt;
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return Value::null();
    case SQLITE_BLOB: {
        const QByteArray bytes(static_cast<const char*>(sqlite3_value_blob(v)),
                               sqlite3_value_bytes(v));
        return binaryField ? Value::fromBytes(bytes) : Value::fromText(QString::fromUtf8(bytes));
    }
    default:
        return Value::fromText(valueText(v, nullptr));
    }
}

int writeFailed(sqlite3_vtab* base, const QString& error) {
    return fail(base, error, vt(base)->table->isReadOnly() ? SQLITE_READONLY : SQLITE_ERROR);
}

int dbfUpdate(sqlite3_vtab* base, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
    DbfVtab* v = vt(base);
    Table& table = *v->table;
    QString error;
    auto recordNumber = [&](sqlite3_value* value) -> qint64 {
        const sqlite3_int64 n = sqlite3_value_int64(value);
        return n >= 1 && n <= sqlite3_int64(table.recordCount()) ? n : 0;
    };
    if (argc == 1) {
        const qint64 recno = recordNumber(argv[0]);
        if (!recno)
            return fail(base, QStringLiteral("记录 %1 不存在").arg(sqlite3_value_int64(argv[0])));
        return table.deleteRecord(quint32(recno), &error) ? SQLITE_OK : writeFailed(base, error);
    }
    std::vector<std::optional<Value>> values(table.fields().size());
    for (size_t i = 0; i < v->columns.size() && int(i) + 2 < argc; ++i) {
        const int field = v->columns[i];
        values[size_t(field)] = toValue(argv[i + 2], table.fields()[size_t(field)].isBinary());
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        if (sqlite3_value_type(argv[1]) != SQLITE_NULL)
            return fail(base, QStringLiteral("插入记录时不能指定记录号（rowid）"));
        quint32 recno = 0;
        if (!table.appendRecord(values, &recno, &error)) return writeFailed(base, error);
        *rowid = recno;
        return SQLITE_OK;
    }
    if (sqlite3_value_int64(argv[0]) != sqlite3_value_int64(argv[1]))
        return fail(base, QStringLiteral("不能修改记录号（rowid）"));
    const qint64 recno = recordNumber(argv[0]);
    if (!recno)
        return fail(base, QStringLiteral("记录 %1 不存在").arg(sqlite3_value_int64(argv[0])));
    return table.updateRecord(quint32(recno), values, &error) ? SQLITE_OK
                                                              : writeFailed(base, error);
}

int dbfBegin(sqlite3_vtab* base) {
    QString error;
    return vt(base)->table->beginTransaction(&error) ? SQLITE_OK : fail(base, error);
}

int dbfSync(sqlite3_vtab* base) {
    QString error;
    return vt(base)->table->flush(&error) ? SQLITE_OK : fail(base, error, SQLITE_IOERR);
}

int dbfCommit(sqlite3_vtab* base) {
    QString error;
    return vt(base)->table->commit(&error) ? SQLITE_OK : fail(base, error, SQLITE_IOERR);
}

int dbfRollback(sqlite3_vtab* base) {
    QString error;
    return vt(base)->table->rollback(&error) ? SQLITE_OK : fail(base, error, SQLITE_IOERR);
}

int dbfSavepoint(sqlite3_vtab* base, int id) {
    vt(base)->table->savepoint(id);
    return SQLITE_OK;
}

int dbfRelease(sqlite3_vtab* base, int id) {
    vt(base)->table->release(id);
    return SQLITE_OK;
}

int dbfRollbackTo(sqlite3_vtab* base, int id) {
    QString error;
    return vt(base)->table->rollbackTo(id, &error) ? SQLITE_OK : fail(base, error, SQLITE_IOERR);
}

const sqlite3_module kDbfModule = {
    /* iVersion */ 2,
    /* xCreate */ dbfConnect,
    /* xConnect */ dbfConnect,
    /* xBestIndex */ dbfBestIndex,
    /* xDisconnect */ dbfDisconnect,
    /* xDestroy */ dbfDisconnect, // the file stays
    /* xOpen */ dbfOpen,
    /* xClose */ dbfClose,
    /* xFilter */ dbfFilter,
    /* xNext */ dbfNext,
    /* xEof */ dbfEof,
    /* xColumn */ dbfColumn,
    /* xRowid */ dbfRowid,
    /* xUpdate */ dbfUpdate,
    /* xBegin */ dbfBegin,
    /* xSync */ dbfSync,
    /* xCommit */ dbfCommit,
    /* xRollback */ dbfRollback,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ dbfSavepoint,
    /* xRelease */ dbfRelease,
    /* xRollbackTo */ dbfRollbackTo,
    /* xShadowName */ nullptr,
};

} // namespace

bool registerDbfModule(sqlite3* db, QString* error) {
    const int rc = sqlite3_create_module_v2(db, "dbf", &kDbfModule, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error =
                QStringLiteral("无法注册 dbf 模块：%1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
        return false;
    }
    return true;
}

// Tables that cannot be opened (corrupt or foreign files, two names differing only in case) are
// skipped; the function still succeeds and *error lists them, so the caller can tell the user.
bool attachDbfDirectory(sqlite3* db, const QString& directory, const QString& codePage,
                        QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    error->clear();
    const QFileInfo dirInfo(directory);
    if (directory.isEmpty() || !dirInfo.isDir() || !dirInfo.isReadable()) {
        *error = QStringLiteral("无法读取目录：%1").arg(QDir::toNativeSeparators(directory));
        return false;
    }
    if (!codePage.trimmed().isEmpty() && !formats::dbf::parseCodePage(codePage).isValid()) {
        *error = QStringLiteral("无法识别的代码页：%1").arg(codePage);
        return false;
    }
    if (!registerDbfModule(db, error)) return false;
    const QDir dir(dirInfo.absoluteFilePath());
    QStringList skipped;
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo& fi : files) {
        if (fi.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) != 0) continue;
        const QString name = fi.fileName().left(fi.fileName().size() - 4);
        if (name.isEmpty()) continue;
        const QByteArray sql =
            QStringLiteral("CREATE VIRTUAL TABLE main.%1 USING dbf(%2, %3)")
                .arg(formats::sqliteIdent(name), sqlString(fi.absoluteFilePath()),
                     sqlString(codePage.trimmed()))
                .toUtf8();
        char* message = nullptr;
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
            skipped << QStringLiteral("%1：%2").arg(fi.fileName(), QString::fromUtf8(message));
        }
        sqlite3_free(message);
    }
    if (!skipped.isEmpty())
        *error = QStringLiteral("以下文件无法作为表打开，已跳过：\n%1")
                     .arg(skipped.join(QLatin1Char('\n')));
    return true;
}

bool readDbfRows(sqlite3* db, const QString& table, DbfRows* out, QString* error) {
    DbfVtab* v = nullptr;
    {
        const std::lock_guard<std::mutex> guard(registryLock());
        const auto it = registry().find({db, table.toCaseFolded()});
        if (it == registry().end()) return false;
        v = it->second;
    }
    Table& t = *v->table;
    QString why;
    if (!t.refresh(&why) || !t.readAllText(&out->values, &why)) {
        if (error) *error = why;
        return false;
    }
    out->names.clear();
    out->declared.clear();
    for (int i : v->columns) {
        out->names << t.fields()[size_t(i)].name;
        out->declared << t.fields()[size_t(i)].sqlType();
    }
    return true;
}

bool checkDbfValue(sqlite3* db, const QString& table, const QString& column, const QString& value,
                   QString* error) {
    DbfVtab* v = nullptr;
    {
        const std::lock_guard<std::mutex> guard(registryLock());
        const auto it = registry().find({db, table.toCaseFolded()});
        if (it == registry().end()) return true;
        v = it->second;
    }
    for (int i : v->columns)
        if (v->table->fields()[size_t(i)].name.compare(column, Qt::CaseInsensitive) == 0)
            return v->table->checkValue(i, value.isNull() ? Value::null() : Value::fromText(value),
                                        error);
    return true;
}

} // namespace vtab
