// Access files read through mdbtools into SQLite, checked against mdbtools' own command-line
// tools (mdb-tables, mdb-schema, mdb-export through mdb_export.py) on the shared sample files,
// and against dates worked out independently where mdb-export prints them wrongly.
#include "db/formats/mdb/mdb.h"
#include "db/formats/mdb/mdbreader.h"
#include "db/formats/mdb/mdbvalue.h"
#include "db/mdbcopy.h"
#include "tests/support/testsupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <unistd.h>

namespace {

// An in-memory SQLite database, closed at the end of the scope.
class MemDb {
public:
    MemDb() { sqlite3_open(":memory:", &db_); }
    ~MemDb() { sqlite3_close_v2(db_); }
    sqlite3* get() const { return db_; }
    bool exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == 0; }

    QStringList tables() const { return tablesOf(db_); }
    static QStringList tablesOf(sqlite3* db) {
        QStringList out;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid",
                           -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }

    QStringList column(const QString& sql, const QString& bound = QString()) const {
        QStringList out;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return {"<error>"};
        const QByteArray b = bound.toUtf8();
        if (!bound.isNull()) sqlite3_bind_text(st, 1, b.constData(), b.size(), SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out << (t ? QString::fromUtf8(t) : QStringLiteral("<null>"));
        }
        sqlite3_finalize(st);
        return out;
    }
    qint64 count(const QString& table) const {
        return column(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table))
            .value(0)
            .toLongLong();
    }

private:
    sqlite3* db_ = nullptr;
};

struct ColumnInfo {
    QString name;
    QString type;
};

QList<ColumnInfo> columnsOf(sqlite3* db, const QString& table) {
    QList<ColumnInfo> out;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = QStringLiteral("PRAGMA table_info(\"%1\")").arg(table).toUtf8();
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        out.append({QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))),
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)))});
    }
    sqlite3_finalize(st);
    return out;
}

QStringList sampleFiles() {
    QStringList files;
    QDirIterator it(testsupport::sample("mdb"), {"*.mdb", "*.accdb"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// What mdbtools' command-line tools see in a file (see mdb_export.py), read once per file.
QJsonObject mdbtoolsView(const QString& file) {
    static QHash<QString, QJsonObject> cache;
    if (!cache.contains(file)) {
        bool ok = false;
        QByteArray err;
        const QByteArray out = testsupport::runPython(
            QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/mdb_export.py"), {file}, &ok, &err);
        if (!ok) qWarning() << "mdb_export.py failed:" << err;
        cache.insert(file, QJsonDocument::fromJson(out).object());
    }
    return cache.value(file);
}

// Copies a file into a fresh database; fails the test with the error text when it cannot.
#define COPY_OR_FAIL(path, db)                                                                     \
    do {                                                                                           \
        QString copyError;                                                                         \
        QVERIFY2(mdb::copyToSqlite(path, (db).get(), &copyError), qPrintable(copyError));          \
    } while (0)

QString trimZeros(QString s) {
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.'))) s.chop(1);
    }
    return s;
}

// mdbtools 1.0 prints every date outside its range (before 1900, after about 2700) like this.
const QString kMdbtoolsBadDate = QStringLiteral("1900-01-00 00:00:00");

// Compares one stored value with mdb-export's text of it. The documented differences of form:
// dates at midnight without " 00:00:00", currency without trailing zeros, Yes/No as True/False
// (mdb-export -B: TRUE/FALSE), binary as a BLOB (mdb-export -b hex), numbers compared as numbers
// (mdb-export prints Single with 8 and Double with 16 digits, Access shows 7 and 15).
QString compareValue(const QString& type, sqlite3_value* mine, const QJsonValue& theirs,
                     int* skippedDates) {
    const int storage = sqlite3_value_type(mine);
    const QString text =
        storage == SQLITE_NULL
            ? QString()
            : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(mine)),
                                sqlite3_value_bytes(mine));
    if (theirs.isNull())
        return storage == SQLITE_NULL ? QString()
                                      : QStringLiteral("expected NULL, got %1").arg(text);
    const QString want = theirs.toString();
    if (storage == SQLITE_NULL) return QStringLiteral("got NULL, expected '%1'").arg(want);
    auto differ = [&] { return QStringLiteral("got '%1', expected '%2'").arg(text, want); };

    if (type.startsWith("VARCHAR") || type == "TEXT")
        return storage == SQLITE_TEXT && text == want ? QString() : differ();
    if (type == "INTEGER" || type == "SMALLINT")
        return storage == SQLITE_INTEGER && text == want ? QString() : differ();
    if (type == "CURRENCY")
        return storage != SQLITE_TEXT && text == trimZeros(want) ? QString() : differ();
    if (type == "DOUBLE") {
        const double a = sqlite3_value_double(mine), b = want.toDouble();
        return storage == SQLITE_FLOAT && std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b))
                   ? QString()
                   : differ();
    }
    if (type == "DATETIME") {
        if (want == kMdbtoolsBadDate) {
            ++*skippedDates;
            return {};
        }
        return text == want || text + " 00:00:00" == want ? QString() : differ();
    }
    if (type == "BOOLEAN")
        return (text == "True" || text == "False") && text.toUpper() == want ? QString() : differ();
    if (type == "BLOB") {
        const QByteArray bytes(static_cast<const char*>(sqlite3_value_blob(mine)),
                               sqlite3_value_bytes(mine));
        return storage == SQLITE_BLOB && bytes.toHex().toUpper() == want.toUtf8()
                   ? QString()
                   : QStringLiteral("blob of %1 bytes differs from mdb-export's %2 hex digits")
                         .arg(bytes.size())
                         .arg(want.size());
    }
    return QStringLiteral("unexpected column type %1").arg(type);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// The table list, column names, text sizes and every value of a file against mdbtools' tools;
