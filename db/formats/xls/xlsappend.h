#pragma once
// Adds worksheets at the end of an Excel 97-2003 workbook (BIFF8 .xls), or of a new one.
//
// Everything the workbook held stays as it was: its sheets' records are copied byte for byte
// (only the stream positions in their INDEX records move with them), and so are the names,
// formats, styles, formulas, external references, macros and document properties. The
// globals change only where a new sheet must be known: a BOUNDSHEET record per new sheet after
// the last one (new sheets come last, so every sheet index that names or formulas keep still
// points at the same sheet), the sheet count of the workbook's own SUPBOOK, the sheet ids of
// TABID, the new sheets' strings added at the end of the shared-string table (existing
// strings keep their numbers and bytes) with its EXTSST index rebuilt, and, only where the
// workbook has no plain cell format, one more XF record after the last. The compound file is
// then written again with all its other streams and storages.
//
// Rows are added one at a time and kept as finished BIFF records, so a large export needs
// about the memory of the file it makes.
#include "db/formats/xls/xls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace formats::xls {

class SheetAppender {
public:
    SheetAppender();
    ~SheetAppender();
    SheetAppender(const SheetAppender&) = delete;
    SheetAppender& operator=(const SheetAppender&) = delete;

    // Takes the bytes of an existing workbook; path only names it in messages. False, with a
    // Chinese error, when no sheet can be added: not an Excel 97-2003 workbook, an Excel 95 or
    // older one, encrypted, damaged, or with its structure protected.
    bool openExisting(const QByteArray& file, const QString& path, QString* error);
    // Starts a new workbook without sheets.
    void openNew();

    // Every sheet of the workbook (worksheets, charts, macro sheets; the new ones too), in
    // tab order.
    QStringList sheetNames() const;

    // Starts a new worksheet after the last. False, with a Chinese error, when Excel would not
    // accept the name or the workbook already has a sheet of that name (letter case ignored,
    // as Excel compares them).
    bool beginSheet(const QString& name, QString* error);
    // The next row of the current sheet: texts are stored as shared strings (so "001234"
    // stays text), numbers as numbers, booleans and errors as such; Empty cells are left out.
    // False, with a Chinese error, past 65,536 rows or 256 columns, or for a text longer than
    // 32,767 characters.
    bool addRow(const std::vector<Cell>& row, QString* error);
    int rowCount() const; // rows of the current sheet

    // The whole new file. The appender is spent afterwards.
    bool finish(QByteArray* out, QString* error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace formats::xls
