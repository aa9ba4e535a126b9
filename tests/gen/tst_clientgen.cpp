// The generator of client lists: determinism, planted copies, realistic values, the reference
// file and its quirks, and the three files read back by independent readers.
#include "bench/gen/clientgen.h"
#include "bench/gen/regions.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/xls/xls.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <limits>

namespace {

enum Column { Name, Sex, Company, Province, City, County, Address, Zip, Phone, IdNumber };

const QStringList kFields = {"姓名", "性别", "公司", "省份", "城市",
                             "区县", "地址", "邮编", "电话", "证件号"};

gen::Table make(int rows, quint32 seed, double exact = 0.05, double near = 0.05,
                const QString& region = {}) {
    gen::Options o;
    o.rows = rows;
    o.seed = seed;
    o.exactShare = exact;
    o.nearShare = near;
    o.regionCsv = region;
    return gen::generate(o);
}

// What a near copy may differ in, undone: full-width digits, blanks, the suffixes 省市区县.
QStringList normalised(const QStringList& row) {
    QStringList out;
    for (QString v : row) {
        QString s;
        for (QChar c : v) {
            if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
                s += QChar(u'0' + (c.unicode() - 0xFF10));
            else if (!c.isSpace() && !QStringLiteral("省市区县").contains(c))
                s += c;
        }
        out << s;
    }
    return out;
}

// One character of the name or the address replaced, nothing else changed.
bool isOneSubstitution(const QStringList& copy, const QStringList& source) {
    int changedFields = 0, column = -1;
    for (int c = 0; c < copy.size(); ++c) {
        if (copy[c] != source[c]) {
            ++changedFields;
            column = c;
        }
    }
    if (changedFields != 1 || (column != Name && column != Address)) return false;
    const QString &a = copy[column], &b = source[column];
    if (a.size() != b.size()) return false;
    int diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff += a[i] != b[i];
    return diff == 1;
}

// GB 11643 check character, computed the way the standard writes it: weights 2^(17-i) mod 11,
// check = (12 - sum mod 11) mod 11, 10 written X.
QChar idCheck(const QString& id17) {
    int sum = 0;
    for (int i = 0; i < 17; ++i) {
        int weight = 1;
        for (int k = 0; k < 17 - i; ++k)
            weight = weight * 2 % 11;
        sum += (id17[i].unicode() - u'0') * weight;
    }
    const int check = (12 - sum % 11) % 11;
    return check == 10 ? QChar(u'X') : QChar(u'0' + check);
}

QString script() {
    return QStringLiteral(CHACHONG_SOURCE_DIR "/tests/gen/gen_dump.py");
}

// The JSON gen_dump.py prints for a file; empty when the reader failed.
QJsonObject dump(const QString& kind, const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(script(), {kind, path}, &ok, &err);
    if (!ok) qWarning("gen_dump.py %s failed: %s", qPrintable(kind), err.constData());
    return QJsonDocument::fromJson(out).object();
}

QList<QStringList> rowsOf(const QJsonArray& array) {
    QList<QStringList> rows;
    for (const QJsonValue& r : array) {
        QStringList row;
        for (const QJsonValue& v : r.toArray())
            row << v.toString();
        rows << row;
    }
    return rows;
}

QStringList stringsOf(const QJsonArray& array) {
    QStringList out;
    for (const QJsonValue& v : array)
        out << v.toString();
    return out;
}

QList<QStringList> rowsOf(const gen::Table& t) {
    return QList<QStringList>(t.rows.begin(), t.rows.end());
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QStringList kFormats = {"dbf", "xls", "csv"};

bool writeAs(const QString& ext, const gen::Table& t, const QString& path, QString* error) {
    return ext == "dbf"   ? gen::writeDbf(t, path, error)
           : ext == "xls" ? gen::writeXls(t, path, error)
                          : gen::writeCsv(t, path, error);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

// "province|city|county|zip" of a row as the region list names the place: a province written
// without its 省 (as some lists do) is the one with it.
QString placeKey(const QStringList& r, const QSet<QString>& known) {
    const QString key = QStringList{r[Province], r[City], r[County], r[Zip]}.join('|');
    const QString withSuffix =
        QStringList{r[Province] + QStringLiteral("省"), r[City], r[County], r[Zip]}.join('|');
    return !known.contains(key) && known.contains(withSuffix) ? withSuffix : key;
}

class TestClientGen : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void sameSeedSameTable() {
        const gen::Table a = make(3000, 42), b = make(3000, 42), c = make(3000, 43);
        QCOMPARE(a.fields, kFields);
        QCOMPARE(rowsOf(a), rowsOf(b));
        QCOMPARE(a.copyOf, b.copyOf);
        QCOMPARE(a.exactCopies, b.exactCopies);
        QCOMPARE(a.nearCopies, b.nearCopies);
        QVERIFY(rowsOf(a) != rowsOf(c));
        int same = 0;
        for (int i = 0; i < 3000; ++i)
            same += a.rows[size_t(i)] == c.rows[size_t(i)];
        QVERIFY2(same < 30, qPrintable(QString::number(same)));
    }

    void filesAreByteIdentical() {
        const gen::Table a = make(400, 5, 0.1, 0.2), b = make(400, 5, 0.1, 0.2);
        QString error;
        for (const QString& ext : kFormats) {
            const QString pa = dir_.filePath("same-a." + ext), pb = dir_.filePath("same-b." + ext);
            QVERIFY2(writeAs(ext, a, pa, &error), qPrintable(error));
            QVERIFY2(writeAs(ext, b, pb, &error), qPrintable(error));
            QVERIFY(!bytesOf(pa).isEmpty());
            QCOMPARE(bytesOf(pa), bytesOf(pb));
        }
        QVERIFY2(gen::writeDbf(make(400, 6, 0.1, 0.2), dir_.filePath("other.dbf"), &error),
                 qPrintable(error));
        QVERIFY(bytesOf(dir_.filePath("other.dbf")) != bytesOf(dir_.filePath("same-a.dbf")));
    }

    // 20,000 rows at 5% and 5%: the counts, and every copy against its source.
    void sharesAndCopies() {
        const int n = 20000;
        const gen::Table t = make(n, 7);
        QCOMPARE(int(t.rows.size()), n);
        QCOMPARE(int(t.copyOf.size()), n);
        QVERIFY2(std::abs(t.exactCopies - n / 20) <= n / 100,
                 qPrintable(QString::number(t.exactCopies)));
        QVERIFY2(std::abs(t.nearCopies - n / 20) <= n / 100,
                 qPrintable(QString::number(t.nearCopies)));

        int exact = 0, near = 0;
        int suffix = 0, suffixAdded = 0, substitution = 0, fullWidth = 0, blanks = 0;
        for (int i = 0; i < n; ++i) {
            const QStringList& row = t.rows[size_t(i)];
            QCOMPARE(row.size(), kFields.size());
            const int s = t.copyOf[size_t(i)];
            if (s < 0) continue;
            QVERIFY2(s < i, "a copy comes after its source");
            QCOMPARE(t.copyOf[size_t(s)], -1); // sources are originals
            const QStringList& source = t.rows[size_t(s)];
            if (row == source) {
                ++exact;
                continue;
            }
            ++near;
            const bool normalEqual = normalised(row) == normalised(source);
            QVERIFY2(normalEqual || isOneSubstitution(row, source),
                     qPrintable(row.join('|') + " <- " + source.join('|')));
            if (row[Province] != source[Province] || row[City] != source[City] ||
                row[County] != source[County]) {
                ++suffix;
                QVERIFY(normalEqual);
                QVERIFY2(row[Address] != source[Address], "the address changes its suffix too");
                suffixAdded += row[Province].size() > source[Province].size();
            } else if (row.join(QString()).contains(QRegularExpression("[０-９]"))) {
                ++fullWidth;
                QVERIFY(normalEqual);
            } else if (row[Name].contains(' ') || row[Address].contains(' ')) {
                ++blanks;
                QVERIFY(normalEqual);
            } else {
                ++substitution;
                QVERIFY(isOneSubstitution(row, source));
            }
        }
        QCOMPARE(exact, t.exactCopies);
        QCOMPARE(near, t.nearCopies);
        // Suffixes are dropped, and added where the source wrote a province without its 省.
        QVERIFY2(suffixAdded > 0 && suffixAdded < suffix,
                 qPrintable(QStringLiteral("%1 of %2").arg(suffixAdded).arg(suffix)));
        // Four kinds, each about a quarter.
        for (int kind : {suffix, substitution, fullWidth, blanks})
            QVERIFY2(kind > near * 15 / 100, qPrintable(QStringLiteral("%1 %2 %3 %4")
                                                            .arg(suffix)
                                                            .arg(substitution)
                                                            .arg(fullWidth)
                                                            .arg(blanks)));
    }

    void shareEdgeCases_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<double>("exact");
        QTest::addColumn<double>("near");
        QTest::addColumn<int>("wantRows");
        QTest::addColumn<int>("wantExact");
        QTest::addColumn<int>("wantNear");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("empty") << 0 << 0.05 << 0.05 << 0 << 0 << 0;
        QTest::newRow("negative rows") << -5 << 0.05 << 0.05 << 0 << 0 << 0;
        QTest::newRow("one row copies nothing") << 1 << 0.5 << 0.5 << 1 << 0 << 0;
        QTest::newRow("all exact but the first") << 10 << 1.0 << 0.0 << 10 << 9 << 0;
        QTest::newRow("shares beyond one") << 10 << 0.7 << 0.7 << 10 << 7 << 2;
        QTest::newRow("share above one") << 10 << 3.0 << 0.0 << 10 << 9 << 0;
        QTest::newRow("no copies") << 100 << 0.0 << 0.0 << 100 << 0 << 0;
        QTest::newRow("nan and negative") << 100 << nan << -1.0 << 100 << 0 << 0;
        QTest::newRow("near only") << 100 << 0.0 << 0.3 << 100 << 0 << 30;
    }

    void shareEdgeCases() {
        QFETCH(int, rows);
        QFETCH(double, exact);
        QFETCH(double, near);
        const gen::Table t = make(rows, 3, exact, near);
        QFETCH(int, wantRows);
        QCOMPARE(int(t.rows.size()), wantRows);
        QCOMPARE(int(t.copyOf.size()), wantRows);
        QTEST(t.exactCopies, "wantExact");
        QTEST(t.nearCopies, "wantNear");
        QCOMPARE(t.fields, kFields);
        int copies = 0;
        for (int i = 0; i < wantRows; ++i) {
            const int s = t.copyOf[size_t(i)];
            if (s < 0) continue;
            ++copies;
            QVERIFY(s < i);
            QCOMPARE(t.copyOf[size_t(s)], -1);
        }
        QCOMPARE(copies, t.exactCopies + t.nearCopies);
    }

    // Originals look like real clients, whichever region list is in use.
    void valuesLookReal() {
        const gen::Table t = make(5000, 11, 0, 0);
        const QRegularExpression mobile("^1[3-9][0-9]{9}$"),
            landline("^0[1-9][0-9]{1,2}-[2-8][0-9]{7}$"), id("^[0-9]{17}[0-9X]$");
        int mobiles = 0, privateClients = 0, longNames = 0;
        for (const QStringList& r : t.rows) {
            QVERIFY2(r[Name].size() >= 2 && r[Name].size() <= 4 && !r[Name].contains(' '),
                     qPrintable(r[Name]));
            longNames += r[Name].size() >= 3;
            QVERIFY(r[Sex] == "男" || r[Sex] == "女");
            if (r[Company].isEmpty())
                ++privateClients;
            else
                QVERIFY2(r[Company].endsWith("有限公司"), qPrintable(r[Company]));
            for (int c : {Province, City, County, Zip})
                QVERIFY2(!r[c].isEmpty(), qPrintable(r.join('|')));
            // The address names province, city and county once each, then the street.
            if (r[Province] == r[City] && r[Province] != "港澳台") {
                QVERIFY2(r[Address].startsWith(r[Province]) &&
                             !r[Address].startsWith(r[Province] + r[City]),
                         qPrintable(r[Address]));
            } else if (r[Province] != "港澳台") {
                QVERIFY2(r[Address].startsWith(r[Province] + r[City]), qPrintable(r[Address]));
            }
            QVERIFY2(r[Address].contains(r[County]), qPrintable(r[Address]));
            QVERIFY2(r[Address].contains(QRegularExpression("[0-9]+号")), qPrintable(r[Address]));

            const bool isMobile = mobile.match(r[Phone]).hasMatch();
            mobiles += isMobile;
            QVERIFY2(isMobile || landline.match(r[Phone]).hasMatch(), qPrintable(r[Phone]));

            const QString& n = r[IdNumber];
            QVERIFY2(id.match(n).hasMatch(), qPrintable(n));
            QCOMPARE(n[17], idCheck(n.left(17)));
            const QDate birth = QDate::fromString(n.mid(6, 8), "yyyyMMdd");
            QVERIFY2(birth.isValid() && birth.year() >= 1950 && birth.year() <= 2005,
                     qPrintable(n));
            QCOMPARE((n[16].unicode() - u'0') % 2 == 1, r[Sex] == "男");
        }
        QVERIFY2(mobiles > 5000 * 70 / 100 && mobiles < 5000, qPrintable(QString::number(mobiles)));
        QVERIFY2(privateClients > 5000 / 10 && privateClients < 5000 * 3 / 10,
                 qPrintable(QString::number(privateClients)));
        QVERIFY(longNames > 5000 / 3 && longNames < 5000);
        QCOMPARE(idCheck("11010519491231002"), QChar(u'X')); // the standard's own example
    }

    // The reference file: what the generator reads equals what Python's csv module reads.
    void regionFileFromReference() {
        QVERIFY(QFile::exists(gen::defaultRegionCsv()));
        const QJsonObject ref = dump("regions", gen::defaultRegionCsv());
        QList<QStringList> expected;
        QSet<QString> known, provinces;
        for (const QJsonValue& v : ref["regions"].toArray()) {
            const QStringList r = stringsOf(v.toArray());
            expected << r;
            known.insert(r.join('|'));
            provinces.insert(r[0]);
        }
        QVERIFY(expected.size() > 3000);

        std::vector<gen::Region> regions;
        QString error;
        QVERIFY2(gen::readRegionCsv(gen::defaultRegionCsv(), &regions, &error), qPrintable(error));
        QList<QStringList> got;
        for (const gen::Region& r : regions)
            got << QStringList{r.province, r.city, r.county, r.zip};
        QCOMPARE(got, expected);

        // Generated rows take their places and postcodes from it, leading zeros kept.
        const gen::Table t = make(20000, 9);
        int leadingZero = 0;
        QSet<QString> seenProvinces;
        for (const QStringList& r : t.rows) {
            QVERIFY2(!r[Province].isEmpty(), "an empty province");
            if (t.copyOf[size_t(&r - t.rows.data())] >= 0) continue;
            const QString key = placeKey(r, known);
            QVERIFY2(known.contains(key), qPrintable(key));
            leadingZero += r[Zip].startsWith('0');
            seenProvinces.insert(key.section(QLatin1Char('|'), 0, 0));
        }
        QVERIFY2(leadingZero > 100, qPrintable(QString::number(leadingZero)));
        QCOMPARE(seenProvinces, provinces);
    }

    // CR CR LF line ends, a byte-order mark, blank lines, columns in another order, short rows,
    // repeated places, odd postcodes.
    void regionFileQuirks() {
        const QString path = dir_.filePath("quirks.csv");
        QVERIFY(writeFile(path, "\xEF\xBB\xBFzipCode,county,city,province\r\r\n"
                                "\r\r\n"
                                "050000,长安区,石家庄市,河北省\r\r\n"
                                "890至896,金门县,泉州市,福建省\r\r\n"
                                "4453011,凤泉区,新乡市,河南省\r\n"
                                "222,台北市,港澳台,港澳台\r"
                                "999999,长安区,石家庄市,河北省\r\r\n"
                                "123456,短行\r\r\n"
                                "100020,朝阳区,北京市,北京市\n"));
        std::vector<gen::Region> regions;
        QString error;
        QVERIFY2(gen::readRegionCsv(path, &regions, &error), qPrintable(error));
        QList<QStringList> got;
        for (const gen::Region& r : regions)
            got << QStringList{r.province, r.city, r.county, r.zip};
        const QList<QStringList> want = {{"河北省", "石家庄市", "长安区", "050000"},
                                         {"福建省", "泉州市", "金门县", "890至896"},
                                         {"河南省", "新乡市", "凤泉区", "4453011"},
                                         {"港澳台", "港澳台", "台北市", "222"},
                                         {"北京市", "北京市", "朝阳区", "100020"}};
        QCOMPARE(got, want);

        const gen::Table t = make(2000, 4, 0.05, 0.2, path);
        QSet<QString> zips;
        for (const QStringList& r : t.rows) {
            QVERIFY(!r[Province].isEmpty() && !r[City].isEmpty() && !r[County].isEmpty());
            zips.insert(r[Zip]);
            if (r[Province] == "港澳台" && t.copyOf[size_t(&r - t.rows.data())] < 0)
                QVERIFY2(r[Address].startsWith("台北市"), qPrintable(r[Address]));
        }
        QCOMPARE(zips, QSet<QString>({"050000", "890至896", "4453011", "222", "100020"}));
    }

    void regionFileRefused_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << QByteArray("province,city,county,zipCode\r\r\n");
        QTest::newRow("no zip column")
            << QByteArray("province,city,county\n河北省,石家庄市,长安区\n");
        QTest::newRow("not utf-8")
            << QByteArray("province,city,county,zipCode\n\xBA\xD3\xB1\xB1,a,b,1\n");
        QTest::newRow("binary") << (QByteArray("\x00\x01\x02", 3) +
                                    "province,city,county,zipCode\n");
        QTest::newRow("no place in any row")
            << QByteArray("province,city,county,zipCode\n,,,050000\n");
    }