// badDates is the number of dates mdb-export cannot print.
void checkAgainstMdbtools(const QString& file, int badDates) {
    const QJsonObject view = mdbtoolsView(file);
    QVERIFY2(!view.isEmpty(), "mdb_export.py gave nothing");

    // The table list, in catalogue order.
    QStringList expectedTables;
    for (const QJsonValue& t : view["tables"].toArray())
        expectedTables << t.toString();
    QStringList tables;
    QString error;
    QVERIFY2(mdb::listTables(file, &tables, &error), qPrintable(error));
    QCOMPARE(tables, expectedTables);

    MemDb db;
    COPY_OR_FAIL(file, db);
    QCOMPARE(db.tables(), expectedTables);

    int skippedDates = 0;
    for (const QString& table : tables) {
        const QJsonObject data = view["data"].toObject()[table].toObject();
        const QList<ColumnInfo> columns = columnsOf(db.get(), table);
        // Column names in order.
        QStringList names, expectedNames;
        for (const ColumnInfo& c : columns)
            names << c.name;
        for (const QJsonValue& c : data["columns"].toArray())
            expectedNames << c.toString();
        QCOMPARE(names, expectedNames);
        // Text sizes in characters, as mdb-schema gives them.
        const QJsonObject sizes = view["textSizes"].toObject()[table].toObject();
        for (const ColumnInfo& c : columns) {
            if (c.type.startsWith("VARCHAR") && sizes.contains(c.name))
                QCOMPARE(c.type, QStringLiteral("VARCHAR(%1)").arg(sizes[c.name].toInt()));
        }
        // Every value of every row, in the order of the file.
        const QJsonArray rows = data["rows"].toArray();
        QCOMPARE(db.count(table), qint64(rows.size()));
        sqlite3_stmt* st = nullptr;
        const QByteArray sql =
            QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table).toUtf8();
        QCOMPARE(sqlite3_prepare_v2(db.get(), sql.constData(), -1, &st, nullptr), SQLITE_OK);
        int r = 0;
        while (sqlite3_step(st) == SQLITE_ROW && r < rows.size()) {
            const QJsonArray row = rows[r].toArray();
            for (int c = 0; c < columns.size(); ++c) {
                const QString problem = compareValue(columns[c].type, sqlite3_column_value(st, c),
                                                     row[c], &skippedDates);
                if (!problem.isEmpty()) {
                    sqlite3_finalize(st);
                    QFAIL(qPrintable(QStringLiteral("%1, row %2, %3: %4")
                                         .arg(table)
                                         .arg(r + 1)
                                         .arg(columns[c].name, problem)));
                }
            }
            ++r;
        }
        sqlite3_finalize(st);
        QCOMPARE(r, rows.size());
    }
    // Only the extreme dates of DateTestDatabase.mdb are beyond mdb-export (checked in
    // extremeDates against dates worked out by hand).
    QCOMPARE(skippedDates, badDates);
}

