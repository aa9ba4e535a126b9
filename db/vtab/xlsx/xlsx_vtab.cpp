// SQLite virtual-table module "xlsx": read-only tables over an Excel 2007 and later workbook.
//
// Usage (attachXlsxWorkbook does this for every worksheet and named range of a workbook):
//
//     CREATE VIRTUAL TABLE "Sheet1$" USING xlsx('/path/to/book.xlsx');
//     SELECT * FROM "Sheet1$";
//
// The same tables as the "xls" module makes of an .xls workbook: "<sheet>$" a worksheet,
// "<name>" a workbook-wide named range, "<sheet>$<name>" a name local to a sheet. The workbook
// is read once, when it is attached, and kept in memory with the connection. Every column is
// text (VARCHAR(255), or longer when a value is longer); empty cells are NULL. The rowid is the
// record's number, from 1. The tables are read-only.
#include "db/vtab/xlsx/xlsx_vtab.h"

#include "db/formats/sqlident.h"
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"
#include "db/formats/xlsx/xlsx.h"
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

struct TablePart {
    QString name;
    bool worksheet = true;
    std::shared_ptr<const Table> table;
};

struct AttachedBook {
    std::vector<TablePart> parts;                        // worksheets, then named ranges
    QHash<QString, std::shared_ptr<const Table>> byName; // case-folded table name
};

// The workbooks attached to one connection, kept until it closes.
struct Registry {
    QHash<QString, std::shared_ptr<const AttachedBook>> books; // by absolute path
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

struct XlsTable {
    sqlite3_vtab base{};
    QString name;
    std::shared_ptr<const Table> table;
};

struct XlsCursor {
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

std::shared_ptr<const AttachedBook> loadBook(const QString& path, QString* error) {
    formats::xls::Workbook book;
    if (!formats::xlsx::readWorkbookFile(path, &book, error)) return nullptr;
    auto attached = std::make_shared<AttachedBook>();
    const auto add = [&](QString name, bool worksheet, Table table) {
        // A damaged file may repeat a name: number the repeats so nothing is hidden.
        const QString base = name;
        for (int k = 1; attached->byName.contains(name.toCaseFolded()); ++k)
            name = base + QString::number(k);
        auto shared = std::make_shared<const Table>(std::move(table));
        attached->byName.insert(name.toCaseFolded(), shared);
        attached->parts.push_back({name, worksheet, shared});
    };
    size_t cells = 0;
    for (const auto& sheet : book.sheets) {
        cells += sheet.cells.size();
        add(sheet.name + QLatin1Char('$'), true, formats::xls::worksheetTable(book, sheet));
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
        add(name, false, std::move(table));
    }
    return attached;
}

int xlsConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
               char** err) {
    const auto fail = [&](const QString& message) {
        *err = sqlite3_mprintf("%s", message.toUtf8().constData());
        return SQLITE_ERROR;
    };
    if (argc < 4) return fail(QStringLiteral("xlsx表缺少Excel文件路径参数。"));
    auto* registry = static_cast<Registry*>(aux);
    const QString path = unquoteLiteral(QString::fromUtf8(argv[3]));
    const QString tableName = QString::fromUtf8(argv[2]);
    std::shared_ptr<const AttachedBook> book = registry->books.value(path);
    if (!book) {
        QString error;
        book = loadBook(path, &error);
        if (!book) return fail(error);
        registry->books.insert(path, book);
    }
    const std::shared_ptr<const Table> table = book->byName.value(tableName.toCaseFolded());
    if (!table)
        return fail(
            QStringLiteral("Excel文件中没有名为“%1”的工作表或命名区域：%2").arg(tableName, path));

    QStringList columns;
    for (qsizetype i = 0; i < table->fields.size(); ++i)
        columns << QStringLiteral("%1 VARCHAR(%2)")
                       .arg(formats::sqliteIdent(table->fields[i]))
                       .arg(std::max<qsizetype>(255, table->longest[size_t(i)]));
    const QByteArray ddl = QStringLiteral("CREATE TABLE x(%1)").arg(columns.join(u", ")).toUtf8();
    if (int rc = sqlite3_declare_vtab(db, ddl.constData()); rc != SQLITE_OK)
        return fail(QStringLiteral("无法建立Excel表“%1”的字段：%2")
                        .arg(tableName, QString::fromUtf8(sqlite3_errmsg(db))));
    auto* vt = new XlsTable;
    vt->name = tableName;
    vt->table = table;
    *out = &vt->base;
    return SQLITE_OK;
}

int xlsDisconnect(sqlite3_vtab* vt) {
    delete reinterpret_cast<XlsTable*>(vt);
    return SQLITE_OK;
}

int xlsBestIndex(sqlite3_vtab* vt, sqlite3_index_info* info) {
    const auto* t = reinterpret_cast<XlsTable*>(vt);
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

int xlsOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = &(new XlsCursor)->base;
    return SQLITE_OK;
}

int xlsClose(sqlite3_vtab_cursor* c) {
    delete reinterpret_cast<XlsCursor*>(c);
    return SQLITE_OK;
}

int xlsFilter(sqlite3_vtab_cursor* cur, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto* c = reinterpret_cast<XlsCursor*>(cur);
    const auto* t = reinterpret_cast<XlsTable*>(cur->pVtab);
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

int xlsNext(sqlite3_vtab_cursor* cur) {
    ++reinterpret_cast<XlsCursor*>(cur)->row;
    return SQLITE_OK;
}

int xlsEof(sqlite3_vtab_cursor* cur) {
    const auto* c = reinterpret_cast<XlsCursor*>(cur);
    return c->row >= c->end;
}

int xlsColumn(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
    const auto* c = reinterpret_cast<XlsCursor*>(cur);
    const auto* t = reinterpret_cast<XlsTable*>(cur->pVtab);
    if (const QString* v = t->table->value(c->row, col))
        resultText(ctx, *v);
    else
        sqlite3_result_null(ctx);
    return SQLITE_OK;
}

int xlsRowid(sqlite3_vtab_cursor* cur, sqlite_int64* rowid) {
    *rowid = reinterpret_cast<XlsCursor*>(cur)->row + 1;
    return SQLITE_OK;
}

int xlsUpdate(sqlite3_vtab* vt, int, sqlite3_value**, sqlite_int64*) {
    const auto* t = reinterpret_cast<XlsTable*>(vt);
    setError(
        vt, QStringLiteral("Excel工作表是只读的，不能添加、修改或删除其中的记录：%1").arg(t->name));
    return SQLITE_READONLY;
}

sqlite3_module makeModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = xlsConnect;
    m.xConnect = xlsConnect;
    m.xBestIndex = xlsBestIndex;
    m.xDisconnect = xlsDisconnect;
    m.xDestroy = xlsDisconnect;
    m.xOpen = xlsOpen;
    m.xClose = xlsClose;
    m.xFilter = xlsFilter;
    m.xNext = xlsNext;
    m.xEof = xlsEof;
    m.xColumn = xlsColumn;
    m.xRowid = xlsRowid;
    m.xUpdate = xlsUpdate;
    return m;
}

const sqlite3_module xlsModule = makeModule();

Registry* registryFor(sqlite3* db, QString* error) {
    std::lock_guard lock(registriesMutex);
    if (auto it = registries.find(db); it != registries.end()) return it->second;
    auto* registry = new Registry;
    registries[db] = registry;
    // On failure SQLite calls the destructor, which also forgets the registry.
    if (sqlite3_create_module_v2(db, "xlsx", &xlsModule, registry, destroyRegistry) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("无法注册Excel表模块：%1")
                         .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        return nullptr;
    }
    return registry;
}

} // namespace

