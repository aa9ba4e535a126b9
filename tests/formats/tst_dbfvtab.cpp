// The "dbf" SQLite module on a raw handle: every sample table compared value by value with
// python3-dbf (tests/formats/dbf_dump.py, which holds the allowed differences of text form),
// the samples' quirks one by one, and every write path re-read by python3-dbf.
#include "db/formats/dbf/dbf.h"
#include "db/vtab/dbf/dbf_vtab.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>

#include <sqlite3.h>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct Db {
    sqlite3* h = nullptr;
    Db() { sqlite3_open(":memory:", &h); }
    ~Db() { sqlite3_close(h); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
};

struct Result {
    bool ok = false;
    QString error;
    QStringList columns;
    QList<QVariantList> rows;
};

Result query(sqlite3* db, const QString& sql) {
    Result r;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare16_v2(db, sql.utf16(), -1, &st, nullptr) != SQLITE_OK) {
        r.error = QString::fromUtf8(sqlite3_errmsg(db));
        return r;
    }
    for (int i = 0; i < sqlite3_column_count(st); ++i)
        r.columns << QString::fromUtf8(sqlite3_column_name(st, i));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            switch (sqlite3_column_type(st, i)) {
            case SQLITE_NULL:
                row << QVariant();
                break;
            case SQLITE_BLOB:
                row << QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)),
                                  sqlite3_column_bytes(st, i));
                break;
            default:
                row << QString(reinterpret_cast<const QChar*>(sqlite3_column_text16(st, i)),
                               sqlite3_column_bytes16(st, i) / 2);
            }
        }
        r.rows << row;
    }
    r.ok = rc == SQLITE_DONE;
    if (!r.ok) r.error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    return r;
}

bool exec(sqlite3* db, const QString& sql, QString* error = nullptr) {
    const Result r = query(db, sql);
    if (error) *error = r.error;
    return r.ok;
}

QVariant scalar(sqlite3* db, const QString& sql) {
    const Result r = query(db, sql);
    return r.ok && !r.rows.isEmpty() ? r.rows[0].value(0)
                                     : QVariant(QStringLiteral("<error: %1>").arg(r.error));
}

QByteArray sha(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Python3-dbf's view of a table (see dbf_dump.py).
QJsonObject pythonDump(const QString& path, const QString& codec) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/dbf_dump.py"), {path, codec}, &ok, &err);
    if (!ok) qWarning().noquote() << "dbf_dump.py failed on" << path << QString::fromUtf8(err);
    return QJsonDocument::fromJson(out).object();
}

QVariant jsonValue(const QJsonValue& v) {
    return v.isNull() ? QVariant() : QVariant(v.toString());
}

// Rows of a python dump as variants.
QList<QVariantList> pythonRows(const QJsonObject& dump) {
    QList<QVariantList> rows;
    for (const QJsonValue& r : dump.value(QStringLiteral("rows")).toArray()) {
        QVariantList row;
        for (const QJsonValue& v : r.toArray())
            row << jsonValue(v);
        rows << row;
    }
    return rows;
}

// Numbers compare by value: python3-dbf gives floats and Decimals, the program the stored
// digits ("1.00" against 1.0, "18" against 18.0000).
bool sameValue(const QVariant& ours, const QVariant& theirs, QChar type) {
    if (ours.isNull() || theirs.isNull()) return ours.isNull() && theirs.isNull();
    if (QStringLiteral("NFIBY").contains(type)) {
        bool a = false, b = false;
        const double x = ours.toString().toDouble(&a), y = theirs.toString().toDouble(&b);
        return a && b && x == y;
    }
    return ours.toString() == theirs.toString();
}

// Python3-dbf's rows against the expected ones, numbers by value.
QString compareRows(const QJsonObject& dump, const QList<QVariantList>& expected) {
    const QList<QVariantList> rows = pythonRows(dump);
    const QJsonArray types = dump.value(QStringLiteral("types")).toArray();
    if (rows.size() != expected.size())
        return QStringLiteral("%1 rows, expected %2").arg(rows.size()).arg(expected.size());
    for (int r = 0; r < rows.size(); ++r) {
        if (rows[r].size() != expected[r].size() || rows[r].size() != types.size())
            return QStringLiteral("row %1 has %2 values").arg(r + 1).arg(rows[r].size());
        for (int c = 0; c < rows[r].size(); ++c)
            if (!sameValue(rows[r][c], expected[r][c], types[c].toString().front()))
                return QStringLiteral("row %1 column %2: python [%3] expected [%4]")
                    .arg(r + 1)
                    .arg(c + 1)
                    .arg(rows[r][c].isNull() ? QStringLiteral("NULL") : rows[r][c].toString(),
                         expected[r][c].isNull() ? QStringLiteral("NULL")
                                                 : expected[r][c].toString());
    }
    return {};
}

#define COMPARE_ROWS(dump, expected)                                                               \
    do {                                                                                           \
        const QString diff = compareRows(dump, expected);                                          \
        QVERIFY2(diff.isEmpty(), qPrintable(diff));                                                \
    } while (0)

// The files of a sample table (the .dbf and its companions) copied into dir.
QString copyTable(const QString& samplePath, const QString& dir) {
    const QFileInfo fi(samplePath);
    const QString base = fi.completeBaseName();
    for (const QFileInfo& f : fi.absoluteDir().entryInfoList(QDir::Files))
        if (f.completeBaseName().compare(base, Qt::CaseInsensitive) == 0)
            testsupport::copyInto(f.absoluteFilePath(), dir);
    return dir + QLatin1Char('/') + fi.fileName();
}

// Makes a file read-only even for root (chattr +i); undone on destruction.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path) : path_(path) {
        QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                   QFileDevice::ReadOther);
        if (writable()) {
            immutable_ =
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
        }
    }
    ~ReadOnlyFile() {
        if (immutable_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        QFile(path_).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    bool writable() const {
        QFile f(path_);
        return f.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
    }

private:
    QString path_;
    bool immutable_ = false;
};

QString quoted(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

} // namespace

class TestDbfVtab : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void samplesMatchIndependentReader_data();
    void samplesMatchIndependentReader();
    void everySampleCompared();
    void deletedRecordsAreNotRows();
    void reservedWordFieldNames();
    void chineseFieldNamesAndValues();
    void codePageWithoutLanguageDriver();
    void cyrillicAndWesternText();
    void memoFiles();
    void newlinesAndApostrophes();
    void nullFlagsHiddenAndWideTables();
    void declaredTypesAndValueForms();
    void rowidLookups();
    void attachErrors();

    void writesOnSampleCopies();
    void writesMemoFiles();
    void writesVisualFoxProTypes();
    void writesTablesCreatedHere();
    void refusesValuesThatDoNotFit();
    void failedStatementsChangeNothing();
    void deletionsInATransaction();
    void readOnlyFileRefusesWrites();
    void seesRecordsOtherProgramsAppend();

private:
    QHash<QString, QByteArray> sampleHashes_;
    QSet<QString> compared_;
};

void TestDbfVtab::initTestCase() {
    QDirIterator it(testsupport::sample(QStringLiteral("dbf")), QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        sampleHashes_.insert(path, sha(path));
    }
}

