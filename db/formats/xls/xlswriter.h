#pragma once
// Writes simple Excel 97-2003 workbooks (BIFF8 .xls): sheets of text, numbers, dates and
// booleans, one default font, no formatting beyond the date formats.
#include "db/formats/xls/xls.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace formats::xls {

struct SheetData {
    QString name;
    std::vector<std::vector<Cell>> rows; // rows[r][c]; Empty cells are left out
};

// The bytes of an .xls file holding the sheets. False with a Chinese error text when the
// sheets do not fit the format (more than 65,536 rows or 256 columns, a text longer than
// 32,767 characters, a sheet name that Excel does not allow or that repeats).
bool writeWorkbook(const std::vector<SheetData>& sheets, QByteArray* out, QString* error);

// Writes the workbook to path (replacing the file only when the whole file was written).
bool writeWorkbookFile(const QString& path, const std::vector<SheetData>& sheets, QString* error);

} // namespace formats::xls
