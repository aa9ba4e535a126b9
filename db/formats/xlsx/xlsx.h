#pragma once
// Excel 2007 and later workbooks (.xlsx, .xlsm: a zip package of XML parts): the cells of every
// worksheet and the named ranges, read into the same Workbook the .xls reader fills, so the two
// show a cell the same way (formats::xls::displayText) and make the same tables of a sheet
// (formats::xls::worksheetTable, rangeTable).
//
// What is read: the workbook part and its relationships (worksheets in workbook order, hidden
// ones too; chart, dialog and macro sheets left out; the 1900 or 1904 date system; defined
// names), the number formats of the cell styles (a number shown with a date or time format is a
// date), the shared strings (rich-text runs joined, phonetic guides left out, _xHHHH_ escapes
// resolved), and per cell its cached value: numbers, shared and inline strings, formula text
// results, booleans, errors and ISO 8601 dates. Cells and rows without a reference follow the
// one before them.
//
// The whole package is checked as it is read: a damaged zip or XML part, a cell outside the
// sheet grid or a string index past the table ends in an error, never a crash or a hang. Parts
// are inflated as they are parsed, never trusted for their stated size: a part that inflates
// past a limit (a "zip bomb") stops the read.
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace formats::xlsx {

enum class ReadError {
    None,
    Unreadable,  // missing or unreadable file
    NotWorkbook, // not a zip package, or a package without a workbook (a Word file, ...)
    OldFormat,   // an Excel 97-2003 compound file (the caller reads it as .xls)
    Binary,      // an Excel binary workbook (.xlsb)
    Encrypted,   // a password-protected workbook (an EncryptedPackage in a compound file)
    Corrupt,     // a damaged zip, XML part or cell
    TooLarge,    // a part inflates past the limits
};

struct Limits {
    int64_t partBytes = int64_t(1) << 30;  // no part may inflate past this (1 GiB)
    int64_t ratioFrom = int64_t(64) << 20; // past this many bytes a part may inflate to ...
    int64_t ratio = 200;                   // ... at most this many times its compressed size
};

// Reads a workbook from the bytes of an .xlsx file.
ReadError readWorkbook(const QByteArray& file, xls::Workbook* out, const Limits& limits = {});

// Reads a workbook from disk; false with a Chinese error text naming the file. An Excel 97-2003
// workbook saved under an .xlsx name is read as what it is.
bool readWorkbookFile(const QString& path, xls::Workbook* out, QString* error);

// As readWorkbook and readWorkbookFile, with the table of each worksheet (what
// xls::worksheetTable makes of it) made as its cells are read, so they are never all held:
// (*tables)[i] is the table of sheet i, whose cells stay empty. A sheet whose cells do not come
// in order, every sheet of a workbook with named ranges, and an Excel 97-2003 workbook keep their
// cells and get no table. Throws std::length_error for more text than a table can point at.
ReadError readWorkbookTables(const QByteArray& file, xls::Workbook* out,
                             std::vector<std::optional<xls::Table>>* tables,
                             const Limits& limits = {});
bool readWorkbookTablesFile(const QString& path, xls::Workbook* out,
                            std::vector<std::optional<xls::Table>>* tables, QString* error);

// The Chinese error text for a failed read of path.
QString errorText(ReadError error, const QString& path);

// Whether the bytes start like a zip package.
bool isZip(const QByteArray& head);

} // namespace formats::xlsx