// RC4, with which Jet hides the start of its header page.
QByteArray rc4(const QByteArray& key, const QByteArray& data) {
    quint8 S[256];
    for (int i = 0; i < 256; ++i)
        S[i] = quint8(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + S[i] + quint8(key[i % key.size()])) & 255;
        std::swap(S[i], S[j]);
    }
    QByteArray out = data;
    for (int n = 0, i = 0, j = 0; n < out.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + S[i]) & 255;
        std::swap(S[i], S[j]);
        out[n] = char(quint8(out[n]) ^ S[(S[i] + S[j]) & 255]);
    }
    return out;
}

// Stand-ins for the reader in the child process, to see what the program makes of a reader that
// crashes, hangs or quits halfway. Each first sends a table and rows enough to reach the parent.
using mdb::detail::Column;
using mdb::detail::Kind;
using mdb::detail::Sink;
using mdb::detail::Value;

void sendPartialTable(Sink& sink) {
    sink.table("Partial", {Column{"a", Kind::Text, 200, 0, 0}});
    const std::vector<Value> row{Value{Value::Text, std::string(150, 'x')}};
    for (int i = 0; i < 2000; ++i)
        sink.row(row); // more than the child buffers before writing
}
std::string crashingReader(const std::string&, bool, Sink& sink) {
    sendPartialTable(sink);
    std::raise(SIGSEGV);
    return {};
}
std::string abortingReader(const std::string&, bool, Sink& sink) {
    sendPartialTable(sink);
    std::abort();
}
std::string hangingReader(const std::string&, bool, Sink& sink) {
    sendPartialTable(sink);
    for (;;)
        ::pause();
}
std::string quittingReader(const std::string&, bool, Sink& sink) {
    sendPartialTable(sink);
    std::_Exit(0);
}

} // namespace

class TestMdb : public QObject {
    Q_OBJECT

private slots:
    void dateForms_data();
    void dateForms();
    void numberForms();
    void signature();
    void matchesMdbtools_data();
    void matchesMdbtools();
    void northwind();
    void wideJet3Table();
    void jet3CodePage();
    void extremeDates();
    void aceFile();
    void rejectsBadFiles_data();
    void rejectsBadFiles();
    void failureLeavesDestinationAlone();
    void joinsCallersTransaction();
    void readOnlyFile();
    void damagedPropertiesDoNotMatter();
    void readerFaultsAreContained_data();
    void readerFaultsAreContained();
    void sameCopyWithoutIsolation();
};

void TestMdb::dateForms_data() {
    QTest::addColumn<double>("days");
    QTest::addColumn<QString>("text");
    QTest::newRow("epoch") << 0.0 << "1899-12-30";
    QTest::newRow("1900-01-01") << 2.0 << "1900-01-01";
    QTest::newRow("noon") << 44532.5 << "2021-12-02 12:00:00";
    QTest::newRow("one second") << 1.0 / 86400 << "1899-12-30 00:00:01";
    QTest::newRow("rounds to the second") << 44532.0 + 3599.6 / 86400 << "2021-12-02 01:00:00";
    QTest::newRow("rounds up to midnight") << 44532.9999999 << "2021-12-03";
    // Before 1899-12-30 the integer part counts days back, the fraction adds the time forward.
    QTest::newRow("-1.25") << -1.25 << "1899-12-29 06:00:00";
    QTest::newRow("-0.5 is noon of day 0") << -0.5 << "1899-12-30 12:00:00";
    QTest::newRow("-1.9999999 rounds forward") << -1.9999999 << "1899-12-30";
    QTest::newRow("leap day 1600") << -109512.0 << "1600-02-29";
    QTest::newRow("no leap day 1900") << 60.0 << "1900-02-28";
    QTest::newRow("first Access day") << -657434.0 << "0100-01-01";
    QTest::newRow("last Access second") << 2958465.0 + 86399.0 / 86400 << "9999-12-31 23:59:59";
    QTest::newRow("before Access range") << -657435.0 << "-657435";
    QTest::newRow("after Access range") << 2958466.0 << "2958466";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "nan";
}

void TestMdb::dateForms() {
    QFETCH(double, days);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(mdb::value::dateTime(days)), text);
}

