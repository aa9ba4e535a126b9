#pragma once
// A connection to one data source, opened by the connection strings the windows build.
//
// Every connection is an SQLite handle:
//  - Access form  "driver={Microsoft Access Driver (*.mdb)};DBQ=<path>" (or the Jet OLE DB form
//    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<path>"): an SQLite file opens read-write as it
//    is; a real Jet/ACE file is read into a private SQLite database (a working copy: the
//    original is never written, isWorkingCopy() says so).
//  - dBase form   "...Driver=Microsoft Visual FoxPro Driver;SourceDB=<dir>;SourceType=DBF": an
//    in-memory handle with one dbf virtual table per .dbf file of the directory.
//  - Excel form   "...Driver={Microsoft Excel Driver (*.xls)}; DBQ=<path>": an in-memory handle
//    with one read-only xls virtual table per worksheet, named "<sheet>$"; a path ending in
//    .xlsx or .xlsm opens an Excel 2007 and later workbook the same way (kind Xls too).
//  - Text form    "Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=<file>": an in-memory
//    handle with one read-only table over the delimited text file, named after the file without
//    its extension; "CodePage=<name>" overrides the encoding found from the bytes.
// An optional "CodePage=<name>" entry chooses the code page of dBase tables that declare none,
// or of a text file.
//
// A Connection is a shared handle: copies refer to the same open source, which closes when the
// last copy (or recordset opened on it) lets go of it.
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

struct sqlite3;

namespace db {

enum class SourceKind { None, Sqlite, AccessCopy, Dbf, Xls, Text };

struct SchemaRow {
    QString tableName; // "table_name"
    QString tableType; // "TABLE_TYPE": "TABLE", "SYSTEM TABLE", "VIEW"
};

struct ConnectionData;

class Connection {
public:
    Connection();

    // Opens the source named by a connection string; false with errorString() on failure.
    bool open(const QString& connectionString, const QString& user = {},
              const QString& password = {});
    void close();
    bool isOpen() const;

    // Runs one statement of the original engine's SQL that returns no rows.
    bool execute(const QString& jetSql);

    // The tables of the source, as the original drivers listed them.
    std::vector<SchemaRow> tableSchema() const;
    bool hasTable(const QString& name) const;
    // The rows of a table, -1 when it cannot be counted (missing table, closed connection).
    qint64 rowCount(const QString& table) const;
    // The column names of a table in their order, empty when it does not exist.
    QStringList columnNames(const QString& table) const;

    QString errorString() const;
    SourceKind kind() const;
    bool isWorkingCopy() const; // a real Access file read into a private copy
    bool isReadOnly() const;    // nothing written through it reaches a file
    // dBase folders: the files that could not be opened as tables, with the reasons; .xlsx
    // workbooks: the sheets too wide to be tables (empty when every table opened).
    QString skippedTables() const;
    QString path() const; // the file or directory the connection names
    QString connectionString() const;

    // A database that is a throwaway copy (a batch run's private working database): commits stop
    // waiting for the disk. Never for a file whose contents matter after the process ends.
    void setScratch();

    // Groups many writes into one transaction (long loops: import, copy, separation).
    bool beginTransaction();
    bool commit();
    void rollback();
    bool inTransaction() const;

    sqlite3* handle() const;
    std::shared_ptr<ConnectionData> data() const { return d; }

    bool operator==(const Connection& o) const { return d == o.d; }

private:
    std::shared_ptr<ConnectionData> d;
};

// Statements that write a table into a file of another kind, "select ... into
// [<kind>;database=<path>].<name> from <table>" (isIntoFileStatement, jetsql.h), are no SQL for
// the database: execute() and Recordset::open() hand them to the handler registered for them
// (the Excel export registers itself, exceltarget.h). It returns false with *error on failure.
using IntoFileHandler =
    std::function<bool(const Connection& conn, const QString& jetSql, QString* error)>;
void setIntoFileHandler(IntoFileHandler handler);

// Parsed pieces of a connection string (keys compared without case).
struct ConnectionTarget {
    SourceKind kind = SourceKind::None; // Sqlite stands for "an Access-form path"
    QString path;
    QString codePage;
};
ConnectionTarget parseConnectionString(const QString& connectionString, QString* error);

// Connection strings as the windows build them.
QString accessConnectionString(const QString& path);
// codePage: the code page of tables that declare none (empty: each such table's guessed one).
QString dbaseConnectionString(const QString& directory, const QString& codePage = {});
QString excelConnectionString(const QString& path);
// codePage: the encoding of the text file ("GBK", "UTF-8", "936", ...; empty: found from the
// bytes).
QString textConnectionString(const QString& path, const QString& codePage = {});

} // namespace db
