#pragma once
// Excel workbooks as SQLite tables (module "sheet", sheet_vtab.h): one read-only table per
// worksheet, "<sheet>$", and one per named range, "<name>" or "<sheet>$<name>" for a name local
// to a sheet (the forms the Excel database driver listed).
#include "db/vtab/sheet/sheet_vtab.h"

namespace vtab {

// An Excel 95/97-2003 workbook (.xls): reads it and creates its tables (hidden sheets
// included) in schema "main"; fills schema with the worksheets ("SYSTEM TABLE"), then the named
// ranges ("TABLE"). False with a Chinese error text for a missing, encrypted, truncated or
// foreign file.
bool attachXlsWorkbook(sqlite3* db, const QString& path, std::vector<SheetSchemaRow>* schema,
                       QString* error);

// The same for an Excel 2007 and later workbook (.xlsx, .xlsm). A sheet or range wider than
// SQLite's column limit cannot be a table: it is left out and named in *skipped.
bool attachXlsxWorkbook(sqlite3* db, const QString& path, std::vector<SheetSchemaRow>* schema,
                        QString* skipped, QString* error);

} // namespace vtab
