#pragma once
// SQLite virtual-table module "xlsx": read-only tables over the worksheets of an .xlsx workbook.
#include "db/vtab/xls/xls_vtab.h"

#include <QString>

#include <vector>

struct sqlite3;

namespace vtab {

// Reads the workbook and creates one virtual table "<sheet>$" per worksheet (hidden sheets
// included) and one per named range, in schema "main"; fills schema with the worksheets, then
// the named ranges, in workbook order ("SYSTEM TABLE" and "TABLE", as for .xls). A sheet or
// range wider than SQLite's column limit cannot be a table: it is left out and named in
// *skipped. False with a Chinese error text for a missing, encrypted, damaged or foreign file.
bool attachXlsxWorkbook(sqlite3* db, const QString& path, std::vector<XlsSchemaRow>* schema,
                        QString* skipped, QString* error);

} // namespace vtab