void TestDbfVtab::samplesMatchIndependentReader_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("codePage"); // the attach argument
    QTest::addColumn<QString>("pythonCodec");
    QTest::addColumn<QStringList>("skip"); // tables another row compares
    QTest::newRow("DBFFile") << "dbf/DBFFile"
                             << ""
                             << "cp936" << QStringList();
    QTest::newRow("dbase-rs") << "dbf/dbase-rs"
                              << ""
                              << "cp936" << QStringList();
    QTest::newRow("dbfread") << "dbf/dbfread"
                             << ""
                             << "cp936" << QStringList();
    QTest::newRow("javadbf") << "dbf/javadbf"
                             << ""
                             << "cp936" << QStringList();
    QTest::newRow("foxprodb") << "dbf/javadbf/foxprodb"
                              << ""
                              << "cp936" << QStringList();
    QTest::newRow("mapshaper GBK") << "dbf/mapshaper"
                                   << ""
                                   << "cp936" << QStringList{"utf8.dbf"};
    QTest::newRow("mapshaper UTF-8") << "dbf/mapshaper"
                                     << "UTF-8"
                                     << "utf8" << QStringList{"gbk.dbf"};
}

void TestDbfVtab::samplesMatchIndependentReader() {
    QFETCH(QString, folder);
    QFETCH(QString, codePage);
    QFETCH(QString, pythonCodec);
    QFETCH(QStringList, skip);
    const QString dir = testsupport::sample(folder);
    Db db;
    QString error;
    QVERIFY2(vtab::attachDbfDirectory(db.h, dir, codePage, &error), qPrintable(error));
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files);
    int tables = 0;
    for (const QFileInfo& fi : files) {
        if (fi.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) != 0) continue;
        ++tables;
        if (skip.contains(fi.fileName())) continue;
        const QString table = fi.completeBaseName();
        const Result ours = query(db.h, QStringLiteral("SELECT * FROM \"%1\"").arg(table));
        QVERIFY2(ours.ok, qPrintable(table + QLatin1String(": ") + ours.error));
        const QJsonObject theirs = pythonDump(fi.absoluteFilePath(), pythonCodec);
        QVERIFY2(!theirs.isEmpty(), qPrintable(fi.fileName()));
        const QJsonArray names = theirs.value(QStringLiteral("fields")).toArray();
        const QJsonArray types = theirs.value(QStringLiteral("types")).toArray();
        // python3-dbf gives field names in lower case.
        QCOMPARE(ours.columns.size(), names.size());
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(ours.columns[i].toLower(), names[i].toString().toLower());
        const QList<QVariantList> expected = pythonRows(theirs);
        QCOMPARE(ours.rows.size(), expected.size());
        QStringList mismatches;
        int values = 0;
        for (int r = 0; r < expected.size(); ++r) {
            for (int c = 0; c < names.size(); ++c, ++values) {
                const QChar type = types[c].toString().front();
                if (!sameValue(ours.rows[r][c], expected[r][c], type))
                    mismatches << QStringLiteral("%1 row %2 %3 (%4): ours [%5] python [%6]")
                                      .arg(table)
                                      .arg(r + 1)
                                      .arg(ours.columns[c], type,
                                           ours.rows[r][c].isNull() ? "NULL"
                                                                    : ours.rows[r][c].toString(),
                                           expected[r][c].isNull() ? "NULL"
                                                                   : expected[r][c].toString());
            }
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.mid(0, 10).join(QLatin1Char('\n'))));

        // The whole table read straight from the file gives what the module gives: the record
        // numbers as rowids, the columns, every value as text (null where the module gives a
        // null or bytes).
        vtab::DbfRows direct;
        QVERIFY2(vtab::readDbfRows(db.h, table, &direct, &error), qPrintable(table + error));
        const Result all = query(db.h, QStringLiteral("SELECT rowid, * FROM \"%1\"").arg(table));
        QVERIFY2(all.ok, qPrintable(all.error));
        QCOMPARE(direct.names, ours.columns);
        const int width = int(direct.names.size());
        QCOMPARE(qsizetype(direct.values.records.size()), all.rows.size());
        QCOMPARE(qsizetype(direct.values.cells.size()), all.rows.size());
        QCOMPARE(direct.values.cells.columns(), width);
        for (int r = 0; r < all.rows.size(); ++r) {
            QCOMPARE(qint64(direct.values.records[size_t(r)]), all.rows[r][0].toLongLong());
            for (int c = 0; c < width; ++c) {
                const auto cell = direct.values.cells.cell(size_t(r), c);
                const QVariant& v = all.rows[r][c + 1];
                const bool isNull = v.isNull() || v.typeId() == QMetaType::QByteArray;
                QVERIFY2(
                    (cell.length < 0) == isNull,
                    qPrintable(QStringLiteral("%1 row %2 column %3").arg(table).arg(r).arg(c)));
                if (isNull) continue;
                const QString text =
                    QString(reinterpret_cast<const QChar*>(direct.values.text.data() + cell.offset),
                            cell.length);
                QCOMPARE(text, v.toString());
            }
        }
        qInfo().noquote() << QStringLiteral("%1: %2 rows, %3 values equal")
                                 .arg(fi.fileName())
                                 .arg(expected.size())
                                 .arg(values);
        compared_.insert(fi.absoluteFilePath());
    }
    QVERIFY(tables > 0);
    // Reading never writes.
    for (const QFileInfo& fi : files)
        QVERIFY2(sha(fi.absoluteFilePath()) == sampleHashes_.value(fi.absoluteFilePath()),
                 qPrintable(fi.fileName()));
}

void TestDbfVtab::everySampleCompared() {
    for (const QString& path : sampleHashes_.keys())
        if (path.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive))
            QVERIFY2(compared_.contains(path), qPrintable(path));
}

void TestDbfVtab::deletedRecordsAreNotRows() {
    const QString path = testsupport::sample(QStringLiteral("dbf/DBFFile/PYACFL.DBF"));
    // The live record numbers, straight from the deletion flags.
    const QByteArray raw = fileBytes(path);
    const int headerLength = quint8(raw[8]) | quint8(raw[9]) << 8;
    const int recordLength = quint8(raw[10]) | quint8(raw[11]) << 8;
    QVariantList live;
    int deleted = 0;
    for (int i = 0; i < 45; ++i) {
        if (raw[headerLength + i * recordLength] == '*')
            ++deleted;
        else
            live << QString::number(i + 1);
    }
    QCOMPARE(deleted, 30);
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/DBFFile")), {},
                                     &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM PYACFL")).toString(),
             QStringLiteral("15"));
    QVariantList rowids;
    for (const QVariantList& r : query(db.h, QStringLiteral("SELECT rowid FROM PYACFL")).rows)
        rowids << r[0].toString();
    QCOMPARE(rowids, live);
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM people")).toString(),
             QStringLiteral("<error: no such table: people>"));
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/dbfread")), {},
                                     &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT group_concat(NAME) FROM people")).toString(),
             QStringLiteral("Alice,Bob"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT group_concat(NAME) FROM memotest")).toString(),
             QStringLiteral("Alice,Bob"));
}

void TestDbfVtab::reservedWordFieldNames() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/DBFFile")), {},
                                     &error));
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/javadbf")), {},
                                     &error));
    const Result r = query(
        db.h,
        QStringLiteral(
            "SELECT \"ORDER\", substr(\"DESC\", 1, 23) FROM dbase_83 WHERE \"ORDER\" = '87'"));
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.rows.size(), 1);
    QCOMPARE(r.rows[0][1].toString(), QStringLiteral("Our Original assortment"));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM dbase_83 ORDER BY \"ORDER\"")).toString(),
        QStringLiteral("67"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(\"DATE\") FROM dbase_30")).toString(),
             QStringLiteral("34"));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT \"DATE\" FROM dbase_8b WHERE rowid = 1")).toString(),
        QStringLiteral("1970-01-01"));
}

