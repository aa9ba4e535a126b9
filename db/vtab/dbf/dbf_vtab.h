#pragma once
// SQLite virtual-table module "dbf" over dBase III/IV and Visual FoxPro tables.
#include <QString>

struct sqlite3;

namespace vtab {

// Registers the "dbf" module on the handle (safe to call again).
bool registerDbfModule(sqlite3* db, QString* error);

// Creates one virtual table in schema "main" for every .dbf file of the directory (extension
// compared without case), named after the file without its extension, case as on disk.
// codePage: empty = from the header's language-driver byte, else a .cpg file beside the table,
// else GBK (decoded as GB18030); otherwise the name of the code page to use for tables that
// declare none. False with a Chinese error text when the directory cannot be read.
bool attachDbfDirectory(sqlite3* db, const QString& directory, const QString& codePage,
                        QString* error);

} // namespace vtab
