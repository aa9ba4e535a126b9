#pragma once
// Pieces shared by the writers of BIFF8 records: little-endian bytes, records, strings, the
// globals of a new workbook and the rule for sheet names.
#include "db/formats/bytes.h"
#include "db/formats/xls/xls.h"

#include <QByteArray>
#include <QString>

#include <bit>
#include <cstdint>
#include <vector>

namespace formats::xls::biff {

constexpr qsizetype kMaxBody = 8224; // the longest record body BIFF8 allows
constexpr int kMaxRows = 65536;
constexpr int kMaxColumns = 256;
constexpr int kMaxText = 32767;

// The cell formats of a new workbook: 15 General, 16 a date, 17 a date and time.
constexpr int kXfGeneral = 15, kXfDate = 16, kXfDateTime = 17;

enum RecordType : uint16_t {
    kEof = 0x000A,
    kProtect = 0x0012,
    kContinue = 0x003C,
    kBoundSheet = 0x0085,
    kColInfo = 0x007D,
    kTabId = 0x013D,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kExtSst = 0x00FF,
    kSupBook = 0x01AE,
    kDimensions = 0x0200,
    kNumber = 0x0203,
    kIndex = 0x020B,
    kWindow2 = 0x023E,
    kBof = 0x0809,
};

class Bytes {
public:
    Bytes& u8(uint8_t v) {
        d.append(char(v));
        return *this;
    }
    Bytes& u16(uint16_t v) {
        char b[2];
        putLe16(b, v);
        d.append(b, 2);
        return *this;
    }
    Bytes& u32(uint32_t v) {
        char b[4];
        putLe32(b, v);
        d.append(b, 4);
        return *this;
    }
    Bytes& f64(double v) {
        char b[8];
        putLe64(b, std::bit_cast<uint64_t>(v));
        d.append(b, 8);
        return *this;
    }
    // Characters of a BIFF8 string: one byte each when all fit Latin-1, else UTF-16LE.
    Bytes& chars(const QString& s, bool wide) {
        for (QChar c : s)
            wide ? u16(c.unicode()) : u8(uint8_t(c.unicode()));
        return *this;
    }
    QByteArray d;
};

bool needsWide(const QString& s);
void record(QByteArray& out, uint16_t type, const QByteArray& body);
// A string with an 8-bit length (sheet names, font names).
QByteArray shortString(const QString& s);
// The body of a BOF record: 0x0005 workbook globals, 0x0010 worksheet.
QByteArray bof(uint16_t type);
// The globals of a new workbook up to its sheets: code page, window, date system, fonts, the
// date formats and the cell formats kXfGeneral, kXfDate and kXfDateTime.
QByteArray newGlobalsHead();

// Why Excel refuses a sheet name, in Chinese; empty when the name is allowed.
QString sheetNameProblem(const QString& name);

// Why a new sheet holding rows rows cannot take one more row: it is full (maxRows), the row has
// more than maxColumns values, or a text is longer than a cell holds (kMaxText, the same in
// both formats). Empty when it can. format names the sheet kind in the message.
QString rowRefusal(const QString& sheet, qint64 rows, qint64 maxRows, int maxColumns,
                   const std::vector<Cell>& row, const QString& format);

} // namespace formats::xls::biff