void TestDbfVtab::chineseFieldNamesAndValues() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/javadbf")), {},
                                     &error));
    const Result cols =
        query(db.h, QStringLiteral("SELECT name, type FROM pragma_table_info('gbk')"));
    QCOMPARE(cols.rows.size(), 3);
    QCOMPARE(cols.rows[0][0].toString(), U("设计编号"));
    QCOMPARE(cols.rows[0][1].toString(), QStringLiteral("VARCHAR(45)"));
    QCOMPARE(cols.rows[1][0].toString(), U("审核信息"));
    QCOMPARE(cols.rows[2][0].toString(), U("是否打印"));
    QCOMPARE(cols.rows[2][1].toString(), QStringLiteral("BOOLEAN"));
    const Result r = query(db.h, U("SELECT 设计编号, 审核信息 FROM gbk WHERE 设计编号 LIKE "
                                   "'201500256-059K-001-001%'"));
    QCOMPARE(r.rows.size(), 3); // the same code three times: records the checker must find
    QCOMPARE(r.rows[0][0].toString(), U("201500256-059K-001-001牡丹江林口朝阳"));
    QVERIFY(r.rows[0][1].toString().startsWith(U(">经营区：商品林；起源：天然林；")));
    QCOMPARE(scalar(db.h, U("SELECT COUNT(*) FROM gbk WHERE 是否打印 IS NULL")).toString(),
             scalar(db.h, U("SELECT COUNT(*) - COUNT(是否打印) FROM gbk")).toString());
}

void TestDbfVtab::codePageWithoutLanguageDriver() {
    const QString dir = testsupport::sample(QStringLiteral("dbf/mapshaper"));
    Db gbk;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(gbk.h, dir, {}, &error)); // each as its text says
    QCOMPARE(scalar(gbk.h, QStringLiteral("SELECT NAME FROM gbk")).toString(), U("简体国语"));
    QCOMPARE(scalar(gbk.h, QStringLiteral("SELECT NAME FROM utf8")).toString(), U("国语國語"));
    // A code page given wins over the guess.
    Db given;
    QVERIFY(vtab::attachDbfDirectory(given.h, dir, QStringLiteral("GBK"), &error));
    QVERIFY(scalar(given.h, QStringLiteral("SELECT NAME FROM utf8")).toString() != U("国语國語"));
    Db utf8;
    QVERIFY(vtab::attachDbfDirectory(utf8.h, dir, QStringLiteral("UTF-8"), &error));
    QCOMPARE(scalar(utf8.h, QStringLiteral("SELECT NAME FROM utf8")).toString(), U("国语國語"));
    Db numbered;
    QVERIFY(vtab::attachDbfDirectory(numbered.h, dir, QStringLiteral("65001"), &error));
    QCOMPARE(scalar(numbered.h, QStringLiteral("SELECT NAME FROM utf8")).toString(), U("国语國語"));
    // A table that declares its code page keeps it whatever the argument says.
    Db declared;
    QVERIFY(vtab::attachDbfDirectory(declared.h, testsupport::sample(QStringLiteral("dbf/javadbf")),
                                     QStringLiteral("UTF-8"), &error));
    QCOMPARE(
        scalar(declared.h, QStringLiteral("SELECT NAME FROM cp1251 WHERE RN = '3'")).toString(),
        U("НИИ"));
}

void TestDbfVtab::cyrillicAndWesternText() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/javadbf")), {},
                                     &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT NAME FROM cp1251 WHERE rowid = 1")).toString(),
             U("амбулаторно-поликлиническое"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM dbase_31 WHERE PRODUCTNAM = '%1'")
                              .arg(U("Gumbär Gummibärchen")))
                 .toString(),
             QStringLiteral("1"));
}

void TestDbfVtab::memoFiles() {
    Db db;
    QString error;
    for (const char* folder : {"dbf/DBFFile", "dbf/dbfread", "dbf/javadbf/foxprodb"})
        QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QString::fromLatin1(folder)), {},
                                         &error));
    // dBase III .dbt, dBase IV .dbt, upper-case .FPT beside a lower-case .dbf
    QVERIFY(scalar(db.h, QStringLiteral("SELECT \"DESC\" FROM dbase_83 WHERE rowid = 1"))
                .toString()
                .startsWith(QStringLiteral("Our Original assortment...a little taste of heaven")));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT MEMO FROM dbase_8b WHERE rowid = 1")).toString(),
             QStringLiteral("First memo\r\n"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT MEMO FROM dbase_8b WHERE rowid = 5")).toString(),
             QStringLiteral("Fifth memo"));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT group_concat(MEMO, '|') FROM memotest")).toString(),
        QStringLiteral("Alice memo|Bob memo"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(NOTES) FROM contacts")).toString(),
             QStringLiteral("5"));
    QVERIFY(scalar(db.h, QStringLiteral("SELECT NOTES FROM calls WHERE CALL_ID = '1'"))
                .toString()
                .startsWith(QStringLiteral("Nancy told me about their blends.")));

    // A table whose memo file is missing still opens; its memo values are NULL.
    QTemporaryDir dir;
    const QString copy =
        copyTable(testsupport::sample(QStringLiteral("dbf/dbfread/memotest.dbf")), dir.path());
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("memotest.FPT"))));
    Db missing;
    QVERIFY(vtab::attachDbfDirectory(missing.h, dir.path(), {}, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const Result r = query(missing.h, QStringLiteral("SELECT NAME, MEMO FROM memotest"));
    QCOMPARE(r.rows.size(), 2);
    QCOMPARE(r.rows[0][0].toString(), QStringLiteral("Alice"));
    QVERIFY(r.rows[0][1].isNull());
    QVERIFY(
        !exec(missing.h, QStringLiteral("UPDATE memotest SET MEMO = 'x' WHERE rowid = 1"), &error));
    QVERIFY2(error.contains(U("备注文件缺失")), qPrintable(error));
    QVERIFY2(exec(missing.h, QStringLiteral("UPDATE memotest SET NAME = 'Alicia' WHERE rowid = 1"),
                  &error),
             qPrintable(error));
    QCOMPARE(
        scalar(missing.h, QStringLiteral("SELECT NAME FROM memotest WHERE rowid = 1")).toString(),
        QStringLiteral("Alicia"));
    Q_UNUSED(copy);
}

void TestDbfVtab::newlinesAndApostrophes() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(
        db.h, testsupport::sample(QStringLiteral("dbf/javadbf/foxprodb")), {}, &error));
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/javadbf")), {},
                                     &error));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT ADDRESS FROM contacts WHERE LAST_NAME = 'Davolio'"))
            .toString(),
        QStringLiteral("507 - 20th Ave. E.\r\nApt. 2A"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT UNITPRICE FROM dbase_31 WHERE PRODUCTNAM = "
                                         "'Chef Anton''s Cajun Seasoning'"))
                 .toString(),
             QStringLiteral("22"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM dbase_30 WHERE INSCOMP = "
                                         "'Pastville Underwriter''s Assoc.'"))
                 .toInt(),
             scalar(db.h, QStringLiteral(
                              "SELECT COUNT(*) FROM dbase_30 WHERE INSCOMP LIKE '%''s Assoc.'"))
                 .toInt());
    QVERIFY(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM dbase_30 WHERE INSCOMP = "
                                        "'Pastville Underwriter''s Assoc.'"))
                .toInt() > 0);
}

