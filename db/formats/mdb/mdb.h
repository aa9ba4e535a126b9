#pragma once
// Access (Jet 3/4, ACE) databases read through mdbtools. mdbtools cannot write them, so the
// program reads a whole file into a private SQLite database and works on that copy.
#include <QString>
#include <QStringList>

struct sqlite3;

namespace mdb {

// True when the file starts like a Jet or ACE database.
bool isAccessFile(const QString& path);

// The user tables of the file in the engine's catalogue order, "MSys" names left out.
// False with a Chinese error text when the file cannot be read.
bool listTables(const QString& path, QStringList* tables, QString* error);

// Creates every user table of the file in dest (schema "main") with its columns (text as
// VARCHAR(n) with the size in characters, memo as TEXT, numbers and dates as their kinds)
// and copies every row; values arrive as text the way Access showed them.
bool copyToSqlite(const QString& path, sqlite3* dest, QString* error);

} // namespace mdb