void TestMdb::numberForms() {
    using namespace mdb::value;
    // Currency: ten-thousandths, no padding, no trailing zeros.
    QCOMPARE(currency(0), std::string("0"));
    QCOMPARE(currency(140000), std::string("14"));
    QCOMPARE(currency(98000), std::string("9.8"));
    QCOMPARE(currency(19955000), std::string("1995.5"));
    QCOMPARE(currency(-1), std::string("-0.0001"));
    QCOMPARE(currency(-123456789), std::string("-12345.6789"));
    QCOMPARE(currency(std::numeric_limits<std::int64_t>::min()),
             std::string("-922337203685477.5808"));
    // Single shows 7 significant digits, Double 15, as Access does.
    QCOMPARE(single(0.15f), std::string("0.15"));
    QCOMPARE(single(0.0f), std::string("0"));
    QCOMPARE(single(100000.0f), std::string("100000"));
    QCOMPARE(single(-2.5f), std::string("-2.5"));
    QCOMPARE(single(1e20f), std::string("1e+20"));
    QCOMPARE(dbl(0.1 + 0.2), std::string("0.3"));
    QCOMPARE(dbl(1.0 / 3), std::string("0.333333333333333"));
    QCOMPARE(dbl(123456789012345.0), std::string("123456789012345"));
    QCOMPARE(dbl(480.0), std::string("480"));
    // Decimal numbers from mdbtools lose their trailing zeros only after the point.
    QCOMPARE(trimDecimal("12.3400"), std::string("12.34"));
    QCOMPARE(trimDecimal("1200"), std::string("1200"));
    QCOMPARE(trimDecimal("-0.000"), std::string("0"));
    QCOMPARE(trimDecimal("5.0"), std::string("5"));
}

void TestMdb::signature() {
    for (const QString& f : sampleFiles())
        QVERIFY2(mdb::isAccessFile(f), qPrintable(f));

    QTemporaryDir dir;
    const QString text = dir.filePath("notes.mdb");
    QVERIFY(writeFile(text,
                      QByteArray("Standard Jet DB is what the header would say.\n").repeated(100)));
    QVERIFY(!mdb::isAccessFile(text));
    const QString empty = dir.filePath("empty.mdb");
    QVERIFY(writeFile(empty, {}));
    QVERIFY(!mdb::isAccessFile(empty));
    QVERIFY(!mdb::isAccessFile(dir.filePath("missing.mdb")));
    QVERIFY(!mdb::isAccessFile(dir.path()));
    // Only the first page: still an Access file by its signature (the reader rejects it later).
    const QString head = dir.filePath("head.mdb");
    QVERIFY(writeFile(
        head, readAll(testsupport::sample("mdb/mdbtestdata/DateTestDatabase.mdb")).left(4096)));
    QVERIFY(mdb::isAccessFile(head));
}