void TestDbfVtab::nullFlagsHiddenAndWideTables() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/javadbf")), {},
                                     &error));
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/dbase-rs")), {},
                                     &error));
    const Result cols =
        query(db.h, QStringLiteral("SELECT name FROM pragma_table_info('dbase_31')"));
    QCOMPARE(cols.rows.size(), 10);
    for (const QVariantList& c : cols.rows)
        QVERIFY(!c[0].toString().contains(QLatin1String("Null")));
    QCOMPARE(query(db.h, QStringLiteral("SELECT * FROM dbase_31")).columns.size(), 10);
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('dbase_30')"))
                 .toString(),
             QStringLiteral("145"));
    const Result wide = query(db.h, QStringLiteral("SELECT * FROM dbase_30"));
    QCOMPARE(wide.columns.size(), 145);
    QCOMPARE(wide.rows.size(), 34);
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('KUNDEN-schema-only')"))
            .toString(),
        QStringLiteral("49"));
    const Result empty = query(db.h, QStringLiteral("SELECT * FROM \"KUNDEN-schema-only\""));
    QVERIFY(empty.ok);
    QCOMPARE(empty.columns.size(), 49);
    QCOMPARE(empty.rows.size(), 0);
}

void TestDbfVtab::declaredTypesAndValueForms() {
    Db db;
    QString error;
    for (const char* folder : {"dbf/DBFFile", "dbf/javadbf", "dbf/javadbf/foxprodb"})
        QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QString::fromLatin1(folder)), {},
                                         &error));
    auto types = [&](const QString& table) {
        QStringList t;
        for (const QVariantList& r :
             query(db.h, QStringLiteral("SELECT type FROM pragma_table_info('%1')").arg(table))
                 .rows)
            t << r[0].toString();
        return t;
    };
    QCOMPARE(types(QStringLiteral("dbase_8b")),
             (QStringList{"VARCHAR(100)", "NUMERIC(20,2)", "DATE", "BOOLEAN", "NUMERIC(20,18)",
                          "TEXT"}));
    QCOMPARE(types(QStringLiteral("dbase_31")),
             (QStringList{"INTEGER", "VARCHAR(40)", "INTEGER", "INTEGER", "VARCHAR(20)", "CURRENCY",
                          "INTEGER", "INTEGER", "INTEGER", "BOOLEAN"}));
    QCOMPARE(types(QStringLiteral("calls")),
             (QStringList{"INTEGER", "INTEGER", "DATETIME", "DATETIME", "VARCHAR(254)", "TEXT"}));

    const Result r = query(db.h, QStringLiteral("SELECT CHARACTER, NUMERICAL, DATE, LOGICAL, FLOAT "
                                                "FROM dbase_8b WHERE rowid IN (1, 3, 10)"));
    QCOMPARE(r.rows.size(), 3);
    QCOMPARE(r.rows[0],
             (QVariantList{"One", "1.00", "1970-01-01", "True", "1.234567890123460000"}));
    QCOMPARE(r.rows[1][3], QVariant()); // blank logical
    QCOMPARE(r.rows[2][1], QVariant(QStringLiteral("10.00")));
    QCOMPARE(r.rows[2][2], QVariant()); // blank date
    QCOMPARE(r.rows[2][4], QVariant(QStringLiteral("0.100000000000000000")));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT UNITPRICE FROM dbase_31 WHERE PRODUCTID = '1'"))
                 .toString(),
             QStringLiteral("18"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT UNITPRICE FROM dbase_31 WHERE PRODUCTID = '31'"))
                 .toString(),
             QStringLiteral("12.5"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT UNITPRICE FROM dbase_31 WHERE PRODUCTID = '5'"))
                 .toString(),
             QStringLiteral("21.35"));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT DISCONTINU FROM dbase_31 WHERE PRODUCTID = '5'"))
                 .toString(),
             QStringLiteral("True"));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT CALL_DATE FROM calls WHERE CALL_ID = '1'")).toString(),
        QStringLiteral("1994-11-21 13:35:39"));
    // Numeric columns compare as numbers in SQL.
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM dbase_31 WHERE UNITPRICE > 100"))
                 .toString(),
             QStringLiteral("2"));
}

void TestDbfVtab::rowidLookups() {
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, testsupport::sample(QStringLiteral("dbf/DBFFile")), {},
                                     &error));
    const QString first = scalar(db.h, QStringLiteral("SELECT MIN(rowid) FROM PYACFL")).toString();
    const QString firstCode =
        scalar(db.h, QStringLiteral("SELECT AFACCD FROM PYACFL ORDER BY rowid LIMIT 1")).toString();
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT AFACCD FROM PYACFL WHERE rowid = %1").arg(first))
                 .toString(),
             firstCode);
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT AFACCD FROM PYACFL WHERE rowid = '%1'").arg(first))
                 .toString(),
             firstCode);
    // The plan uses the record number, not a scan.
    const QString plan =
        query(db.h, QStringLiteral("EXPLAIN QUERY PLAN SELECT * FROM PYACFL WHERE rowid = 3"))
            .rows.value(0)
            .value(3)
            .toString();
    QVERIFY2(plan.contains(QLatin1String("VIRTUAL TABLE INDEX 1")), qPrintable(plan));
    // Deleted, past the end, not a number: no row.
    const QByteArray raw = fileBytes(testsupport::sample(QStringLiteral("dbf/DBFFile/PYACFL.DBF")));
    int deletedRecno = 0;
    for (int i = 0; i < 45 && !deletedRecno; ++i)
        if (raw[674 + i * 94] == '*') deletedRecno = i + 1;
    QVERIFY(deletedRecno > 0);
    for (const QString& id : {QString::number(deletedRecno), QStringLiteral("46"),
                              QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("'abc'"),
                              QStringLiteral("1.5"), QStringLiteral("NULL")})
        QCOMPARE(query(db.h, QStringLiteral("SELECT * FROM PYACFL WHERE rowid = %1").arg(id))
                     .rows.size(),
                 0);
}

