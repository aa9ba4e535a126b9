#pragma once
// Small helpers shared by the virtual-table modules.
#include <QString>

#include <sqlite3.h>

namespace vtab {

// Sets a text result from UTF-16 text (copied by SQLite).
void resultText(sqlite3_context* ctx, QStringView text);
// Reads an argument value as text; null stays null (isNull set).
QString valueText(sqlite3_value* value, bool* isNull);
// Stores a message on the virtual table for SQLite to report.
void setError(sqlite3_vtab* vt, const QString& message);

} // namespace vtab
