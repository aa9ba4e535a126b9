// Usage (attachSheets does this for every part of a file):
//
//     CREATE VIRTUAL TABLE "Sheet1$" USING sheet('xls', '/path/to/book.xls', '');
//     SELECT * FROM "Sheet1$";
//
// The arguments name the kind of file, its path and what else its kind needs to read it; the
// table's own name says which of the file's parts it shows.
#include "db/vtab/sheet/sheet_vtab.h"

#include "db/formats/sqlident.h"
#include "db/vtab/vtab_util.h"

#include <QHash>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace vtab {

namespace {

using formats::xls::Table;

struct AttachedSource {
    QString path;
    SheetKind kind;
    QHash<QString, std::shared_ptr<const Table>> byName; // case-folded table name
};

struct SheetTable;

// The files read on one connection and the kinds it has seen, kept until it closes.
struct Registry {
    QHash<QString, std::shared_ptr<const AttachedSource>> sources; // by sourceKey
    QHash<QString, SheetKind> kinds;                               // by name
    QHash<QString, const SheetTable*> live; // the tables SQLite has connected, by folded name
};

QString sourceKey(const QString& kind, const QString& path, const QString& argument) {
    return kind + QChar(0) + path + QChar(0) + argument;
}

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

// The file's parts as tables: names numbered where they repeat, and (name, worksheet) of each
// table in order. A part wider than maxColumns is left out and named in *tooWide.
std::shared_ptr<AttachedSource> makeSource(const SheetKind& kind, const QString& path,
                                           std::vector<SheetPart> parts, int maxColumns,
                                           std::vector<std::pair<QString, bool>>* tables,
                                           QStringList* tooWide) {
    auto attached = std::make_shared<AttachedSource>();
    attached->path = path;
    attached->kind = kind;
    for (SheetPart& part : parts) {
        const qsizetype columns = part.table.fields.size();
        if (columns > maxColumns) {
            *tooWide << QStringLiteral("%1（%2列）").arg(part.name).arg(columns);
            continue;
        }
        // A damaged file may repeat a name: number the repeats so nothing is hidden.
        QString name = part.name;
        for (int k = 1; attached->byName.contains(name.toCaseFolded()); ++k)
            name = part.name + QString::number(k);
        attached->byName.insert(name.toCaseFolded(),
                                std::make_shared<const Table>(std::move(part.table)));
        tables->emplace_back(name, part.worksheet);
    }
    return attached;
}

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

struct SheetTable {
    sqlite3_vtab base{};
    Registry* registry = nullptr;
    QString name;
    std::shared_ptr<const AttachedSource> source;
    std::shared_ptr<const Table> table;
};

struct SheetCursor {
    sqlite3_vtab_cursor base{};
    qsizetype row = 0;
    qsizetype end = 0;
};

int sheetConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
                 char** err) {
    const auto fail = [&](const QString& message) {
        *err = sqlite3_mprintf("%s", message.toUtf8().constData());
        return SQLITE_ERROR;
    };
    if (argc < 6) return fail(QStringLiteral("sheet表缺少文件参数。"));
    auto* registry = static_cast<Registry*>(aux);
    const QString kindName = unquoteLiteral(QString::fromUtf8(argv[3]));
    const QString path = unquoteLiteral(QString::fromUtf8(argv[4]));
    const QString argument = unquoteLiteral(QString::fromUtf8(argv[5]));
    const QString key = sourceKey(kindName, path, argument);
    std::shared_ptr<const AttachedSource> source = registry->sources.value(key);
    if (!source) {
        // A table kept by a database file from an earlier connection: its file read again.
        const auto kind = registry->kinds.constFind(kindName);
        if (kind == registry->kinds.cend())
            return fail(
                QStringLiteral("无法读取“%1”：不知道怎样读这种文件（%2）。").arg(path, kindName));
        std::vector<SheetPart> parts;
        QString error;
        if (!kind->load(path, argument, &parts, &error)) return fail(error);
        std::vector<std::pair<QString, bool>> tables;
        QStringList tooWide;
        source = makeSource(*kind, path, std::move(parts),
                            sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1), &tables, &tooWide);
        registry->sources.insert(key, source);
    }
    const QString tableName = QString::fromUtf8(argv[2]);
    const std::shared_ptr<const Table> table = source->byName.value(tableName.toCaseFolded());
    if (!table)
        return fail(QStringLiteral("%1中没有名为“%2”的表：%3")
                        .arg(source->kind.fileKind, tableName, source->path));
    QStringList columns;
    for (qsizetype i = 0; i < table->fields.size(); ++i)
        columns << QStringLiteral("%1 VARCHAR(%2)")
                       .arg(formats::sqliteIdent(table->fields[i]))
                       .arg(std::max<qsizetype>(255, table->longest[size_t(i)]));
    const QByteArray ddl = QStringLiteral("CREATE TABLE x(%1)").arg(columns.join(u", ")).toUtf8();
    if (int rc = sqlite3_declare_vtab(db, ddl.constData()); rc != SQLITE_OK)
        return fail(
            QStringLiteral("无法建立%1“%2”的字段：%3")
                .arg(source->kind.tableKind, tableName, QString::fromUtf8(sqlite3_errmsg(db))));
    auto* vt = new SheetTable;
    vt->registry = registry;
    vt->name = tableName;
    vt->source = source;
    vt->table = table;
    registry->live.insert(tableName.toCaseFolded(), vt);
    *out = &vt->base;
    return SQLITE_OK;
}