void TestDbfVtab::attachErrors() {
    Db db;
    QString error;
    QVERIFY(!vtab::attachDbfDirectory(db.h, QStringLiteral("/no/such/folder"), {}, &error));
    QVERIFY2(error.contains(U("无法读取目录")), qPrintable(error));
    QTemporaryDir dir;
    QVERIFY(
        !vtab::attachDbfDirectory(db.h, dir.path(), QStringLiteral("no-such-codepage"), &error));
    QVERIFY2(error.contains(U("无法识别的代码页")), qPrintable(error));

    // A folder with an apostrophe and Chinese in its name; a good table, a foreign file named
    // .dbf, an empty .dbf, and two names that differ only in case.
    const QString folder = dir.filePath(U("O'Brien 客户"));
    QVERIFY(QDir().mkpath(folder));
    QString e;
    QVERIFY(formats::dbf::createTable(folder + U("/客户.dbf"), formats::dbf::Flavour::VisualFoxPro,
                                      {{U("姓名"), 'C', 10}}, formats::dbf::defaultCodePage(), &e));
    QVERIFY(formats::dbf::createTable(folder + QStringLiteral("/same.dbf"),
                                      formats::dbf::Flavour::DBase3,
                                      {{QStringLiteral("A"), 'C', 1}}, {}, &e));
    QVERIFY(
        QFile::copy(folder + QStringLiteral("/same.dbf"), folder + QStringLiteral("/SAME.DBF")));
    QFile foreign(folder + QStringLiteral("/notes.dbf"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("This is a text file, not a table.\n");
    foreign.close();
    QFile empty(folder + QStringLiteral("/empty.DBF"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    Db db2;
    QString skipped;
    QVERIFY(vtab::attachDbfDirectory(db2.h, folder, {}, &skipped));
    QVERIFY2(skipped.contains(QStringLiteral("notes.dbf")) &&
                 skipped.contains(QStringLiteral("empty.DBF")),
             qPrintable(skipped));
    QVERIFY2(skipped.contains(U("不是 dBase/FoxPro 表")), qPrintable(skipped));
    QVERIFY2(skipped.contains(QStringLiteral("same.dbf")), qPrintable(skipped));
    QVERIFY(exec(db2.h, U("INSERT INTO 客户(姓名) VALUES ('王小明')"), &error));
    QCOMPARE(scalar(db2.h, U("SELECT 姓名 FROM 客户")).toString(), U("王小明"));
    QCOMPARE(scalar(db2.h, QStringLiteral("SELECT COUNT(*) FROM same")).toString(),
             QStringLiteral("0"));

    // A module argument that is not a table, and DROP TABLE leaving the file alone.
    QVERIFY(!exec(db2.h,
                  QStringLiteral("CREATE VIRTUAL TABLE x USING dbf(%1)")
                      .arg(quoted(folder + QStringLiteral("/notes.dbf"))),
                  &error));
    QVERIFY(!exec(db2.h,
                  QStringLiteral("CREATE VIRTUAL TABLE y USING dbf(%1, 'klingon')")
                      .arg(quoted(folder + QStringLiteral("/same.dbf"))),
                  &error));
    QVERIFY2(error.contains(U("无法识别的代码页")), qPrintable(error));
    const QByteArray kept = sha(folder + U("/客户.dbf"));
    QVERIFY(exec(db2.h, U("DROP TABLE 客户"), &error));
    QCOMPARE(sha(folder + U("/客户.dbf")), kept);
}

void TestDbfVtab::writesOnSampleCopies() {
    QTemporaryDir dir;
    const QString gbk =
        copyTable(testsupport::sample(QStringLiteral("dbf/javadbf/gbk.dbf")), dir.path());
    const QString people =
        copyTable(testsupport::sample(QStringLiteral("dbf/dbfread/people.dbf")), dir.path());
    const QList<QVariantList> gbkBefore = pythonRows(pythonDump(gbk, QStringLiteral("cp936")));
    QCOMPARE(gbkBefore.size(), 28);
    {
        Db db;
        QString error;
        QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
        QVERIFY2(exec(db.h,
                      U("INSERT INTO gbk(设计编号, 审核信息, 是否打印) VALUES "
                        "('测试-001 王小明', '审核：通过；O''Brien', 'True')"),
                      &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, U("UPDATE gbk SET 审核信息 = '改过的“值”' WHERE rowid = 1"), &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, U("UPDATE gbk SET 是否打印 = 'False' WHERE rowid = 3"), &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, QStringLiteral("DELETE FROM gbk WHERE rowid = 2"), &error),
                 qPrintable(error));
        QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM gbk")).toString(),
                 QStringLiteral("28"));
        QCOMPARE(scalar(db.h, QStringLiteral("SELECT MAX(rowid) FROM gbk")).toString(),
                 QStringLiteral("29"));

        QVERIFY2(exec(db.h,
                      U("INSERT INTO people(NAME, BIRTHDATE) VALUES ('张三丰', '1990-05-17')"),
                      &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, QStringLiteral("UPDATE people SET BIRTHDATE = '' WHERE NAME = 'Alice'"),
                      &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, QStringLiteral("DELETE FROM people WHERE NAME = 'Bob'"), &error),
                 qPrintable(error));
    }
    // python3-dbf sees every change.
    QList<QVariantList> expected = gbkBefore;
    expected[0][1] = U("改过的“值”");
    expected[2][2] = QStringLiteral("False");
    expected.removeAt(1);
    expected << QVariantList{U("测试-001 王小明"), U("审核：通过；O'Brien"),
                             QStringLiteral("True")};
    COMPARE_ROWS(pythonDump(gbk, QStringLiteral("cp936")), expected);
    COMPARE_ROWS(pythonDump(people, QStringLiteral("cp936")),
                 (QList<QVariantList>{{"Alice", QVariant()}, {U("张三丰"), "1990-05-17"}}));
    // The header counts every record, the file ends with 0x1A after the last one.
    const QByteArray raw = fileBytes(people);
    QCOMPARE(quint8(raw[4]), quint8(4));
    QCOMPARE(raw.size(), 97 + 4 * 25 + 1);
    QCOMPARE(raw.back(), '\x1A');
    const QDate today = QDate::currentDate();
    QCOMPARE(QDate(1900 + quint8(raw[1]), raw[2], raw[3]), today);
}

void TestDbfVtab::writesMemoFiles() {
    QTemporaryDir dir;
    const QString d83 =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/dbase_83.dbf")), dir.path());
    const QString contacts = copyTable(
        testsupport::sample(QStringLiteral("dbf/javadbf/foxprodb/contacts.dbf")), dir.path());
    const QString dbt = dir.filePath(QStringLiteral("dbase_83.dbt"));
    const QString fpt = dir.filePath(QStringLiteral("contacts.FPT"));
    const QList<QVariantList> before = pythonRows(pythonDump(d83, QStringLiteral("cp936")));
    const qint64 dbtSize = QFileInfo(dbt).size();
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    // A change to another field leaves the memo file alone.
    QVERIFY2(
        exec(db.h, QStringLiteral("UPDATE dbase_83 SET PRICE = '12.5' WHERE rowid = 2"), &error),
        qPrintable(error));
    QCOMPARE(QFileInfo(dbt).size(), dbtSize);
    QVERIFY2(exec(db.h, U("UPDATE dbase_83 SET \"DESC\" = '新的说明\r\n第二行' WHERE rowid = 1"),
                  &error),
             qPrintable(error));
    QVERIFY2(exec(db.h,
                  QStringLiteral("INSERT INTO dbase_83(ID, NAME, \"DESC\", TAXABLE) VALUES "
                                 "('900', 'New product', 'A memo for it', 'True')"),
                  &error),
             qPrintable(error));
    const QByteArray memo = fileBytes(dbt);
    const quint32 next =
        quint8(memo[0]) | quint8(memo[1]) << 8 | quint8(memo[2]) << 16 | quint8(memo[3]) << 24;
    QCOMPARE(qint64(next) * 512, qint64(memo.size()));

    QList<QVariantList> expected = before;
    expected[0][11] = U("新的说明\r\n第二行");
    expected[1][9] = QStringLiteral("12.5");
    QVariantList added(15);
    added[0] = QStringLiteral("900");
    added[6] = QStringLiteral("New product");
    for (int c : {5, 7, 8})
        added[c] = QStringLiteral("");
    added[11] = QStringLiteral("A memo for it");
    added[13] = QStringLiteral("True");
    expected << added;
    COMPARE_ROWS(pythonDump(d83, QStringLiteral("cp936")), expected);

    // dBase IV blocks (FF FF 08 00 and the length).
    const QString d8b =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/dbase_8b.dbf")), dir.path());
    QList<QVariantList> expected8b = pythonRows(pythonDump(d8b, QStringLiteral("cp936")));
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error)); // dbase_8b is new here
    QVERIFY2(exec(db.h, U("UPDATE dbase_8b SET MEMO = '改写的备注' WHERE rowid = 2"), &error),
             qPrintable(error));
    QVERIFY2(
        exec(db.h,
             QStringLiteral("INSERT INTO dbase_8b VALUES ('Eleven', '11.5', '2011-11-11', 'True', "
                            "'0.5', 'Eleventh memo')"),
             &error),
        qPrintable(error));
    expected8b[1][5] = U("改写的备注");
    expected8b << QVariantList{"Eleven", "11.5", "2011-11-11", "True", "0.5", "Eleventh memo"};
    COMPARE_ROWS(pythonDump(d8b, QStringLiteral("cp936")), expected8b);

    // Visual FoxPro with an upper-case .FPT.
    QVERIFY2(exec(db.h,
                  QStringLiteral("INSERT INTO contacts(CONTACT_ID, FIRST_NAME, LAST_NAME, ADDRESS, "
                                 "BIRTHDATE, LAST_MEETI, NOTES) VALUES ('42', 'Lin', 'Wang', "
                                 "'Line 1\r\nLine 2', '1980-02-29', '2024-03-01 08:30:00', "
                                 "'Met at the fair.')"),
                  &error),
             qPrintable(error));
    QVERIFY2(
        exec(db.h,
             QStringLiteral("UPDATE contacts SET NOTES = 'Rewritten note' WHERE CONTACT_ID = '1'"),
             &error),
        qPrintable(error));
    const QJsonObject c = pythonDump(contacts, QStringLiteral("cp936"));
    const QList<QVariantList> crows = pythonRows(c);
    QCOMPARE(crows.size(), 6);
    const QVariantList& last = crows.last();
    QCOMPARE(last[0].toString(), QStringLiteral("42"));
    QCOMPARE(last[1].toString(), QStringLiteral("Lin"));
    QCOMPARE(last[4].toString(), QStringLiteral("Line 1\r\nLine 2"));
    QCOMPARE(last[18].toString(), QStringLiteral("1980-02-29"));
    QCOMPARE(last[19].toString(), QStringLiteral("2024-03-01 08:30:00"));
    QCOMPARE(last[22].toString(), QStringLiteral("Met at the fair."));
    QCOMPARE(crows[0][22].toString(), QStringLiteral("Rewritten note"));
    const QByteArray f = fileBytes(fpt);
    const quint32 fnext =
        quint32(quint8(f[0])) << 24 | quint8(f[1]) << 16 | quint8(f[2]) << 8 | quint8(f[3]);
    QCOMPARE(qint64(fnext) * (quint8(f[6]) << 8 | quint8(f[7])), qint64(f.size()));
}

void TestDbfVtab::writesVisualFoxProTypes() {
    QTemporaryDir dir;
    const QString path =
        copyTable(testsupport::sample(QStringLiteral("dbf/javadbf/dbase_31.dbf")), dir.path());
    const QList<QVariantList> before = pythonRows(pythonDump(path, QStringLiteral("cp936")));
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    // PRODUCTID counts up by itself; SUPPLIERID may be NULL.
    QVERIFY2(
        exec(db.h,
             U("INSERT INTO dbase_31(PRODUCTNAM, SUPPLIERID, CATEGORYID, QUANTITYPE, UNITPRICE, "
               "UNITSINSTO, UNITSONORD, REORDERLEV, DISCONTINU) VALUES "
               "('Crème brûlée', NULL, '3', '12 pots', '12.5', '7', '0', '', 'True')"),
             &error),
        qPrintable(error));
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT PRODUCTID FROM dbase_31 WHERE rowid = 78")).toString(),
        QStringLiteral("78"));
    QVERIFY2(exec(db.h,
                  QStringLiteral("UPDATE dbase_31 SET UNITPRICE = '-0.0001', UNITSINSTO = NULL "
                                 "WHERE PRODUCTID = '1'"),
                  &error),
             qPrintable(error));
    QList<QVariantList> expected = before;
    expected[0][5] = QStringLiteral("-0.0001");
    expected[0][6] = QVariant();
    expected << QVariantList{"78", U("Crème brûlée"), QVariant(), "3", "12 pots", "12.5", "7",
                             "0",  QVariant(),        "True"};
    COMPARE_ROWS(pythonDump(path, QStringLiteral("cp936")), expected);
    // The autoincrement counter in the header moved on.
    QCOMPARE(quint8(fileBytes(path)[32 + 19]), quint8(79));
}

