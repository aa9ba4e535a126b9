#pragma once
// SQLite virtual-table module "dbf" over dBase III/IV and Visual FoxPro tables.
#include "db/formats/dbf/dbf.h"

#include <QString>
#include <QStringList>

struct sqlite3;

namespace vtab {

// Registers the "dbf" module on the handle (safe to call again).
bool registerDbfModule(sqlite3* db, QString* error);

// Creates one virtual table in schema "main" for every .dbf file of the directory (extension
// compared without case), named after the file without its extension, case as on disk.
// codePage: empty = from the header's language-driver byte, else a .cpg file beside the table,
// else the one guessed from the table's text (formats::dbf::guessCodePage; GBK, decoded as
// GB18030, for plain ASCII); otherwise the name of the code page to use for tables that
// declare none. False with a Chinese error text when the directory cannot be read.
bool attachDbfDirectory(sqlite3* db, const QString& directory, const QString& codePage,
                        QString* error);

// A whole dBase table of the handle as a plain "SELECT rowid, *" would give it (the record
// number as rowid, the module's columns and values), read straight from the file instead of
// through SQLite one value at a time. False when the handle has no dbf table of that name (the
// caller then reads it the usual way) or the file cannot be read (*error says why).
struct DbfRows {
    QStringList names;    // the columns, as the module declares them
    QStringList declared; // their declared types
    formats::dbf::Table::TextColumns values;
};
bool readDbfRows(sqlite3* db, const QString& table, DbfRows* out, QString* error);

// Whether the named column of a dbf table of the handle would take the value; true for a table
// or column the handle has no dbf table of. False with the Chinese text a write would give.
bool checkDbfValue(sqlite3* db, const QString& table, const QString& column, const QString& value,
                   QString* error);

} // namespace vtab
