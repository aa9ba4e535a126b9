#pragma once
// An Access file copied into SQLite: the program works on the copy, as mdbtools cannot write the
// file.
#include <QString>

struct sqlite3;

namespace mdb {

// Creates every user table of the file in dest (schema "main") with its columns (text as
// VARCHAR(n) with the size in characters, memo as TEXT, numbers and dates as their kinds)
// and copies every row; values arrive as text the way Access showed them. One savepoint for
// the whole copy: a failure halfway leaves dest as it was. False with a Chinese *error.
bool copyToSqlite(const QString& path, sqlite3* dest, QString* error);

} // namespace mdb
