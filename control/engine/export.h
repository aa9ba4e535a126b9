#pragma once
// The export of a table to a new worksheet of an Excel workbook, as the check-control window and
// the batch runner do it: the fields of the check table, in its order and under its names, to a
// new sheet (the database layer writes it, or several when the records do not fit on one), and
// the checks before it: the sheets the workbook already has, and a sheet name Excel can take.
// The workbook's path is handed over as it is, never written into a statement and read back.
#include "core/appstate.h"
#include "db/exceltarget.h"

#include <QStringList>

namespace control {

// The field list of an export: the names of the check table's fields (RsSource), in order. Empty
// when the check table is not open.
QStringList exportFields(const core::AppState& state);

// What an export of a table reads: its columns, and the heading of each (the check table's
// field names). A table of the duplicate layout of the working database (ClienttableCC,
// ClienttableDD, tempTable1, tempTable2) is read by position, so the column of a source field
// the working table had to rename is the one exported; other tables by name. Empty columns when
// the table does not hold every field.
struct ExportColumns {
    QStringList columns;
    QStringList headings;
};
ExportColumns exportColumns(const core::AppState& state, const db::Connection& conn,
                            const QString& table);

// Exports table of conn to a new sheet of the workbook at path; the result says what was
// written (the sheets, the records) or why nothing was. The workbook is left as it was unless ok.
// A workbook that exists is backed up first (result.backupPath), the way a separation backs up
// its table: check::backupsOf lists it and check::restoreBackup puts it back.
db::ExcelExportResult exportTable(const core::AppState& state, const db::Connection& conn,
                                  const QString& table, const QString& path, const QString& sheet);

// The worksheets of the workbook at path as the Excel driver lists them (named ranges are no
// sheets): empty for a file that does not exist yet. Fails for a file that exists and cannot be
// read as a workbook (another kind of file, encrypted, damaged).
core::Status workbookSheets(const QString& path, QStringList* sheets);

// Why name cannot be the new sheet of a workbook holding sheets, none when it can.
// "重名，请重新命名！" when a sheet has that very name; names Excel refuses (empty, longer than 31
// characters, [ ] : * ? / \) and names that differ from a sheet's in letter case only (Excel
// does not tell them apart) are refused with a text that says why.
core::Status sheetNameRefusal(const QStringList& sheets, const QString& name);

// What "不重复数据导出（生成Excel文件）" exports, by the title of the source file (case as written:
// only "dbf"/"DBF", "xls"/"XLS", "mdb"/"MDB" count; .xlsx, .csv and .txt in any case count as
// imported sheets).
enum class RestExport {
    Nothing,       // any other ending
    NotImported,   // a dBase table opened as it is: there is no imported table to export
    ImportedTable, // ClienttableELS of the working database
    SourceTable,   // the check table itself, read through SourceConn
};
RestExport restExportOf(const QString& sourceFileTitle);

// The text of the box titled "导出成功": "OK", and when the records went on further sheets, how
// many and which.
QString exportSuccessText(const db::ExcelExportResult& result);

} // namespace control
