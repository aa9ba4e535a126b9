#pragma once
// Names of tables and columns as SQLite identifiers. Every name that reaches SQLite (tables
// copied from Access files, columns of the dBase and Excel modules, the translated statements)
// is quoted here.
#include <QString>

namespace formats {

// "name": between double quotes, each double quote inside the name doubled, nothing else
// changed, so any name (blanks, brackets, apostrophes, Chinese, reserved words) stays one name.
QString sqliteIdent(const QString& name);

} // namespace formats
