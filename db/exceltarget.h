#pragma once
// Export of a table to a new worksheet of an Excel workbook, as the original engine did it with
//
//     select <field list> into [Excel 8.0;database=<workbook path>].<sheet name> from <table>
//
// run on any connection (Connection::execute hands such a statement here, through the handler
// this file registers: the connection does not know the export). The workbook may be
// new or hold the user's own sheets, which stay as they were; a path ending in ".xlsx" makes an
// Excel 2007+ workbook, any other an Excel 97-2003 one (.xls). The sheet's first row holds the
// field names, then one row per record: texts as texts (a phone number or "001234" keeps its
// digits), numbers as numbers, a null or empty text as an empty cell.
//
// A sheet holds 65,536 rows in an .xls (1,048,576 in an .xlsx), its heading row included; the
// records that do not fit go on to further sheets named "<name>_2", "<name>_3", ..., each with
// the heading row again. Nothing is written until the whole new file is ready, and the file is
// then replaced in one step (a temporary file in the same folder, renamed): a failure or a
// cancel leaves the workbook as it was.
#include "db/connection.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace db {

// Called while the records are read: done of total records. Returning false cancels the
// export; nothing is written.
using ExportProgress = std::function<bool(int done, int total)>;

struct ExcelExportResult {
    bool ok = false;
    bool cancelled = false;
    QString error;      // in Chinese, for the window; empty on success
    QStringList sheets; // the sheets written, in order: the name given, then "<name>_2", ...
    qint64 rows = 0;    // records written (heading rows not counted)
    QString backupPath; // the workbook as it was, when the caller backed it up before writing
    int sheetCount() const { return int(sheets.size()); }
};

// Writes the named fields of a table (all of them for an empty list) to a new sheet of the
// workbook at path. A name is the column of that name, else the one that differs from it in
// letter case only. The heading row shows headings (one per field) or else the names as given.
// The path is taken as it is: any character a file name may hold.
ExcelExportResult exportToExcel(const Connection& conn, const QString& table,
                                const QStringList& fields, const QString& path,
                                const QString& sheet, const ExportProgress& progress = {},
                                const QStringList& headings = {});

// Why an export of so many records to a new sheet of the workbook at path would be refused,
// known before anything is read or written: the workbook (not a workbook of the kind its name
// says, read-only, a folder, an Excel 95 file), its folder (missing, not writable), the sheet
// names the records take (taken, or names Excel refuses). Empty when it can be made.
QString excelExportRefusal(const QString& path, const QString& sheet, qint64 records);

// The pieces of an export statement.
struct ExcelExportStatement {
    QStringList fields; // empty for "*"
    QString path;
    QString sheet;
    QString table;
};

// Reads an export statement. Names may be in [brackets] (a "]" in them doubled); field names
// without brackets may hold spaces and run to the next comma. A sheet or table name without
// brackets may hold spaces too: where " from " could split the rest in more than one way, the
// split that names a table of the connection wins.
bool parseExcelExportStatement(const QString& jetSql, const Connection& conn,
                               ExcelExportStatement* out, QString* error);

// Parses and runs an export statement on conn; remembered as the connection's last export. Kinds
// other than Excel are refused.
ExcelExportResult runExcelExportStatement(const Connection& conn, const QString& jetSql);

// The result of the last export statement run on the connection (or one of its copies):
// how many sheets and records it wrote. Empty before the first.
ExcelExportResult lastExcelExport(const Connection& conn);

} // namespace db
