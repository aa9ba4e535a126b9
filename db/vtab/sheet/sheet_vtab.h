#pragma once
// SQLite virtual-table module "sheet": read-only tables over values read into memory, one per
// part of a file: a worksheet or named range of an Excel workbook (.xls, .xlsx), a delimited
// text file. Each format gives a loader that reads its file into parts (xls_vtab.h,
// csv_vtab.h); the module, the registry of what a connection has attached and the attaching are
// written once, here.
//
// A file is read once, when it is attached, and kept in memory with the connection, so
// reconnecting a table does not read the file again. Every column is text (VARCHAR(255), or
// longer when a value is longer); empty cells are NULL. The rowid is the record's number, from
// 1. The tables are read-only.
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"

#include <QString>

#include <memory>
#include <vector>

struct sqlite3;

namespace vtab {

struct SheetSchemaRow {
    QString tableName; // "<sheet>$" for a worksheet, the name itself for a named range or file
    QString tableType; // "SYSTEM TABLE" for worksheets, "TABLE" for the others
};

struct SheetPart {
    QString name; // the table's name
    bool worksheet = false;
    formats::xls::Table table;
};

// Reads the file at path (argument: what else its kind needs, such as a code page) into its
// parts, in order; false with a Chinese *error.
using SheetLoader = bool (*)(const QString& path, const QString& argument,
                             std::vector<SheetPart>* parts, QString* error);

// A kind of file and how to read one.
struct SheetKind {
    QString name;      // in the tables' definitions: "xls", "xlsx", "csv"
    QString fileKind;  // the file in messages: "Excel文件", "文本文件"
    QString tableKind; // its tables in messages: "Excel工作表", "文本文件的表"
    SheetLoader load;
};

// Creates one table per part of the file, read already into parts, in schema "main"; a name that
// repeats gets a number so nothing is hidden. A part wider than SQLite's column limit is left
// out and named in *skipped, or, when skipped is null, fails the attach. schema (may be null)
// gets the tables in order. A table's definition names the kind, the path and the argument: a
// database file that keeps it reads the file again with the kind's loader when the table is
// first used on a later connection. False with a Chinese *error; no table of the file stays
// then.
bool attachSheets(sqlite3* db, const SheetKind& kind, const QString& path, const QString& argument,
                  std::vector<SheetPart> parts, std::vector<SheetSchemaRow>* schema,
                  QString* skipped, QString* error);

// The parts of a workbook: its worksheets "<sheet>$", then its named ranges ("<name>", or
// "<sheet>$<name>" for a name local to a sheet), as the Excel database driver listed them. The
// book's cells are used up; a sheet whose table was made as it was read (made[i], see
// formats::xlsx::readWorkbookTables) gives that table.
std::vector<SheetPart> workbookParts(formats::xls::Workbook&& book,
                                     std::vector<std::optional<formats::xls::Table>>&& made = {});

// The rows a sheet table of the handle reads, as they are kept in memory, for a caller that
// reads a whole table once without SQLite between; null when the handle has no sheet table of
// that name.
std::shared_ptr<const formats::xls::Table> sheetRows(sqlite3* db, const QString& table);

} // namespace vtab
