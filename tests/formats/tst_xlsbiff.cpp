// The .xls reader on workbooks built record by record (formulas, shared strings split over
// CONTINUE records, every kind of cell record, encryption), the rules for the text of a value,
// the compound-file container against damage, and the writer. Workbooks built here are also
// read by xlrd (Debian's python3-xlrd) as an independent check of both the files and the reader.
#include "db/formats/xls/biffwrite.h"
#include "db/formats/xls/cfb.h"
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlstable.h"
#include "db/formats/xls/xlswriter.h"
#include "db/vtab/xls/xls_vtab.h"
#include "tests/support/testsupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtEndian>

#include <sqlite3.h>

#include <bit>
#include <cmath>

using namespace formats::xls;

namespace {

// Little-endian bytes of a record body.
struct LE {
    QByteArray d;
    LE& u8(int v) {
        d.append(char(v & 0xFF));
        return *this;
    }
    LE& u16(int v) { return u8(v).u8(v >> 8); }
    LE& u32(uint32_t v) { return u16(int(v & 0xFFFF)).u16(int(v >> 16)); }
    LE& f64(double v) {
        const uint64_t b = std::bit_cast<uint64_t>(v);
        return u32(uint32_t(b)).u32(uint32_t(b >> 32));
    }
    LE& latin1(const QByteArray& s) {
        d.append(s);
        return *this;
    }
    LE& utf16(const QString& s) {
        for (QChar c : s)
            u16(c.unicode());
        return *this;
    }
    LE& raw(const QByteArray& b) {
        d.append(b);
        return *this;
    }
};

QByteArray rec(int type, const QByteArray& body) {
    return LE().u16(type).u16(int(body.size())).raw(body).d;
}

// A BIFF8 string with a 16-bit length, compressed or two-byte characters.
QByteArray str16(const QString& s) {
    const bool wide = std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
    LE b;
    b.u16(int(s.size())).u8(wide ? 1 : 0);
    return wide ? b.utf16(s).d : b.latin1(s.toLatin1()).d;
}

enum { kXfGeneral = 15, kXfDate = 16, kXfElapsed = 17, kXfCustomDate = 18 };

// A BIFF8 workbook: globals with the usual cell formats (XF 15 General, 16 a date, 17 elapsed
// time [h]:mm:ss, 18 a custom date format), extra global records, one worksheet per entry.
QByteArray workbookStream(const QByteArray& globalsExtra,
                          const QList<QPair<QString, QByteArray>>& sheets,
                          int biffVersion = 0x0600) {
    QByteArray g = rec(0x0809, LE().u16(biffVersion).u16(5).u32(0).u32(0).u32(0).d);
    g += rec(0x0042, LE().u16(1200).d);
    g += rec(0x041E, LE().u16(164).raw(str16(QStringLiteral("yyyy\"年\"m\"月\"d\"日\""))).d);
    const auto xf = [](int format) {
        return rec(0x00E0, LE().u16(0)
                               .u16(format)
                               .u16(0x0001)
                               .u8(0x20)
                               .u8(0)
                               .u8(0)
                               .u8(0)
                               .u32(0)
                               .u32(0)
                               .u16(0x20C0)
                               .d);
    };
    for (int i = 0; i < 16; ++i)
        g += xf(0);
    g += xf(14) + xf(46) + xf(164);
    g += globalsExtra;
    QList<int> patchAt;
    for (const auto& s : sheets) {
        patchAt << int(g.size()) + 4;
        g += rec(0x0085, LE().u32(0).u8(0).u8(0).u8(int(s.first.size())).u8(1).utf16(s.first).d);
    }
    g += rec(0x000A, {});
    QByteArray stream = g;
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray at = LE().u32(uint32_t(stream.size())).d;
        stream.replace(patchAt[i], 4, at);
        stream += rec(0x0809, LE().u16(biffVersion).u16(0x10).u32(0).u32(0).u32(0).d);
        stream += sheets[i].second;
        stream += rec(0x000A, {});
    }
    return stream;
}

QByteArray workbookFile(const QByteArray& globalsExtra,
                        const QList<QPair<QString, QByteArray>>& sheets) {
    return formats::cfb::write(
        {{QStringLiteral("Workbook"), workbookStream(globalsExtra, sheets)}});
}

QByteArray cellHead(int row, int col, int xf) {
    return LE().u16(row).u16(col).u16(xf).d;
}

QByteArray formula(int row, int col, int xf, const QByteArray& result) {
    // The result, flags, a cache id and a tiny token array (the integer 3).
    return rec(0x0006,
               LE().raw(cellHead(row, col, xf)).raw(result).u16(0).u32(0).u16(3).u8(0x1E).u16(3).d);
}

QByteArray specialResult(int kind, int value) {
    return LE().u8(kind).u8(0).u8(value).u8(0).u8(0).u8(0).u16(0xFFFF).d;
}

// Every value of a sheet's table, as "r,c=text" lines (records from 0, NULL left out).
QStringList tableLines(const Table& t) {
    QStringList lines{t.fields.join(u'|')};
    for (qsizetype r = 0; r < t.rowCount(); ++r)
        for (int c = 0; c < t.fields.size(); ++c)
            if (const std::optional<QString> v = t.value(r, c))
                lines << QStringLiteral("%1,%2=%3").arg(r).arg(c).arg(*v);
    return lines;
}

QStringList jsonLines(const QJsonObject& sheet) {
    QStringList fields;
    for (const auto& f : sheet[u"fields"].toArray())
        fields << f.toString();
    QStringList lines{fields.join(u'|')};
    const QJsonArray rows = sheet[u"rows"].toArray();
    for (int r = 0; r < rows.size(); ++r) {
        const QJsonArray row = rows[r].toArray();
        for (int c = 0; c < row.size(); ++c)
            if (!row[c].isNull())
                lines << QStringLiteral("%1,%2=%3").arg(r).arg(c).arg(row[c].toString());
    }
    return lines;
}

QString dumpScript() {
    return QStringLiteral(CHACHONG_SOURCE_DIR) + QStringLiteral("/tests/formats/xls_dump.py");
}

// xlrd's view of a file, or an empty object (with a failed check) when xlrd fails.
QJsonObject xlrdDump(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(dumpScript(), {path}, &ok, &err);
    if (!ok) qWarning().noquote() << "xlrd failed on" << path << err;
    return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

ReadError readBytes(const QByteArray& bytes, Workbook* book) {
    return readWorkbook(bytes, book);
}

} // namespace

