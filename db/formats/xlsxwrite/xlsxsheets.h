#pragma once
// Adds worksheets to an Excel 2007+ workbook (.xlsx): a new one is written by libxlsxwriter; an
// existing one is changed as a package, without touching what it holds: a new worksheet part
// (its texts as inline strings, so the shared strings stay as they are) and its entries in the
// workbook part, the workbook's relationships, the content types and, where the document has
// them and they can be read, the sheet titles of its extended properties (docProps/app.xml).
// Every other part of the package is copied as it was.
#include "db/formats/xls/xls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace formats::xlsxwrite {

using formats::xls::Cell;

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;

class SheetWriter {
public:
    SheetWriter();
    ~SheetWriter();
    SheetWriter(const SheetWriter&) = delete;
    SheetWriter& operator=(const SheetWriter&) = delete;

    // Takes the bytes of an existing workbook; path only names it in messages. False, with a
    // Chinese error, when no sheet can be added: not an .xlsx package, encrypted, damaged,
    // Strict Open XML, or with its structure protected.
    bool openExisting(const QByteArray& file, const QString& path, QString* error);
    // Starts a new workbook without sheets.
    bool openNew(QString* error);

    // Every sheet of the workbook (the new ones too), in tab order.
    QStringList sheetNames() const;

    // Starts a new worksheet after the last. False, with a Chinese error, when Excel would not
    // accept the name or the workbook already has a sheet of that name (letter case ignored).
    bool beginSheet(const QString& name, QString* error);
    // The next row of the current sheet: texts as texts, numbers as numbers, Empty cells left
    // out. False, with a Chinese error, past 1,048,576 rows or 16,384 columns, or for a text
    // longer than 32,767 characters.
    bool addRow(const std::vector<Cell>& row, QString* error);
    int rowCount() const;

    // The whole new file. The writer is spent afterwards.
    bool finish(QByteArray* out, QString* error);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace formats::xlsxwrite