void TestDbfVtab::writesTablesCreatedHere() {
    QTemporaryDir dir;
    using formats::dbf::FieldSpec;
    QString error;
    QVERIFY2(formats::dbf::createTable(dir.filePath(QStringLiteral("clients.dbf")),
                                       formats::dbf::Flavour::VisualFoxPro,
                                       {{U("姓名"), 'C', 20},
                                        {QStringLiteral("AGE"), 'N', 3},
                                        {QStringLiteral("SALARY"), 'N', 10, 2, true},
                                        {QStringLiteral("BORN"), 'D', 0, 0, true},
                                        {QStringLiteral("VIP"), 'L'},
                                        {QStringLiteral("NOTE"), 'M'},
                                        {QStringLiteral("CODE"), 'I', 0, 0, true},
                                        {QStringLiteral("RATIO"), 'B'},
                                        {QStringLiteral("PAY"), 'Y'},
                                        {QStringLiteral("SEEN"), 'T'}},
                                       formats::dbf::defaultCodePage(), &error),
             qPrintable(error));
    QVERIFY2(formats::dbf::createTable(dir.filePath(QStringLiteral("old.dbf")),
                                       formats::dbf::Flavour::DBase3,
                                       {{QStringLiteral("NAME"), 'C', 10},
                                        {QStringLiteral("QTY"), 'N', 5, 1},
                                        {QStringLiteral("DAY"), 'D'},
                                        {QStringLiteral("OK"), 'L'},
                                        {QStringLiteral("NOTE"), 'M'}},
                                       formats::dbf::defaultCodePage(), &error),
             qPrintable(error));
    {
        Db db;
        QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
        QVERIFY2(
            exec(db.h,
                 U("INSERT INTO clients VALUES ('王小明', '32', '1234.5', '1992-01-31', 'True', "
                   "'备注：老客户', '7', '0.25', '99.99', '2024-05-06 07:08:09')"),
                 &error),
            qPrintable(error));
        QVERIFY2(exec(db.h, QStringLiteral("INSERT INTO clients(\"姓名\", AGE) VALUES ('Li', '')"),
                      &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h, U("INSERT INTO clients(姓名) VALUES ('删除我')"), &error),
                 qPrintable(error));
        QVERIFY2(
            exec(db.h,
                 U("UPDATE clients SET AGE = AGE + 1, NOTE = NOTE || '，续' WHERE 姓名 = '王小明'"),
                 &error),
            qPrintable(error));
        QVERIFY2(exec(db.h, U("DELETE FROM clients WHERE 姓名 = '删除我'"), &error),
                 qPrintable(error));
        QVERIFY2(exec(db.h,
                      QStringLiteral(
                          "INSERT INTO old VALUES ('a', '2.5', '2001-02-03', 'False', 'note a'), "
                          "('b', '-10', NULL, NULL, NULL)"),
                      &error),
                 qPrintable(error));
        QVERIFY2(
            exec(db.h, QStringLiteral("UPDATE old SET NOTE = 'note b' WHERE NAME = 'b'"), &error),
            qPrintable(error));
        QCOMPARE(scalar(db.h, QStringLiteral("SELECT AGE FROM clients WHERE rowid = 1")).toString(),
                 QStringLiteral("33"));
    }
    // Nullable fields left out are NULL; the others blank (python3-dbf reads blank numbers,
    // dates and logicals as None, memos as '').
    COMPARE_ROWS(
        pythonDump(dir.filePath(QStringLiteral("clients.dbf")), {}),
        (QList<QVariantList>{{U("王小明"), "33", "1234.5", "1992-01-31", "True",
                              U("备注：老客户，续"), "7", "0.25", "99.99", "2024-05-06 07:08:09"},
                             {"Li", QVariant(), QVariant(), QVariant(), QVariant(), "", QVariant(),
                              "0", "0", QVariant()}}));
    COMPARE_ROWS(pythonDump(dir.filePath(QStringLiteral("old.dbf")), {}),
                 (QList<QVariantList>{{"a", "2.5", "2001-02-03", "False", "note a"},
                                      {"b", "-10", QVariant(), QVariant(), "note b"}}));
}

