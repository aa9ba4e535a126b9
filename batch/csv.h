#pragma once
// Tables as CSV text: RFC 4180, UTF-8 without a byte-order mark, "\n" line ends, a header of
// field names, then every row in the recordset's order; a null is an empty field.
#include "db/recordset.h"

#include <QByteArray>
#include <QIODevice>
#include <QStringList>

#include <functional>

namespace batch {

// Writes the whole recordset. False (with *error) when the device refused the text.
bool writeCsv(const db::Recordset& rs, QIODevice& out, QString* error);

// The same into a file, replaced if it exists.
bool writeCsvFile(const db::Recordset& rs, const QString& path, QString* error);

// Any table of rows x columns into a file, replaced if it exists: the header's names, then
// cell(row, column) for every row.
bool writeCsvFile(const QStringList& header, int rows,
                  const std::function<QStringView(int, int)>& cell, const QString& path,
                  QString* error);

} // namespace batch