void TestMdb::matchesMdbtools_data() {
    QTest::addColumn<QString>("file");
    for (const QString& f : sampleFiles())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

void TestMdb::matchesMdbtools() {
    QFETCH(QString, file);
    checkAgainstMdbtools(file, file.endsWith("DateTestDatabase.mdb") ? 8 : 0);
}

void TestMdb::northwind() {
    const QString file = testsupport::sample("mdb/mdbtestdata/nwind.mdb");
    MemDb db;
    COPY_OR_FAIL(file, db);

    // Non-ASCII table name of a Jet 3 file (code page 1252) and a name with a space.
    QVERIFY(db.tables().contains(QStringLiteral("Umsätze")));
    QCOMPARE(db.count(QStringLiteral("Umsätze")), 830);
    QCOMPARE(db.count("Order Details"), 2155);
    QCOMPARE(db.count("Customers"), 91);

    // Apostrophes, accents and double spaces arrive intact and can be looked up as values.
    for (const char* name :
         {"Bon app'", "B's Beverages", "La corne d'abondance", "Let's Stop N Shop",
          "Trail's Head Gourmet Provisioners", "Océano Atlántico Ltda."}) {
        QCOMPARE(db.column("SELECT count(*) FROM Customers WHERE CompanyName = ?",
                           QString::fromUtf8(name)),
                 QStringList{"1"});
    }
    QCOMPARE(db.column("SELECT count(*) FROM Customers WHERE Address = ?", "59 rue de l'Abbaye"),
             QStringList{"1"});
    QCOMPARE(db.column("SELECT count(*) FROM Customers WHERE Address = ?", "Mataderos  2312"),
             QStringList{"1"});
    QCOMPARE(
        db.column("SELECT count(*) FROM Customers WHERE City = ?", QStringLiteral("México D.F.")),
        QStringList{"5"});
    // Empty Region is NULL, not an empty text.
    QCOMPARE(db.column("SELECT Region FROM Customers WHERE CustomerID = 'ALFKI'"),
             QStringList{"<null>"});
    // Access compares text without letter case; so does the copy.
    QCOMPARE(db.column("SELECT CustomerID FROM Customers WHERE CustomerID = 'alfki'"),
             QStringList{"ALFKI"});

    // Declared types.
    auto types = [&](const QString& table) {
        QStringList out;
        for (const ColumnInfo& c : columnsOf(db.get(), table))
            out << c.type;
        return out;
    };
    QCOMPARE(types("Order Details"),
             (QStringList{"INTEGER", "INTEGER", "CURRENCY", "SMALLINT", "DOUBLE"}));
    QCOMPARE(types("Categories"), (QStringList{"INTEGER", "VARCHAR(15)", "TEXT", "BLOB"}));
    QCOMPARE(types("Products").last(), QStringLiteral("BOOLEAN"));
    QCOMPARE(types("Orders").at(3), QStringLiteral("DATETIME"));

    // Values as Access shows them.
    QCOMPARE(db.column("SELECT UnitPrice || '|' || Discount FROM \"Order Details\" WHERE OrderID = "
                       "10250 AND ProductID = 51"),
             QStringList{"42.4|0.15"});
    QCOMPARE(
        db.column("SELECT Discontinued FROM Products WHERE ProductID IN (1, 5) ORDER BY ProductID"),
        (QStringList{"False", "True"}));
    QCOMPARE(db.column("SELECT OrderDate FROM Orders WHERE OrderID = 10248"),
             QStringList{"1994-08-04"});
    QCOMPARE(db.column("SELECT BirthDate FROM Employees WHERE EmployeeID = 1"),
             QStringList{"1948-12-08"});
    // OLE objects keep their bytes.
    QCOMPARE(
        db.column(
            "SELECT count(*) FROM Employees WHERE typeof(Photo) = 'blob' AND length(Photo) > 1000"),
        QStringList{"9"});
}

void TestMdb::wideJet3Table() {
    MemDb db;
    COPY_OR_FAIL(testsupport::sample("mdb/jackcess/test2V1997.mdb"), db);
    QCOMPARE(db.tables(), QStringList{"MSP_PROJECTS"});
    const QList<ColumnInfo> columns = columnsOf(db.get(), "MSP_PROJECTS");
    QCOMPARE(columns.size(), 74);
    QCOMPARE(columns.first().name, QStringLiteral("PROJ_ID"));
    QCOMPARE(columns.last().name, QStringLiteral("RESERVED_BINARY_DATA"));
    QCOMPARE(db.count("MSP_PROJECTS"), 1);
    QCOMPARE(db.column("SELECT PROJ_OPT_CURRENCY_SYMBOL FROM MSP_PROJECTS"),
             QStringList{QStringLiteral("£")});
    QCOMPARE(db.column("SELECT length(PROJ_PROP_AUTHOR) > 300 FROM MSP_PROJECTS"),
             QStringList{"1"});
    QCOMPARE(db.column("SELECT PROJ_INFO_CURRENT_DATE FROM MSP_PROJECTS"),
             QStringList{"2006-02-03 08:00:00"});
}

void TestMdb::jet3CodePage() {
    // A Jet 3 file from a Chinese Windows: nwind.mdb with code page 936 (GBK) in its header and the
    // table name Umsätze replaced by as many bytes of GBK text. Jet 3 keeps no code page per text;
    // the header's is the one to use.
    QByteArray b = readAll(testsupport::sample("mdb/mdbtestdata/nwind.mdb"));
    const QByteArray key("\xC7\xDA\x39\x6B", 4);
    QByteArray head = rc4(key, b.mid(0x18, 126)); // the code page is at 0x3C
    QCOMPARE(quint8(head[0x3c - 0x18]) | quint8(head[0x3d - 0x18]) << 8, 1252);
    head[0x3c - 0x18] = char(936 & 0xff);
    head[0x3d - 0x18] = char(936 >> 8);
    b.replace(0x18, 126, rc4(key, head));
    const QByteArray umsaetze("Ums\xe4tze");
    const QByteArray gbk("\xbf\xcd\xbb\xa7\xb1\xed"
                         "1"); // 客户表1
    QCOMPARE(b.count(umsaetze), 1);
    b.replace(umsaetze, gbk);
    QTemporaryDir dir;
    const QString path = dir.filePath("gbk.mdb");
    QVERIFY(writeFile(path, b));

    QStringList tables;
    QString error;
    QVERIFY2(mdb::listTables(path, &tables, &error), qPrintable(error));
    QCOMPARE(tables.last(), QStringLiteral("客户表1"));
    // mdbtools' tools read the header's code page too: every name and value agrees.
    checkAgainstMdbtools(path, 0);
}

void TestMdb::extremeDates() {
    MemDb db;
    COPY_OR_FAIL(testsupport::sample("mdb/mdbtestdata/DateTestDatabase.mdb"), db);
    // Stored as 44532, 2958101, -728/-363/2 and -463126/-462760/-462395 days from 1899-12-30;
    // worked out with Python's proleptic Gregorian datetime.
    const QStringList expected = {
        "1|2021-12-02|2021-12-02|2021-12-02", "2|9999-01-01|9999-01-01|9999-01-01",
        "3|1898-01-01|1899-01-01|1900-01-01", "4|0632-01-01|0633-01-01|0634-01-01",
        "5|2021-12-02|2021-12-02|2021-12-02", "6|2021-12-02|2021-12-02|2021-12-02",
    };
    QCOMPARE(db.column("SELECT IDCol || '|' || DateTimeCol || '|' || DateCol || '|' || TimeCol "
                       "FROM DateTest ORDER BY IDCol"),
             expected);
    // A literal backslash-r-backslash-n and a real line break inside a memo.
    QCOMPARE(db.column("SELECT LongTextCol FROM DateTest WHERE IDCol IN (5, 6) ORDER BY IDCol"),
             (QStringList{"Escaped new line \\r\\n in field", "New line\r\nin field"}));
    // Jet 4 text sizes are stored in bytes: 510 is 255 characters.
    QCOMPARE(columnsOf(db.get(), "DateTest").last().type, QStringLiteral("VARCHAR(255)"));
}

void TestMdb::aceFile() {
    // mdbtools reads ACE (.accdb, Access 2007) files as well; the sample has one user table.
    const QString file = testsupport::sample("mdb/mdbtestdata/ASampleDatabase.accdb");
    QVERIFY(mdb::isAccessFile(file));
    MemDb db;
    COPY_OR_FAIL(file, db);
    QCOMPARE(db.tables(), QStringList{"Asset Items"});
    QCOMPARE(db.count("Asset Items"), 65);
    const QList<ColumnInfo> columns = columnsOf(db.get(), "Asset Items");
    QCOMPARE(columns.size(), 13);
    QCOMPARE(columns[0].name, QStringLiteral("Asset No"));
    QCOMPARE(columns[0].type, QStringLiteral("VARCHAR(5)"));
    QCOMPARE(columns[8].type, QStringLiteral("CURRENCY"));
    QCOMPARE(db.column("SELECT Cost FROM \"Asset Items\" WHERE \"Asset No\" = '30050'"),
             QStringList{"1995.5"});
}

void TestMdb::rejectsBadFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "missing"
                             << "找不到文件";
    QTest::newRow("text renamed .mdb") << "text"
                                       << "不是 Access 数据库文件";
    QTest::newRow("empty") << "empty"
                           << "不是 Access 数据库文件";
    QTest::newRow("directory") << "directory"
                               << "不是 Access 数据库文件";
    QTest::newRow("cut mid-page") << "cut"
                                  << "不完整";
    QTest::newRow("cut in the catalogue") << "cutCatalog"
                                          << "对象目录不完整";
    QTest::newRow("cut in the rows of a table") << "cutRows"
                                                << "表“Umsätze”的数据不完整";
    QTest::newRow("long values lost") << "noLval"
                                      << "数据已损坏";
    // Found by fuzz_mdb: a usage map pointer to a too short row made mdbtools read far out of
    // bounds (a crash without the child process, which then reported it).
    QTest::newRow("bad usage map") << "usageMap"
                                   << "表“DateTest”的结构无法读取";
    QTest::newRow("first page only") << "onePage"
                                     << "不完整";
    QTest::newRow("unknown version") << "version"
                                     << "版本";
}

