// The "xls" SQLite module over real workbooks made by other people: every sheet name, field
// name and value equals what xlrd (Debian's python3-xlrd, an independent reader) finds, after
// the normalisation rules written in xls_dump.py; plus the schema rows, named ranges, the
// read-only rule, declared sizes and the errors a user sees.
#include "db/formats/xls/xls.h"
#include "db/formats/xls/xlswriter.h"
#include "db/vtab/xls/xls_vtab.h"
#include "tests/support/testsupport.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

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
    bool allText = true;      // every non-NULL value came back as TEXT
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
            const int type = sqlite3_column_type(st, c);
            if (type == SQLITE_NULL) {
                row << QVariant();
                continue;
            }
            r.allText = r.allText && type == SQLITE_TEXT;
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

QJsonObject xlrdDump(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/xls_dump.py"), {path}, &ok, &err);
    if (!ok) qWarning().noquote() << "xlrd failed on" << path << err;
    return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

QStringList tableNames(const std::vector<SheetSchemaRow>& schema, const QString& type) {
    QStringList names;
    for (const auto& row : schema)
        if (row.tableType == type) names << row.tableName;
    return names;
}

} // namespace

class TestXls : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;

    // Attaches a workbook to a fresh connection; fails the test when it cannot.
    bool attach(Db& db, const QString& path, std::vector<SheetSchemaRow>* schema) {
        QString error;
        const bool ok = vtab::attachXlsWorkbook(db.h, path, schema, &error);
        if (!ok) qWarning().noquote() << error;
        return ok;
    }