class TestXlsBiff : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;

    QString save(const QString& name, const QByteArray& bytes) {
        const QString path = tmp_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
        return path;
    }

    // Our table of every sheet equals xlrd's.
    void compareWithXlrd(const QString& path) {
        Workbook book;
        QString error;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        const QJsonObject dump = xlrdDump(path);
        QVERIFY(!dump.isEmpty());
        const QJsonArray sheets = dump[u"sheets"].toArray();
        QCOMPARE(qsizetype(book.sheets.size()), sheets.size());
        for (int i = 0; i < sheets.size(); ++i) {
            QCOMPARE(book.sheets[size_t(i)].name, sheets[i].toObject()[u"name"].toString());
            QCOMPARE(tableLines(worksheetTable(book, book.sheets[size_t(i)])),
                     jsonLines(sheets[i].toObject()));
        }
    }

private slots:
    // The rows a writer refuses instead of cutting or dropping them, in either format's limits.
    void rowsASheetCannotTake() {
        using formats::xls::biff::rowRefusal;
        const QString kind = QStringLiteral("Excel 97-2003的工作表");
        const std::vector<Cell> fits = {Cell::ofText(QString(32767, QLatin1Char('x'))),
                                        Cell::ofNumber(13800138000.0)};
        QVERIFY(rowRefusal(QStringLiteral("名单"), 65535, 65536, 256, fits, kind).isEmpty());
        QCOMPARE(rowRefusal(QStringLiteral("名单"), 65536, 65536, 256, fits, kind),
                 QStringLiteral("工作表“名单”已有65536行，Excel 97-2003的工作表最多容纳65536行。"));
        QCOMPARE(rowRefusal(QStringLiteral("名单"), 0, 65536, 1, fits, kind),
                 QStringLiteral("要写入2列，Excel 97-2003的工作表最多容纳1列。"));
        const std::vector<Cell> tooLong = {Cell::ofText(QString(32768, QLatin1Char('x')))};
        QCOMPARE(rowRefusal(QStringLiteral("名单"), 9, 1048576, 16384, tooLong,
                            QStringLiteral("Excel工作表")),
                 QStringLiteral("工作表“名单”第10行有一个32768个字符的文本，超过了Excel单元格的"
                                "上限32767个字符。"));
    }
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    // Every kind of cell record, and formulas with each kind of cached result.
    void cellRecordsAndFormulas() {
        const QString longText = QString(8000, QLatin1Char('a')) + QString(2000, QChar(0x4E2D));
        QByteArray s;
        s += rec(0x0204, LE().raw(cellHead(0, 0, kXfGeneral)).raw(str16(QStringLiteral("名称"))).d);
        s += rec(0x0204, LE().raw(cellHead(0, 1, kXfGeneral)).raw(str16(QStringLiteral("值"))).d);
        // RK: an integer, an integer / 100, a double's high bits.
        s += rec(0x027E, LE().raw(cellHead(1, 0, kXfGeneral)).u32((13800 << 2) | 2).d);
        s += rec(0x027E, LE().raw(cellHead(1, 1, kXfGeneral)).u32((-350 << 2) | 3).d);
        s += rec(0x027E, LE().raw(cellHead(1, 2, kXfGeneral))
                             .u32(uint32_t(std::bit_cast<uint64_t>(3.5) >> 32))
                             .d);
        // MULRK across three columns, one of them a date.
        s += rec(0x00BD, LE().u16(2)
                             .u16(0)
                             .u16(kXfGeneral)
                             .u32((7 << 2) | 2)
                             .u16(kXfDate)
                             .u32((45000 << 2) | 2)
                             .u16(kXfGeneral)
                             .u32((-1 << 2) | 2)
                             .u16(2)
                             .d);
        s += rec(0x0203, LE().raw(cellHead(3, 0, kXfGeneral)).f64(13800138000.0).d);
        s += rec(0x0203, LE().raw(cellHead(3, 1, kXfGeneral)).f64(0.1).d);
        s += rec(0x0203, LE().raw(cellHead(3, 2, kXfCustomDate)).f64(45000.75).d);
        s += rec(0x0205, LE().raw(cellHead(4, 0, kXfGeneral)).u8(1).u8(0).d);    // TRUE
        s += rec(0x0205, LE().raw(cellHead(4, 1, kXfGeneral)).u8(0x2A).u8(1).d); // #N/A
        s += rec(0x0201, cellHead(4, 2, kXfGeneral));                            // BLANK
        s += rec(0x00BE, LE().u16(5).u16(0).u16(kXfGeneral).u16(kXfGeneral).u16(1).d);
        // Formulas: number, date, text (STRING after a shared-formula record), boolean,
        // error, empty text, and a long text split over a CONTINUE whose characters switch
        // to two bytes.
        s += formula(6, 0, kXfGeneral, LE().f64(42.5).d);
        s += formula(6, 1, kXfDate, LE().f64(45000).d);
        s += formula(6, 2, kXfGeneral, specialResult(0, 0));
        s += rec(0x04BC, QByteArray(10, '\0'));
        s += rec(0x0207, str16(QStringLiteral("公式文本 O'Brien")));
        s += formula(7, 0, kXfGeneral, specialResult(1, 1));
        s += formula(7, 1, kXfGeneral, specialResult(2, 0x07));
        s += formula(7, 2, kXfGeneral, specialResult(3, 0));
        s += formula(8, 0, kXfGeneral, specialResult(0, 0));
        s += rec(0x0207, LE().u16(int(longText.size())).u8(0).latin1(QByteArray(8000, 'a')).d);
        s += rec(0x003C, LE().u8(1).utf16(QString(2000, QChar(0x4E2D))).d);
        s += formula(8, 1, kXfElapsed, LE().f64(10.0 + 15.0 / 24 + 10.0 / 1440 + 10.0 / 86400).d);

        const QString path = save(QStringLiteral("cells.xls"), workbookFile({}, {{"Data", s}}));
        Workbook book;
        QString error;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        QCOMPARE(book.sheets.size(), size_t(1));
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.fields, (QStringList{"名称", "值", "F3"}));
        QCOMPARE(t.rowCount(), qsizetype(8));
        const auto v = [&](int r, int c) {
            return t.value(r, c).value_or(QStringLiteral("<NULL>"));
        };
        QCOMPARE(v(0, 0), QStringLiteral("13800"));
        QCOMPARE(v(0, 1), QStringLiteral("-3.5"));
        QCOMPARE(v(0, 2), QStringLiteral("3.5"));
        QCOMPARE(v(1, 0), QStringLiteral("7"));
        QCOMPARE(v(1, 1), QStringLiteral("2023-03-15"));
        QCOMPARE(v(1, 2), QStringLiteral("-1"));
        QCOMPARE(v(2, 0), QStringLiteral("13800138000"));
        QCOMPARE(v(2, 1), QStringLiteral("0.1"));
        QCOMPARE(v(2, 2), QStringLiteral("2023-03-15 18:00:00"));
        QCOMPARE(v(3, 0), QStringLiteral("TRUE"));
        QCOMPARE(v(3, 1), QStringLiteral("#N/A"));
        QCOMPARE(v(3, 2), QStringLiteral("<NULL>"));
        QCOMPARE(v(4, 0), QStringLiteral("<NULL>")); // a row of blank cells is a record of NULLs
        QCOMPARE(v(5, 0), QStringLiteral("42.5"));
        QCOMPARE(v(5, 1), QStringLiteral("2023-03-15"));
        QCOMPARE(v(5, 2), QStringLiteral("公式文本 O'Brien"));
        QCOMPARE(v(6, 0), QStringLiteral("TRUE"));
        QCOMPARE(v(6, 1), QStringLiteral("#DIV/0!"));
        QCOMPARE(v(6, 2), QString(""));
        QVERIFY(t.value(6, 2).has_value());
        QCOMPARE(v(7, 0), longText);
        QCOMPARE(v(7, 1), QStringLiteral("255:10:10"));
        compareWithXlrd(path);
    }

    // A text formula whose STRING record never comes keeps an (empty) text, not NULL, and the
    // next cell is read as usual.
    void formulaWithoutString() {
        QByteArray s = rec(0x0204, LE().raw(cellHead(0, 0, kXfGeneral)).raw(str16("A")).d);
        s += formula(1, 0, kXfGeneral, specialResult(0, 0));
        s += rec(0x0203, LE().raw(cellHead(1, 1, kXfGeneral)).f64(1).d);
        s += rec(0x0207, str16("stray")); // a STRING with no formula before it is ignored
        Workbook book;
        QCOMPARE(readBytes(workbookFile({}, {{"S", s}}), &book), ReadError::None);
        const Table t = worksheetTable(book, book.sheets[0]);
        QVERIFY(t.value(0, 0));
        QCOMPARE(*t.value(0, 0), QString(""));
        QCOMPARE(*t.value(0, 1), QStringLiteral("1"));
    }

    // Shared strings split over CONTINUE records: the option byte repeats where characters
    // continue (and may switch width), not where rich-text runs or phonetic data continue.
    void sharedStringsOverContinue() {
        const QString split = QStringLiteral("abc中文字符");
        LE p1, p2, p3, p4;
        p1.u32(8).u32(8);
        p1.raw(str16(QStringLiteral("plain")));
        p1.u16(4).u8(0x08).u16(2).latin1("rich").u32(0).u32(0x00010003);     // two rich-text runs
        p1.u16(4).u8(0x04).u32(6).latin1("phon").raw(QByteArray(6, '\x01')); // phonetic data
        p1.u16(2)
            .u8(0x0D)
            .u16(1)
            .u32(10)
            .utf16(QStringLiteral("中文"))
            .u32(0)
            .raw(QByteArray(10, '\x02'));
        p1.u16(int(split.size())).u8(0).latin1("abc");    // characters continue ...
        p2.u8(1).utf16(QStringLiteral("中文字符"));       // ... as two-byte characters
        p2.u16(3).u8(0x08).u16(2).latin1("run").u32(0);   // runs continue ...
        p3.u32(0x00020001);                               // ... without an option byte
        p3.u16(5).u8(0x04).u32(8).latin1("ext");          // characters continue, then
        p4.u8(0).latin1("ra").raw(QByteArray(8, '\x03')); // the phonetic block
        p4.raw(str16(QStringLiteral("末尾")));            // a string starting a part
        const QByteArray globals =
            rec(0x00FC, p1.d) + rec(0x003C, p2.d) + rec(0x003C, p3.d) + rec(0x003C, p4.d);
        QByteArray s;
        for (int i = 0; i < 8; ++i)
            s += rec(0x00FD, LE().raw(cellHead(i, 0, kXfGeneral)).u32(uint32_t(i)).d);
        const QString path = save(QStringLiteral("sst.xls"), workbookFile(globals, {{"S", s}}));
        Workbook book;
        QString error;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.fields, QStringList{"plain"});
        QStringList values;
        for (qsizetype r = 0; r < t.rowCount(); ++r)
            values << *t.value(r, 0);
        QCOMPARE(values, (QStringList{"rich", "phon", "中文", split, "run", "extra", "末尾"}));
        compareWithXlrd(path);
    }

    // Splits no writer known to xlrd makes, read all the same: a string's length and option
    // byte cut by a CONTINUE, and a rich-text run cut in half.
    void sharedStringsOddSplits() {
        LE p1, p2, p3;
        p1.u32(3).u32(3).raw(str16("head")).u8(5);       // the length's first byte ...
        p2.u8(0).u8(0x08).u16(1).latin1("hello").u16(0); // ... and a run cut in half
        p3.u16(0).raw(str16(QStringLiteral("尾")));
        const QByteArray globals = rec(0x00FC, p1.d) + rec(0x003C, p2.d) + rec(0x003C, p3.d);
        QByteArray s;
        for (int i = 0; i < 3; ++i)
            s += rec(0x00FD, LE().raw(cellHead(i, 0, kXfGeneral)).u32(uint32_t(i)).d);
        Workbook book;
        QCOMPARE(readBytes(workbookFile(globals, {{"S", s}}), &book), ReadError::None);
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.fields, QStringList{"head"});
        QCOMPARE(*t.value(0, 0), QStringLiteral("hello"));
        QCOMPARE(*t.value(1, 0), QStringLiteral("尾"));
    }

    // Names of one area become named ranges (a sheet-local one knows its sheet); hidden,
    // built-in, relative and external ones do not. Thousands of names over a whole sheet do not
    // multiply the sheet in memory: past a budget the rest are not listed.
    void namedRangesAndTheirBudget() {
        const auto name = [](const QByteArray& text, int flags, int itab, const QByteArray& rgce) {
            return rec(0x0018, LE().u16(flags)
                                   .u8(0)
                                   .u8(int(text.size()))
                                   .u16(int(rgce.size()))
                                   .u16(0)
                                   .u16(itab)
                                   .u32(0)
                                   .u8(0)
                                   .latin1(text)
                                   .raw(rgce)
                                   .d);
        };
        const auto area = [](int xti, int r1, int r2, int c1, int c2) {
            return LE().u8(0x3B).u16(xti).u16(r1).u16(r2).u16(c1).u16(c2).d;
        };
        QByteArray globals = rec(0x01AE, LE().u16(1).u16(0x0401).d); // this workbook
        globals += rec(0x01AE, LE().u16(1).u16(3).u8(0).latin1("x.x").u16(1).u8(0).latin1("S").d);
        globals += rec(0x0017, LE().u16(2).u16(0).u16(0).u16(0).u16(1).u16(0).u16(0).d);
        globals += name("Whole", 0, 0, area(0, 0, 199, 0, 49));
        globals += name("Local", 0, 1, LE().u8(0x3A).u16(0).u16(5).u16(7).d); // H6, sheet-local
        globals += name("Hidden", 0x0001, 0, area(0, 0, 1, 0, 1));
        globals += name("\x06", 0x0020, 1, area(0, 0, 1, 0, 1)); // Print_Area
        globals += name("Relative", 0, 0, area(0, 0, 1, 0xC000, 0xC001));
        globals += name("External", 0, 0, area(1, 0, 1, 0, 1));
        globals += name("Constant", 0, 0, LE().u8(0x1E).u16(7).d);
        for (int i = 0; i < 300; ++i)
            globals += name("Many" + QByteArray::number(i), 0, 0, area(0, 0, 199, 0, 49));
        QByteArray s;
        for (int r = 0; r < 200; ++r)
            for (int c = 0; c < 50; ++c)
                s += rec(0x0203, LE().raw(cellHead(r, c, kXfGeneral)).f64(r * 100 + c).d);
        const QString path =
            save(QStringLiteral("names.xls"), workbookFile(globals, {{"Data", s}}));

        Workbook book;
        QString error;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        QCOMPARE(book.names.size(), size_t(302));
        QCOMPARE(book.names[0].name, QStringLiteral("Whole"));
        QCOMPARE(book.names[1].name, QStringLiteral("Local"));
        QCOMPARE(book.names[1].scope, 0);
        QCOMPARE(book.names[1].firstRow, 5u);
        QCOMPARE(int(book.names[1].firstCol), 7);
        const Table local = rangeTable(book, book.names[1]);
        QCOMPARE(local.fields, QStringList{"507"});
        QCOMPARE(local.rowCount(), qsizetype(0));

        sqlite3* db = nullptr;
        sqlite3_open(":memory:", &db);
        std::vector<vtab::SheetSchemaRow> schema;
        const bool attached = vtab::attachXlsWorkbook(db, path, &schema, &error);
        sqlite3_close(db);
        QVERIFY2(attached, qPrintable(error));
        QStringList tables;
        for (const auto& row : schema)
            if (row.tableType == "TABLE") tables << row.tableName;
        QCOMPARE(tables.value(0), QStringLiteral("Whole"));
        QCOMPARE(tables.value(1), QStringLiteral("Data$Local"));
        QVERIFY2(tables.size() > 100 && tables.size() < 150,
                 qPrintable(QString::number(tables.size())));
    }

    // A string table index past the strings, a cut cell record and a sheet offset past the
    // stream are damage, reported as such.
    void damagedRecords_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("expected");
        const QByteArray sst = rec(0x00FC, LE().u32(1).u32(1).raw(str16("x")).d);
        QTest::newRow("sst index")
            << workbookFile(sst, {{"S", rec(0x00FD, LE().raw(cellHead(0, 0, 15)).u32(5).d)}})
            << int(ReadError::Corrupt);
        QTest::newRow("short NUMBER") << workbookFile({}, {{"S", rec(0x0203, cellHead(0, 0, 15))}})
                                      << int(ReadError::Corrupt);
        QTest::newRow("label past end")
            << workbookFile(
                   {},
                   {{"S", rec(0x0204, LE().raw(cellHead(0, 0, 15)).u16(50).u8(0).latin1("ab").d)}})
            << int(ReadError::Corrupt);
        QTest::newRow("column past IV")
            << workbookFile({}, {{"S", rec(0x0203, LE().raw(cellHead(0, 256, 15)).f64(1).d)}})
            << int(ReadError::Corrupt);
        QTest::newRow("MULRK past IV")
            << workbookFile(
                   {}, {{"S", rec(0x00BD,
                                  LE().u16(0).u16(255).u16(15).u32(2).u16(15).u32(2).u16(256).d)}})
            << int(ReadError::Corrupt);
        QByteArray stream = workbookStream({}, {{"S", {}}});
        const qsizetype bound = stream.indexOf(QByteArray("\x85\x00", 2));
        stream.replace(bound + 4, 4, LE().u32(0x7FFFFFF0).d);
        QTest::newRow("sheet offset")
            << formats::cfb::write({{"Workbook", stream}}) << int(ReadError::Corrupt);
        QByteArray twice = workbookStream({}, {{"A", {}}, {"B", {}}});
        const qsizetype firstBound = twice.indexOf(QByteArray("\x85\x00", 2));
        const qsizetype secondBound = twice.indexOf(QByteArray("\x85\x00", 2), firstBound + 2);
        twice.replace(secondBound + 4, 4, twice.mid(firstBound + 4, 4));
        QTest::newRow("sheets at one offset")
            << formats::cfb::write({{"Workbook", twice}}) << int(ReadError::Corrupt);
        QByteArray noEof =
            workbookStream({}, {{"S", rec(0x0203, LE().raw(cellHead(0, 0, 15)).f64(1).d)}});
        noEof.chop(4);
        QTest::newRow("sheet without EOF")
            << formats::cfb::write({{"Workbook", noEof}}) << int(ReadError::Truncated);
        QByteArray cutRecord = workbookStream({}, {{"S", {}}});
        cutRecord.chop(4); // the sheet's EOF gives way to a record longer than the stream
        cutRecord.append(LE().u16(0x0203).u16(100).u32(0).u32(0).d);
        QTest::newRow("record past end")
            << formats::cfb::write({{"Workbook", cutRecord}}) << int(ReadError::Truncated);
        QTest::newRow("encrypted")
            << workbookFile(rec(0x002F, LE().u16(1).u16(1).u16(1).raw(QByteArray(48, '\x55')).d),
                            {{"S", {}}})
            << int(ReadError::Encrypted);
        QTest::newRow("encrypted package")
            << formats::cfb::write({{"EncryptionInfo", QByteArray(200, 'e')},
                                    {"EncryptedPackage", QByteArray(5000, 'p')}})
            << int(ReadError::Encrypted);
        QTest::newRow("no workbook stream")
            << formats::cfb::write({{"WordDocument", QByteArray(5000, 'w')}})
            << int(ReadError::NoWorkbookStream);
        QTest::newRow("stream is not BIFF")
            << formats::cfb::write({{"Workbook", QByteArray(5000, 'w')}})
            << int(ReadError::NotWorkbook);
        QTest::newRow("xlsx") << QByteArray("PK\x03\x04rest of a zip file")
                              << int(ReadError::NewFormat);
        QTest::newRow("excel 4")
            << LE().u16(0x0409).u16(6).u16(0).u16(0x10).u16(0).raw(QByteArray(100, '\0')).d
            << int(ReadError::OldFormat);
        QTest::newRow("html saved as xls")
            << QByteArray("<html><body><table><tr><td>1</td></tr></table></body></html>")
            << int(ReadError::NotWorkbook);
        QTest::newRow("empty file") << QByteArray() << int(ReadError::NotWorkbook);
        QTest::newRow("signature only")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << int(ReadError::Truncated);
    }
    void damagedRecords() {
        QFETCH(QByteArray, file);
        QFETCH(int, expected);
        Workbook book;
        QCOMPARE(int(readBytes(file, &book)), expected);
        QVERIFY(book.sheets.empty());
        const QString path = save(QStringLiteral("damaged.xls"), file);
        QString error;
        QVERIFY(!readWorkbookFile(path, &book, &error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QCOMPARE(error, errorText(ReadError(expected), path));
    }

    void errorTexts() {
        QCOMPARE(errorText(ReadError::Encrypted, "/tmp/a.xls"),
                 QStringLiteral("该Excel文件已加密，无法读取：/tmp/a.xls"));
        Workbook book;
        QString error;
        QVERIFY(!readWorkbookFile(tmp_.filePath("missing.xls"), &book, &error));
        QVERIFY(error.startsWith(QStringLiteral("找不到Excel文件或无法打开")));
        QVERIFY(!readWorkbookFile(tmp_.path(), &book, &error)); // a folder
        QVERIFY(!error.isEmpty());
    }

    void displayText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("style"); // 0 number, 1 date, 2 elapsed
        QTest::addColumn<bool>("date1904");
        QTest::addColumn<QString>("expected");
        QTest::newRow("phone") << 13800138000.0 << 0 << false << "13800138000";
        QTest::newRow("id card digits")
            << 110101199003077000.0 << 0 << false << "1.10101199003077e+17";
        QTest::newRow("whole") << 12.0 << 0 << false << "12";
        QTest::newRow("negative zero") << -0.0 << 0 << false << "0";
        QTest::newRow("half") << 3.5 << 0 << false << "3.5";
        QTest::newRow("tenth") << 0.1 << 0 << false << "0.1";
        QTest::newRow("sum of tenths") << 0.1 + 0.2 << 0 << false << "0.30000000000000004";
        QTest::newRow("small") << 0.0001 << 0 << false << "0.0001";
        QTest::newRow("tiny") << 1e-5 << 0 << false << "1e-05";
        QTest::newRow("largest plain") << 999999999999999.0 << 0 << false << "999999999999999";
        QTest::newRow("big") << 1e15 << 0 << false << "1e+15";
        QTest::newRow("huge") << 1e20 << 0 << false << "1e+20";
        QTest::newRow("negative") << -1234.5678 << 0 << false << "-1234.5678";
        QTest::newRow("money") << 6190718.68 << 0 << false << "6190718.68";
        QTest::newRow("negative small") << -0.00012 << 0 << false << "-0.00012";
        QTest::newRow("negative tiny") << -1.5e-7 << 0 << false << "-1.5e-07";
        QTest::newRow("fifteen digits") << 1234567890.12345 << 0 << false << "1234567890.12345";
        QTest::newRow("seventeen digits")
            << 123456789012345678.0 << 0 << false << "1.2345678901234568e+17";
        QTest::newRow("infinite") << HUGE_VAL << 0 << false << "#NUM!";
        QTest::newRow("first day") << 1.0 << 1 << false << "1900-01-01";
        QTest::newRow("before leap bug") << 59.0 << 1 << false << "1900-02-28";
        QTest::newRow("leap bug") << 60.0 << 1 << false << "1900-02-29";
        QTest::newRow("after leap bug") << 61.0 << 1 << false << "1900-03-01";
        QTest::newRow("date") << 45000.0 << 1 << false << "2023-03-15";
        QTest::newRow("date time") << 45000.5 << 1 << false << "2023-03-15 12:00:00";
        QTest::newRow("rounds to next day") << 45000.9999999 << 1 << false << "2023-03-16";
        QTest::newRow("time") << 0.75 << 1 << false << "18:00:00";
        QTest::newRow("zero") << 0.0 << 1 << false << "00:00:00";
        QTest::newRow("1904") << 1.0 << 1 << true << "1904-01-02";
        QTest::newRow("1904 last") << 2957003.0 << 1 << true << "9999-12-31";
        QTest::newRow("past 9999") << 2958466.0 << 1 << false << "2958466";
        QTest::newRow("1904 past 9999") << 2957004.0 << 1 << true << "2957004";
        QTest::newRow("negative date") << -5.0 << 1 << false << "-5";
        QTest::newRow("elapsed") << 1.5 << 2 << false << "36:00:00";
        QTest::newRow("elapsed small") << 0.25 << 2 << true << "06:00:00";
    }
    void displayText() {
        QFETCH(double, value);
        QFETCH(int, style);
        QFETCH(bool, date1904);
        QFETCH(QString, expected);
        QCOMPARE(formats::xls::displayText(Cell::ofNumber(value, style > 0, style == 2), date1904)
                     .value_or(QStringLiteral("<null>")),
                 expected);
    }

    void displayTextOfOtherKinds() {
        QVERIFY(!formats::xls::displayText(Cell(), false).has_value());
        QCOMPARE(*formats::xls::displayText(Cell::ofBoolean(true), false), QStringLiteral("TRUE"));
        QCOMPARE(*formats::xls::displayText(Cell::ofBoolean(false), false),
                 QStringLiteral("FALSE"));
        const QList<QPair<int, QString>> errors{
            {0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
            {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"}};
        for (const auto& [code, text] : errors)
            QCOMPARE(*formats::xls::displayText(Cell::ofError(code), false), text);
        QCOMPARE(*formats::xls::displayText(Cell::ofText(QString("")), false), QString(""));
    }

    void dateFormats_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("date");
        QTest::addColumn<bool>("elapsed");
        QTest::newRow("iso") << "yyyy-mm-dd" << true << false;
        QTest::newRow("chinese") << "yyyy\"年\"m\"月\"d\"日\"" << true << false;
        QTest::newRow("chinese time") << "上午/下午h\"时\"mm\"分\"" << true << false;
        QTest::newRow("locale prefix") << "[$-804]yyyy/m/d;@" << true << false;
        QTest::newRow("DBNum") << "[DBNum1][$-804]m\"月\"d\"日\"" << true << false;
        QTest::newRow("escaped") << "yyyy\\,\\ d\\ mmmm" << true << false;
        QTest::newRow("fraction of seconds") << "mm:ss.000" << true << false;
        QTest::newRow("elapsed") << "[hh]:mm:ss" << true << true;
        QTest::newRow("elapsed minutes") << "[mm]:ss" << true << true;
        QTest::newRow("general") << "General" << false << false;
        QTest::newRow("text") << "@" << false << false;
        QTest::newRow("red negative") << "0.00_);[Red](0.00)" << false << false;
        QTest::newRow("quoted units") << "0\" days\"" << false << false;
        QTest::newRow("currency") << "[$$-409]#,##0.00;[RED]\\-[$$-409]#,##0.00" << false << false;
        QTest::newRow("padding") << "_-* #,##0.00\" €\"_-" << false << false;
        QTest::newRow("percent") << "0.00%" << false << false;
    }
    void dateFormats() {
        QFETCH(QString, format);
        QFETCH(bool, date);
        QFETCH(bool, elapsed);
        QCOMPARE(isDateFormat(format), date);
        QCOMPARE(isDateFormat(format) && isElapsedFormat(format), elapsed);
    }

    void builtInDateFormats() {
        for (int id = 0; id < 200; ++id) {
            const bool expected = (id >= 14 && id <= 22) || (id >= 45 && id <= 47) ||
                                  (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
            QCOMPARE(isBuiltInDateFormat(id), expected);
        }
    }

    // Field names: F<n> for empty headings, suffixes for repeats without regard to case.
    void fieldNames_data() {
        QTest::addColumn<QStringList>("headings"); // "<null>" for an empty cell
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("plain") << QStringList{"姓名", "电话"} << QStringList{"姓名", "电话"};
        QTest::newRow("empty") << QStringList{"A", "<null>", "  ", ""}
                               << QStringList{"A", "F2", "F3", "F4"};
        QTest::newRow("repeat") << QStringList{"Name", "name", "NAME"}
                                << QStringList{"Name", "name1", "NAME2"};
        QTest::newRow("suffix taken later")
            << QStringList{"Name", "Name", "Name1"} << QStringList{"Name", "Name2", "Name1"};
        QTest::newRow("F clash") << QStringList{"F2", "<null>"} << QStringList{"F2", "F21"};
        QTest::newRow("nul") << QStringList{QString::fromLatin1("a\0b", 3)} << QStringList{"a b"};
        // Only U+0020 blanks make a heading empty; other white space is a name as written.
        QTest::newRow("other blanks")
            << QStringList{"A", "\u3000", "\u3000\u3000", " \u3000 ", "\t", "\u00a0", " "}
            << QStringList{"A", "\u3000", "\u3000\u3000", " \u3000 ", "\t", "\u00a0", "F7"};
        QTest::newRow("blanks kept")
            << QStringList{" 姓名 ", "姓名"} << QStringList{" 姓名 ", "姓名"};
    }
    void fieldNames() {
        QFETCH(QStringList, headings);
        QFETCH(QStringList, expected);
        std::vector<std::optional<QString>> h;
        for (const QString& s : headings)
            h.push_back(s == "<null>" ? std::nullopt : std::optional<QString>(s));
        QCOMPARE(formats::xls::fieldNames(h), expected);
    }

    // The used range: leading empty rows and columns skipped, cells beyond the heading's width
    // counted, empty rows inside kept, trailing formatted blanks ignored.
    void usedRange() {
        QByteArray s;
        s += rec(0x0201, cellHead(0, 0, kXfGeneral)); // formatted blanks above and left
        s += rec(0x0204, LE().raw(cellHead(2, 2, kXfGeneral)).raw(str16("Name")).d);
        s += rec(0x0204, LE().raw(cellHead(2, 3, kXfGeneral)).raw(str16("name")).d);
        s += rec(0x0204, LE().raw(cellHead(3, 2, kXfGeneral)).raw(str16("张三")).d);
        s += rec(0x0203, LE().raw(cellHead(3, 5, kXfGeneral)).f64(7).d); // past the headings
        s += rec(0x0204, LE().raw(cellHead(6, 3, kXfGeneral)).raw(str16("李四")).d);
        s += rec(0x0201, cellHead(9, 9, kXfGeneral)); // formatted blanks below and right
        const QString path = save(QStringLiteral("range.xls"), workbookFile({}, {{"R", s}}));
        Workbook book;
        QString error;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.fields, (QStringList{"Name", "name1", "F3", "F4"}));
        QCOMPARE(t.rowCount(), qsizetype(4));
        QCOMPARE(*t.value(0, 0), QStringLiteral("张三"));
        QCOMPARE(*t.value(0, 3), QStringLiteral("7"));
        QVERIFY(!t.value(1, 0) && !t.value(2, 1));
        QCOMPARE(*t.value(3, 1), QStringLiteral("李四"));
        compareWithXlrd(path);
    }

    // Embedded charts bring their own BOF ... EOF inside a sheet; the sheet goes on after them.
    // Chart sheets and macro sheets are not worksheets; hidden sheets are.
    void sheetKinds() {
        QByteArray s;
        s += rec(0x0204, LE().raw(cellHead(0, 0, 15)).raw(str16("A")).d);
        s += rec(0x0809, LE().u16(0x0600).u16(0x20).u32(0).u32(0).u32(0).d);
        s += rec(0x0204, LE().raw(cellHead(5, 5, 15)).raw(str16("in chart")).d);
        s += rec(0x000A, {});
        s += rec(0x0204, LE().raw(cellHead(1, 0, 15)).raw(str16("after chart")).d);
        QByteArray stream =
            workbookStream({}, {{"Visible", s}, {"Chart1", {}}, {"Hidden", {}}, {"Macro1", {}}});
        // Mark the sheet kinds in BOUNDSHEET: Chart1 a chart, Hidden hidden, Macro1 a macro sheet.
        qsizetype at = 0;
        const QList<QPair<int, int>> kinds{{0, 0}, {0, 2}, {1, 0}, {0, 1}};
        for (const auto& [hidden, type] : kinds) {
            at = stream.indexOf(QByteArray("\x85\x00", 2), at);
            QVERIFY(at >= 0);
            stream[at + 8] = char(hidden);
            stream[at + 9] = char(type);
            at += 2;
        }
        Workbook book;
        QCOMPARE(readBytes(formats::cfb::write({{"Workbook", stream}}), &book), ReadError::None);
        QCOMPARE(book.sheets.size(), size_t(2));
        QCOMPARE(book.sheets[0].name, QStringLiteral("Visible"));
        QCOMPARE(book.sheets[1].name, QStringLiteral("Hidden"));
        QCOMPARE(book.sheets[1].visibility, Visibility::Hidden);
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.rowCount(), qsizetype(1));
        QCOMPARE(*t.value(0, 0), QStringLiteral("after chart"));
        QCOMPARE(t.fields, QStringList{"A"});
    }

    // Excel 95 (BIFF5, "Book" stream): 8-bit text in the workbook's code page.
    void biff5CodePage() {
        const auto label = [](int row, const QByteArray& bytes) {
            return rec(0x0204,
                       LE().raw(cellHead(row, 0, 15)).u16(int(bytes.size())).latin1(bytes).d);
        };
        const auto book5 = [&](int codePage) {
            QByteArray g = rec(0x0809, LE().u16(0x0500).u16(5).u32(0).d);
            g += rec(0x0042, LE().u16(codePage).d);
            const qsizetype patch = g.size() + 4;
            const QByteArray name("\xB9\xA4\xD7\xF7", 4); // 工作 in GBK, é¤×÷ in cp1252
            g += rec(0x0085, LE().u32(0).u8(0).u8(0).u8(int(name.size())).latin1(name).d);
            g += rec(0x000A, {});
            g.replace(patch, 4, LE().u32(uint32_t(g.size())).d);
            g += rec(0x0809, LE().u16(0x0500).u16(0x10).u32(0).d);
            g += label(0, QByteArray("\xD0\xD5\xC3\xFB", 4)) + label(1, "Caf\xE9");
            g += rec(0x000A, {});
            return formats::cfb::write({{"Book", g + QByteArray(5000, '\0')}});
        };
        Workbook book;
        QCOMPARE(readBytes(book5(936), &book), ReadError::None);
        QCOMPARE(book.biffVersion, 5);
        QCOMPARE(book.codePage, 936);
        QCOMPARE(book.sheets[0].name, QStringLiteral("工作"));
        QCOMPARE(worksheetTable(book, book.sheets[0]).fields, QStringList{"姓名"});
        QCOMPARE(readBytes(book5(1252), &book), ReadError::None);
        QCOMPARE(book.sheets[0].name, QStringLiteral("¹¤×÷"));
        QCOMPARE(*worksheetTable(book, book.sheets[0]).value(0, 0), QStringLiteral("Café"));
    }

    void compoundFileStreams() {
        // Small streams live in the mini stream, large ones in ordinary sectors.
        QByteArray big(70000, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 % 251);
        const std::vector<formats::cfb::Stream> streams{
            {"Workbook", big},
            {"\x05SummaryInformation", QByteArray(300, 's')},
            {"Tiny", QByteArray("x")},
            {"Empty", {}},
            {"A name of exactly 31 characters", QByteArray(4095, 'q')}};
        const QByteArray file = formats::cfb::write(streams);
        formats::cfb::Reader r;
        QCOMPARE(r.open(file), formats::cfb::Status::Ok);
        QCOMPARE(r.streamNames().size(), 5);
        for (const auto& s : streams) {
            QByteArray out;
            QCOMPARE(r.read(s.name.toUpper(), &out), formats::cfb::Status::Ok);
            QCOMPARE(out, s.data);
        }
        QByteArray out;
        QCOMPARE(r.read("Book", &out), formats::cfb::Status::NoStream);
    }

    // Chains that loop or point outside the table, and tables past the end of the file.
    void compoundFileDamage() {
        const QByteArray good = formats::cfb::write({{"Workbook", QByteArray(9000, 'w')}});
        const auto fatEntry = [](int i) { return 512 + 4 * i; }; // the first FAT sector is sector 0
        formats::cfb::Reader r;
        QByteArray out;

        QByteArray loop = good; // the stream's second sector points back to the first
        const int start = int(qFromLittleEndian<quint32>(good.constData() + 512 * 2 + 0x74 + 128));
        loop.replace(fatEntry(start + 1), 4, LE().u32(uint32_t(start)).d);
        QCOMPARE(r.open(loop), formats::cfb::Status::Ok);
        QCOMPARE(r.read("Workbook", &out), formats::cfb::Status::Corrupt);

        QByteArray outside = good; // past the table
        outside.replace(fatEntry(start), 4, LE().u32(0x00FFFFFF).d);
        QCOMPARE(r.open(outside), formats::cfb::Status::Ok);
        QCOMPARE(r.read("Workbook", &out), formats::cfb::Status::Corrupt);

        QByteArray shortChain = good; // ends before the stream does
        shortChain.replace(fatEntry(start + 3), 4, LE().u32(0xFFFFFFFE).d);
        QCOMPARE(r.open(shortChain), formats::cfb::Status::Ok);
        QCOMPARE(r.read("Workbook", &out), formats::cfb::Status::Corrupt);

        QByteArray dirLoop = good; // the root's child is its own sibling
        dirLoop.replace(512 * 2 + 128 + 0x48, 4, LE().u32(1).d);
        QCOMPARE(r.open(dirLoop), formats::cfb::Status::Corrupt);

        QByteArray badShift = good;
        badShift[0x1E] = 30;
        QCOMPARE(r.open(badShift), formats::cfb::Status::Corrupt);

        QByteArray hugeSize = good;
        hugeSize.replace(512 * 2 + 128 + 0x78, 4, LE().u32(0x7FFFFFFF).d);
        QCOMPARE(r.open(hugeSize), formats::cfb::Status::Ok);
        QCOMPARE(r.read("Workbook", &out), formats::cfb::Status::Corrupt);

        // A DIFAT chain that comes back to itself.
        QByteArray difat(512 * 260, '\0');
        difat.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
        difat.replace(0x1A, 6, LE().u16(3).u16(0xFFFE).u16(9).d);
        difat.replace(0x20, 2, LE().u16(6).d);
        difat.replace(0x2C, 4, LE().u32(200).d);        // FAT sectors claimed
        difat.replace(0x44, 8, LE().u32(109).u32(5).d); // first DIFAT sector, count
        for (int i = 0; i < 109; ++i)
            difat.replace(0x4C + 4 * i, 4, LE().u32(uint32_t(i)).d);
        const int d = 512 * 110;
        for (int i = 0; i < 127; ++i)
            difat.replace(d + 4 * i, 4, LE().u32(0xFFFFFFFF).d);
        difat.replace(d, 4, LE().u32(110).d);
        difat.replace(d + 4 * 127, 4, LE().u32(109).d);
        QCOMPARE(r.open(difat), formats::cfb::Status::Corrupt);
    }

    // A file cut anywhere either fails with an error or, when only unused space was cut,
    // reads the same as the whole file. Never a crash or a hang.
    void truncatedAnywhere() {
        QByteArray bytes;
        QString error;
        std::vector<SheetData> sheets(2);
        sheets[0].name = "客户";
        sheets[1].name = "Other";
        for (int r = 0; r < 800; ++r)
            sheets[r % 2].rows.push_back(
                {Cell::ofText(QStringLiteral("名字%1").arg(r)), Cell::ofNumber(r * 1.5)});
        QVERIFY2(writeWorkbook(sheets, &bytes, &error), qPrintable(error));
        Workbook whole;
        QCOMPARE(readBytes(bytes, &whole), ReadError::None);
        const QStringList expected = tableLines(worksheetTable(whole, whole.sheets[0]));
        int failures = 0;
        for (qsizetype n = 0; n < bytes.size(); n += (n < 2048 ? 37 : 509)) {
            Workbook book;
            const ReadError e = readBytes(bytes.left(n), &book);
            if (e == ReadError::None) {
                QCOMPARE(tableLines(worksheetTable(book, book.sheets[0])), expected);
            } else {
                ++failures;
                QVERIFY(e == ReadError::Truncated || e == ReadError::NotWorkbook ||
                        e == ReadError::Corrupt);
            }
        }
        QVERIFY(failures > 0);
    }

    // Random damage to a real workbook: every outcome is an error or a workbook, quickly.
    void randomDamage() {
        QFile f(testsupport::sample("xls/xlrd/namesdemo.xls"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray original = f.readAll();
        QRandomGenerator rng(20240521);
        QElapsedTimer timer;
        timer.start();
        int ok = 0, failed = 0;
        for (int i = 0; i < 400; ++i) {
            QByteArray b = original;
            const int flips = 1 + int(rng.bounded(8));
            for (int k = 0; k < flips; ++k)
                b[qsizetype(rng.bounded(quint32(b.size())))] = char(rng.bounded(256));
            Workbook book;
            if (readBytes(b, &book) == ReadError::None) {
                ++ok;
                for (const Sheet& s : book.sheets)
                    worksheetTable(book, s);
                for (const NamedRange& n : book.names)
                    rangeTable(book, n);
            } else {
                ++failed;
            }
        }
        QVERIFY(ok + failed == 400);
        QVERIFY2(timer.elapsed() < 60000, "damaged files must not make the reader crawl");
    }

    // The writer's files read back the same through our reader and through xlrd.
    void writerRoundTrip() {
        std::vector<SheetData> sheets(2);
        sheets[0].name = QStringLiteral("客户名单");
        sheets[1].name = QStringLiteral("O'Brien's");
        sheets[0].rows.push_back({Cell::ofText("姓名"), Cell::ofText("电话"), Cell::ofText("生日"),
                                  Cell::ofText("余额"), Cell::ofText("VIP"), Cell::ofText("备注")});
        const QString longText = QString(9000, QChar(0x5B57)) + QStringLiteral("end");
        for (int r = 0; r < 300; ++r) {
            sheets[0].rows.push_back({Cell::ofText(QStringLiteral("客户%1").arg(r % 50)),
                                      Cell::ofNumber(13800138000.0 + r),
                                      Cell::ofNumber(30000 + r + (r % 3 ? 0.0 : 0.25), true),
                                      Cell::ofNumber(r / 8.0 - 10), Cell::ofBoolean(r % 2),
                                      r == 7 ? Cell::ofText(longText) : Cell()});
        }
        sheets[0].rows.push_back({});
        sheets[0].rows.push_back({Cell(), Cell::ofError(0x07), Cell::ofText(QString(""))});
        sheets[1].rows.push_back({Cell::ofText("only")});
        const QString path = tmp_.filePath(QStringLiteral("写出 (1).xls"));
        QString error;
        QVERIFY2(writeWorkbookFile(path, sheets, &error), qPrintable(error));
        Workbook book;
        QVERIFY2(readWorkbookFile(path, &book, &error), qPrintable(error));
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.rowCount(), qsizetype(302));
        QCOMPARE(*t.value(0, 1), QStringLiteral("13800138000"));
        QCOMPARE(*t.value(0, 2), QStringLiteral("1982-02-18 06:00:00"));
        QCOMPARE(*t.value(1, 2), QStringLiteral("1982-02-19"));
        QCOMPARE(*t.value(7, 5), longText);
        QVERIFY(!t.value(300, 0));
        QCOMPARE(*t.value(301, 1), QStringLiteral("#DIV/0!"));
        compareWithXlrd(path);
    }

    void writerRefusesWhatDoesNotFit() {
        QByteArray out;
        QString error;
        QVERIFY(!writeWorkbook({}, &out, &error));
        QVERIFY(!error.isEmpty());
        std::vector<SheetData> bad(1);
        for (const QString& name : {QString(), QStringLiteral("a/b"), QStringLiteral("[x]"),
                                    QString(32, QLatin1Char('n')), QStringLiteral("'q")}) {
            bad[0].name = name;
            QVERIFY2(!writeWorkbook(bad, &out, &error), qPrintable(name));
        }
        std::vector<SheetData> twice(2);
        twice[0].name = "Sheet";
        twice[1].name = "SHEET";
        QVERIFY(!writeWorkbook(twice, &out, &error));
        QVERIFY(error.contains(QStringLiteral("重复")));
        std::vector<SheetData> wide(1);
        wide[0].name = "W";
        wide[0].rows.push_back(std::vector<Cell>(257, Cell::ofNumber(1)));
        QVERIFY(!writeWorkbook(wide, &out, &error));
        QVERIFY(error.contains(QStringLiteral("256")));
        std::vector<SheetData> tall(1);
        tall[0].name = "T";
        tall[0].rows.resize(65537);
        QVERIFY(!writeWorkbook(tall, &out, &error));
        QVERIFY(error.contains(QStringLiteral("65536")));
        QVERIFY(!writeWorkbookFile("/proc/no/such/dir/x.xls", {wide[0]}, &error));
    }

    // The largest sheet the format holds: 65,536 rows (a FAT beyond the header's 109 sectors,
    // thousands of CONTINUE records); every value read back, and xlrd agrees on the extent.
    void largestSheet() {
        std::vector<SheetData> sheets(1);
        sheets[0].name = "Big";
        sheets[0].rows.reserve(65536);
        for (int r = 0; r < 65536; ++r) {
            std::vector<Cell> row;
            for (int c = 0; c < 10; ++c)
                row.push_back(c % 2 ? Cell::ofNumber(r * 10.0 + c)
                                    : Cell::ofText(QStringLiteral("值%1-%2").arg(r).arg(c)));
            sheets[0].rows.push_back(std::move(row));
        }
        QByteArray bytes;
        QString error;
        QVERIFY2(writeWorkbook(sheets, &bytes, &error), qPrintable(error));
        QVERIFY(bytes.size() > 109 * 128 * 512);
        Workbook book;
        QCOMPARE(readBytes(bytes, &book), ReadError::None);
        const Table t = worksheetTable(book, book.sheets[0]);
        QCOMPARE(t.rowCount(), qsizetype(65535));
        for (int r = 1; r < 65536; ++r)
            for (int c = 0; c < 10; ++c) {
                const QString want =
                    c % 2 ? QString::number(r * 10 + c) : QStringLiteral("值%1-%2").arg(r).arg(c);
                if (*t.value(r - 1, c) != want)
                    QFAIL(qPrintable(
                        QStringLiteral("row %1 col %2: %3").arg(r).arg(c).arg(*t.value(r - 1, c))));
            }
        const QString path = save(QStringLiteral("big.xls"), bytes);
        const QJsonObject dump = xlrdDump(path);
        const QJsonArray rows = dump[u"sheets"].toArray()[0].toObject()[u"rows"].toArray();
        QCOMPARE(rows.size(), 65535);
        QCOMPARE(rows[65534].toArray()[8].toString(), QStringLiteral("值65535-8"));
        QCOMPARE(rows[65534].toArray()[9].toString(), QStringLiteral("655359"));
    }
};

CHACHONG_TEST_MAIN(TestXlsBiff)
#include "tst_xlsbiff.moc"
