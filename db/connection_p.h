#pragma once
// Inside of a connection, shared by the connection handles and the recordsets opened on it.
#include "db/connection.h"

#include <sqlite3.h>

#include <memory>

namespace db {

struct ExcelExportResult;

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
};

} // namespace db