private slots:
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    void samplesMatchXlrd_data() {
        QTest::addColumn<QString>("path");
        QDirIterator it(testsupport::sample("xls"), {"*.xls"}, QDir::Files,
                        QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString& f : files)
            QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
        QVERIFY(files.size() >= 16);
    }
    void samplesMatchXlrd() {
        QFETCH(QString, path);
        const QJsonObject dump = xlrdDump(path);
        QVERIFY(!dump.isEmpty());
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));

        const QJsonArray sheets = dump[u"sheets"].toArray();
        QStringList expectedSheets;
        for (const auto& s : sheets)
            expectedSheets << s.toObject()[u"name"].toString() + "$";
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), expectedSheets);
        for (size_t i = 0; i < size_t(sheets.size()); ++i) // worksheets come first
            QCOMPARE(schema[i].tableType, QStringLiteral("SYSTEM TABLE"));

        formats::xls::Workbook book;
        QString error;
        QVERIFY2(formats::xls::readWorkbookFile(path, &book, &error), qPrintable(error));
        QCOMPARE(book.biffVersion * 10, dump[u"biff"].toInt());
        QCOMPARE(book.date1904, dump[u"datemode"].toInt() == 1);

        for (int i = 0; i < sheets.size(); ++i) {
            const QJsonObject sheet = sheets[i].toObject();
            const QString table = sheet[u"name"].toString() + "$";
            QCOMPARE(int(book.sheets[size_t(i)].visibility), sheet[u"visibility"].toInt());
            const Result r = query(db.h, "SELECT * FROM " + ident(table));
            QVERIFY2(r.ok, qPrintable(table + ": " + r.error));
            QVERIFY(r.allText);
            QStringList fields;
            for (const auto& f : sheet[u"fields"].toArray())
                fields << f.toString();
            QCOMPARE(r.columns, fields);
            const QJsonArray rows = sheet[u"rows"].toArray();
            QCOMPARE(r.rows.size(), rows.size());
            for (int row = 0; row < rows.size(); ++row) {
                const QJsonArray want = rows[row].toArray();
                QCOMPARE(r.rows[row].size(), want.size());
                for (int c = 0; c < want.size(); ++c) {
                    const QVariant expected =
                        want[c].isNull() ? QVariant() : QVariant(want[c].toString());
                    if (r.rows[row][c] != expected)
                        QFAIL(qPrintable(
                            QStringLiteral("%1 record %2 field %3: got %4, xlrd %5")
                                .arg(table)
                                .arg(row + 1)
                                .arg(fields[c], r.rows[row][c].toString(), expected.toString())));
                }
            }
        }
    }

    // Hidden and very hidden sheets are tables too; a chart sheet is not.
    void hiddenSheetsListed() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/calamine/any_sheets.xls"), &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"),
                 (QStringList{"Visible$", "Hidden$", "VeryHidden$"}));
        QVERIFY(tableNames(schema, "TABLE").isEmpty());
        const Result r = query(db.h, "SELECT * FROM \"VeryHidden$\"");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, QStringList{"F1"}); // an empty sheet: one field, no records
        QVERIFY(r.rows.isEmpty());

        Db db2;
        QVERIFY(attach(db2, testsupport::sample("xls/ExcelDataReader/Test_Excel_Dataset.xls"),
                       &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"),
                 (QStringList{"test.csv$", "Sheet2$", "Sheet3$"}));
        const Result dotted = query(db2.h, "SELECT count(*) FROM \"test.csv$\"");
        QCOMPARE(dotted.rows.value(0).value(0).toString(), QStringLiteral("33"));
    }

    void apostropheSheetIsATable() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/xlrd/namesdemo.xls"), &schema));
        QVERIFY(tableNames(schema, "SYSTEM TABLE").contains("Seamus O'Reilly$"));
        const Result r = query(db.h, "SELECT * FROM \"Seamus O'Reilly$\"");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, QStringList{"42"});
        const Result bracketed = query(db.h, "SELECT count(*) FROM [Seamus O'Reilly$]");
        QVERIFY2(bracketed.ok, qPrintable(bracketed.error));
    }

    // Names of one area of one sheet are listed as TABLE after the sheets (sheet-local ones
    // as <sheet>$<name>) and can be read; constants, formulas, several areas or sheets,
    // relative references and built-in names are not listed.
    void namedRangesListedAsTables() {
        const QString path = testsupport::sample("xls/xlrd/namesdemo.xls");
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));
        const QStringList names = tableNames(schema, "TABLE");
        QCOMPARE(names, (QStringList{"Apostrophe", "Expenses", "Sheet1$LocalRange",
                                     "Sheet2$localRange", "Sheet3$Localrange", "Profit",
                                     "rectangle1", "rectangle2", "Sales", "Year_Tot"}));
        QCOMPARE(schema.size(), size_t(4 + names.size()));
        QCOMPARE(schema[4].tableName, QStringLiteral("Apostrophe"));

        // The areas agree with xlrd's reading of the same names.
        const QJsonObject dump = xlrdDump(path);
        const QStringList sheetNames{"Sheet1", "Sheet2", "Sheet3", "Seamus O'Reilly"};
        formats::xls::Workbook book;
        QString error;
        QVERIFY(formats::xls::readWorkbookFile(path, &book, &error));
        QCOMPARE(book.names.size(), size_t(names.size()));
        for (const auto& n : book.names) {
            bool found = false;
            for (const auto& v : dump[u"names"].toArray()) {
                const QJsonObject o = v.toObject();
                if (o[u"name"].toString() != n.name || o[u"scope"].toInt() != n.scope) continue;
                found = true;
                const QJsonArray a = o[u"area"].toArray();
                QCOMPARE(a.size(), 5);
                QCOMPARE(a[0].toInt(), n.sheet);
                QCOMPARE(uint32_t(a[1].toInt()), n.firstRow);
                QCOMPARE(uint32_t(a[2].toInt()), n.lastRow);
                QCOMPARE(a[3].toInt(), int(n.firstCol));
                QCOMPARE(a[4].toInt(), int(n.lastCol));
            }
            QVERIFY2(found, qPrintable(n.name));
        }

        // rectangle1 is Sheet3!A9:D10: its first row gives the fields.
        const Result r = query(db.h, "SELECT * FROM rectangle1");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"1", "2", "4", "8"}));
        QCOMPARE(r.rows.size(), 1);
        QCOMPARE(r.rows[0], (QVariantList{"16", "32", "64", "128"}));
        const Result local = query(db.h, "SELECT * FROM \"Sheet3$Localrange\"");
        QVERIFY2(local.ok, qPrintable(local.error));
        QCOMPARE(local.columns, QStringList{"F1"});
    }

    // Formula results from the samples: text (from STRING records), an empty text (not NULL),
    // numbers and booleans.
    void formulaResults() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/xlrd/namesdemo.xls"), &schema));
        const Result r =
            query(db.h, "SELECT F1, Feb, Apr FROM \"Sheet3$\" WHERE rowid IN (21, 22, 23)");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows.size(), 3);
        QCOMPARE(r.rows[0], (QVariantList{QVariant(), "579", "TRUE"}));
        QCOMPARE(r.rows[1], (QVariantList{"ascii", "123456", "FALSE"}));
        QCOMPARE(r.rows[2], (QVariantList{"", "123456", "FALSE"}));
        QVERIFY(!r.rows[2][0].isNull());
    }

    // Excel 95: BIFF5 with code page 1252, formulas and a multi-line text.
    void excel95CodePage() {
        const QString path = testsupport::sample("xls/poi/testEXCEL_95.xls");
        formats::xls::Workbook book;
        QString error;
        QVERIFY(formats::xls::readWorkbookFile(path, &book, &error));
        QCOMPARE(book.biffVersion, 5);
        QCOMPARE(book.codePage, 1252);
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"),
                 (QStringList{"Feuil1$", "Feuil2$", "Feuil3$"}));
        const Result r =
            query(db.h, "SELECT F2, F3, F5 FROM \"Feuil1$\" WHERE rowid IN (5, 6, 19)");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows, (QList<QVariantList>{
                             {"1", "1", "1"}, {"2", "4", "1.55"}, {"15", "225", "1253.82"}}));
    }

    void dateSystem1904() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/calamine/date_1904.xls"), &schema));
        const Result r = query(db.h, "SELECT * FROM \"Sheet1$\"");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"2021-01-01", "15"}));
        QCOMPARE(r.rows, (QList<QVariantList>{{"2021-01-02", "16"}, {"255:10:10", "17"}}));
    }

    void chineseSheets() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/poi/19599-2.xls"), &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), (QStringList{"汇总$", "订阅上行列表$"}));
        // Formatted blank cells below the data do not make empty records.
        const Result r = query(db.h, "SELECT count(*) FROM \"订阅上行列表$\"");
        QCOMPARE(r.rows.value(0).value(0).toString(), QStringLiteral("199"));
    }

    void readOnly() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/poi/chinese-provinces.xls"), &schema));
        const Result before = query(db.h, "SELECT * FROM provinces$");
        QCOMPARE(before.rows.size(), 3);
        for (const QString& sql : {QStringLiteral("INSERT INTO \"provinces$\" VALUES ('x', 'y')"),
                                   QStringLiteral("UPDATE \"provinces$\" SET rowid = rowid"),
                                   QStringLiteral("DELETE FROM \"provinces$\"")}) {
            const Result r = query(db.h, sql);
            QVERIFY2(!r.ok, qPrintable(sql));
            QCOMPARE(r.code, SQLITE_READONLY);
            QVERIFY2(r.error.contains(QStringLiteral("只读")), qPrintable(r.error));
        }
        QCOMPARE(query(db.h, "SELECT * FROM provinces$").rows, before.rows);
    }

    // Columns are VARCHAR(255), or as long as their longest value; the rowid finds a record.
    void declaredSizesAndRowid() {
        std::vector<formats::xls::SheetData> sheets(1);
        sheets[0].name = QStringLiteral("客户");
        using formats::xls::Cell;
        sheets[0].rows = {{Cell::ofText("姓名"), Cell::ofText("地址"), Cell::ofText("Name")},
                          {Cell::ofText("张三"), Cell::ofText(QString(300, QChar(0x8DEF))), Cell()},
                          {Cell::ofText("李四"), Cell::ofText("北京"), Cell::ofNumber(1)}};
        const QString path = tmp_.filePath("sizes.xls");
        QString error;
        QVERIFY2(formats::xls::writeWorkbookFile(path, sheets, &error), qPrintable(error));
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));
        const Result info = query(db.h, "SELECT name, type FROM pragma_table_info('客户$')");
        QVERIFY2(info.ok, qPrintable(info.error));
        QCOMPARE(info.rows, (QList<QVariantList>{{"姓名", "VARCHAR(255)"},
                                                 {"地址", "VARCHAR(300)"},
                                                 {"Name", "VARCHAR(255)"}}));
        const Result one = query(db.h, "SELECT rowid, 姓名, Name FROM \"客户$\" WHERE rowid = 2");
        QCOMPARE(one.rows, (QList<QVariantList>{{"2", "李四", "1"}}));
        QVERIFY(query(db.h, "SELECT * FROM \"客户$\" WHERE rowid = 3").rows.isEmpty());
        QVERIFY(query(db.h, "SELECT * FROM \"客户$\" WHERE rowid = 0").rows.isEmpty());
        QCOMPARE(query(db.h, "SELECT Name FROM \"客户$\" WHERE rowid = 1").rows,
                 (QList<QVariantList>{{QVariant()}}));
        // Values compare like any text, apostrophes and wildcards included.
        const Result like = query(db.h, "SELECT count(*) FROM \"客户$\" WHERE 地址 LIKE '北%'");
        QCOMPARE(like.rows.value(0).value(0).toString(), QStringLiteral("1"));
    }

    // A path with spaces, an apostrophe, a comma, brackets and Chinese in it.
    void awkwardPath() {
        const QString dir = tmp_.filePath(QStringLiteral("客户 O'Brien, (2024)"));
        QVERIFY(QDir().mkpath(dir));
        const QString copy =
            testsupport::copyInto(testsupport::sample("xls/poi/chinese-provinces.xls"), dir);
        QVERIFY(!copy.isEmpty());
        QFile::setPermissions(copy, QFileDevice::ReadOwner); // read-only media
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, copy, &schema));
        const Result r = query(db.h, "SELECT * FROM \"provinces$\" WHERE rowid = 1");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows.value(0).size(), 2);
        QVERIFY(r.rows[0].contains(QStringLiteral("安徽省")));
    }

    // Two workbooks in one connection; attaching a workbook whose tables already exist fails
    // with a clear message and leaves the first tables working.
    void twoWorkbooks() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, testsupport::sample("xls/poi/chinese-provinces.xls"), &schema));
        QVERIFY(attach(db, testsupport::sample("xls/calamine/issue219.xls"), &schema));
        QCOMPARE(tableNames(schema, "SYSTEM TABLE"), QStringList{"工作表1$"});
        QString error;
        QVERIFY(!vtab::attachXlsWorkbook(db.h, testsupport::sample("xls/poi/chinese-provinces.xls"),
                                         &schema, &error));
        QVERIFY2(error.contains(QStringLiteral("provinces$")), qPrintable(error));
        QVERIFY(schema.empty());
        QCOMPARE(query(db.h, "SELECT * FROM provinces$").rows.size(), 3);
        QVERIFY(query(db.h, "SELECT * FROM \"工作表1$\"").ok);
    }

    // Files that are not readable workbooks: a clear Chinese message naming the file, and no
    // table is created.
    void attachErrors_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("garbage") << "garbage.xls" << QByteArray(5000, '\x5A')
                                 << "该文件不是Excel 97-2003工作簿";
        QTest::newRow("empty") << "empty.xls" << QByteArray() << "该文件不是Excel 97-2003工作簿";
        QTest::newRow("csv") << "客户.xls" << QByteArray("姓名,电话\n张三,138\n")
                             << "该文件不是Excel 97-2003工作簿";
        QFile f(testsupport::sample("xls/xlrd/profiles.xls"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        QTest::newRow("truncated")
            << "cut.xls" << whole.left(whole.size() / 2) << "该Excel文件不完整";
        QFile x(testsupport::sample("xlsx/poi/49273.xlsx"));
        QVERIFY(x.open(QIODevice::ReadOnly));
        QTest::newRow("xlsx renamed")
            << "renamed.xls" << x.readAll() << "该文件是Excel 2007及以上版本";
    }
    void attachErrors() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString path = tmp_.filePath(name);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        Db db;
        std::vector<SheetSchemaRow> schema{{"stale", "TABLE"}};
        QString error;
        QVERIFY(!vtab::attachXlsWorkbook(db.h, path, &schema, &error));
        QVERIFY2(error.startsWith(message), qPrintable(error));
        QVERIFY2(error.endsWith(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
                 qPrintable(error));
        QVERIFY(schema.empty());
        QCOMPARE(
            query(db.h, "SELECT count(*) FROM sqlite_master").rows.value(0).value(0).toString(),
            QStringLiteral("0"));
    }

    // Headings that need quoting in SQL, repeats, an empty one and "rowid" all make usable
    // columns.
    void awkwardHeadings() {
        using formats::xls::Cell;
        std::vector<formats::xls::SheetData> sheets(1);
        sheets[0].name = QStringLiteral("Sheet (1) 名单");
        const QStringList headings{"say \"hi\"", "O'Brien", "a]b",  "two\nlines", "",
                                   "rowid",      "名称",    "名称", "%_*",        "\u3000"};
        std::vector<Cell> header, row;
        for (const QString& h : headings) {
            header.push_back(h.isEmpty() ? Cell() : Cell::ofText(h));
            row.push_back(Cell::ofText("v:" + h));
        }
        sheets[0].rows = {header, row};
        const QString path = tmp_.filePath("headings.xls");
        QString error;
        QVERIFY2(formats::xls::writeWorkbookFile(path, sheets, &error), qPrintable(error));
        Db db;
        std::vector<SheetSchemaRow> schema;
        QVERIFY(attach(db, path, &schema));
        const Result r = query(db.h, "SELECT * FROM \"Sheet (1) 名单$\"");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"say \"hi\"", "O'Brien", "a]b", "two\nlines", "F5",
                                         "rowid", "名称", "名称1", "%_*", "\u3000"}));
        QCOMPARE(r.rows.value(0).value(1).toString(), QStringLiteral("v:O'Brien"));
        const Result one =
            query(db.h, "SELECT \"say \"\"hi\"\"\", \"名称1\" FROM \"Sheet (1) 名单$\"");
        QCOMPARE(one.rows, (QList<QVariantList>{{"v:say \"hi\"", "v:名称"}}));
    }

    // A connection to a database file that keeps the tables from an earlier session reads the
    // workbook again when a table is first used.
    void reconnectReadsFileAgain() {
        const QString dbPath = tmp_.filePath("persist.db");
        std::vector<SheetSchemaRow> schema;
        {
            Db db;
            sqlite3_close(db.h);
            QCOMPARE(sqlite3_open(dbPath.toUtf8().constData(), &db.h), SQLITE_OK);
            QVERIFY(attach(db, testsupport::sample("xls/poi/chinese-provinces.xls"), &schema));
        }
        Db db;
        sqlite3_close(db.h);
        QCOMPARE(sqlite3_open(dbPath.toUtf8().constData(), &db.h), SQLITE_OK);
        QVERIFY(attach(db, testsupport::sample("xls/calamine/issue219.xls"), &schema));
        const Result r = query(db.h, "SELECT count(*) FROM provinces$");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows.value(0).value(0).toString(), QStringLiteral("3"));
    }

    void missingFile() {
        Db db;
        std::vector<SheetSchemaRow> schema;
        QString error;
        QVERIFY(!vtab::attachXlsWorkbook(db.h, tmp_.filePath("没有.xls"), &schema, &error));
        QVERIFY2(error.startsWith(QStringLiteral("找不到Excel文件或无法打开")), qPrintable(error));
        QVERIFY(!vtab::attachXlsWorkbook(
            nullptr, testsupport::sample("xls/poi/chinese-provinces.xls"), &schema, &error));
        QVERIFY(!error.isEmpty());
    }
};

CHACHONG_TEST_MAIN(TestXls)
#include "tst_xls.moc"