void TestDbfVtab::refusesValuesThatDoNotFit() {
    QTemporaryDir dir;
    const QString gbk =
        copyTable(testsupport::sample(QStringLiteral("dbf/javadbf/gbk.dbf")), dir.path());
    const QString py =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/PYACFL.DBF")), dir.path());
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    const QByteArray gbkBefore = sha(gbk), pyBefore = sha(py);
    // 23 Chinese characters are 46 bytes in a 45-byte field: refused, never cut.
    const QString tooWide = QString(23, QChar(0x738B));
    QVERIFY(!exec(db.h, U("UPDATE gbk SET 设计编号 = '%1' WHERE rowid = 3").arg(tooWide), &error));
    QVERIFY2(error.contains(U("字段 设计编号 的值超出字段宽度（45 字节）")), qPrintable(error));
    // The same answer asked beforehand, nothing written: bytes in the table's code page count.
    QString asked;
    QVERIFY(!vtab::checkDbfValue(db.h, U("GBK"), U("设计编号"), tooWide, &asked));
    QVERIFY2(error.contains(asked), qPrintable(asked));
    QVERIFY(vtab::checkDbfValue(db.h, U("gbk"), U("设计编号"), tooWide.left(22), &asked));
    QVERIFY(!vtab::checkDbfValue(db.h, U("gbk"), U("设计编号"), U("a•b"), &asked));
    QVERIFY(!vtab::checkDbfValue(db.h, U("PYACFL"), U("AFWKEN"), U("1000"), &asked));
    QVERIFY(vtab::checkDbfValue(db.h, U("PYACFL"), U("AFWKEN"), U("999"), &asked));
    QVERIFY(!exec(db.h, U("INSERT INTO gbk(设计编号) VALUES ('%1')").arg(tooWide), &error));
    QVERIFY(!exec(db.h, U("INSERT INTO gbk(设计编号) VALUES ('a•b')"), &error));
    QVERIFY2(error.contains(U("无法表示的字符")), qPrintable(error));
    QCOMPARE(sha(gbk), gbkBefore);
    // AFWKEN is N(3,0), AFHRPW N(9,5).
    QVERIFY(
        !exec(db.h,
              QStringLiteral("UPDATE PYACFL SET AFWKEN = '1000' WHERE rowid = %1")
                  .arg(scalar(db.h, QStringLiteral("SELECT MIN(rowid) FROM PYACFL")).toString()),
              &error));
    QVERIFY2(error.contains(U("超出字段宽度（3 位）")), qPrintable(error));
    QVERIFY(!exec(db.h,
                  QStringLiteral("INSERT INTO PYACFL(AFACCD, AFHRPW) VALUES ('01', '1.123456')"),
                  &error));
    QVERIFY2(error.contains(U("小数位数")), qPrintable(error));
    QVERIFY(
        !exec(db.h, QStringLiteral("INSERT INTO PYACFL(AFCRDA) VALUES ('31.12.1999')"), &error));
    QVERIFY2(error.contains(U("不是有效日期")), qPrintable(error));
    QCOMPARE(sha(py), pyBefore);
    // Record numbers are not the caller's to choose.
    QVERIFY(!exec(db.h, QStringLiteral("INSERT INTO PYACFL(rowid, AFACCD) VALUES (100, '01')"),
                  &error));
    QVERIFY(
        !exec(db.h,
              QStringLiteral("UPDATE PYACFL SET rowid = 100 WHERE rowid = %1")
                  .arg(scalar(db.h, QStringLiteral("SELECT MIN(rowid) FROM PYACFL")).toString()),
              &error));
    QCOMPARE(sha(py), pyBefore);
}

void TestDbfVtab::failedStatementsChangeNothing() {
    QTemporaryDir dir;
    const QString py =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/PYACFL.DBF")), dir.path());
    const QString d83 =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/dbase_83.dbf")), dir.path());
    const QString dbt = dir.filePath(QStringLiteral("dbase_83.dbt"));
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    const QByteArray pyBefore = sha(py), d83Before = sha(d83), dbtBefore = sha(dbt);
    const QString last = scalar(db.h, QStringLiteral("SELECT MAX(rowid) FROM PYACFL")).toString();
    // Fourteen records are rewritten before the fifteenth fails: all are restored.
    QVERIFY(!exec(db.h,
                  QStringLiteral("UPDATE PYACFL SET AFPSDS = CASE WHEN rowid = %1 THEN "
                                 "'far too wide for twenty bytes' ELSE 'ok' END")
                      .arg(last),
                  &error));
    QCOMPARE(sha(py), pyBefore);
    // The same with memo blocks already written.
    QVERIFY(!exec(db.h,
                  QStringLiteral("UPDATE dbase_83 SET \"DESC\" = 'new text', PRICE = CASE WHEN "
                                 "rowid = 67 THEN '123456789012345' ELSE PRICE END"),
                  &error));
    QCOMPARE(sha(d83), d83Before);
    QCOMPARE(sha(dbt), dbtBefore);
    QVERIFY(!exec(db.h,
                  QStringLiteral("INSERT INTO PYACFL(AFACCD) VALUES ('01'), ('02'), ('too long')"),
                  &error));
    QCOMPARE(sha(py), pyBefore);

    // In a transaction, a failed statement undoes only itself; ROLLBACK undoes everything.
    QVERIFY(exec(db.h, QStringLiteral("BEGIN")));
    QVERIFY(exec(db.h, QStringLiteral("INSERT INTO PYACFL(AFACCD) VALUES ('77')"), &error));
    QVERIFY(!exec(db.h,
                  QStringLiteral("UPDATE PYACFL SET AFPSDS = CASE WHEN rowid = %1 THEN "
                                 "'far too wide for twenty bytes' ELSE 'changed' END")
                      .arg(last),
                  &error));
    QVERIFY(exec(db.h, QStringLiteral("INSERT INTO dbase_83(ID, \"DESC\") VALUES ('1000', 'memo')"),
                 &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM PYACFL WHERE AFPSDS = 'changed'"))
                 .toString(),
             QStringLiteral("0"));
    QVERIFY(exec(db.h, QStringLiteral("ROLLBACK"), &error));
    QCOMPARE(sha(py), pyBefore);
    QCOMPARE(sha(d83), d83Before);
    QCOMPARE(sha(dbt), dbtBefore);
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM PYACFL")).toString(),
             QStringLiteral("15"));

    QVERIFY(exec(db.h, QStringLiteral("BEGIN")));
    QVERIFY(exec(db.h, QStringLiteral("INSERT INTO PYACFL(AFACCD) VALUES ('77')"), &error));
    QVERIFY(exec(db.h, QStringLiteral("SAVEPOINT s1")));
    QVERIFY(exec(db.h, QStringLiteral("INSERT INTO PYACFL(AFACCD) VALUES ('88')"), &error));
    QVERIFY(exec(db.h, QStringLiteral("ROLLBACK TO s1")));
    QVERIFY(exec(db.h, QStringLiteral("COMMIT"), &error));
    const QList<QVariantList> rows = pythonRows(pythonDump(py, QStringLiteral("cp936")));
    QCOMPARE(rows.size(), 16);
    QCOMPARE(rows.last()[0].toString(), QStringLiteral("77"));
    QCOMPARE(quint8(fileBytes(py)[4]), quint8(46));
}

