#pragma once
// Tables as CSV text: RFC 4180, UTF-8 without a byte-order mark, "\n" line ends, a header of
// field names, then every row in the recordset's order; a null is an empty field.
#include "db/recordset.h"

#include <QByteArray>
#include <QIODevice>

namespace batch {

// Writes the whole recordset. False (with *error) when the device refused the text.
bool writeCsv(const db::Recordset& rs, QIODevice& out, QString* error);

// The same into a file, replaced if it exists.
bool writeCsvFile(const db::Recordset& rs, const QString& path, QString* error);

} // namespace batch
