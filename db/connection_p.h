#pragma once
// Inside of a connection, shared by the connection handles and the recordsets opened on it.
#include "db/connection.h"

#include <sqlite3.h>

#include <QHash>

#include <memory>
#include <unordered_map>
#include <vector>

namespace db {

struct ExcelExportResult;

// A row that a recordset of this layer wrote: which store wrote it, and whether it was deleted
// (an insert or an update otherwise).
struct RowChange {
    qint64 rowid = 0;
    const void* by = nullptr;
    bool deleted = false;
};

// The row changes of one table in the order they were made; changes[i] is change number
// first + i.
struct TableChanges {
    uint64_t first = 0;
    std::vector<RowChange> changes;
    uint64_t end() const { return first + changes.size(); }
};

// What the rows read from a connection depend on: a stamp taken when they were read and one
// taken now are equal when nothing but this layer's recordsets changed the database since.
struct ChangeStamp {
    qint64 foreign = 0;     // rows changed by anything else on this handle (statements)
    qint64 dataVersion = 0; // commits by other connections to the same file
    qint64 schemaVersion = 0;
    uint64_t epoch = 0;
    bool valid = false;
    bool operator==(const ChangeStamp& o) const {
        return valid && o.valid && foreign == o.foreign && dataVersion == o.dataVersion &&
               schemaVersion == o.schemaVersion && epoch == o.epoch;
    }
};

struct ConnectionData {
    ~ConnectionData();
    sqlite3* db = nullptr;
    SourceKind kind = SourceKind::None;
    QString path;
    QString connectionString;
    bool workingCopy = false;
    bool readOnly = false;
    int transactionDepth = 0;
    std::vector<SchemaRow> fixedSchema; // Excel: sheets and named ranges as the driver listed
    QString error;
    QString skipped; // dBase: files of the folder that could not be opened as tables, and why
    std::shared_ptr<ExcelExportResult> lastExport; // the last export statement's result

    bool exec(const QString& sql); // runs SQLite SQL; false with error set
    QString sqliteError(const QString& what) const;

    // --- The changes this layer's recordsets made, so that a requery can do without reading a
    // table again (Recordset::requery).
    // By table name, folded to lower case; a node's address stays while the map grows, so the
    // table noted last is kept as it was spelt with its journal (one look-up per table, not per
    // row of a long batch).
    std::unordered_map<QString, TableChanges> tableChanges;
    QString lastNoted;
    TableChanges* lastChanges = nullptr;
    qint64 layerChanges = 0; // rows written by recordsets, a part of sqlite3_total_changes64()
    uint64_t epoch = 0;      // moves when written rows may have gone back (a rollback)
    sqlite3_stmt* dataVersionStmt = nullptr;
    sqlite3_stmt* schemaVersionStmt = nullptr;

    // Only plain SQLite databases keep the journal: the modules of the foreign formats count
    // their changes in their own way.
    bool journals() const { return kind == SourceKind::Sqlite || kind == SourceKind::AccessCopy; }
    // A recordset wrote a row (changed: the rows the statement changed).
    void noteRowChange(const QString& table, qint64 rowid, const void* by, bool deleted,
                       int changed);
    // Written rows may have been undone: every recordset reads its table again at its requery.
    void forgetChanges() { ++epoch; }
    ChangeStamp stamp();
    TableChanges* changesOf(const QString& table);
};

} // namespace db
