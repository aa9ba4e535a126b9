#pragma once
// Excel 95 and Excel 97-2003 workbooks (.xls: BIFF5 in a "Book" stream, BIFF8 in a "Workbook"
// stream of a compound file): the cells of every worksheet, the named ranges, and the text a
// user sees in each cell.
//
// The whole workbook is read at once into memory. Every length and index in the file is checked
// before it is used, so a damaged or foreign file ends in an error, never a crash or a hang.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace formats::xls {

enum class CellKind : uint8_t { Empty, Number, Text, Boolean, Error };

// One cell's value. Shared by the reader and the writer.
struct Cell {
    CellKind kind = CellKind::Empty;
    bool date = false;    // a number shown with a date or time format
    bool elapsed = false; // ... with an elapsed-time format ([h]:mm:ss): hours beyond 24
    double number = 0;    // Number; Boolean 0 or 1; Error the error code (0x07 = #DIV/0!, ...)
    QString text;         // Text

    static Cell ofNumber(double v, bool isDate = false, bool isElapsed = false) {
        return {CellKind::Number, isDate, isDate && isElapsed, v, {}};
    }
    static Cell ofText(const QString& s) { return {CellKind::Text, false, false, 0, s}; }
    static Cell ofBoolean(bool b) { return {CellKind::Boolean, false, false, b ? 1.0 : 0.0, {}}; }
    static Cell ofError(int code) { return {CellKind::Error, false, false, double(code), {}}; }
};

struct PlacedCell {
    uint32_t row = 0; // 0-based
    uint16_t col = 0; // 0-based
    Cell cell;
};

enum class Visibility : uint8_t { Visible, Hidden, VeryHidden };

struct Sheet {
    QString name;
    Visibility visibility = Visibility::Visible;
    std::vector<PlacedCell> cells; // sorted by row, then column; at most one per position

    // The cell at a position, or null when nothing is stored there.
    const Cell* at(uint32_t row, uint16_t col) const;
};

// A name that refers to one rectangular area of one worksheet.
struct NamedRange {
    QString name;
    int scope = -1; // index of the worksheet a sheet-local name belongs to; -1 for the workbook
    int sheet = 0;  // index of the worksheet the area lies on
    uint32_t firstRow = 0, lastRow = 0; // 0-based, inclusive
    uint16_t firstCol = 0, lastCol = 0;
};

struct Workbook {
    int biffVersion = 8; // 5 (Excel 95) or 8 (Excel 97-2003)
    int codePage = 1200; // the CODEPAGE record; decides 8-bit text
    bool date1904 = false;
    std::vector<Sheet> sheets; // worksheets in workbook order (charts and macro sheets left out)
    std::vector<NamedRange> names;
};

enum class ReadError {
    None,
    Unreadable,       // missing or unreadable file
    NotWorkbook,      // not a compound file, or no BIFF stream inside
    NewFormat,        // an .xlsx (zip) workbook
    OldFormat,        // Excel 2.x-4.0
    Encrypted,        // FILEPASS, or an encrypted Office 2007+ package
    Truncated,        // the file ends before its data does
    Corrupt,          // inconsistent structures
    NoWorkbookStream, // a compound file without a Workbook/Book stream
};

// Reads a workbook from the bytes of an .xls file.
ReadError readWorkbook(const QByteArray& file, Workbook* out);

// Reads a workbook from disk; false with a Chinese error text naming the file.
bool readWorkbookFile(const QString& path, Workbook* out, QString* error);

// The Chinese error text for a failed read of path.
QString errorText(ReadError error, const QString& path);

// The text a user sees for a cell, in the form he typed it; nullopt for an empty cell.
// Numbers: whole numbers below 10^15 as plain digits (13800138000, 12), others the shortest
// text that reads back as the same double (3.5, 0.1, 1e+20). Date-formatted numbers:
// yyyy-MM-dd, with " HH:mm:ss" when the time is not midnight; a value below one day as
// HH:mm:ss; values outside 0001-9999 as plain numbers; elapsed-time formats as hours:mm:ss
// with the hours running past 24 (255:10:10). Booleans: TRUE / FALSE, as Excel shows
// them. Errors: Excel's text (#DIV/0!, #N/A, ...).
std::optional<QString> displayText(const Cell& cell, bool date1904);

// Whether a number format string shows dates or times: y, m, d, h or s outside quoted text,
// escaped characters and [bracketed] parts, and no digit placeholders (0 # ?) apart from the
// fraction of seconds.
bool isDateFormat(const QString& format);

// Whether a date format counts elapsed time: a [h], [m] or [s] part.
bool isElapsedFormat(const QString& format);

// Whether a built-in number format id is a date or time format (14-22, 45-47, and the CJK
// date formats 27-36 and 50-58 of Chinese and Japanese Excel).
bool isBuiltInDateFormat(int id);

} // namespace formats::xls
