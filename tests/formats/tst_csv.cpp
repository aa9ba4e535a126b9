// The "csv" SQLite module and the text-file reader: files written by Python's csv module in each
// encoding, delimiter and line end read back exactly as Python's csv.reader reads them (after
// the table rules written in csv_dump.py), a file of more than 65,536 rows, the reference region
// list with its CR CR LF line ends; odd forms with the expected values written out by hand; and
// the errors a user sees.
#include "db/formats/csv/csv.h"
#include "db/vtab/csv/csv_vtab.h"
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>

#include <sqlite3.h>

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

QByteArray python(const QStringList& args, bool* ok) {
    QByteArray err;
    const QByteArray out = testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/csv_dump.py"), args, ok, &err);
    if (!*ok) qWarning().noquote() << "csv_dump.py" << args << err;
    return out;
}

QByteArray jsonString(const QString& s) {
    return QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

// Rows with every awkward value a client list holds.
QList<QStringList> awkwardRows() {
    return {
        {"姓名", " 电话", "地址", "", "备注 ", " 姓名"},
        {"张三", "013800138000", "北京市朝阳区, 建国路1号", "x", "O'Brien \"老王\"", "a"},
        {"李四", "", "上海市\r\n浦东新区", "", "", ""},
        {" 王五 ", "0", "广州市\n天河区\r黄埔", "|;\t", "%_*[x]", "b"},
        {"", "", "", "", "", ""},
        {"赵六", "00123", "\"引号\"开头", "", "末尾\"", "c"},
        {"錢七", "12", "𠀀 four-byte", "€", "", ""},
    };
}

} // namespace