int sheetDisconnect(sqlite3_vtab* vt) {
    auto* t = reinterpret_cast<SheetTable*>(vt);
    const QString key = t->name.toCaseFolded();
    if (t->registry->live.value(key) == t) t->registry->live.remove(key);
    delete t;
    return SQLITE_OK;
}

int sheetBestIndex(sqlite3_vtab* vt, sqlite3_index_info* info) {
    const auto* t = reinterpret_cast<SheetTable*>(vt);
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

int sheetOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = &(new SheetCursor)->base;
    return SQLITE_OK;
}

int sheetClose(sqlite3_vtab_cursor* c) {
    delete reinterpret_cast<SheetCursor*>(c);
    return SQLITE_OK;
}

int sheetFilter(sqlite3_vtab_cursor* cur, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto* c = reinterpret_cast<SheetCursor*>(cur);
    const auto* t = reinterpret_cast<SheetTable*>(cur->pVtab);
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

int sheetNext(sqlite3_vtab_cursor* cur) {
    ++reinterpret_cast<SheetCursor*>(cur)->row;
    return SQLITE_OK;
}

int sheetEof(sqlite3_vtab_cursor* cur) {
    const auto* c = reinterpret_cast<SheetCursor*>(cur);
    return c->row >= c->end;
}

int sheetColumn(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
    const auto* c = reinterpret_cast<SheetCursor*>(cur);
    const auto* t = reinterpret_cast<SheetTable*>(cur->pVtab);
    if (const std::optional<QString> v = t->table->value(c->row, col))
        resultText(ctx, *v);
    else
        sqlite3_result_null(ctx);
    return SQLITE_OK;
}

int sheetRowid(sqlite3_vtab_cursor* cur, sqlite_int64* rowid) {
    *rowid = reinterpret_cast<SheetCursor*>(cur)->row + 1;
    return SQLITE_OK;
}

int sheetUpdate(sqlite3_vtab* vt, int, sqlite3_value**, sqlite_int64*) {
    const auto* t = reinterpret_cast<SheetTable*>(vt);
    setError(vt, QStringLiteral("%1是只读的，不能添加、修改或删除其中的记录：%2")
                     .arg(t->source->kind.tableKind, t->name));
    return SQLITE_READONLY;
}

sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = sheetConnect;
    m.xConnect = sheetConnect;
    m.xBestIndex = sheetBestIndex;
    m.xDisconnect = sheetDisconnect;
    m.xDestroy = sheetDisconnect;
    m.xOpen = sheetOpen;
    m.xClose = sheetClose;
    m.xFilter = sheetFilter;
    m.xNext = sheetNext;
    m.xEof = sheetEof;
    m.xColumn = sheetColumn;
    m.xRowid = sheetRowid;
    m.xUpdate = sheetUpdate;
    return m;
}

const sqlite3_module sheetModule = makeModule();

Registry* registryFor(sqlite3* db, QString* error) {
    std::lock_guard lock(registriesMutex);
    if (auto it = registries.find(db); it != registries.end()) return it->second;
    auto* registry = new Registry;
    registries[db] = registry;
    // On failure SQLite calls the destructor, which also forgets the registry.
    if (sqlite3_create_module_v2(db, "sheet", &sheetModule, registry, destroyRegistry) !=
        SQLITE_OK) {
        if (error)
            *error =
                QStringLiteral("无法注册表模块：%1").arg(QString::fromUtf8(sqlite3_errmsg(db)));
        return nullptr;
    }
    return registry;
}

} // namespace

