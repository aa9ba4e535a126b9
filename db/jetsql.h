#pragma once
// Translation of the original engine's SQL (Jet) into SQLite's.
//
// The program's statements are few: "Select <list> From <t> [Where ...] [Order By ...]",
// "Select <list> Into <t> From <s> ...", "Delete * From <t>", "Drop Table <t>". Identifiers in
// [brackets] become "quoted"; "Delete *" loses its star; a text compared with "=" or "<>" gets
// COLLATE NOCASE (ASCII letter case folded, as in filters); Like patterns keep their "%" and
// "_" wildcards and their "[x]" escapes become SQLite ESCAPE sequences.
#include "db/formats/sqlident.h"

#include <QString>

namespace db {

struct JetStatement {
    enum Kind { Select, SelectInto, Other } kind = Other;
    QString sql;            // the statement in SQLite's SQL (for SelectInto: the SELECT part)
    QString intoTable;      // SelectInto: the new table's name (unquoted)
    QString baseTable;      // Select: the one table read, when it is a plain single-table select
    bool selectAll = false; // Select: the list is "*"
};

bool translateJet(const QString& jetSql, JetStatement* out, QString* error);

// Whether a statement writes into a file of the form "select ... into [<kind>;database=<path>]
// .<name> ...": no SQL to translate (see db::IntoFileHandler).
bool isIntoFileStatement(const QString& jetSql);

// "name" for SQLite, with doubled quotes.
using formats::sqliteIdent;

} // namespace db
