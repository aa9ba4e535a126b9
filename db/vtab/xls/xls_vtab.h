#pragma once
// SQLite virtual-table module "xls": read-only tables over the worksheets of an .xls workbook.
#include <QString>

#include <vector>

struct sqlite3;

namespace vtab {

struct XlsSchemaRow {
    QString tableName; // "<sheet>$" for a worksheet, the name itself for a named range
    QString tableType; // "SYSTEM TABLE" for worksheets, "TABLE" for named ranges
};

// Reads the workbook and creates one virtual table "<sheet>$" per worksheet (hidden sheets
// included) in schema "main". Fills schema with the worksheets, then the named ranges.
// False with a Chinese error text for a missing, encrypted, truncated or foreign file.
bool attachXlsWorkbook(sqlite3* db, const QString& path, std::vector<XlsSchemaRow>* schema,
                       QString* error);

} // namespace vtab
