// The "xlsx" SQLite module and the .xlsx reader: every sheet name, field name and value of real
// workbooks made by other people equals what openpyxl (Debian's python3-openpyxl, an independent
// reader) finds, after the conversions written in xlsx_dump.py; workbooks built here part by
// part for the cell forms Excel and other writers use, with the expected values written out by
// hand; and the errors a user sees for encrypted, damaged, foreign and hostile files.
#include "db/formats/xls/cfb.h"
#include "db/formats/xls/xls.h"
#include "db/formats/xlsx/xlsx.h"
#include "db/vtab/xls/xls_vtab.h"
#include "tests/support/testsupport.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

#include <array>

using vtab::SheetSchemaRow;

namespace {

struct Db {
    sqlite3* h = nullptr;
    Db() { sqlite3_open(":memory:", &h); }
    ~Db() { sqlite3_close(h); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
};

QString ident(QString name) {
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

struct Result {
    bool ok = false;
    int code = SQLITE_OK;
    QString error;
    QStringList columns;
    QList<QVariantList> rows; // text values, or an invalid QVariant for NULL
};

Result query(sqlite3* db, const QString& sql) {
    Result r;
    sqlite3_stmt* st = nullptr;
    r.code = sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr);
    if (r.code != SQLITE_OK) {
        r.error = QString::fromUtf8(sqlite3_errmsg(db));
        return r;
    }
    for (int c = 0; c < sqlite3_column_count(st); ++c)
        r.columns << QString::fromUtf8(sqlite3_column_name(st, c));
    while ((r.code = sqlite3_step(st)) == SQLITE_ROW) {
        QVariantList row;
        for (int c = 0; c < r.columns.size(); ++c) {
            if (sqlite3_column_type(st, c) == SQLITE_NULL) {
                row << QVariant();
                continue;
            }
            const auto* p = static_cast<const QChar*>(sqlite3_column_text16(st, c));
            row << QString(p, sqlite3_column_bytes16(st, c) / 2);
        }
        r.rows << row;
    }
    if (r.code != SQLITE_DONE) r.error = QString::fromUtf8(sqlite3_errmsg(db));
    r.ok = r.code == SQLITE_DONE;
    sqlite3_finalize(st);
    return r;
}

QStringList tableNames(const std::vector<SheetSchemaRow>& schema, const QString& type) {
    QStringList names;
    for (const auto& row : schema)
        if (row.tableType == type) names << row.tableName;
    return names;
}

// ---------------------------------------------------------------------------------------------
// Zip packages built by hand: stored or deflated entries, optionally with a false size.

uint32_t crc32(const QByteArray& data) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (char ch : data)
        c = table[(c ^ uint8_t(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct Entry {
    Entry(QByteArray n, QByteArray d) : name(std::move(n)), data(std::move(d)) {}
    QByteArray name;
    QByteArray data;
    bool deflate = false;
    qint64 statedSize = -1; // the uncompressed size written in the headers; -1: the true one
    uint16_t flags = 0;     // general purpose bits (1: encrypted)
};

void put16(QByteArray* b, uint32_t v) {
    b->append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void put32(QByteArray* b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

QByteArray zip(const std::vector<Entry>& entries) {
    QByteArray out, central;
    for (const Entry& e : entries) {
        QByteArray body = e.data;
        if (e.deflate) { // qCompress: 4-byte length, zlib header, raw deflate, Adler-32
            const QByteArray z = qCompress(e.data, 9);
            body = z.mid(6, z.size() - 10);
        }
        const uint32_t crc = crc32(e.data);
        const uint32_t size = uint32_t(e.statedSize >= 0 ? e.statedSize : e.data.size());
        const uint32_t offset = uint32_t(out.size());
        const auto header = [&](QByteArray* b, bool centralEntry) {
            put32(b, centralEntry ? 0x02014b50 : 0x04034b50);
            if (centralEntry) put16(b, 20);
            put16(b, 20);
            put16(b, e.flags | 0x0800);
            put16(b, e.deflate ? 8 : 0);
            put16(b, 0);
            put16(b, 0x21);
            put32(b, crc);
            put32(b, uint32_t(body.size()));
            put32(b, size);
            put16(b, uint32_t(e.name.size()));
            put16(b, 0);
            if (centralEntry) {
                put16(b, 0);
                put16(b, 0);
                put16(b, 0);
                put32(b, 0);
                put32(b, offset);
            }
            b->append(e.name);
        };
        header(&out, false);
        out.append(body);
        header(&central, true);
    }
    const uint32_t cdOffset = uint32_t(out.size());
    out.append(central);
    put32(&out, 0x06054b50);
    put16(&out, 0);
    put16(&out, 0);
    put16(&out, uint32_t(entries.size()));
    put16(&out, uint32_t(entries.size()));
    put32(&out, uint32_t(central.size()));
    put32(&out, cdOffset);
    put16(&out, 0);
    return out;
}

const char* const kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

struct Part {
    Part(QString n, QByteArray x, QByteArray s = {}, bool c = false)
        : name(std::move(n)), xml(std::move(x)), state(std::move(s)), chart(c) {}
    QString name;       // sheet name
    QByteArray xml;     // the part's XML (a worksheet's <sheetData> content, or a chartsheet)
    QByteArray state;   // "", "hidden", "veryHidden"
    bool chart = false; // a chart sheet
};

// A workbook package: sheets in order, then optional shared strings, styles, defined names and
// workbook properties.
std::vector<Entry> bookEntries(const std::vector<Part>& sheets, const QByteArray& sst = {},
                               const QByteArray& styles = {}, const QByteArray& names = {},
                               const QByteArray& workbookPr = {}) {
    std::vector<Entry> e;
    e.push_back({"[Content_Types].xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
                 "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"});
    e.push_back({"_rels/.rels",
                 QByteArray("<?xml version=\"1.0\"?><Relationships "
                            "xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                            "relationships\"><Relationship Id=\"rId1\" Type=\"") +
                     kRelNs + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    QByteArray wb = QByteArray("<?xml version=\"1.0\"?><workbook xmlns=\"") + kMainNs +
                    "\" xmlns:r=\"" + kRelNs + "\">" + workbookPr + "<sheets>";
    QByteArray rels = "<?xml version=\"1.0\"?><Relationships "
                      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (size_t i = 0; i < sheets.size(); ++i) {
        const Part& s = sheets[i];
        const QByteArray n = QByteArray::number(qulonglong(i + 1));
        wb += "<sheet name=\"" + s.name.toHtmlEscaped().toUtf8() + "\" sheetId=\"" + n + "\"" +
              (s.state.isEmpty() ? QByteArray() : " state=\"" + s.state + "\"") + " r:id=\"rId" +
              n + "\"/>";
        const QByteArray kind = s.chart ? "chartsheet" : "worksheet";
        const QByteArray target = (s.chart ? "chartsheets/sheet" : "worksheets/sheet") + n + ".xml";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRelNs + "/" + kind + "\" Target=\"" +
                target + "\"/>";
        e.push_back({"xl/" + target,
                     s.chart ? s.xml
                             : QByteArray("<?xml version=\"1.0\"?><worksheet xmlns=\"") + kMainNs +
                                   "\"><sheetData>" + s.xml + "</sheetData></worksheet>"});
    }
    wb += "</sheets>";
    if (!names.isEmpty()) wb += "<definedNames>" + names + "</definedNames>";
    wb += "</workbook>";
    if (!sst.isEmpty()) {
        rels += QByteArray("<Relationship Id=\"rS\" Type=\"") + kRelNs +
                "/sharedStrings\" Target=\"/xl/sharedStrings.xml\"/>";
        e.push_back({"xl/sharedStrings.xml", QByteArray("<?xml version=\"1.0\"?><sst xmlns=\"") +
                                                 kMainNs + "\">" + sst + "</sst>"});
    }
    if (!styles.isEmpty()) {
        rels += QByteArray("<Relationship Id=\"rT\" Type=\"") + kRelNs +
                "/styles\" Target=\"styles.xml\"/>";
        e.push_back({"xl/styles.xml", QByteArray("<?xml version=\"1.0\"?><styleSheet xmlns=\"") +
                                          kMainNs + "\">" + styles + "</styleSheet>"});
    }
    rels += "</Relationships>";
    e.push_back({"xl/workbook.xml", wb});
    e.push_back({"xl/_rels/workbook.xml.rels", rels});
    return e;
}

QByteArray book(const std::vector<Part>& sheets, const QByteArray& sst = {},
                const QByteArray& styles = {}, const QByteArray& names = {},
                const QByteArray& workbookPr = {}) {
    return zip(bookEntries(sheets, sst, styles, names, workbookPr));
}

QJsonObject openpyxlDump(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/xlsx_dump.py"), {path}, &ok, &err);
    if (!ok) qWarning().noquote() << "openpyxl failed on" << path << err;
    return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

QList<QVariantList> expectedRows(const QJsonArray& rows) {
    QList<QVariantList> out;
    for (const auto& row : rows) {
        QVariantList r;
        for (const auto& v : row.toArray())
            r << (v.isNull() ? QVariant() : QVariant(v.toString()));
        out << r;
    }
    return out;
}

} // namespace

class TestXlsx : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;
    int files_ = 0;

    QString write(const QByteArray& bytes, const QString& name = {}) {
        const QString path =
            tmp_.filePath(name.isEmpty() ? QStringLiteral("book%1.xlsx").arg(++files_) : name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(bytes);
        return path;
    }

    bool attach(Db& db, const QString& path, std::vector<SheetSchemaRow>* schema,
                QString* skipped = nullptr) {
        QString error, ignored;
        const bool ok =
            vtab::attachXlsxWorkbook(db.h, path, schema, skipped ? skipped : &ignored, &error);
        if (!ok) qWarning().noquote() << error;
        return ok;
    }

    // The first sheet of a workbook built from parts, as rows of texts.
    Result firstSheet(const QByteArray& bytes, QStringList* sheets = nullptr) {
        Db db;
        std::vector<SheetSchemaRow> schema;
        if (!attach(db, write(bytes), &schema) || schema.empty()) return {};
        if (sheets) *sheets = tableNames(schema, "SYSTEM TABLE");
        return query(db.h, "SELECT * FROM " + ident(schema[0].tableName));
    }

    // The error text of attaching these bytes as an .xlsx file (empty when it opens).
    QString attachError(const QByteArray& bytes, const QString& name = {}) {
        const QString path = write(bytes, name);
        Db db;
        std::vector<SheetSchemaRow> schema{{"stale", "TABLE"}};
        QString error, skipped;
        if (vtab::attachXlsxWorkbook(db.h, path, &schema, &skipped, &error)) return {};
        if (!schema.empty()) return QStringLiteral("schema left filled");
        if (!error.endsWith(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())))
            return QStringLiteral("error does not name the file: ") + error;
        const Result r = query(db.h, "SELECT count(*) FROM sqlite_master");
        if (r.rows.value(0).value(0).toString() != QLatin1String("0"))
            return QStringLiteral("tables left behind");
        return error;
    }

private slots:
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    void samplesMatchOpenpyxl_data() {
        QTest::addColumn<QString>("path");
        QStringList files;
        for (const QString& dir : {QStringLiteral("xlsx"), QStringLiteral("reference")}) {
            QDirIterator it(testsupport::sample(dir), {"*.xlsx", "*.xlsm"}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        }
        files.sort();
        for (const QString& f : files)
            QTest::newRow(qPrintable(QFileInfo(f).dir().dirName() + "/" + QFileInfo(f).fileName()))
                << f;
        QVERIFY(files.size() >= 3);
    }
    void samplesMatchOpenpyxl() {
        QFETCH(QString, path);
        const QJsonObject dump = openpyxlDump(path);
        QVERIFY(!dump.isEmpty());
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));

        formats::xls::Workbook book;
        QString error;
        QVERIFY2(formats::xlsx::readWorkbookFile(path, &book, &error), qPrintable(error));
        QCOMPARE(book.date1904, dump[u"datemode"].toInt() == 1);

        const QJsonArray sheets = dump[u"sheets"].toArray();
        QStringList expectedSheets;
        for (const auto& s : sheets)
            expectedSheets << s.toObject()[u"name"].toString() + "$";
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), expectedSheets);
        for (size_t i = 0; i < size_t(sheets.size()); ++i) // worksheets come first
            QCOMPARE(schema[i].tableType, QStringLiteral("SYSTEM TABLE"));
        QStringList expectedNames;
        for (const auto& n : dump[u"names"].toArray())
            expectedNames << n.toObject()[u"table"].toString();
        QCOMPARE(tableNames(schema, "TABLE"), expectedNames);

        const QStringList states{"visible", "hidden", "veryHidden"};
        QJsonArray tables;
        for (int i = 0; i < sheets.size(); ++i) {
            QJsonObject s = sheets[i].toObject();
            QCOMPARE(states.value(int(book.sheets[size_t(i)].visibility)), s[u"state"].toString());
            s[u"table"] = s[u"name"].toString() + "$";
            tables << s;
        }
        for (const auto& n : dump[u"names"].toArray())
            tables << n;
        for (const auto& t : tables) {
            const QJsonObject o = t.toObject();
            const QString table = o[u"table"].toString();
            const Result r = query(db.h, "SELECT * FROM " + ident(table));
            QVERIFY2(r.ok, qPrintable(table + ": " + r.error));
            QStringList fields;
            for (const auto& f : o[u"fields"].toArray())
                fields << f.toString();
            QCOMPARE(r.columns, fields);
            const QList<QVariantList> want = expectedRows(o[u"rows"].toArray());
            QCOMPARE(r.rows.size(), want.size());
            for (int row = 0; row < want.size(); ++row)
                for (int c = 0; c < want[row].size(); ++c)
                    if (r.rows[row].value(c) != want[row][c])
                        QFAIL(
                            qPrintable(QStringLiteral("%1 record %2 field %3: got %4, openpyxl %5")
                                           .arg(table)
                                           .arg(row + 1)
                                           .arg(fields[c], r.rows[row].value(c).toString(),
                                                want[row][c].toString())));
        }
    }

    // Every form a cell value takes: shared strings (plain, rich-text runs, phonetic guides,
    // escapes, an empty one, pretty-printed, white space with and without xml:space), inline
    // strings (pretty-printed too), numbers in their text forms, booleans, errors, formulas
    // with cached values of each type or none, and a cell with a value but no type.
    void cellForms() {
        const QByteArray sst =
            "<si><t>姓名</t></si>"
            "<si><r><rPr><b/></rPr><t>张</t></r><r><t xml:space=\"preserve\"> 三</t></r></si>"
            "<si><t>东京</t><rPh sb=\"0\" eb=\"2\"><t>トウキョウ</t></rPh></si>"
            "<si><t>a_x000D_b_x005F_x0041_c</t></si>"
            "<si><t/></si>"
            "<si><t>O'Brien &amp; \"Co\" &lt;1&gt;</t></si>"
            // Pretty-printed items: the blanks between elements are no text.
            "<si>\n    <t>Your Ref #</t>\n  </si>"
            "<si>\n  <r>\n    <rPr><b/></rPr>\n    <t>王</t>\n  </r>\n  <r>\n    <t "
            "xml:space=\"preserve\"> 小明 </t>\n  </r>\n  <rPh sb=\"0\" eb=\"1\">\n    <t>オウ"
            "</t>\n  </rPh>\n  <phoneticPr fontId=\"1\"/>\n</si>"
            // Without xml:space="preserve" a <t> loses the white space at its ends, unless
            // it is nothing else.
            "<si><t>\n  trimmed&#9;</t></si>"
            "<si><r><t>hello</t></r><r><t> </t></r><r><t>world</t></r></si>"
            "<si><t>  两端  </t></si><si><t>   </t></si>"
            "<si><t xml:space=\"preserve\">  留 </t></si>";
        const QByteArray cells =
            "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>值"
            "</t></is></c></row>"
            "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c><c r=\"B2\" t=\"s\"><v>2</v></c></row>"
            "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>3</v></c><c r=\"B3\" t=\"s\"><v>4</v></c></row>"
            "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>5</v></c><c r=\"B4\" t=\"inlineStr\"><is><r><t>富"
            "</t></r><r><t>文本</t></r></is></c></row>"
            "<row r=\"5\"><c r=\"A5\"><v>13800138000</v></c><c r=\"B5\"><v>0.1</v></c></row>"
            "<row r=\"6\"><c r=\"A6\"><v>1E+20</v></c><c r=\"B6\"><v>-3.5</v></c></row>"
            "<row r=\"7\"><c r=\"A7\"><v>6190718.68</v></c><c r=\"B7\"><v>1.0E-5"
            "</v></c></row>"
            "<row r=\"8\"><c r=\"A8\" t=\"b\"><v>1</v></c><c r=\"B8\" t=\"b\"><v>0</v></c></row>"
            "<row r=\"9\"><c r=\"A9\" t=\"e\"><v>#DIV/0!</v></c><c r=\"B9\" t=\"e\"><v>#N/A</v>"
            "</c></row>"
            "<row r=\"10\"><c r=\"A10\" t=\"str\"><f>UPPER(\"x\")</f><v>X</v></c><c r=\"B10\">"
            "<f>1+1</f><v>2</v></c></row>"
            "<row r=\"11\"><c r=\"A11\" t=\"str\"><f>\"\"</f><v></v></c><c r=\"B11\"><f>A1</f>"
            "</c></row>"
            "<row r=\"12\"><c r=\"A12\" t=\"b\"><f>TRUE()</f><v>1</v></c><c r=\"B12\" t=\"e\">"
            "<f>1/0</f><v>#DIV/0!</v></c></row>"
            "<row r=\"13\"><c r=\"A13\" s=\"0\"/><c r=\"B13\"><v>007</v></c></row>"
            "<row r=\"14\"><c r=\"A14\" t=\"s\"><v>  1 </v></c><c r=\"B14\" t=\"inlineStr\"><is>"
            "<t>_x4E2D__xD83D__xDE00_</t></is></c></row>"
            "<row r=\"15\">\n  <c r=\"A15\" t=\"s\">\n    <v>6</v>\n  </c>\n  <c r=\"B15\" "
            "t=\"inlineStr\">\n    <is>\n      <t>Your Ref #</t>\n    </is>\n  </c>\n</row>"
            "<row r=\"16\"><c r=\"A16\" t=\"s\"><v>7</v></c><c r=\"B16\" t=\"inlineStr\"><is>"
            "\n<r>\n<t xml:space=\"preserve\"> 甲 </t>\n</r>\n<rPh><t>コウ</t></rPh>\n</is></c>"
            "</row>"
            "<row r=\"17\"><c r=\"A17\" t=\"s\"><v>8</v></c><c r=\"B17\" t=\"s\"><v>9</v></c>"
            "</row>"
            // Attributes in any order, an unknown one with a prefix, single quotes, a value
            // beside an inline string, an empty cell written out, an entity in a value.
            "<row r=\"18\"><c s=\"0\" t=\"s\" r=\"A18\"><v>10</v></c><c t=\"s\" "
            "x14ac:dyDescent=\"0.25\" r=\"B18\"><v>11</v></c></row>"
            "<row r=\"19\"><c r='A19' t='s'><v>12</v></c><c r=\"B19\" t=\"inlineStr\"><v>9</v>"
            "<is><t>内</t></is></c></row>"
            "<row r=\"20\"><c r=\"A20\"></c><c r=\"B20\"><v>1&#48;</v></c></row>"
            "<row r=\"21\"><c><v>5</v></c><c t=\"s\"><v>1</v></c></row>";
        const Result r = firstSheet(book({{"Sheet1", cells}}, sst));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"姓名", "值"}));
        const QVariant null;
        QCOMPARE(r.rows, (QList<QVariantList>{
                             {"张 三", "东京"},
                             {"a\rb_x0041_c", ""},
                             {"O'Brien & \"Co\" <1>", "富文本"},
                             {"13800138000", "0.1"},
                             {"1e+20", "-3.5"},
                             {"6190718.68", "1e-05"},
                             {"TRUE", "FALSE"},
                             {"#DIV/0!", "#N/A"},
                             {"X", "2"},
                             {"", null},
                             {"TRUE", "#DIV/0!"},
                             {null, "7"},
                             {"张 三", QString::fromUtf8("中\xF0\x9F\x98\x80")},
                             {"Your Ref #", "Your Ref #"},
                             {"王 小明 ", " 甲 "},
                             {"trimmed", "hello world"},
                             {"两端", "   "},
                             {"  留 ", "内"},
                             {null, "10"},
                             {"5", "张 三"},
                         }));
    }

    // Cells and rows without a reference follow the one before them; rows may be missing; the
    // first row with a value gives the field names wherever it is; empty headings are F<n> and
    // repeated ones are numbered, as for .xls. The same cells written out of order, one of them
    // twice (the later one wins), give the same table.
    void referencesHeadingsAndSparseRows() {
        const QByteArray cells =
            "<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><t>名称</t></is></c>"
            "<c t=\"inlineStr\"><is><t>名称</t></is></c><c/><c t=\"inlineStr\"><is><t>NAME</t>"
            "</is></c><c t=\"inlineStr\"><is><t>名称1</t></is></c></row>"
            "<row><c><v>1</v></c><c><v>2</v></c></row>"
            "<row r=\"7\"><c r=\"G7\"><v>7</v></c><c><v>8</v></c></row>"
            "<row><c r=\"E8\"><v>5</v></c><c><v>6</v></c></row>"
            "<row r=\"10\"/>";
        const QByteArray shuffled =
            "<row r=\"8\"><c r=\"E8\"><v>5</v></c><c r=\"F8\"><v>6</v></c></row>"
            "<row r=\"4\"><c r=\"B4\"><v>2</v></c><c r=\"A4\"><v>9</v></c></row>"
            "<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><t>名称</t></is></c>"
            "<c t=\"inlineStr\"><is><t>名称</t></is></c><c/><c t=\"inlineStr\"><is><t>NAME</t>"
            "</is></c><c t=\"inlineStr\"><is><t>名称1</t></is></c></row>"
            "<row r=\"7\"><c r=\"H7\"><v>8</v></c><c r=\"G7\"><v>7</v></c></row>"
            "<row r=\"4\"><c r=\"A4\"><v>1</v></c></row>";
        const Result r = firstSheet(book({{"Sheet1", cells}}));
        QVERIFY2(r.ok, qPrintable(r.error));
        const Result again = firstSheet(book({{"Sheet1", shuffled}}));
        QVERIFY2(again.ok, qPrintable(again.error));
        QCOMPARE(again.columns, r.columns);
        QCOMPARE(again.rows, r.rows);
        // The used range is A3:H8 (A4 lies left of the headings).
        QCOMPARE(r.columns,
                 (QStringList{"F1", "F2", "名称", "名称2", "F5", "NAME", "名称1", "F8"}));
        const QVariant n;
        QCOMPARE(r.rows, (QList<QVariantList>{{"1", "2", n, n, n, n, n, n},
                                              {n, n, n, n, n, n, n, n},
                                              {n, n, n, n, n, n, n, n},
                                              {n, n, n, n, n, n, "7", "8"},
                                              {n, n, n, n, "5", "6", n, n}}));
    }

    // A sheet and a string table many times longer than what is read at a time, so that cells
    // and strings of each form come cut at the end of a piece: every value arrives, in its row.
    void longPartsReadInPieces() {
        QByteArray sst, cells;
        for (int i = 0; i < 40000; ++i)
            sst += i % 5 == 3 ? "<si><r><t>串" + QByteArray::number(i) + "</t></r></si>"
                              : "<si><t>串" + QByteArray::number(i) + "</t></si>";
        for (int r = 1; r <= 60000; ++r) {
            const QByteArray n = QByteArray::number(r);
            const QByteArray shared = QByteArray::number(r % 40000);
            cells += "<row r=\"" + n + "\">";
            cells += r % 7 == 0 ? "\n <c r=\"A" + n + "\" t=\"s\">\n <v>" + shared + "</v></c>"
                                : "<c r=\"A" + n + "\" t=\"s\"><v>" + shared + "</v></c>";
            cells += r % 3 == 0 ? "<c r=\"B" + n + "\"><v>" + n + "&#46;5</v></c>"
                                : "<c r=\"B" + n + "\" s=\"0\"><v>" + n + ".5</v></c>";
            cells += "</row>";
        }
        const Result r = firstSheet(book({{"Sheet1", cells}}, sst));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"串1", "1.5"}));
        QCOMPARE(r.rows.size(), 59999);
        for (int row = 2; row <= 60000; ++row) {
            const QVariantList want{"串" + QString::number(row % 40000),
                                    QString::number(row) + ".5"};
            if (r.rows[row - 2] != want)
                QFAIL(qPrintable(QStringLiteral("row %1: %2, %3")
                                     .arg(row)
                                     .arg(r.rows[row - 2].value(0).toString(),
                                          r.rows[row - 2].value(1).toString())));
        }
    }

    // Numbers shown with a date or time format become dates, in both date systems; custom,
    // built-in and Chinese built-in formats; elapsed time; Excel's 29 February 1900; ISO dates.
    void datesByFormat() {
        const QByteArray styles =
            "<numFmts count=\"3\"><numFmt numFmtId=\"164\" formatCode=\"yyyy&quot;年&quot;m&quot;"
            "月&quot;d&quot;日&quot;\"/><numFmt numFmtId=\"165\" formatCode=\"[h]:mm:ss\"/>"
            "<numFmt numFmtId=\"166\" formatCode=\"0.00&quot;d&quot;\"/></numFmts>"
            "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
            "<cellXfs count=\"7\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
            "<xf numFmtId=\"165\"/><xf numFmtId=\"166\"/><xf numFmtId=\"31\"/>"
            "<xf numFmtId=\"21\"/></cellXfs>";
        const QByteArray cells =
            "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>日期</t></is></c><c r=\"B1\" "
            "t=\"inlineStr\"><is><t>值</t></is></c></row>"
            "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>44197</v></c><c r=\"B2\" s=\"2\"><v>44197.5</v>"
            "</c></row>"
            "<row r=\"3\"><c r=\"A3\" s=\"3\"><v>10.632060185185185</v></c><c r=\"B3\" s=\"4\">"
            "<v>44197</v></c></row>"
            "<row r=\"4\"><c r=\"A4\" s=\"5\"><v>60</v></c><c r=\"B4\" s=\"6\"><v>0.25</v></c>"
            "</row>"
            "<row r=\"5\"><c r=\"A5\" s=\"1\"><v>-1</v></c><c r=\"B5\" t=\"d\" s=\"1\">"
            "<v>2024-02-29T08:30:00</v></c></row>"
            "<row r=\"6\"><c r=\"A6\" s=\"1\"><v>59</v></c><c r=\"B6\" s=\"1\"><v>3000000</v></c>"
            "</row>"
            // ISO dates on either side of the 29 February 1900 that Excel counts.
            "<row r=\"7\"><c r=\"A7\" t=\"d\" s=\"1\"><v>1900-03-01</v></c><c r=\"B7\" t=\"d\" "
            "s=\"1\"><v>1900-02-28</v></c></row>";
        Result r = firstSheet(book({{"Sheet1", cells}}, {}, styles));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows, (QList<QVariantList>{{"2021-01-01", "2021-01-01 12:00:00"},
                                              {"255:10:10", "44197"},
                                              {"1900-02-29", "06:00:00"},
                                              {"-1", "2024-02-29 08:30:00"},
                                              {"1900-02-28", "3000000"},
                                              {"1900-03-01", "1900-02-28"}}));
        // 44197 above: a number format with "d" only in quoted text is no date.

        // The 1904 date system: serial 0 is 1904-01-01.
        r = firstSheet(book({{"Sheet1", cells}}, {}, styles, {}, "<workbookPr date1904=\"1\"/>"));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows[0], (QVariantList{"2025-01-02", "2025-01-02 12:00:00"}));
        QCOMPARE(r.rows[2][0], QVariant("1904-03-01"));
        QCOMPARE(r.rows[3][1], QVariant("2024-02-29 08:30:00"));
    }

    // Every worksheet is a table, hidden ones too, in workbook order; chart sheets are not.
    // Defined names of one absolute area follow as TABLE, local ones as <sheet>$<name>;
    // relative, hidden, built-in, constant and multi-area names are left out.
    void sheetsAndNames() {
        const QByteArray cells = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>客户</t></is>"
                                 "</c><c r=\"B1\" t=\"inlineStr\"><is><t>电话</t></is></c></row>"
                                 "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>张三</t></is>"
                                 "</c><c r=\"B2\"><v>138</v></c></row>"
                                 "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>李四</t></is>"
                                 "</c><c r=\"B3\"><v>139</v></c></row>";
        const QByteArray chart = "<?xml version=\"1.0\"?><chartsheet xmlns=\"http://schemas."
                                 "openxmlformats.org/spreadsheetml/2006/main\"/>";
        const QByteArray names =
            "<definedName name=\"客户区\">'O''Brien 表'!$A$1:$B$3</definedName>"
            "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\">列表!$A$1:$B$2"
            "</definedName>"
            "<definedName name=\"Relative\">列表!A1:B2</definedName>"
            "<definedName name=\"Hidden\" hidden=\"1\">列表!$A$1:$B$2</definedName>"
            "<definedName name=\"Constant\">42</definedName>"
            "<definedName name=\"Two\">列表!$A$1,列表!$B$2</definedName>"
            "<definedName name=\"Local\" localSheetId=\"2\">列表!$A$2:$A$3</definedName>"
            "<definedName name=\"Cols\">列表!$B:$B</definedName>"
            "<definedName name=\"OnChart\" localSheetId=\"1\">列表!$A$1</definedName>";
        const QString path = write(book({{"列表", cells},
                                         {"图表", chart, "", true},
                                         {"O'Brien 表", cells, "hidden"},
                                         {"空", "", "veryHidden"}},
                                        {}, {}, names));
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));
        QStringList all;
        for (const auto& s : schema)
            all << s.tableName + ":" + s.tableType;
        QCOMPARE(all,
                 (QStringList{"列表$:SYSTEM TABLE", "O'Brien 表$:SYSTEM TABLE", "空$:SYSTEM TABLE",
                              "客户区:TABLE", "O'Brien 表$Local:TABLE", "Cols:TABLE"}));
        Result r = query(db.h, "SELECT * FROM 客户区");
        QCOMPARE(r.columns, (QStringList{"客户", "电话"}));
        QCOMPARE(r.rows, (QList<QVariantList>{{"张三", "138"}, {"李四", "139"}}));
        r = query(db.h, "SELECT * FROM [O'Brien 表$Local]");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, QStringList{"张三"});
        QCOMPARE(r.rows, (QList<QVariantList>{{"李四"}}));
        r = query(db.h, "SELECT * FROM Cols");
        QCOMPARE(r.columns, QStringList{"电话"});
        QCOMPARE(r.rows, (QList<QVariantList>{{"138"}, {"139"}}));
        r = query(db.h, "SELECT * FROM \"空$\"");
        QCOMPARE(r.columns, QStringList{"F1"});
        QVERIFY(r.rows.isEmpty());

        formats::xls::Workbook wb;
        QString error;
        QVERIFY(formats::xlsx::readWorkbookFile(path, &wb, &error));
        QCOMPARE(int(wb.sheets[1].visibility), int(formats::xls::Visibility::Hidden));
        QCOMPARE(int(wb.sheets[2].visibility), int(formats::xls::Visibility::VeryHidden));
    }

    void readOnly() {
        const QByteArray cells = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a</t></is></c>"
                                 "</row><row r=\"2\"><c r=\"A2\"><v>1</v></c></row>";
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, write(book({{"S", cells}})), &schema));
        for (const QString& sql :
             {QStringLiteral("INSERT INTO \"S$\" VALUES ('x')"),
              QStringLiteral("UPDATE \"S$\" SET a = 'y'"), QStringLiteral("DELETE FROM \"S$\"")}) {
            const Result r = query(db.h, sql);
            QVERIFY2(!r.ok, qPrintable(sql));
            QCOMPARE(r.code, SQLITE_READONLY);
            QVERIFY2(r.error.contains(QStringLiteral("只读")), qPrintable(r.error));
        }
        QCOMPARE(query(db.h, "SELECT a FROM \"S$\"").rows, (QList<QVariantList>{{"1"}}));
        // The rowid finds one record.
        QCOMPARE(query(db.h, "SELECT a FROM \"S$\" WHERE rowid = 1").rows.size(), 1);
        QVERIFY(query(db.h, "SELECT a FROM \"S$\" WHERE rowid = 2").rows.isEmpty());
    }

    // An Excel 97-2003 workbook saved under an .xlsx name opens as what it is.
    void oldFormatUnderNewName() {
        QFile f(testsupport::sample("xls/poi/chinese-provinces.xls"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, write(f.readAll(), "provinces.xlsx"), &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), QStringList{"provinces$"});
        QCOMPARE(query(db.h, "SELECT count(*) FROM provinces$").rows.value(0).value(0),
                 QVariant("3"));
    }

    // A sheet wider than SQLite's column limit is left out and named; the others open.
    void tooWideSheetSkipped() {
        QByteArray wide = "<row r=\"1\">";
        for (int c = 0; c < 2100; ++c)
            wide += "<c><v>" + QByteArray::number(c) + "</v></c>";
        wide += "</row>";
        const QByteArray narrow = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
        Db db;
        std::vector<SheetSchemaRow> schema;
        QString skipped;
        QVERIFY(attach(db, write(book({{"宽表", wide}, {"窄表", narrow}})), &schema, &skipped));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), QStringList{"窄表$"});
        QVERIFY2(skipped.contains(QStringLiteral("宽表$")) && skipped.contains("2100"),
                 qPrintable(skipped));
    }

    // Files that are no readable workbook: a clear Chinese message naming the file, no table.
    void attachErrors() {
        const QByteArray ok = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
        QCOMPARE(attachError(book({{"S", ok}})), QString());

        QVERIFY(attachError(QByteArray(5000, 'Z')).startsWith("该文件不是Excel工作簿"));
        QVERIFY(attachError(QByteArray()).startsWith("该文件不是Excel工作簿"));
        QVERIFY(attachError("姓名,电话\n张三,138\n").startsWith("该文件不是Excel工作簿"));
        const QByteArray whole = book({{"S", ok}});
        QVERIFY(attachError(whole.left(whole.size() / 2)).startsWith("该Excel文件已损坏"));
        // A zip package of another program.
        QVERIFY(attachError(zip({{"word/document.xml", "<w:document/>"}}))
                    .startsWith("该文件不是Excel工作簿"));
        // A password-protected workbook: a compound file with the encrypted package inside.
        const QByteArray encrypted =
            formats::cfb::write({{"EncryptionInfo", QByteArray(200, '\x04')},
                                 {"EncryptedPackage", QByteArray(8000, '\x7F')}});
        QVERIFY(attachError(encrypted).startsWith("该Excel文件已加密，无法打开"));
        // A zip entry encrypted the old way.
        std::vector<Entry> parts = bookEntries({{"S", ok}});
        parts[2].flags = 1;
        QVERIFY(attachError(zip(parts)).startsWith("该Excel文件已加密"));
        // Damaged XML, a string index past the table, a cell outside the grid, a sheet whose
        // part is missing, a character reference to nothing.
        for (const QByteArray& cells :
             {QByteArray("<row r=\"1\"><c r=\"A1\"><v>1</v></row>"),
              QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c></row>"),
              QByteArray("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"),
              QByteArray("<row r=\"1048577\"><c><v>1</v></c></row>"),
              QByteArray("<row r=\"1\"><c r=\"A1\" t=\"str\"><v>&#0;</v></c></row>"),
              QByteArray("<row r=\"1\"><c r=\"A1\" t=\"str\"><v>&nbsp;</v></c></row>")}) {
            const QString e = attachError(book({{"S", cells}}, "<si><t>x</t></si>"));
            QVERIFY2(e.startsWith("该Excel文件已损坏"), qPrintable(cells + ": " + e));
        }
        parts = bookEntries({{"S", ok}});
        parts.erase(parts.begin() + 2);
        QVERIFY(attachError(zip(parts)).startsWith("该Excel文件已损坏"));
        // A document type declaration (the way entity bombs come in).
        parts = bookEntries({{"S", ok}});
        parts[2].data.replace("<?xml version=\"1.0\"?>",
                              "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaa\">]>");
        QVERIFY(attachError(zip(parts)).startsWith("该Excel文件已损坏"));
        // A binary workbook.
        QVERIFY(attachError(zip({{"_rels/.rels",
                                  QByteArray("<Relationships xmlns=\"http://schemas.openxmlformats."
                                             "org/package/2006/relationships\"><Relationship "
                                             "Id=\"r\" Type=\"") +
                                      kRelNs +
                                      "/officeDocument\" Target=\"xl/workbook.bin\"/>"
                                      "</Relationships>"},
                                 {"xl/workbook.bin", QByteArray(100, '\0')}}))
                    .startsWith("该文件是Excel二进制工作簿"));
        // A missing file.
        Db db;
        std::vector<SheetSchemaRow> schema;
        QString error, skipped;
        QVERIFY(
            !vtab::attachXlsxWorkbook(db.h, tmp_.filePath("没有.xlsx"), &schema, &skipped, &error));
        QVERIFY2(error.startsWith(QStringLiteral("找不到Excel文件或无法打开")), qPrintable(error));
    }

    // Zip bombs: a part whose headers claim more than the limit, a part that inflates to
    // hundreds of times its compressed size, and one whose headers understate its size; each
    // stops with a message instead of filling the memory or running for minutes.
    void zipBombs() {
        const QByteArray ok = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
        std::vector<Entry> parts = bookEntries({{"S", ok}});
        parts[2].statedSize = qint64(3) << 30;
        QVERIFY(attachError(zip(parts)).startsWith("该Excel文件中的数据解压后过大"));

        // 80 MiB of blanks inside the sheet data: well-formed XML, a deflate ratio near 1000.
        QByteArray blanks(80 << 20, ' ');
        blanks.prepend(ok);
        parts = bookEntries({{"S", blanks}});
        parts[2].deflate = true;
        QVERIFY(attachError(zip(parts)).startsWith("该Excel文件中的数据解压后过大"));

        parts[2].statedSize = 100;
        const QString lying = attachError(zip(parts));
        QVERIFY2(lying.startsWith("该Excel文件中的数据解压后过大") ||
                     lying.startsWith("该Excel文件已损坏"),
                 qPrintable(lying));

        // Below the limits the same content reads; with tighter limits it stops.
        blanks.resize(4 << 20);
        parts = bookEntries({{"S", blanks}});
        parts[2].deflate = true;
        const QByteArray small = zip(parts);
        formats::xls::Workbook wb;
        QCOMPARE(int(formats::xlsx::readWorkbook(small, &wb)), int(formats::xlsx::ReadError::None));
        formats::xlsx::Limits tight;
        tight.partBytes = 1 << 20;
        QCOMPARE(int(formats::xlsx::readWorkbook(small, &wb, tight)),
                 int(formats::xlsx::ReadError::TooLarge));
        tight = {};
        tight.ratioFrom = 1 << 20;
        QCOMPARE(int(formats::xlsx::readWorkbook(small, &wb, tight)),
                 int(formats::xlsx::ReadError::TooLarge));
    }
};

CHACHONG_TEST_MAIN(TestXlsx)
#include "tst_xlsx.moc"