bool attachXlsxWorkbook(sqlite3* db, const QString& path, std::vector<XlsSchemaRow>* schema,
                        QString* skipped, QString* error) {
    if (schema) schema->clear();
    if (skipped) skipped->clear();
    if (!db) {
        if (error) *error = QStringLiteral("没有打开的数据库连接，无法读取Excel文件：%1").arg(path);
        return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString message;
    const std::shared_ptr<const AttachedBook> book = loadBook(absolute, &message);
    if (!book) {
        if (error) *error = message;
        return false;
    }
    Registry* registry = registryFor(db, error);
    if (!registry) return false;
    registry->books.insert(absolute, book);

    // A sheet of the new format may use up to 16,384 columns; SQLite tables hold fewer.
    const int maxColumns = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
    QStringList created, tooWide;
    for (const TablePart& part : book->parts) {
        if (part.table->fields.size() > maxColumns) {
            tooWide << QStringLiteral("%1（%2列）").arg(part.name).arg(part.table->fields.size());
            continue;
        }
        const QByteArray sql = QStringLiteral("CREATE VIRTUAL TABLE main.%1 USING xlsx(%2)")
                                   .arg(formats::sqliteIdent(part.name), sqlLiteral(absolute))
                                   .toUtf8();
        char* err = nullptr;
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            if (error)
                *error = QStringLiteral("无法打开Excel工作表“%1”：%2")
                             .arg(part.name, QString::fromUtf8(err ? err : "?"));
            sqlite3_free(err);
            for (const QString& name : created) {
                const QByteArray drop =
                    QStringLiteral("DROP TABLE main.%1").arg(formats::sqliteIdent(name)).toUtf8();
                sqlite3_exec(db, drop.constData(), nullptr, nullptr, nullptr);
            }
            if (schema) schema->clear();
            return false;
        }
        created << part.name;
        if (schema)
            schema->push_back({part.name, part.worksheet ? QStringLiteral("SYSTEM TABLE")
                                                         : QStringLiteral("TABLE")});
    }
    if (skipped && !tooWide.isEmpty())
        *skipped = QStringLiteral("以下工作表或命名区域的列数超过%1列，无法作为表打开：%2")
                       .arg(maxColumns)
                       .arg(tooWide.join(QStringLiteral("、")));
    return true;
}

} // namespace vtab