class TestCsv : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;
    int files_ = 0;

    QString write(const QByteArray& bytes, const QString& name = {}) {
        const QString path =
            tmp_.filePath(name.isEmpty() ? QStringLiteral("list%1.csv").arg(++files_) : name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(bytes);
        return path;
    }

    // Attaches the file and reads its table.
    Result read(const QString& path, const QString& codePage = {},
                formats::csv::Format* format = nullptr) {
        Db db;
        QString table, error;
        if (!vtab::attachTextFile(db.h, path, codePage, &table, format, &error)) {
            Result r;
            r.error = error;
            return r;
        }
        return query(db.h, "SELECT * FROM " + ident(table));
    }

    void compareWithPython(const QString& path, const QString& encoding, QChar delimiter,
                           const QString& codePage = {}) {
        bool ok = false;
        const QByteArray out =
            python({"read", path, encoding, QString::fromUtf8(jsonString(delimiter))}, &ok);
        QVERIFY(ok);
        const QJsonObject want = QJsonDocument::fromJson(out).object();
        formats::csv::Format format;
        const Result r = read(path, codePage, &format);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(format.delimiter, delimiter);
        QStringList fields;
        for (const auto& f : want[u"fields"].toArray())
            fields << f.toString();
        QCOMPARE(r.columns, fields);
        const QJsonArray rows = want[u"rows"].toArray();
        QCOMPARE(r.rows.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonArray row = rows[i].toArray();
            QVariantList expected;
            for (const auto& v : row)
                expected << (v.isNull() ? QVariant() : QVariant(v.toString()));
            if (r.rows[i] != expected)
                QFAIL(qPrintable(QStringLiteral("record %1: got %2, Python %3")
                                     .arg(i + 1)
                                     .arg(QVariant(r.rows[i]).toStringList().join('|'),
                                          QVariant(expected).toStringList().join('|'))));
        }
    }

private slots:
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    // Python writes the awkward rows in every encoding, delimiter and line end; the reader
    // finds encoding and delimiter by itself and reads what Python reads.
    void pythonDialects_data() {
        QTest::addColumn<QString>("encoding"); // Python's codec for writing
        QTest::addColumn<QString>("readAs");   // Python's codec for reading
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QString>("lineEnd");
        QTest::addColumn<QByteArray>("detected"); // the encoding the reader should find
        const QList<std::tuple<QString, QString, QByteArray>> encodings{
            {"utf-8", "utf-8", "UTF-8"},
            {"utf-8-sig", "utf-8-sig", "UTF-8"},
            {"utf-16-le-bom", "utf-16-le-bom", "UTF-16LE"},
            {"utf-16-be-bom", "utf-16-be-bom", "UTF-16BE"},
            {"gb18030", "gb18030", "GB18030"}};
        for (const auto& [enc, readAs, detected] : encodings)
            for (const char* d : {",", "\t", ";", "|"})
                for (const QString le : {"\r\n", "\n", "\r"}) {
                    const QString name = QStringLiteral("%1 %2 %3")
                                             .arg(enc, QString(d) == "\t" ? "tab" : QString(d),
                                                  le == "\r\n" ? "CRLF"
                                                  : le == "\n" ? "LF"
                                                               : "CR");
                    QTest::newRow(qPrintable(name))
                        << enc << readAs << QString(d) << le << detected;
                }
    }
    void pythonDialects() {
        QFETCH(QString, encoding);
        QFETCH(QString, readAs);
        QFETCH(QString, delimiter);
        QFETCH(QString, lineEnd);
        QFETCH(QByteArray, detected);
        QJsonArray rows;
        for (const QStringList& r : awkwardRows())
            rows << QJsonArray::fromStringList(r);
        const QString json = tmp_.filePath(QStringLiteral("rows%1.json").arg(++files_));
        QFile j(json);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QJsonDocument(rows).toJson());
        j.close();
        const QString path = tmp_.filePath(QStringLiteral("客户 %1.csv").arg(++files_));
        bool ok = false;
        python({"write", json, path, encoding, QString::fromUtf8(jsonString(delimiter)),
                QString::fromUtf8(jsonString(lineEnd))},
               &ok);
        QVERIFY(ok);
        compareWithPython(path, readAs, delimiter.at(0));
        formats::csv::Format format;
        QVERIFY(read(path, {}, &format).ok);
        QCOMPARE(format.encoding, detected);
    }

    // A text of several megabytes is checked, decoded and parsed in parts on several threads:
    // the same table as on one thread from Qt's own decoder, whether a part begins inside a
    // character of two, three or four bytes, with a byte order mark at the start and one inside,
    // inside a quoted field of several lines or one with doubled quotes and a tail, or at blank
    // lines; a stray byte is found whichever part holds it, and a quote left open at the end is
    // reported on the same line.
    void decodedAlikeOnOneThreadAndOnSeveral() {
        QByteArray body = "姓名,备注\n";
        const QByteArray values[] = {"张三",     "é",       "𠀀𡈽", "\xEF\xBB\xBF",
                                     "a\"b",     "O'Brien", "x",    "\"多\n行,\"\"引\"\"号\"",
                                     "\"\n\n\"", "\"\""};
        for (int i = 0; body.size() < 5 * 1024 * 1024; ++i) {
            body += values[i % 10] + QByteArray::number(i) + "," + values[(i + 3) % 10] + "\n";
            if (i % 97 == 0) body += i % 2 ? "\n" : ",\r\n";
        }
        const auto lines = [](const formats::xls::Table& t) {
            QStringList out{t.fields.join(u'|')};
            for (qsizetype r = 0; r < t.rowCount(); ++r)
                for (int c = 0; c < t.fields.size(); ++c)
                    out << t.value(r, c).value_or(QStringLiteral("<NULL>"));
            return out;
        };
        QByteArray stray = body;
        stray[stray.size() / 2 + 1] = '\xFF';
        const QByteArray open = body + "1,\"open\n2,3\n";
        for (const QByteArray& bytes : {body, QByteArray("\xEF\xBB\xBF") + body}) {
            formats::xls::Table fromQt;
            QString error, openError;
            qputenv("CHACHONG_THREADS", "1");
            // (Qt's decoder leaves out a byte order mark at the start, as a reader must.)
            QVERIFY(formats::csv::parse(QString::fromUtf8(bytes), u',', &fromQt, &error));
            QVERIFY(!formats::csv::parse(QString::fromUtf8(open), u',', &fromQt, &openError));
            QVERIFY2(openError.contains(QStringLiteral("引号没有配对")), qPrintable(openError));
            QVERIFY(formats::csv::parse(QString::fromUtf8(bytes), u',', &fromQt, &error));
            const QStringList want = lines(fromQt);
            for (const char* threads : {"1", "2", "3", "8"}) {
                qputenv("CHACHONG_THREADS", threads);
                formats::xls::Table t;
                formats::csv::Format format;
                QVERIFY2(formats::csv::readBytes(bytes, {}, "big.csv", &t, &format, &error),
                         qPrintable(error));
                QCOMPARE(format.encoding, QByteArray("UTF-8"));
                QVERIFY2(lines(t) == want, threads);
                QVERIFY(!formats::csv::parse(QString::fromUtf8(open), u',', &t, &error));
                QCOMPARE(error, openError);
                QVERIFY(!formats::csv::readBytes(stray, "UTF-8", "big.csv", &t, &format, &error));
                QVERIFY2(error.contains(QStringLiteral("不能按UTF-8编码读取")), qPrintable(error));
                QCOMPARE(formats::csv::detectEncoding(stray), QByteArray("GB18030"));
            }
            qunsetenv("CHACHONG_THREADS");
        }
    }

    // More rows than an .xls sheet holds; phone numbers and postcodes keep their leading zeros.
    void manyRows() {
        const QString path = tmp_.filePath("many.csv");
        bool ok = false;
        python({"many", path, "70000"}, &ok);
        QVERIFY(ok);
        compareWithPython(path, "utf-8", u',');
        const Result r = read(path);
        QCOMPARE(r.rows.size(), 70000);
        QCOMPARE(r.rows[0][2].toString(), QStringLiteral("0000-00000000"));
        QCOMPARE(r.rows[0][4].toString(), QStringLiteral("000000"));
    }

    // The region list ends its lines in CR CR LF: no empty records between the rows.
    void regionListLineEnds() {
        const QString path = testsupport::sample("reference/china-region/region.csv");
        compareWithPython(path, "utf-8", u',');
        const Result r = read(path);
        QCOMPARE(r.columns,
                 (QStringList{"province", "city", "county", "longitude", "latitude", "zipCode"}));
        QCOMPARE(r.rows.size(), 3178);
        int leadingZero = 0;
        for (const QVariantList& row : r.rows)
            leadingZero += row[5].toString().startsWith('0');
        QCOMPARE(leadingZero, 440);
    }

    // Forms Python's writer never makes, with the values written out by hand.
    void oddForms() {
        const QVariant n;
        // Text after a closing quote belongs to the field; a quote inside a field is text; a
        // record longer than the headings adds F<n> (a blank heading is F<n> too); a shorter one
        // ends in NULLs; blank lines
        // and records of empty fields are left out; blanks are kept.
        Result r = read(write("名称,名称, ,NAME\n"
                              "\"a\"b,x\"y\", \"q\" ,\"\"\n"
                              "\n"
                              ",,,\n"
                              "1,2,3,4,5,6\n"
                              "only\n"
                              "\"multi\r\nline\",\"x,y\"\r\n"));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"名称", "名称1", "F3", "NAME", "F5", "F6"}));
        QCOMPARE(r.rows, (QList<QVariantList>{{"ab", "x\"y\"", " \"q\" ", n, n, n},
                                              {"1", "2", "3", "4", "5", "6"},
                                              {"only", n, n, n, n, n},
                                              {"multi\r\nline", "x,y", n, n, n, n}}));
        // Only headings; an empty file; a file of blank lines.
        r = read(write("a;b;c\r\n"));
        QCOMPARE(r.columns, (QStringList{"a", "b", "c"}));
        QVERIFY(r.rows.isEmpty());
        for (const QByteArray& empty :
             {QByteArray(), QByteArray("\xEF\xBB\xBF"), QByteArray("\r\n\r\n")}) {
            r = read(write(empty));
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.columns, QStringList{"F1"});
            QVERIFY(r.rows.isEmpty());
        }
        // Headings lose the blanks at their ends (values keep theirs); two that are then equal
        // are numbered as repeated ones.
        r = read(write("rec_id, given_name, surname, given_name ,\u3000姓名\n1, 张 , O'Brien,,\n"));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.columns, (QStringList{"rec_id", "given_name", "surname", "given_name1",
                                         QString::fromUtf8("\u3000姓名")}));
        QCOMPARE(r.rows, (QList<QVariantList>{{"1", " 张 ", " O'Brien", n, n}}));
        // No line end after the last record; CR alone ends lines.
        r = read(write("k|v\r1|一\r2|二"));
        QCOMPARE(r.rows, (QList<QVariantList>{{"1", "一"}, {"2", "二"}}));
    }

    // Delimiters inside values do not mislead the search for the delimiter.
    void delimiterDetection() {
        using formats::csv::detectDelimiter;
        QCOMPARE(detectDelimiter(u"姓名\t地址\n张三\t北京,朝阳\n李四\t上海,浦东\n"), QChar(u'\t'));
        QCOMPARE(detectDelimiter(u"姓名;地址\n张三;\"北京;朝阳\",x\n李四;上海,浦东\n"),
                 QChar(u';'));
        QCOMPARE(detectDelimiter(u"\"a,b\"|c\n1|2\n"), QChar(u'|'));
        QCOMPARE(detectDelimiter(u"姓名\n张三\n"), QChar(u','));
        QCOMPARE(detectDelimiter(u""), QChar(u','));
    }

    // A code page the user gives wins over the bytes; bytes it cannot decode are an error.
    void codePageOverride() {
        QStringEncoder gbk("GB18030");
        const QByteArray text = gbk(QStringLiteral("姓名,城市\n张三,北京\n"));
        const QString path = write(text);
        Result r = read(path, "GBK");
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rows, (QList<QVariantList>{{"张三", "北京"}}));
        QCOMPARE(read(path, "936").rows, r.rows);
        QCOMPARE(read(path).rows, r.rows); // not UTF-8: GB18030
        r = read(path, "UTF-8");
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(QStringLiteral("该文本文件中有不能按UTF-8编码读取的字节")),
                 qPrintable(r.error));
        r = read(path, "no-such-code-page");
        QVERIFY2(r.error.startsWith(QStringLiteral("不认识的编码")), qPrintable(r.error));
        // A UTF-8 file with a byte order mark read as UTF-8: the mark is no character.
        r = read(write("\xEF\xBB\xBF"
                       "a,b\n1,2\n"),
                 "utf8");
        QCOMPARE(r.columns, (QStringList{"a", "b"}));
    }

    void errors() {
        // A quoted field left open names the line it starts on.
        Result r = read(write("a,b\n1,2\n3,\"open\n4,5\n"));
        QVERIFY(!r.ok);
        QVERIFY2(r.error.startsWith(QStringLiteral("第3行开始的引号没有配对")),
                 qPrintable(r.error));
        // A binary file (an Excel workbook given as text).
        QFile x(testsupport::sample("xls/poi/chinese-provinces.xls"));
        QVERIFY(x.open(QIODevice::ReadOnly));
        r = read(write(x.readAll(), "provinces.csv"));
        QVERIFY2(r.error.startsWith(QStringLiteral("该文件含有二进制数据，不是文本文件")),
                 qPrintable(r.error));
        // A missing file and a folder.
        r = read(tmp_.filePath("没有.csv"));
        QVERIFY2(r.error.startsWith(QStringLiteral("找不到文本文件或无法打开")),
                 qPrintable(r.error));
        r = read(tmp_.path());
        QVERIFY2(r.error.startsWith(QStringLiteral("找不到文本文件或无法打开")),
                 qPrintable(r.error));
        // More fields than an SQLite table holds.
        QByteArray wide;
        for (int i = 0; i < 2500; ++i)
            wide += "f" + QByteArray::number(i) + ",";
        r = read(write(wide + "\n"));
        QVERIFY2(r.error.contains(QStringLiteral("超过了程序能打开的")), qPrintable(r.error));
    }

    // The table is named after the file and is read-only; the rowid finds a record; values
    // with quotes and wildcards compare like any text.
    void tableNameReadOnlyAndRowid() {
        const QString dir = tmp_.filePath(QStringLiteral("客户 O'Brien, (2024)"));
        QVERIFY(QDir().mkpath(dir));
        const QString path = dir + QStringLiteral("/名单 v1.2.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("姓名,备注\n张三,O'Brien\n李四,%_*\n");
        f.close();
        QFile::setPermissions(path, QFileDevice::ReadOwner); // read-only media
        Db db;
        QString table, error;
        QVERIFY2(vtab::attachTextFile(db.h, path, {}, &table, nullptr, &error), qPrintable(error));
        QCOMPARE(table, QStringLiteral("名单 v1.2"));
        QCOMPARE(vtab::textTableName("/a/.csv"), QStringLiteral(".csv"));
        for (const QString& sql : {QStringLiteral("INSERT INTO [名单 v1.2] VALUES ('x', 'y')"),
                                   QStringLiteral("UPDATE [名单 v1.2] SET 姓名 = 'y'"),
                                   QStringLiteral("DELETE FROM [名单 v1.2]")}) {
            const Result r = query(db.h, sql);
            QVERIFY2(!r.ok, qPrintable(sql));
            QCOMPARE(r.code, SQLITE_READONLY);
            QVERIFY2(r.error.contains(QStringLiteral("只读")), qPrintable(r.error));
        }
        QCOMPARE(query(db.h, "SELECT 姓名 FROM [名单 v1.2] WHERE 备注 = 'O''Brien'").rows,
                 (QList<QVariantList>{{"张三"}}));
        QCOMPARE(query(db.h, "SELECT 姓名 FROM [名单 v1.2] WHERE rowid = 2").rows,
                 (QList<QVariantList>{{"李四"}}));
        const Result info = query(db.h, "SELECT name, type FROM pragma_table_info('名单 v1.2')");
        QCOMPARE(info.rows,
                 (QList<QVariantList>{{"姓名", "VARCHAR(255)"}, {"备注", "VARCHAR(255)"}}));
        // The same file attached twice: the second table exists already.
        QVERIFY(!vtab::attachTextFile(db.h, path, {}, &table, nullptr, &error));
        QVERIFY2(error.contains(QStringLiteral("名单 v1.2")), qPrintable(error));
    }
};

CHACHONG_TEST_MAIN(TestCsv)
#include "tst_csv.moc"
