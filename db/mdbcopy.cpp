// Type mapping: Text VARCHAR(n) (n in characters), Memo TEXT (both COLLATE NOCASE: Access
// compares text without letter case), Byte/Integer SMALLINT, Long INTEGER, Single/Double DOUBLE,
// Currency CURRENCY, Decimal DECIMAL(p,s), Date/Time DATETIME, Yes/No BOOLEAN, OLE object and
// binary BLOB (the raw bytes), replication id VARCHAR(38); attachment and multi-value columns
// (ACE) are kept as TEXT columns that stay NULL.
// Values arrive as text the way Access shows them: numbers without padding or trailing zeros
// ("14", "9.8"), Yes/No as "True"/"False", dates as yyyy-MM-dd or yyyy-MM-dd HH:mm:ss, NULL as
// NULL; the column's type affinity then stores numbers as numbers.
#include "db/mdbcopy.h"

#include "db/formats/mdb/mdb.h"
#include "db/formats/mdb/mdbreader.h"
#include "db/formats/sqlident.h"

#include <sqlite3.h>

#include <algorithm>

namespace mdb {

using detail::Column;
using detail::Kind;
using detail::Value;

namespace {

std::string quoted(const std::string& name) {
    return formats::sqliteIdent(QString::fromStdString(name)).toStdString();
}

std::string declaredType(const Column& c) {
    switch (c.kind) {
    case Kind::Text:
        return "VARCHAR(" + std::to_string(std::max(c.size, 1)) + ") COLLATE NOCASE";
    case Kind::Memo:
        return "TEXT COLLATE NOCASE";
    case Kind::Byte:
    case Kind::Int16:
        return "SMALLINT";
    case Kind::Int32:
        return "INTEGER";
    case Kind::Single:
    case Kind::Double:
        return "DOUBLE";
    case Kind::Currency:
        return "CURRENCY";
    case Kind::Decimal:
        return "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    case Kind::DateTime:
        return "DATETIME";
    case Kind::Bool:
        return "BOOLEAN";
    case Kind::Ole:
    case Kind::Binary:
        return "BLOB";
    case Kind::Guid:
        return "VARCHAR(38)";
    case Kind::Unsupported:
        return "TEXT";
    }
    return "TEXT";
}

class SqliteSink : public detail::Sink {
public:
    explicit SqliteSink(sqlite3* db) : db_(db) {}
    ~SqliteSink() override { sqlite3_finalize(insert_); }
    const QString& error() const { return error_; }

    bool table(const std::string& name, const std::vector<Column>& columns) override {
        sqlite3_finalize(insert_);
        insert_ = nullptr;
        table_ = name;
        std::string create = "CREATE TABLE main." + quoted(name) + " (";
        std::string insert = "INSERT INTO main." + quoted(name) + " VALUES (";
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i > 0) {
                create += ", ";
                insert += ',';
            }
            create += quoted(columns[i].name) + ' ' + declaredType(columns[i]);
            insert += '?';
        }
        create += ")";
        insert += ")";
        char* message = nullptr;
        if (sqlite3_exec(db_, create.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            fail(QStringLiteral("无法在工作库中建立表“%1”：%2"), message);
            sqlite3_free(message);
            return false;
        }
        if (sqlite3_prepare_v2(db_, insert.c_str(), -1, &insert_, nullptr) != SQLITE_OK) {
            fail(QStringLiteral("无法向工作库的表“%1”写入数据：%2"), sqlite3_errmsg(db_));
            return false;
        }
        return true;
    }

    bool row(const std::vector<Value>& values) override {
        for (size_t i = 0; i < values.size(); ++i) {
            const Value& v = values[i];
            const int at = int(i) + 1;
            switch (v.type) {
            case Value::Null:
                sqlite3_bind_null(insert_, at);
                break;
            case Value::Text:
                sqlite3_bind_text(insert_, at, v.data.data(), int(v.data.size()), SQLITE_STATIC);
                break;
            case Value::Blob:
                sqlite3_bind_blob(insert_, at, v.data.data(), int(v.data.size()), SQLITE_STATIC);
                break;
            }
        }
        const int rc = sqlite3_step(insert_);
        sqlite3_reset(insert_);
        if (rc != SQLITE_DONE) {
            fail(QStringLiteral("无法向工作库的表“%1”写入数据：%2"), sqlite3_errmsg(db_));
            return false;
        }
        return true;
    }

private:
    void fail(const QString& text, const char* message) {
        error_ =
            text.arg(QString::fromStdString(table_), QString::fromUtf8(message ? message : ""));
    }

    sqlite3* db_;
    sqlite3_stmt* insert_ = nullptr;
    std::string table_;
    QString error_;
};

} // namespace

bool copyToSqlite(const QString& path, sqlite3* dest, QString* error) {
    if (!dest) {
        if (error) *error = QStringLiteral("没有可写入的工作库。");
        return false;
    }
    // One savepoint for the whole copy: a failure halfway leaves the destination as it was. (A
    // savepoint is a transaction of its own when none is open, and nests when the caller has one.)
    if (sqlite3_exec(dest, "SAVEPOINT mdb_copy", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("无法在工作库中开始写入：%1")
                         .arg(QString::fromUtf8(sqlite3_errmsg(dest)));
        return false;
    }
    SqliteSink sink(dest);
    QString message;
    if (readTables(path, sink, &message) &&
        sqlite3_exec(dest, "RELEASE mdb_copy", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (message.isEmpty()) message = sink.error();
    if (message.isEmpty())
        message =
            QStringLiteral("无法完成写入工作库：%1").arg(QString::fromUtf8(sqlite3_errmsg(dest)));
    sqlite3_exec(dest, "ROLLBACK TO mdb_copy", nullptr, nullptr, nullptr);
    sqlite3_exec(dest, "RELEASE mdb_copy", nullptr, nullptr, nullptr);
    if (error) *error = message;
    return false;
}

} // namespace mdb
