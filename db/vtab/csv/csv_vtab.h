#pragma once
// A delimited text file as one read-only SQLite table (module "sheet", sheet_vtab.h).
#include "db/formats/csv/csv.h"

#include <QString>

struct sqlite3;

namespace vtab {

// The table name a text file gets: its name without the last extension ("客户.csv" -> "客户").
QString textTableName(const QString& path);

// Reads the file (codePage empty: the encoding found from its bytes) and creates its table in
// schema "main", named by textTableName; *format tells the encoding and delimiter found. False
// with a Chinese error text for a missing, binary, undecodable or broken file, or one with more
// fields than an SQLite table can hold.
bool attachTextFile(sqlite3* db, const QString& path, const QString& codePage, QString* tableName,
                    formats::csv::Format* format, QString* error);

} // namespace vtab
