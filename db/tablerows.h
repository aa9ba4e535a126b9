#pragma once
// Every row of a whole table read once, in order, without a recordset: for a copy that reads a
// table from the first row to the last and keeps nothing of it (an import of a million rows does
// not hold them twice). The values are those a recordset opened on "Select * From <table>"
// reads.
#include "db/connection.h"

#include <QStringView>

#include <functional>
#include <span>

namespace db {

// One call per row, with one view per column (a null view for a null value), valid during the
// call; false from it stops the reading. A sheet or text file's table is read straight from the
// values kept in memory, a dBase table straight from its file, any other table through SQLite.
// total (may be null) gets the number of rows before the first call. False with *error when the
// table cannot be read (a stop is no error).
using RowReader = std::function<bool(std::span<const QStringView> values)>;
bool readTable(const Connection& conn, const QString& table, qint64* total, const RowReader& row,
               QString* error);

// How a REAL value of SQLite reads as text in this layer.
QString realText(double value);

} // namespace db