    void regionFileRefused() {
        QFETCH(QByteArray, content);
        const QString path = dir_.filePath("refused.csv");
        QVERIFY(writeFile(path, content));
        std::vector<gen::Region> regions;
        QString error;
        QVERIFY(!gen::readRegionCsv(path, &regions, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(regions.empty());
        // The generator falls back to its own list rather than giving nothing.
        const gen::Table t = make(200, 1, 0.05, 0.05, path);
        QCOMPARE(int(t.rows.size()), 200);
        QVERIFY(!t.rows[0][Province].isEmpty());
    }

    void fallbackWhenRegionFileMissing() {
        const QString missing = dir_.filePath("no-such-region.csv");
        std::vector<gen::Region> regions;
        QString error;
        QVERIFY(!gen::readRegionCsv(missing, &regions, &error));
        QVERIFY(error.contains("no-such-region.csv"));

        QSet<QString> builtIn;
        for (const gen::Region& r : gen::builtInRegions())
            builtIn.insert(QStringList{r.province, r.city, r.county, r.zip}.join('|'));
        QVERIFY(builtIn.size() >= 24);
        const gen::Table t = make(3000, 2, 0.05, 0.05, missing);
        QCOMPARE(int(t.rows.size()), 3000);
        QSet<QString> used;
        bool municipality = false, leadingZero = false;
        for (size_t i = 0; i < t.rows.size(); ++i) {
            const QStringList& r = t.rows[i];
            if (t.copyOf[i] >= 0) continue;
            const QString key = placeKey(r, builtIn);
            QVERIFY2(builtIn.contains(key), qPrintable(key));
            used.insert(key);
            if (r[Province] == "北京市") {
                municipality = true;
                QVERIFY2(r[Address].startsWith("北京市" + r[County]), qPrintable(r[Address]));
            }
            leadingZero = leadingZero || r[Zip].startsWith('0');
        }
        QVERIFY(municipality && leadingZero);
        QCOMPARE(used, builtIn); // 3,000 rows visit every county of the list
    }

    // The .dbf through python3-dbf and through the program's own reader.
    void dbfReadsBack() {
        const gen::Table t = make(1500, 21, 0.05, 0.3);
        const QString path = dir_.filePath("clients.dbf");
        QString error;
        QVERIFY2(gen::writeDbf(t, path, &error), qPrintable(error));
        const QByteArray bytes = bytesOf(path);
        QCOMPARE(quint8(bytes[0]), quint8(0x03));
        QVERIFY(quint8(bytes[29]) == 0x7A || quint8(bytes[29]) == 0x4D);
        QCOMPARE(bytes.back(), '\x1A');

        const QJsonObject d = dump("dbf", path);
        QCOMPARE(stringsOf(d["fields"].toArray()), kFields);
        QVERIFY2(d["codepage"].toString().contains("936"), qPrintable(d["codepage"].toString()));
        QCOMPARE(rowsOf(d["rows"].toArray()), rowsOf(t));
        // Each field as wide as its longest value in GBK bytes.
        QCOMPARE(d["widths"].toArray(), d["longest"].toArray());

        formats::dbf::Table table;
        QVERIFY2(table.open(path, {}, &error), qPrintable(error));
        QCOMPARE(table.recordCount(), quint32(t.rows.size()));
        QCOMPARE(int(table.fields().size()), kFields.size());
        QByteArray record;
        for (quint32 i = 0; i < table.recordCount(); ++i) {
            QVERIFY(table.readRecord(i + 1, &record, &error));
            QStringList row;
            for (int c = 0; c < kFields.size(); ++c)
                row << table.value(record, c).text;
            QCOMPARE(row, t.rows[i]);
        }
    }

    // Empty columns and empty tables still make valid files.
    void emptyValuesAndTables() {
        gen::Table t;
        t.fields = QStringList{"甲", "乙"};
        t.rows = {{"", "x"}, {"", "长一些的值"}};
        t.copyOf = {-1, -1};
        const QString path = dir_.filePath("narrow.dbf");
        QString error;
        QVERIFY2(gen::writeDbf(t, path, &error), qPrintable(error));
        QJsonObject d = dump("dbf", path);
        QCOMPARE(d["widths"].toArray(), QJsonArray({1, 10}));
        QCOMPARE(rowsOf(d["rows"].toArray()), rowsOf(t));

        const gen::Table none = make(0, 1);
        for (const QString& ext : kFormats) {
            const QString p = dir_.filePath("none." + ext);
            const bool ok = writeAs(ext, none, p, &error);
            QVERIFY2(ok, qPrintable(error));
            d = dump(ext, p);
            QCOMPARE(stringsOf(d["fields"].toArray()), kFields);
            QCOMPARE(d["rows"].toArray().size(), 0);
        }
    }

    void xlsReadsBack() {
        const gen::Table t = make(1500, 22, 0.05, 0.3);
        const QString path = dir_.filePath("clients.xls");
        QString error;
        QVERIFY2(gen::writeXls(t, path, &error), qPrintable(error));
        const QJsonObject d = dump("xls", path);
        QCOMPARE(stringsOf(d["sheets"].toArray()), QStringList{"客户"});
        QCOMPARE(stringsOf(d["fields"].toArray()), kFields);
        QCOMPARE(rowsOf(d["rows"].toArray()), rowsOf(t));
        // Text cells only (1), and empty cells (0) where a client has no company.
        QCOMPARE(d["types"].toArray(), QJsonArray({0, 1}));
    }

    void csvReadsBack() {
        gen::Table t = make(1500, 23, 0.05, 0.3);
        t.rows.push_back(
            {"a,b", "say \"hi\"", "line1\nline2", " lead", "", "\"", ",", "x\n", "", "end"});
        t.copyOf.push_back(-1);
        const QString path = dir_.filePath("clients.csv");
        QString error;
        QVERIFY2(gen::writeCsv(t, path, &error), qPrintable(error));
        const QJsonObject d = dump("csv", path);
        QCOMPARE(stringsOf(d["fields"].toArray()), kFields);
        QCOMPARE(rowsOf(d["rows"].toArray()), rowsOf(t));
        QCOMPARE(d["bom"].toBool(), false);
        QCOMPARE(d["cr"].toBool(), false);
    }

    void xlsRowLimit() {
        gen::Table t = make(10, 1);
        const QStringList row = t.rows[0];
        t.rows.assign(65536, row);
        t.copyOf.assign(65536, -1);
        const QString path = dir_.filePath("too-many.xls");
        QString error;
        QVERIFY(!gen::writeXls(t, path, &error));
        QVERIFY(error.contains("65535"));
        QVERIFY(!QFile::exists(path));

        t.rows.pop_back();
        t.copyOf.pop_back();
        QVERIFY2(gen::writeXls(t, path, &error), qPrintable(error));
        formats::xls::Workbook book;
        QVERIFY2(formats::xls::readWorkbookFile(path, &book, &error), qPrintable(error));
        QCOMPARE(int(book.sheets.size()), 1);
        QCOMPARE(book.sheets[0].cells.back().row, 65535u); // the header row and 65,535 rows
    }

    // Failed writes say why and leave an existing file as it was.
    void writeErrorsLoseNothing() {
        const gen::Table good = make(50, 8);
        const QString blocker = dir_.filePath("a-file");
        QVERIFY(writeFile(blocker, "not a folder"));
        QString error;
        for (const QString& ext : kFormats) {
            const QString p = blocker + "/clients." + ext;
            error.clear();
            const bool ok = writeAs(ext, good, p, &error);
            QVERIFY(!ok);
            QVERIFY2(!error.isEmpty(), qPrintable(ext));
        }

        const QString path = dir_.filePath("kept.dbf");
        QVERIFY2(gen::writeDbf(good, path, &error), qPrintable(error));
        const QByteArray before = bytesOf(path);

        gen::Table bad = good;
        bad.rows[10][Name] = QString::fromUtf8("张😀");
        QVERIFY(!gen::writeDbf(bad, path, &error));
        QVERIFY2(error.contains("GBK"), qPrintable(error));
        QCOMPARE(bytesOf(path), before);

        bad = good;
        bad.rows[3][Address] = QString(200, QChar(u'路')); // 400 GBK bytes
        QVERIFY(!gen::writeDbf(bad, path, &error));
        QVERIFY2(error.contains("254"), qPrintable(error));
        QCOMPARE(bytesOf(path), before);

        bad = good;
        bad.fields[Company] = "公司的全称和别名"; // 16 GBK bytes
        QVERIFY(!gen::writeDbf(bad, path, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(bytesOf(path), before);

        bad = good;
        bad.rows[5].removeLast();
        for (const QString& ext : kFormats) {
            const QString p = dir_.filePath("ragged." + ext);
            error.clear();
            const bool ok = writeAs(ext, bad, p, &error);
            QVERIFY(!ok);
            QVERIFY2(error.contains("6"), qPrintable(error)); // names the row
            QVERIFY(!QFile::exists(p));
        }

        // A good table replaces the file.
        QVERIFY2(gen::writeDbf(make(80, 9), path, &error), qPrintable(error));
        formats::dbf::Table table;
        QVERIFY2(table.open(path, {}, &error), qPrintable(error));
        QCOMPARE(table.recordCount(), 80u);
    }

private:
    QTemporaryDir dir_;
};

CHACHONG_TEST_MAIN(TestClientGen)
#include "tst_clientgen.moc"
