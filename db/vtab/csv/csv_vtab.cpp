// SQLite virtual-table module "csv": a read-only table over a delimited text file.
//
// Usage (attachTextFile does this for a file):
//
//     CREATE VIRTUAL TABLE "客户" USING csv('/path/to/客户.csv', 'GB18030');
//     SELECT * FROM "客户";
//
// The second argument is the code page the user chose (empty: found from the bytes). The file
// is read once, when it is attached, and kept in memory with the connection (see
// formats/csv/csv.h for how text becomes records). Every column is text (VARCHAR(255), or
// longer when a value is longer); empty fields are NULL. The rowid is the record's number, from
// 1. The table is read-only.
#include "db/vtab/csv/csv_vtab.h"

#include "db/formats/sqlident.h"
#include "db/formats/xls/xlstable.h"
#include "db/vtab/vtab_util.h"

#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace vtab {

namespace {

using formats::xls::Table;

// The files attached to one connection, kept until it closes.
struct Registry {
    QHash<QString, std::shared_ptr<const Table>> files; // by absolute path and code page
};

std::recursive_mutex registriesMutex;
std::map<sqlite3*, Registry*> registries;

void destroyRegistry(void* p) {
    std::lock_guard lock(registriesMutex);
    for (auto it = registries.begin(); it != registries.end(); ++it) {
        if (it->second == p) {
            registries.erase(it);
            break;
        }
    }
    delete static_cast<Registry*>(p);
}

struct CsvTable {
    sqlite3_vtab base{};
    QString name;
    std::shared_ptr<const Table> table;
};

struct CsvCursor {
    sqlite3_vtab_cursor base{};
    qsizetype row = 0;
    qsizetype end = 0;
};

QString sqlLiteral(const QString& text) {
    QString q = text;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString unquoteLiteral(QString arg) {
    arg = arg.trimmed();
    if (arg.size() >= 2 && arg.startsWith(QLatin1Char('\'')) && arg.endsWith(QLatin1Char('\'')))
        arg = arg.mid(1, arg.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    return arg;
}

QString registryKey(const QString& path, const QString& codePage) {
    return path + QChar(0) + codePage;
}

int csvConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
               char** err) {
    const auto fail = [&](const QString& message) {
        *err = sqlite3_mprintf("%s", message.toUtf8().constData());
        return SQLITE_ERROR;
    };
    if (argc < 4) return fail(QStringLiteral("csv表缺少文本文件路径参数。"));
    auto* registry = static_cast<Registry*>(aux);
    const QString path = unquoteLiteral(QString::fromUtf8(argv[3]));
    const QString codePage = argc > 4 ? unquoteLiteral(QString::fromUtf8(argv[4])) : QString();
    const QString tableName = QString::fromUtf8(argv[2]);
    const QString key = registryKey(path, codePage);
    std::shared_ptr<const Table> table = registry->files.value(key);
    if (!table) {
        auto loaded = std::make_shared<Table>();
        QString error;
        if (!formats::csv::readFile(path, codePage, loaded.get(), nullptr, &error))
            return fail(error);
        table = loaded;
        registry->files.insert(key, table);
    }
    if (table->fields.size() > sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1))
        return fail(QStringLiteral("文本文件有%1列，超过了程序能打开的%2列：%3")
                        .arg(table->fields.size())
                        .arg(sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1))
                        .arg(path));
    QStringList columns;
    for (qsizetype i = 0; i < table->fields.size(); ++i)
        columns << QStringLiteral("%1 VARCHAR(%2)")
                       .arg(formats::sqliteIdent(table->fields[i]))
                       .arg(std::max<qsizetype>(255, table->longest[size_t(i)]));
    const QByteArray ddl = QStringLiteral("CREATE TABLE x(%1)").arg(columns.join(u", ")).toUtf8();
    if (int rc = sqlite3_declare_vtab(db, ddl.constData()); rc != SQLITE_OK)
        return fail(QStringLiteral("无法建立文本文件表“%1”的字段：%2")
                        .arg(tableName, QString::fromUtf8(sqlite3_errmsg(db))));
    auto* vt = new CsvTable;
    vt->name = tableName;
    vt->table = table;
    *out = &vt->base;
    return SQLITE_OK;
}

int csvDisconnect(sqlite3_vtab* vt) {
    delete reinterpret_cast<CsvTable*>(vt);
    return SQLITE_OK;
}

int csvBestIndex(sqlite3_vtab* vt, sqlite3_index_info* info) {
    const auto* t = reinterpret_cast<CsvTable*>(vt);
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable && c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = 1;
            info->estimatedCost = 1;
            info->estimatedRows = 1;
            info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
            return SQLITE_OK;
        }
    }
    info->idxNum = 0;
    info->estimatedRows = std::max<qsizetype>(1, t->table->rowCount());
    info->estimatedCost = double(info->estimatedRows);
    return SQLITE_OK;
}

int csvOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = &(new CsvCursor)->base;
    return SQLITE_OK;
}

int csvClose(sqlite3_vtab_cursor* c) {
    delete reinterpret_cast<CsvCursor*>(c);
    return SQLITE_OK;
}

int csvFilter(sqlite3_vtab_cursor* cur, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto* c = reinterpret_cast<CsvCursor*>(cur);
    const auto* t = reinterpret_cast<CsvTable*>(cur->pVtab);
    const qsizetype rows = t->table->rowCount();
    c->row = 0;
    c->end = rows;
    if (idxNum == 1 && argc == 1) {
        const int type = sqlite3_value_numeric_type(argv[0]);
        const double wanted =
            type == SQLITE_INTEGER || type == SQLITE_FLOAT ? sqlite3_value_double(argv[0]) : 0.0;
        if (wanted >= 1 && wanted <= double(rows) && wanted == std::floor(wanted)) {
            c->row = qsizetype(wanted) - 1;
            c->end = c->row + 1;
        } else {
            c->end = 0;
        }
    }
    return SQLITE_OK;
}

int csvNext(sqlite3_vtab_cursor* cur) {
    ++reinterpret_cast<CsvCursor*>(cur)->row;
    return SQLITE_OK;
}

int csvEof(sqlite3_vtab_cursor* cur) {
    const auto* c = reinterpret_cast<CsvCursor*>(cur);
    return c->row >= c->end;
}

int csvColumn(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
    const auto* c = reinterpret_cast<CsvCursor*>(cur);
    const auto* t = reinterpret_cast<CsvTable*>(cur->pVtab);
    if (const QString* v = t->table->value(c->row, col))
        resultText(ctx, *v);
    else
        sqlite3_result_null(ctx);
    return SQLITE_OK;
}

int csvRowid(sqlite3_vtab_cursor* cur, sqlite_int64* rowid) {
    *rowid = reinterpret_cast<CsvCursor*>(cur)->row + 1;
    return SQLITE_OK;
}

int csvUpdate(sqlite3_vtab* vt, int, sqlite3_value**, sqlite_int64*) {
    const auto* t = reinterpret_cast<CsvTable*>(vt);
    setError(
        vt,
        QStringLiteral("文本文件的表是只读的，不能添加、修改或删除其中的记录：%1").arg(t->name));
    return SQLITE_READONLY;
}

sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = csvConnect;
    m.xConnect = csvConnect;
    m.xBestIndex = csvBestIndex;
    m.xDisconnect = csvDisconnect;
    m.xDestroy = csvDisconnect;
    m.xOpen = csvOpen;
    m.xClose = csvClose;
    m.xFilter = csvFilter;
    m.xNext = csvNext;
    m.xEof = csvEof;
    m.xColumn = csvColumn;
    m.xRowid = csvRowid;
    m.xUpdate = csvUpdate;
    return m;
}

const sqlite3_module csvModule = makeModule();

Registry* registryFor(sqlite3* db, QString* error) {
    std::lock_guard lock(registriesMutex);
    if (auto it = registries.find(db); it != registries.end()) return it->second;
    auto* registry = new Registry;
    registries[db] = registry;
    // On failure SQLite calls the destructor, which also forgets the registry.
    if (sqlite3_create_module_v2(db, "csv", &csvModule, registry, destroyRegistry) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("无法注册文本文件表模块：%1")
                         .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        return nullptr;
    }
    return registry;
}

} // namespace

QString textTableName(const QString& path) {
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QFileInfo(path).fileName() : name;
}

bool attachTextFile(sqlite3* db, const QString& path, const QString& codePage, QString* tableName,
                    formats::csv::Format* format, QString* error) {
    if (!db) {
        if (error) *error = QStringLiteral("没有打开的数据库连接，无法读取文本文件：%1").arg(path);
        return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    auto table = std::make_shared<Table>();
    formats::csv::Format found;
    if (!formats::csv::readFile(absolute, codePage, table.get(), &found, error)) return false;
    Registry* registry = registryFor(db, error);
    if (!registry) return false;
    registry->files.insert(registryKey(absolute, codePage), table);
    const QString name = textTableName(absolute);
    const QByteArray sql =
        QStringLiteral("CREATE VIRTUAL TABLE main.%1 USING csv(%2, %3)")
            .arg(formats::sqliteIdent(name), sqlLiteral(absolute), sqlLiteral(codePage))
            .toUtf8();
    char* err = nullptr;
    if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("无法打开文本文件的表“%1”：%2")
                         .arg(name, QString::fromUtf8(err ? err : "?"));
        sqlite3_free(err);
        return false;
    }
    if (tableName) *tableName = name;
    if (format) *format = found;
    return true;
}

} // namespace vtab