bool attachSheets(sqlite3* db, const SheetKind& kind, const QString& path, const QString& argument,
                  std::vector<SheetPart> parts, std::vector<SheetSchemaRow>* schema,
                  QString* skipped, QString* error) {
    if (schema) schema->clear();
    if (skipped) skipped->clear();
    if (!db) {
        if (error)
            *error =
                QStringLiteral("没有打开的数据库连接，无法读取%1：%2").arg(kind.fileKind, path);
        return false;
    }
    const int maxColumns = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
    std::vector<std::pair<QString, bool>> tables; // name, worksheet
    QStringList tooWide;
    const auto attached = makeSource(kind, path, std::move(parts), maxColumns, &tables, &tooWide);
    if (!tooWide.isEmpty() && !skipped) {
        if (error)
            *error = QStringLiteral("%1的%2超过了程序能打开的%3列：%4")
                         .arg(kind.fileKind, tooWide.join(QStringLiteral("、")))
                         .arg(maxColumns)
                         .arg(path);
        return false;
    }
    Registry* registry = registryFor(db, error);
    if (!registry) return false;
    registry->kinds.insert(kind.name, kind);
    registry->sources.insert(sourceKey(kind.name, path, argument), attached);

    QStringList created;
    for (const auto& [name, worksheet] : tables) {
        const QByteArray sql =
            QStringLiteral("CREATE VIRTUAL TABLE main.%1 USING sheet(%2, %3, %4)")
                .arg(formats::sqliteIdent(name), sqlLiteral(kind.name), sqlLiteral(path),
                     sqlLiteral(argument))
                .toUtf8();
        char* err = nullptr;
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            if (error)
                *error = QStringLiteral("无法打开%1“%2”：%3")
                             .arg(kind.tableKind, name, QString::fromUtf8(err ? err : "?"));
            sqlite3_free(err);
            for (const QString& made : created) {
                const QByteArray drop =
                    QStringLiteral("DROP TABLE main.%1").arg(formats::sqliteIdent(made)).toUtf8();
                sqlite3_exec(db, drop.constData(), nullptr, nullptr, nullptr);
            }
            if (schema) schema->clear();
            return false;
        }
        created << name;
        if (schema)
            schema->push_back(
                {name, worksheet ? QStringLiteral("SYSTEM TABLE") : QStringLiteral("TABLE")});
    }
    if (skipped && !tooWide.isEmpty())
        *skipped = QStringLiteral("以下%1的列数超过%2列，无法作为表打开：%3")
                       .arg(kind.tableKind)
                       .arg(maxColumns)
                       .arg(tooWide.join(QStringLiteral("、")));
    return true;
}

std::vector<SheetPart> workbookParts(formats::xls::Workbook&& book,
                                     std::vector<std::optional<formats::xls::Table>>&& made) {
    std::vector<SheetPart> parts;
    size_t cells = 0;
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        auto& sheet = book.sheets[i];
        cells += sheet.cells.size();
        if (i < made.size() && made[i]) {
            cells += made[i]->values.size();
            parts.push_back({sheet.name + QLatin1Char('$'), true, std::move(*made[i])});
            continue;
        }
        parts.push_back(
            {sheet.name + QLatin1Char('$'), true, formats::xls::worksheetTable(book, sheet)});
        // A sheet's cells are its table's now: without named ranges, which read them again,
        // they go at once (a large sheet is not held twice).
        if (book.names.empty()) std::vector<formats::xls::PlacedCell>().swap(sheet.cells);
    }
    // Named ranges show cells the sheet tables already hold. A (damaged or hostile) file with
    // thousands of names over a large area would copy them thousands of times: past a budget
    // of ten times the workbook's cells, further names are not listed.
    const size_t budget = 10 * cells + 1000000;
    size_t used = 0;
    for (const auto& range : book.names) {
        if (used > budget) break;
        const QString name =
            range.scope < 0 ? range.name
                            : book.sheets[size_t(range.scope)].name + QLatin1Char('$') + range.name;
        Table table = formats::xls::rangeTable(book, range);
        used += table.values.size() + size_t(table.rowCount());
        parts.push_back({name, false, std::move(table)});
    }
    return parts;
}

std::shared_ptr<const Table> sheetRows(sqlite3* db, const QString& table) {
    std::lock_guard lock(registriesMutex);
    const auto it = registries.find(db);
    if (it == registries.end()) return nullptr;
    const SheetTable* t = it->second->live.value(table.toCaseFolded());
    return t ? t->table : nullptr;
}

} // namespace vtab
