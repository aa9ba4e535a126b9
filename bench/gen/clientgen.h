#pragma once
// Realistic Chinese customer lists for benchmarks and tests: names, companies, addresses from a
// province-city-county reference file, postcodes, phone numbers and ID numbers, with planted
// exact and near copies whose sources are known. The same seed and options always give the
// same rows and the same file bytes, on every standard library.
#include <QString>
#include <QStringList>

#include <vector>

namespace gen {

struct Options {
    int rows = 1000;          // rows of the list, planted copies included
    quint32 seed = 1;         // same seed and options -> byte-identical output
    double exactShare = 0.05; // share of rows that are exact copies of an earlier row
    double nearShare = 0.05;  // share of rows that are near copies of an earlier row
    QString regionCsv;        // province-city-county file; empty: the default path below if
                              // it exists, else a small built-in list
};

struct Table {
    QStringList fields; // always: 姓名 性别 公司 省份 城市 区县 地址 邮编 电话 证件号
    std::vector<QStringList> rows; // every row has fields.size() values
    int exactCopies = 0;           // rows planted as exact copies
    int nearCopies = 0;            // rows planted as near copies
    std::vector<int> copyOf;       // per row: index of the row it copies, -1 for an original
};

Table generate(const Options& options);

// The reference file used when Options::regionCsv is empty: <source dir>/tests/data/reference/
// china-region/region.csv.
QString defaultRegionCsv();

// dBase III table (FoxPro 2 compatible), GBK text (language driver 0x7A), one character field
// per column as wide as its longest value in GBK bytes (1 to 254). Records are streamed; the
// file is replaced only once it is complete.
bool writeDbf(const Table& t, const QString& path, QString* error);
// Excel 97-2003 workbook with one sheet "客户": a header row of field names, every value as
// text, empty values as empty cells. Refuses more than 65,535 data rows.
bool writeXls(const Table& t, const QString& path, QString* error);
// RFC 4180 CSV: UTF-8 without BOM, "\n" line ends, a header row.
bool writeCsv(const Table& t, const QString& path, QString* error);
// Excel 2007 and later workbook (libxlsxwriter) with one sheet "客户": a header row, every value
// as a shared string as Excel writes text, empty values as empty cells. Refuses more than
// 1,048,575 data rows; fails with a message when the generator was built without libxlsxwriter.
bool writeXlsx(const Table& t, const QString& path, QString* error);

} // namespace gen