void TestMdb::rejectsBadFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QByteArray nwind = readAll(testsupport::sample("mdb/mdbtestdata/nwind.mdb"));
    QVERIFY(nwind.size() > 1000000);
    const QString path = dir.filePath("bad.mdb");
    if (kind == "text") QVERIFY(writeFile(path, QByteArray("客户,电话\n张三,123\n").repeated(500)));
    if (kind == "empty") QVERIFY(writeFile(path, {}));
    if (kind == "directory") QVERIFY(QDir(dir.path()).mkdir("bad.mdb"));
    if (kind == "cut") QVERIFY(writeFile(path, nwind.left(nwind.size() / 2 + 100)));
    // nwind.mdb has 1466 pages of 2048 bytes; cut after 700 the catalogue misses rows, cut after
    // 760 the catalogue is whole but table Umsätze misses rows.
    if (kind == "cutCatalog") QVERIFY(writeFile(path, nwind.left(2048 * 700)));
    if (kind == "cutRows") QVERIFY(writeFile(path, nwind.left(2048 * 760)));
    if (kind == "noLval") { // every page of memo and OLE data unmarked
        QByteArray b = nwind;
        int pages = 0;
        for (qsizetype at = 0; at + 2048 <= b.size(); at += 2048) {
            if (b.at(at) == 1 && b.mid(at + 4, 4) == "LVAL") {
                b[at] = 0;
                ++pages;
            }
        }
        QVERIFY(pages > 10);
        QVERIFY(writeFile(path, b));
    }
    if (kind == "onePage") QVERIFY(writeFile(path, nwind.left(2048)));
    if (kind == "usageMap") {
        QByteArray b = readAll(testsupport::sample("mdb/mdbtestdata/DateTestDatabase.mdb"));
        b[18 * 4096 + 55] = char(0xff); // row of the usage map, in the definition on page 18
        QVERIFY(writeFile(path, b));
    }
    if (kind == "version") {
        QByteArray b = nwind;
        b[0x14] = char(0x42);
        QVERIFY(writeFile(path, b));
    }

    // Listing reads table definitions only: it fails where they are damaged and leaves rows and
    // long values to the copy.
    QStringList tables{"stale"};
    QString error;
    const bool listed = mdb::listTables(path, &tables, &error);
    if (kind == "cutRows" || kind == "noLval") {
        QVERIFY2(listed, qPrintable(error));
        QCOMPARE(tables.size(), 9);
    } else {
        QVERIFY(!listed);
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY(tables.isEmpty());
    }

    MemDb db;
    error.clear();
    QVERIFY(!mdb::copyToSqlite(path, db.get(), &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(!error.contains("stopped"), qPrintable(error));
    QVERIFY(db.tables().isEmpty()); // nothing half-copied
}

void TestMdb::failureLeavesDestinationAlone() {
    MemDb db;
    QVERIFY(
        db.exec("CREATE TABLE Mine(a); INSERT INTO Mine VALUES (1); CREATE TABLE Customers(x)"));
    QString error;
    QVERIFY(!mdb::copyToSqlite(testsupport::sample("mdb/mdbtestdata/nwind.mdb"), db.get(), &error));
    QVERIFY2(error.contains(QStringLiteral("Customers")), qPrintable(error));
    // The tables copied before the clash are gone again; what was there stays.
    QCOMPARE(db.tables(), (QStringList{"Mine", "Customers"}));
    QCOMPARE(db.count("Mine"), 1);

    QVERIFY(!mdb::copyToSqlite(testsupport::sample("mdb/mdbtestdata/nwind.mdb"), nullptr, &error));
    QVERIFY(!error.isEmpty());
}

void TestMdb::joinsCallersTransaction() {
    const QString file = testsupport::sample("mdb/mdbtestdata/DateTestDatabase.mdb");
    MemDb db;
    QVERIFY(db.exec("BEGIN"));
    COPY_OR_FAIL(file, db);
    QVERIFY(db.exec("ROLLBACK")); // the caller's rollback takes the copy with it
    QVERIFY(db.tables().isEmpty());
    QVERIFY(db.exec("BEGIN"));
    COPY_OR_FAIL(file, db);
    QVERIFY(db.exec("COMMIT"));
    QCOMPARE(db.count("DateTest"), 6);
}

void TestMdb::readOnlyFile() {
    QTemporaryDir dir;
    const QString copy =
        testsupport::copyInto(testsupport::sample("mdb/jackcess/test2V1997.mdb"), dir.path());
    QVERIFY(QFile(copy).setPermissions(QFileDevice::ReadOwner));
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    MemDb db;
    COPY_OR_FAIL(copy, db);
    QCOMPARE(db.count("MSP_PROJECTS"), 1);
    QCOMPARE(readAll(copy),
             readAll(testsupport::sample("mdb/jackcess/test2V1997.mdb"))); // untouched
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile(copy).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestMdb::damagedPropertiesDoNotMatter() {
    // Found by fuzz_mdb: one byte in the property blob of a catalogue entry sends mdbtools'
    // catalogue reader (and mdb-tables) into an endless loop. Tables need no properties, so the
    // program reads the catalogue's own columns only and copies the file as if nothing was wrong.
    QByteArray b = readAll(testsupport::sample("mdb/jackcess/test2V1997.mdb"));
    QCOMPARE(b.at(119820), char(0));
    b[119820] = char(2);
    QTemporaryDir dir;
    const QString path = dir.filePath("props.mdb");
    QVERIFY(writeFile(path, b));
    QStringList tables;
    QString error;
    QVERIFY2(mdb::listTables(path, &tables, &error), qPrintable(error));
    QCOMPARE(tables, QStringList{"MSP_PROJECTS"});
    MemDb db;
    COPY_OR_FAIL(path, db);
    QCOMPARE(columnsOf(db.get(), "MSP_PROJECTS").size(), 74);
    QCOMPARE(db.column("SELECT PROJ_NAME || '|' || PROJ_INFO_CAL_NAME FROM MSP_PROJECTS"),
             QStringList{"Project1|Standard"});
}

void TestMdb::readerFaultsAreContained_data() {
    QTest::addColumn<void*>("reader");
    QTest::addColumn<QString>("message");
    QTest::newRow("crash") << reinterpret_cast<void*>(&crashingReader) << "异常终止（信号 11）";
    QTest::newRow("abort") << reinterpret_cast<void*>(&abortingReader) << "异常终止（信号 6）";
    QTest::newRow("hang") << reinterpret_cast<void*>(&hangingReader) << "没有进展";
    QTest::newRow("quits halfway") << reinterpret_cast<void*>(&quittingReader) << "意外退出";
}

void TestMdb::readerFaultsAreContained() {
    QFETCH(void*, reader);
    QFETCH(QString, message);
    mdb::detail::setReadFunction(reinterpret_cast<mdb::detail::ReadFunction>(reader));
    const int timeout = mdb::detail::silenceTimeout();
    mdb::detail::setSilenceTimeout(500);
    const QString file = testsupport::sample("mdb/mdbtestdata/DateTestDatabase.mdb");

    QStringList tables;
    QString listError;
    const bool listed = mdb::listTables(file, &tables, &listError);
    MemDb db;
    QVERIFY(db.exec("CREATE TABLE Mine(a)"));
    QString copyError;
    QElapsedTimer clock;
    clock.start();
    const bool copied = mdb::copyToSqlite(file, db.get(), &copyError);
    const qint64 took = clock.elapsed();
    mdb::detail::setReadFunction(nullptr);
    mdb::detail::setSilenceTimeout(timeout);

    QVERIFY(!listed);
    QVERIFY2(listError.contains(message), qPrintable(listError));
    QVERIFY(tables.isEmpty());
    QVERIFY(!copied);
    QVERIFY2(copyError.contains(message), qPrintable(copyError));
    QVERIFY2(copyError.contains("DateTestDatabase.mdb"), qPrintable(copyError));
    QVERIFY(took < 10000);
    // The rows that arrived before the fault are taken back; the program goes on working.
    QCOMPARE(db.tables(), QStringList{"Mine"});
    MemDb again;
    COPY_OR_FAIL(file, again);
    QCOMPARE(again.count("DateTest"), 6);
}

void TestMdb::sameCopyWithoutIsolation() {
    // The fuzz target reads in its own process; it must see the same data as the program.
    const QString file = testsupport::sample("mdb/mdbtestdata/nwind.mdb");
    auto dump = [&](sqlite3* db) {
        QStringList out;
        for (const QString& t : MemDb::tablesOf(db)) {
            sqlite3_stmt* st = nullptr;
            const QByteArray sql = QStringLiteral("SELECT * FROM \"%1\"").arg(t).toUtf8();
            sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
            while (sqlite3_step(st) == SQLITE_ROW) {
                QString line = t;
                for (int c = 0; c < sqlite3_column_count(st); ++c)
                    line += '|' + QString::number(sqlite3_column_type(st, c)) + ':' +
                            QString::fromUtf8(
                                QByteArray(static_cast<const char*>(sqlite3_column_blob(st, c)),
                                           sqlite3_column_bytes(st, c))
                                    .toHex());
                out << line;
            }
            sqlite3_finalize(st);
        }
        return out;
    };
    MemDb isolated, inProcess;
    COPY_OR_FAIL(file, isolated);
    mdb::detail::setIsolated(false);
    QString error;
    const bool ok = mdb::copyToSqlite(file, inProcess.get(), &error);
    mdb::detail::setIsolated(true);
    QVERIFY2(ok, qPrintable(error));
    const QStringList a = dump(isolated.get());
    QCOMPARE(a.size(), 2155 + 830 + 77 + 3 + 8 + 91 + 9 + 29 + 830);
    QCOMPARE(dump(inProcess.get()), a);
}

CHACHONG_TEST_MAIN(TestMdb)
#include "tst_mdb.moc"