void TestDbfVtab::deletionsInATransaction() {
    QTemporaryDir dir;
    const QString py =
        copyTable(testsupport::sample(QStringLiteral("dbf/DBFFile/PYACFL.DBF")), dir.path());
    const QByteArray before = fileBytes(py);
    const int headerLength = quint8(before[8]) | quint8(before[9]) << 8;
    const int recordLength = quint8(before[10]) | quint8(before[11]) << 8;
    auto flagAt = [&](int recno) { return headerLength + (recno - 1) * recordLength; };
    QList<int> live, dead;
    for (int r = 1; r <= 45; ++r)
        (before[flagAt(r)] == '*' ? dead : live) << r;
    QCOMPARE(live.size(), 15);
    const int a = live[0], b = live[1], z = live.last();
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    auto count = [&](const QString& where = {}) {
        return scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM PYACFL ") + where).toInt();
    };

    // Reads in the transaction see its deletions at once; a savepoint rolled back brings back
    // only what was deleted after it; a record deleted twice or deleted in the file stays one
    // deletion.
    QVERIFY(exec(db.h, QStringLiteral("BEGIN")));
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL WHERE rowid IN (%1, %2)").arg(z).arg(a),
                 &error));
    QCOMPARE(count(), 13);
    QVERIFY(exec(db.h, QStringLiteral("SAVEPOINT s1")));
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL WHERE rowid = %1").arg(b), &error));
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL WHERE rowid = %1").arg(a), &error));
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL WHERE rowid = %1").arg(dead[0]), &error));
    QCOMPARE(count(), 12);
    QCOMPARE(count(QStringLiteral("WHERE rowid IN (%1, %2, %3)").arg(a).arg(b).arg(z)), 0);
    QVERIFY(exec(db.h, QStringLiteral("ROLLBACK TO s1")));
    QCOMPARE(count(), 13);
    QCOMPARE(count(QStringLiteral("WHERE rowid = %1").arg(b)), 1);
    QVERIFY(exec(db.h, QStringLiteral("COMMIT"), &error));
    // The file: the two deletion flags and the date of the last change, nothing else.
    const QByteArray committed = fileBytes(py);
    QByteArray expected = before;
    expected[flagAt(a)] = '*';
    expected[flagAt(z)] = '*';
    expected.replace(1, 3, committed.mid(1, 3));
    QCOMPARE(committed, expected);

    // A transaction rolled back leaves the file as it was, every record deleted included.
    QVERIFY(exec(db.h, QStringLiteral("BEGIN")));
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL"), &error));
    QCOMPARE(count(), 0);
    QVERIFY(exec(db.h, QStringLiteral("ROLLBACK"), &error));
    QCOMPARE(fileBytes(py), committed);
    QCOMPARE(count(), 13);
    // Without a transaction of its own, a statement's deletions are in the file when it ends.
    QVERIFY(exec(db.h, QStringLiteral("DELETE FROM PYACFL WHERE rowid = %1").arg(b), &error));
    QCOMPARE(fileBytes(py)[flagAt(b)], '*');

    // A longer table: flags next to each other, far apart and over more than a megabyte of
    // records are written, and no other byte changes.
    using formats::dbf::FieldSpec;
    const QString big = dir.filePath(QStringLiteral("big.dbf"));
    QVERIFY2(formats::dbf::createTable(big, formats::dbf::Flavour::DBase3,
                                       {{QStringLiteral("TEXT"), 'C', 250}},
                                       formats::dbf::defaultCodePage(), &error),
             qPrintable(error));
    Db db2;
    QVERIFY(vtab::attachDbfDirectory(db2.h, dir.path(), {}, &error));
    QVERIFY2(exec(db2.h,
                  QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                 "FROM n WHERE i < 6000) INSERT INTO big SELECT 'row ' || "
                                 "i || printf('%.*c', 200, 'x') FROM n"),
                  &error),
             qPrintable(error));
    const QByteArray bigBefore = fileBytes(big);
    const int bigHeader = quint8(bigBefore[8]) | quint8(bigBefore[9]) << 8;
    QCOMPARE(quint8(bigBefore[10]) | quint8(bigBefore[11]) << 8, 251);
    QList<int> gone{6000, 1, 2, 3, 40, 41, 5999};
    for (int r = 100; r <= 5000; r += 2)
        gone << r;
    QVERIFY(exec(db2.h, QStringLiteral("BEGIN")));
    for (int r : gone)
        QVERIFY2(exec(db2.h, QStringLiteral("DELETE FROM big WHERE rowid = %1").arg(r), &error),
                 qPrintable(error));
    QVERIFY2(exec(db2.h, QStringLiteral("COMMIT"), &error), qPrintable(error));
    const QByteArray bigAfter = fileBytes(big);
    QByteArray bigExpected = bigBefore;
    for (int r : gone)
        bigExpected[bigHeader + (r - 1) * 251] = '*';
    bigExpected.replace(1, 3, bigAfter.mid(1, 3));
    QCOMPARE(bigAfter.size(), bigExpected.size());
    QVERIFY(bigAfter == bigExpected);
    QCOMPARE(scalar(db2.h, QStringLiteral("SELECT COUNT(*) FROM big")).toInt(),
             6000 - int(gone.size()));
}

void TestDbfVtab::readOnlyFileRefusesWrites() {
    QTemporaryDir dir;
    const QString path =
        copyTable(testsupport::sample(QStringLiteral("dbf/dbfread/people.dbf")), dir.path());
    const QByteArray before = sha(path);
    ReadOnlyFile guard(path);
    if (guard.writable()) QSKIP("cannot make a file read-only here (no chattr)");
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT group_concat(NAME) FROM people")).toString(),
             QStringLiteral("Alice,Bob"));
    QVERIFY(!exec(db.h, QStringLiteral("INSERT INTO people(NAME) VALUES ('Carol')"), &error));
    QVERIFY2(error.contains(U("只读")), qPrintable(error));
    QCOMPARE(sqlite3_errcode(db.h), SQLITE_READONLY);
    QVERIFY(!exec(db.h, QStringLiteral("DELETE FROM people"), &error));
    QVERIFY2(error.contains(U("只读")), qPrintable(error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM people")).toString(),
             QStringLiteral("2"));
    QCOMPARE(sha(path), before);
}

void TestDbfVtab::seesRecordsOtherProgramsAppend() {
    QTemporaryDir dir;
    const QString path =
        copyTable(testsupport::sample(QStringLiteral("dbf/dbfread/people.dbf")), dir.path());
    Db db;
    QString error;
    QVERIFY(vtab::attachDbfDirectory(db.h, dir.path(), {}, &error));
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT COUNT(*) FROM people")).toString(),
             QStringLiteral("2"));
    bool ok = false;
    QByteArray err;
    testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR "/tests/formats/dbf_append.py"),
        {path, QStringLiteral("cp936"), U("NAME=李四"), QStringLiteral("BIRTHDATE=2001-09-10")},
        &ok, &err);
    QVERIFY2(ok, err.constData());
    QCOMPARE(
        scalar(db.h, QStringLiteral("SELECT NAME || ' ' || BIRTHDATE FROM people WHERE rowid = 4"))
            .toString(),
        U("李四 2001-09-10"));
    // Our own append follows it instead of overwriting it.
    QVERIFY(exec(db.h, QStringLiteral("INSERT INTO people(NAME) VALUES ('Dan')"), &error));
    QCOMPARE(pythonRows(pythonDump(path, QStringLiteral("cp936"))).size(), 4);
    QCOMPARE(scalar(db.h, QStringLiteral("SELECT group_concat(rowid) FROM people")).toString(),
             QStringLiteral("1,2,4,5"));
}

CHACHONG_TEST_MAIN(TestDbfVtab)
#include "tst_dbfvtab.moc"
