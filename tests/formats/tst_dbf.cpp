// The dBase/FoxPro format code on its own: value forms, writes that must not cut values, memo
// files, the journal, code pages and damaged input. Tables are built byte by byte here (so the
// expected bytes do not come from the code under test) or created with createTable and checked
// through their raw bytes.
#include "db/formats/dbf/dbf.h"
#include "db/formats/dbf/dbf_values.h"
#include "db/formats/textcodec.h"
#include "tests/support/testsupport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QStringEncoder>

using namespace formats::dbf;

namespace {

struct RawField {
    QByteArray name;
    char type;
    int length;
    int decimals = 0;
    quint8 flags = 0;
};

void putLe(QByteArray& b, int at, quint64 v, int n) {
    for (int i = 0; i < n; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

// A table as its bytes: header, descriptors, records (without the deletion flag unless
// given), end marker.
QByteArray buildDbf(quint8 version, quint8 ldid, const std::vector<RawField>& fields,
                    const std::vector<QByteArray>& records, bool withEof = true) {
    const bool vfp = version == 0x30 || version == 0x31;
    int recordLength = 1;
    for (const RawField& f : fields)
        recordLength += f.length;
    const int headerLength = 32 + 32 * int(fields.size()) + 1 + (vfp ? 263 : 0);
    QByteArray b(headerLength, '\0');
    b[0] = char(version);
    b[1] = 124;
    b[2] = 1;
    b[3] = 2;
    putLe(b, 4, records.size(), 4);
    putLe(b, 8, headerLength, 2);
    putLe(b, 10, recordLength, 2);
    b[29] = char(ldid);
    int at = 32;
    for (const RawField& f : fields) {
        b.replace(at, f.name.size(), f.name);
        b[at + 11] = f.type;
        b[at + 16] = char(f.length);
        b[at + 17] = char(f.decimals);
        b[at + 18] = char(f.flags);
        at += 32;
    }
    b[at] = '\x0D';
    for (const QByteArray& r : records) {
        QByteArray rec = r.size() == recordLength ? r : QByteArray(" ") + r;
        rec = rec.leftJustified(recordLength, ' ', true);
        b += rec;
    }
    if (withEof) b += '\x1A';
    return b;
}

std::unique_ptr<QBuffer> bufferOf(const QByteArray& bytes) {
    auto buf = std::make_unique<QBuffer>();
    buf->setData(bytes);
    buf->open(QIODevice::ReadWrite);
    return buf;
}

QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    putLe(b, 0, v, 4);
    return b;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString text(const Value& v) {
    return v.isNull() ? QStringLiteral("<NULL>") : v.text;
}

std::vector<std::optional<Value>> row(const Table& t, const std::map<QString, Value>& byName) {
    std::vector<std::optional<Value>> v(t.fields().size());
    for (size_t i = 0; i < t.fields().size(); ++i) {
        auto it = byName.find(t.fields()[i].name);
        if (it != byName.end()) v[i] = it->second;
    }
    return v;
}

Value T(const char* utf8) {
    return Value::fromText(QString::fromUtf8(utf8));
}

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

class TestDbf : public QObject {
    Q_OBJECT

private slots:
    void codePages();
    void fieldNamesTrimBlanksOnly();
    void guessesUndeclaredCodePage_data();
    void guessesUndeclaredCodePage();
    void guessAgreesWithDeclaredSamples();
    void readsValueForms_data();
    void readsValueForms();
    void nullFlagsAndVarchar();
    void refusesValuesThatDoNotFit_data();
    void refusesValuesThatDoNotFit();
    void writesValueForms_data();
    void writesValueForms();
    void neverSplitsMultiByteCharacters();
    void quickDecoderAgreesWithTheCodec();
    void autoIncrement();
    void memoFiles_data();
    void memoFiles();
    void missingMemoFile();
    void memoDamage();
    void memoTextEndsBeforeNul();
    void journalRestoresBytes();
    void headerAndEndMarker();
    void recordLengthOneShort_data();
    void recordLengthOneShort();
    void damagedTables_data();
    void damagedTables();
    void companionFilesIgnoreCase();
    void createRefusesBadDefinitions();
};

void TestDbf::codePages() {
    QCOMPARE(codePageForLanguageDriver(0x7A).number, 936);
    QCOMPARE(codePageForLanguageDriver(0x4D).number, 936);
    QCOMPARE(codePageForLanguageDriver(0x03).number, 1252);
    QCOMPARE(codePageForLanguageDriver(0x57).number, 1252);
    QCOMPARE(codePageForLanguageDriver(0xC9).number, 1251);
    QCOMPARE(codePageForLanguageDriver(0x01).number, 437);
    QCOMPARE(codePageForLanguageDriver(0x02).number, 850);
    QCOMPARE(codePageForLanguageDriver(0x4E).number, 949);
    QCOMPARE(codePageForLanguageDriver(0x4F).number, 950);
    QCOMPARE(codePageForLanguageDriver(0x1B).number, 437);
    QCOMPARE(codePageForLanguageDriver(0x26).number, 866);
    QVERIFY(!codePageForLanguageDriver(0x00).isValid());
    QVERIFY(!codePageForLanguageDriver(0xFE).isValid());
    // Every byte of the table decodes with a codec this Qt has.
    for (int b = 1; b < 256; ++b) {
        const CodePage cp = codePageForLanguageDriver(quint8(b));
        if (cp.number) QVERIFY2(cp.isValid(), qPrintable(QString::number(b, 16)));
    }
    QCOMPARE(languageDriverForCodePage(936), quint8(0x7A));
    QCOMPARE(languageDriverForCodePage(1252), quint8(0x03));
    QCOMPARE(languageDriverForCodePage(65001), quint8(0));

    QCOMPARE(parseCodePage(QStringLiteral("936")).number, 936);
    QCOMPARE(parseCodePage(QStringLiteral("GBK")).number, 936);
    QCOMPARE(parseCodePage(QStringLiteral("cp936")).number, 936);
    QCOMPARE(parseCodePage(QStringLiteral(" UTF-8\r\n")).number, 65001);
    QCOMPARE(parseCodePage(QStringLiteral("65001")).number, 65001);
    QCOMPARE(parseCodePage(QStringLiteral("windows-1252")).number, 1252);
    QCOMPARE(parseCodePage(QStringLiteral("ANSI 1251")).number, 1251);
    QCOMPARE(parseCodePage(QStringLiteral("8859_1")).readCodec, QByteArray("ISO-8859-1"));
    QCOMPARE(parseCodePage(QStringLiteral("88591")).readCodec, QByteArray("ISO-8859-1"));
    QVERIFY(parseCodePage(QStringLiteral("KOI8-R")).isValid());
    QVERIFY(!parseCodePage(QStringLiteral("no-such-code-page")).isValid());
    QVERIFY(!parseCodePage(QStringLiteral("99999")).isValid());
    QVERIFY(!parseCodePage(QString()).isValid());
    // GBK text reads as GB18030, new text is written as GBK.
    QCOMPARE(defaultCodePage().readCodec, QByteArray("GB18030"));
    QCOMPARE(defaultCodePage().writeCodec, QByteArray("GBK"));
}

void TestDbf::fieldNamesTrimBlanksOnly() {
    // GBK names: 姓名 and a full-width blank, two full-width blanks, a tab, blanks only. Only
    // U+0020 blanks are trimmed; a name of nothing else is made up from the position.
    const QByteArray bytes = buildDbf(0x03, 0x7A,
                                      {{"\xd0\xd5\xc3\xfb\xa1\xa1", 'C', 2},
                                       {"\xa1\xa1\xa1\xa1", 'C', 2},
                                       {"\tA ", 'C', 2},
                                       {"   ", 'C', 2},
                                       {" B", 'C', 2}},
                                      {"1122334455"});
    Table t;
    QString error;
    QVERIFY2(t.open(bufferOf(bytes), nullptr, {}, &error), qPrintable(error));
    QStringList names;
    for (const Field& f : t.fields())
        names << f.name;
    QCOMPARE(names, (QStringList{QString::fromUtf8("姓名\u3000"), QString::fromUtf8("\u3000\u3000"),
                                 "\tA", "FIELD4", "B"}));
}

// A table that declares no code page (language driver 0, no .cpg file) is read in the one its
// text is in: client lists written in each code page, their field name included; plain ASCII
// stays GBK; a code page given by the caller wins.
void TestDbf::guessesUndeclaredCodePage_data() {
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("GBK") << 936 << U("姓名")
                         << QStringList{U("张伟"), U("北京市朝阳区建国路88号"),
                                        U("上海华联商贸有限公司"), U("李秀英")};
    QTest::newRow("Big5") << 950 << U("姓名")
                          << QStringList{U("陳志明"), U("臺北市大安區忠孝東路四段"),
                                         U("國泰人壽保險股份有限公司"), U("繁體國語")};
    QTest::newRow("UTF-8") << 65001 << U("地址")
                           << QStringList{U("王芳"), U("广州市天河区体育西路"), U("國語"),
                                          U("José")};
    QTest::newRow("cp850") << 850 << U("NAME")
                           << QStringList{U("Müller"), U("François Lefèvre"), U("Søren Østergaard"),
                                          U("Peña, Ávila")};
    QTest::newRow("cp866") << 866 << U("ФАМИЛИЯ")
                           << QStringList{U("Иванов Иван"), U("Москва, ул. Тверская, д. 7"),
                                          U("ООО Ромашка")};
    QTest::newRow("cp1252") << 1252 << U("NAME")
                            << QStringList{U("José García"), U("Zürich"), U("Café Crème"),
                                           U("O'Brien & Söhne")};
    QTest::newRow("cp1251") << 1251 << U("NAME")
                            << QStringList{U("Петров Пётр"), U("Санкт-Петербург")};
    QTest::newRow("ASCII") << 936 << U("NAME") << QStringList{U("Smith"), U("12 Main St.")};
}

void TestDbf::guessesUndeclaredCodePage() {
    QFETCH(int, codePage);
    QFETCH(QString, name);
    QFETCH(QStringList, values);
    const QByteArray codec = formats::codecForCodePage(codePage);
    QStringEncoder encoder(codec.constData(), QStringEncoder::Flag::Stateless);
    std::vector<QByteArray> records;
    for (const QString& v : values) {
        records.push_back(encoder.encode(v));
        QVERIFY(!encoder.hasError());
    }
    const QByteArray bytes = buildDbf(0x03, 0x00, {{encoder.encode(name), 'C', 60}}, records);
    Table t;
    QString error;
    QVERIFY2(t.open(bufferOf(bytes), nullptr, {}, &error), qPrintable(error));
    QCOMPARE(t.codePage().number, codePage);
    QCOMPARE(t.fields()[0].name, name);
    QByteArray record;
    for (quint32 r = 1; r <= t.recordCount(); ++r) {
        QVERIFY(t.readRecord(r, &record));
        QCOMPARE(t.value(record, 0).text, values[int(r - 1)]);
    }
    // The caller's code page wins over the guess.
    OpenOptions latin;
    latin.fallbackCodePage = parseCodePage(QStringLiteral("1252"));
    QVERIFY(t.open(bufferOf(bytes), nullptr, latin, &error));
    QCOMPARE(t.codePage().number, 1252);
}

// The real tables that declare their code page and hold text above ASCII: the guess over their
// text finds the code page they declare; those that declare none read as their authors wrote
// them (GBK, UTF-8).
void TestDbf::guessAgreesWithDeclaredSamples() {
    QDirIterator it(testsupport::sample(QStringLiteral("dbf")), {"*.dbf", "*.DBF"}, QDir::Files,
                    QDirIterator::Subdirectories);
    int compared = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        Table t;
        QString error;
        QVERIFY2(t.open(path, {}, &error), qPrintable(error));
        const std::vector<QByteArray> samples = t.textSamples();
        if (samples.empty()) {
            QCOMPARE(guessCodePage(samples).number, 936); // ASCII: as ever
            continue;
        }
        const QString name =
            QDir(testsupport::sample(QStringLiteral("dbf"))).relativeFilePath(path);
        if (t.codePageOrigin() == CodePageOrigin::Guessed) {
            const int expected = name == QLatin1String("mapshaper/utf8.dbf") ? 65001 : 936;
            QVERIFY2(t.codePage().number == expected, qPrintable(name));
        } else {
            QCOMPARE(int(t.codePageOrigin()), int(CodePageOrigin::LanguageDriver));
            QVERIFY2(guessCodePage(samples).number == t.codePage().number,
                     qPrintable(QStringLiteral("%1: guessed %2, declared %3")
                                    .arg(name)
                                    .arg(guessCodePage(samples).number)
                                    .arg(t.codePage().number)));
        }
        ++compared;
    }
    QVERIFY(compared >= 4);
}

void TestDbf::readsValueForms_data() {
    QTest::addColumn<char>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");

    QTest::newRow("C trailing blanks") << 'C' << 8 << 0 << QByteArray("  ab    ") << "  ab";
    QTest::newRow("C NUL padded") << 'C' << 8 << 0 << QByteArray("ab\0\0\0\0\0\0", 8) << "ab";
    QTest::newRow("C NUL then junk") << 'C' << 8 << 0 << QByteArray("ab\0xyz  ", 8) << "ab";
    QTest::newRow("C blank is empty") << 'C' << 4 << 0 << QByteArray("    ") << "";
    QTest::newRow("C GBK") << 'C' << 8 << 0 << QByteArray("\xbc\xf2\xcc\xe5\xb9\xfa  ")
                           << QString::fromUtf8("简体国");
    QTest::newRow("N integer") << 'N' << 5 << 0 << QByteArray("   12") << "12";
    QTest::newRow("N keeps decimals") << 'N' << 8 << 2 << QByteArray("   -3.50") << "-3.50";
    QTest::newRow("N leading point") << 'N' << 5 << 2 << QByteArray("  .50") << "0.50";
    QTest::newRow("N negative point") << 'N' << 5 << 2 << QByteArray(" -.50") << "-0.50";
    QTest::newRow("N blank") << 'N' << 5 << 0 << QByteArray("     ") << "<NULL>";
    QTest::newRow("N overflow stars") << 'N' << 5 << 0 << QByteArray("*****") << "<NULL>";
    QTest::newRow("N NUL padded") << 'N' << 5 << 0 << QByteArray("42\0\0\0", 5) << "42";
    QTest::newRow("F exponent kept") << 'F' << 10 << 2 << QByteArray("  1.5E+003") << "1.5E+003";
    QTest::newRow("D") << 'D' << 8 << 0 << QByteArray("19991231") << "1999-12-31";
    QTest::newRow("D blank") << 'D' << 8 << 0 << QByteArray("        ") << "<NULL>";
    QTest::newRow("D zeros") << 'D' << 8 << 0 << QByteArray("00000000") << "<NULL>";
    QTest::newRow("D not a date shown as stored")
        << 'D' << 8 << 0 << QByteArray("19990231") << "19990231";
    QTest::newRow("L T") << 'L' << 1 << 0 << QByteArray("T") << "True";
    QTest::newRow("L y") << 'L' << 1 << 0 << QByteArray("y") << "True";
    QTest::newRow("L F") << 'L' << 1 << 0 << QByteArray("F") << "False";
    QTest::newRow("L n") << 'L' << 1 << 0 << QByteArray("n") << "False";
    QTest::newRow("L unknown") << 'L' << 1 << 0 << QByteArray("?") << "<NULL>";
    QTest::newRow("L blank") << 'L' << 1 << 0 << QByteArray(" ") << "<NULL>";
    QTest::newRow("I") << 'I' << 4 << 0 << le32(quint32(-1234567)) << "-1234567";
    QTest::newRow("I max") << 'I' << 4 << 0 << le32(0x7fffffff) << "2147483647";
    QByteArray y(8, '\0');
    putLe(y, 0, 185000, 8);
    QTest::newRow("Y 18.5") << 'Y' << 8 << 4 << y << "18.5";
    putLe(y, 0, 180000, 8);
    QTest::newRow("Y 18") << 'Y' << 8 << 4 << y << "18";
    putLe(y, 0, quint64(-1), 8);
    QTest::newRow("Y -0.0001") << 'Y' << 8 << 4 << y << "-0.0001";
    putLe(y, 0, quint64(1) << 63, 8);
    QTest::newRow("Y minimum") << 'Y' << 8 << 4 << y << "-922337203685477.5808";
    double dv = 0.1;
    QTest::newRow("B 0.1") << 'B' << 8 << 0 << QByteArray(reinterpret_cast<char*>(&dv), 8) << "0.1";
    dv = -2.5e-10;
    QTest::newRow("B small") << 'B' << 8 << 0 << QByteArray(reinterpret_cast<char*>(&dv), 8)
                             << "-2.5e-10";
    // 2451545 is 2000-01-01.
    QTest::newRow("T") << 'T' << 8 << 0 << le32(2451545) + le32((13 * 3600 + 35 * 60 + 39) * 1000)
                       << "2000-01-01 13:35:39";
    QTest::newRow("T midnight") << 'T' << 8 << 0 << le32(2451545) + le32(0)
                                << "2000-01-01 00:00:00";
    QTest::newRow("T rounds to the second")
        << 'T' << 8 << 0 << le32(2451545) + le32(1499) << "2000-01-01 00:00:01";
    QTest::newRow("T rounds into the next day")
        << 'T' << 8 << 0 << le32(2451545) + le32(86399600) << "2000-01-02 00:00:00";
    QTest::newRow("T empty") << 'T' << 8 << 0 << QByteArray(8, '\0') << "<NULL>";
    QTest::newRow("T blank") << 'T' << 8 << 0 << QByteArray(8, ' ') << "<NULL>";
    QTest::newRow("T damaged time") << 'T' << 8 << 0 << le32(2451545) + le32(90000000) << "<NULL>";
}

void TestDbf::readsValueForms() {
    QFETCH(char, type);
    QFETCH(int, length);
    QFETCH(int, decimals);
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    const QByteArray bytes =
        buildDbf(0x30, 0x7A, {{"F", type, length, decimals}}, {QByteArray(" ") + stored});
    Table t;
    QString error;
    QVERIFY2(t.open(bufferOf(bytes), nullptr, {}, &error), qPrintable(error));
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(text(t.value(rec, 0)), shown);
}

void TestDbf::nullFlagsAndVarchar() {
    // Visual FoxPro numbers the _NullFlags bits over the fields that need one: A (nullable) bit
    // 0, V (varchar) its length bit 1, W (nullable varchar) bits 2 and 3, C (not nullable)
    // none, N (nullable) bit 4.
    const std::vector<RawField> fields{{"A", 'C', 4, 0, 0x02}, {"V", 'V', 6},
                                       {"W", 'V', 6, 0, 0x02}, {"C", 'C', 3},
                                       {"N", 'N', 4, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
    auto rec = [](std::initializer_list<QByteArray> parts, quint8 flags) {
        QByteArray r(" ");
        for (const QByteArray& p : parts)
            r += p;
        return r + char(flags);
    };
    const QByteArray z6(6, '\0');
    const QByteArray bytes = buildDbf(
        0x30, 0x03, fields,
        {// V holds 2 bytes (length bit set), W is full length
         rec({"abcd", QByteArray("ab\0\0\0\x02", 6), QByteArray("xyz\0\0\0", 6), "xyz", "  12"},
             0x02),
         // A, W and N are NULL; V is full length
         rec({"    ", "full!!", QByteArray("xy\0\0\0\x02", 6), "   ", "1234"}, 0x1D),
         // V and W are empty strings (length bit set, length 0)
         rec({"abcd", z6, z6, "   ", "    "}, 0x06)});
    Table t;
    QString error;
    QVERIFY2(t.open(bufferOf(bytes), nullptr, {}, &error), qPrintable(error));
    QCOMPARE(t.visibleFields().size(), size_t(5));
    QCOMPARE(t.fields()[0].nullBit, 0);
    QCOMPARE(t.fields()[1].varLengthBit, 1);
    QCOMPARE(t.fields()[2].varLengthBit, 2);
    QCOMPARE(t.fields()[2].nullBit, 3);
    QCOMPARE(t.fields()[3].nullBit, -1);
    QCOMPARE(t.fields()[4].nullBit, 4);
    QByteArray r;
    QVERIFY(t.readRecord(1, &r));
    QCOMPARE(text(t.value(r, 0)), QStringLiteral("abcd"));
    QCOMPARE(text(t.value(r, 1)), QStringLiteral("ab"));
    QCOMPARE(t.value(r, 2).text, QString::fromLatin1("xyz\0\0\0", 6));
    QCOMPARE(text(t.value(r, 4)), QStringLiteral("12"));
    QVERIFY(t.readRecord(2, &r));
    QCOMPARE(text(t.value(r, 0)), QStringLiteral("<NULL>"));
    QCOMPARE(text(t.value(r, 1)), QStringLiteral("full!!"));
    QCOMPARE(text(t.value(r, 2)), QStringLiteral("<NULL>"));
    QCOMPARE(text(t.value(r, 4)), QStringLiteral("<NULL>"));
    QVERIFY(t.readRecord(3, &r));
    QCOMPARE(text(t.value(r, 1)), QString());
    QCOMPARE(text(t.value(r, 2)), QString());

    // Writing sets the same bits.
    QVERIFY2(t.updateRecord(3,
                            row(t, {{QStringLiteral("A"), Value::null()},
                                    {QStringLiteral("V"), T("q")},
                                    {QStringLiteral("W"), T("sixsix")},
                                    {QStringLiteral("N"), T("")}}),
                            &error),
             qPrintable(error));
    QVERIFY(t.readRecord(3, &r));
    QCOMPARE(quint8(r[r.size() - 1]), quint8(0x01 | 0x02 | 0x10)); // A null, V short, N null
    QCOMPARE(r.mid(11, 6), QByteArray("sixsix"));                  // W full: no length byte
    QCOMPARE(r[10], char(1));                                      // V holds one byte
    QCOMPARE(text(t.value(r, 1)), QStringLiteral("q"));
    QCOMPARE(text(t.value(r, 2)), QStringLiteral("sixsix"));
    QCOMPARE(text(t.value(r, 4)), QStringLiteral("<NULL>"));
    QVERIFY(!t.updateRecord(3, row(t, {{QStringLiteral("V"), T("sevenxx")}}), &error));
    QVERIFY(error.contains(QStringLiteral("6 字节")));
}

void TestDbf::refusesValuesThatDoNotFit_data() {
    QTest::addColumn<char>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");

    QTest::newRow("C too wide") << 'C' << 5 << 0 << "abcdef"
                                << "超出字段宽度（5 字节）";
    QTest::newRow("C GBK too wide")
        << 'C' << 5 << 0 << QString::fromUtf8("王小明") << "超出字段宽度";
    QTest::newRow("C not in GBK") << 'C' << 10 << 0 << QString::fromUtf8("a•b")
                                  << "无法表示的字符“•”";
    QTest::newRow("C beyond GBK") << 'C' << 10 << 0 << QString::fromUtf8("𠀀") << "无法表示的字符";
    QTest::newRow("N too wide") << 'N' << 3 << 0 << "1000"
                                << "超出字段宽度（3 位）";
    QTest::newRow("N negative too wide") << 'N' << 3 << 0 << "-100"
                                         << "超出字段宽度";
    QTest::newRow("N too many decimals") << 'N' << 8 << 2 << "3.14159"
                                         << "小数位数超过字段的 2 位";
    QTest::newRow("N decimals into integer") << 'N' << 5 << 0 << "12.5"
                                             << "小数位数";
    QTest::newRow("N not a number") << 'N' << 5 << 0 << "12abc"
                                    << "不是数字";
    QTest::newRow("N thousands separator") << 'N' << 8 << 0 << "1,000"
                                           << "不是数字";
    QTest::newRow("N huge exponent") << 'N' << 8 << 0 << "1e999999"
                                     << "不是数字";
    QTest::newRow("I too large") << 'I' << 4 << 0 << "2147483648"
                                 << "超出字段的取值范围";
    QTest::newRow("I fraction") << 'I' << 4 << 0 << "1.5"
                                << "整数";
    QTest::newRow("Y too many decimals") << 'Y' << 8 << 4 << "1.00001"
                                         << "4 位";
    QTest::newRow("Y too large") << 'Y' << 8 << 4 << "922337203685477.5808"
                                 << "超出货币字段的范围";
    QTest::newRow("B not a number") << 'B' << 8 << 0 << "nan"
                                    << "不是数字";
    QTest::newRow("B overflow") << 'B' << 8 << 0 << "1e400"
                                << "不是数字";
    QTest::newRow("D impossible") << 'D' << 8 << 0 << "2023-02-30"
                                  << "不是有效日期";
    QTest::newRow("D garbage") << 'D' << 8 << 0 << "yesterday"
                               << "不是有效日期";
    QTest::newRow("D with a time") << 'D' << 8 << 0 << "2023-02-03 10:00:00"
                                   << "不能保存时间";
    QTest::newRow("T bad time") << 'T' << 8 << 0 << "2023-02-03 25:00:00"
                                << "日期时间";
    QTest::newRow("L word") << 'L' << 1 << 0 << "maybe"
                            << "不是逻辑值";
}

void TestDbf::refusesValuesThatDoNotFit() {
    QFETCH(char, type);
    QFETCH(int, length);
    QFETCH(int, decimals);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const QByteArray bytes = buildDbf(0x30, 0x7A, {{"F", type, length, decimals}, {"K", 'C', 2}},
                                      {QByteArray(" ") + QByteArray(length, ' ') + "ok"});
    auto buffer = bufferOf(bytes);
    QBuffer* raw = buffer.get();
    Table t;
    QString error;
    QVERIFY(t.open(std::move(buffer), nullptr, {}, &error));
    QVERIFY(!t.updateRecord(1, {Value::fromText(value), T("zz")}, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("字段 F")), qPrintable(error));
    QVERIFY(!t.appendRecord({Value::fromText(value), T("zz")}, nullptr, &error));
    QVERIFY(t.flush(&error));
    QCOMPARE(raw->data(), bytes); // nothing written, not even the other field
    QCOMPARE(t.recordCount(), 1u);
}

void TestDbf::writesValueForms_data() {
    QTest::addColumn<char>("type");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("C exact width") << 'C' << 4 << 0 << "abcd" << QByteArray("abcd") << "abcd";
    QTest::newRow("C leading blanks") << 'C' << 4 << 0 << " ab" << QByteArray(" ab ") << " ab";
    QTest::newRow("C GBK") << 'C' << 6 << 0 << QString::fromUtf8("王小明")
                           << QByteArray("\xcd\xf5\xd0\xa1\xc3\xf7") << QString::fromUtf8("王小明");
    QTest::newRow("C apostrophe") << 'C' << 8 << 0 << "O'Brien" << QByteArray("O'Brien ")
                                  << "O'Brien";
    QTest::newRow("N pads decimals") << 'N' << 8 << 2 << "3.5" << QByteArray("    3.50") << "3.50";
    QTest::newRow("N negative") << 'N' << 6 << 2 << "-0.5" << QByteArray(" -0.50") << "-0.50";
    QTest::newRow("N trailing zero decimals")
        << 'N' << 4 << 0 << "12.000" << QByteArray("  12") << "12";
    QTest::newRow("N exponent") << 'N' << 6 << 0 << "1.2e3" << QByteArray("  1200") << "1200";
    QTest::newRow("N point only fits") << 'N' << 3 << 2 << "0.25" << QByteArray(".25") << "0.25";
    QTest::newRow("N empty is blank") << 'N' << 4 << 0 << "" << QByteArray("    ") << "<NULL>";
    QTest::newRow("I") << 'I' << 4 << 0 << "-2147483648" << le32(0x80000000u) << "-2147483648";
    QByteArray y(8, '\0');
    putLe(y, 0, 123450, 8);
    QTest::newRow("Y") << 'Y' << 8 << 4 << "12.345" << y << "12.345";
    double dv = 0.1;
    QTest::newRow("B") << 'B' << 8 << 0 << "0.1" << QByteArray(reinterpret_cast<char*>(&dv), 8)
                       << "0.1";
    QTest::newRow("D") << 'D' << 8 << 0 << "2024-02-29" << QByteArray("20240229") << "2024-02-29";
    QTest::newRow("D slashes") << 'D' << 8 << 0 << "2024/2/9" << QByteArray("20240209")
                               << "2024-02-09";
    QTest::newRow("D compact") << 'D' << 8 << 0 << "20240209" << QByteArray("20240209")
                               << "2024-02-09";
    QTest::newRow("D midnight") << 'D' << 8 << 0 << "2024-02-09 00:00:00" << QByteArray("20240209")
                                << "2024-02-09";
    QTest::newRow("T") << 'T' << 8 << 0 << "2000-01-01 13:35:39"
                       << le32(2451545) + le32((13 * 3600 + 35 * 60 + 39) * 1000)
                       << "2000-01-01 13:35:39";
    QTest::newRow("T date only") << 'T' << 8 << 0 << "2000-01-01" << le32(2451545) + le32(0)
                                 << "2000-01-01 00:00:00";
    QTest::newRow("L true") << 'L' << 1 << 0 << "True" << QByteArray("T") << "True";
    QTest::newRow("L 0") << 'L' << 1 << 0 << "0" << QByteArray("F") << "False";
    QTest::newRow("L Chinese") << 'L' << 1 << 0 << QString::fromUtf8("是") << QByteArray("T")
                               << "True";
    QTest::newRow("L empty") << 'L' << 1 << 0 << "" << QByteArray(" ") << "<NULL>";
}

void TestDbf::writesValueForms() {
    QFETCH(char, type);
    QFETCH(int, length);
    QFETCH(int, decimals);
    QFETCH(QString, value);
    QFETCH(QByteArray, stored);
    QFETCH(QString, readBack);
    const QByteArray bytes = buildDbf(0x30, 0x7A, {{"F", type, length, decimals}}, {});
    auto buffer = bufferOf(bytes);
    QBuffer* raw = buffer.get();
    Table t;
    QString error;
    QVERIFY(t.open(std::move(buffer), nullptr, {}, &error));
    quint32 recno = 0;
    QVERIFY2(t.appendRecord({Value::fromText(value)}, &recno, &error), qPrintable(error));
    QCOMPARE(recno, 1u);
    QVERIFY(t.flush(&error));
    const int dataStart = 32 + 32 + 1 + 263;
    QCOMPARE(raw->data().mid(dataStart, 1 + length), QByteArray(" ") + stored);
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(text(t.value(rec, 0)), readBack);
}

void TestDbf::neverSplitsMultiByteCharacters() {
    // 45 bytes: 22 GBK characters fill 44, one ASCII letter fits, a second one does not.
    const QString chinese = QString::fromUtf8("设计编号审核信息是否打印牡丹江林口朝阳经营区");
    QCOMPARE(chinese.size(), 22);
    const QByteArray bytes = buildDbf(0x30, 0x7A, {{"NAME", 'C', 45}}, {});
    Table t;
    QString error;
    QVERIFY(t.open(bufferOf(bytes), nullptr, {}, &error));
    QVERIFY2(t.appendRecord({Value::fromText(chinese + QLatin1Char('a'))}, nullptr, &error),
             qPrintable(error));
    QVERIFY(!t.appendRecord({Value::fromText(chinese + QStringLiteral("ab"))}, nullptr, &error));
    QVERIFY(
        !t.appendRecord({Value::fromText(QStringLiteral("a") + chinese + QString::fromUtf8("林"))},
                        nullptr, &error));
    QCOMPARE(t.recordCount(), 1u);
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(t.value(rec, 0).text, chinese + QLatin1Char('a'));
}

void TestDbf::autoIncrement() {
    // dbase_31.dbf keeps "next value 78, step 1" in bytes 19-23 of PRODUCTID's descriptor.
    QByteArray bytes = buildDbf(0x31, 0x03, {{"ID", 'I', 4, 0, 0x0C}, {"NAME", 'C', 5}}, {});
    putLe(bytes, 32 + 19, 78, 4);
    bytes[32 + 23] = 2;
    auto buffer = bufferOf(bytes);
    QBuffer* raw = buffer.get();
    Table t;
    QString error;
    QVERIFY(t.open(std::move(buffer), nullptr, {}, &error));
    QVERIFY(t.appendRecord({std::nullopt, T("a")}, nullptr, &error));
    QVERIFY(t.appendRecord({Value::null(), T("b")}, nullptr, &error));
    QVERIFY(t.appendRecord({T("5"), T("c")}, nullptr, &error));
    QVERIFY(!t.appendRecord({std::nullopt, T("toolong")}, nullptr, &error));
    QVERIFY(t.flush(&error));
    QByteArray rec;
    QStringList ids;
    for (quint32 i = 1; i <= t.recordCount(); ++i) {
        QVERIFY(t.readRecord(i, &rec));
        ids << t.value(rec, 0).text;
    }
    QCOMPARE(ids, (QStringList{"78", "80", "5"}));
    // The counter in the header moved on, but not for the refused record.
    QCOMPARE(quint8(raw->data()[32 + 19]), quint8(82));
}

void TestDbf::memoFiles_data() {
    QTest::addColumn<int>("flavour");
    QTest::addColumn<QString>("memoName");
    QTest::newRow("dBase III") << int(Flavour::DBase3) << "t.dbt";
    QTest::newRow("dBase IV") << int(Flavour::DBase4) << "t.dbt";
    QTest::newRow("FoxPro 2") << int(Flavour::FoxPro2) << "t.fpt";
    QTest::newRow("Visual FoxPro") << int(Flavour::VisualFoxPro) << "t.fpt";
}

void TestDbf::memoFiles() {
    QFETCH(int, flavour);
    QFETCH(QString, memoName);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    QString error;
    QVERIFY2(createTable(path, Flavour(flavour),
                         {{QStringLiteral("NAME"), 'C', 10}, {QStringLiteral("NOTE"), 'M'}},
                         defaultCodePage(), &error),
             qPrintable(error));
    QVERIFY(QFile::exists(dir.filePath(memoName)));
    const QString longText = QString::fromUtf8("第一行\r\n") + QString(700, QLatin1Char('x'));
    {
        Table t;
        QVERIFY2(t.open(path, {}, &error), qPrintable(error));
        QVERIFY(t.hasMemoFile());
        QVERIFY(t.appendRecord({T("a"), T("short")}, nullptr, &error));
        QVERIFY(t.appendRecord({T("b"), Value::fromText(longText)}, nullptr, &error));
        QVERIFY(t.appendRecord({T("c"), T("")}, nullptr, &error));
        QVERIFY(t.appendRecord({T("d"), Value::null()}, nullptr, &error));
        QVERIFY2(t.updateRecord(1, {std::nullopt, T("changed")}, &error), qPrintable(error));
        QVERIFY(t.flush(&error));
    }
    const QByteArray memo = fileBytes(dir.filePath(memoName));
    // The header's next free block points just past the last block written.
    const bool fox = flavour >= int(Flavour::FoxPro2);
    const quint32 next = fox ? quint32(quint8(memo[0])) << 24 | quint8(memo[1]) << 16 |
                                   quint8(memo[2]) << 8 | quint8(memo[3])
                             : quint32(quint8(memo[0])) | quint8(memo[1]) << 8 |
                                   quint8(memo[2]) << 16 | quint8(memo[3]) << 24;
    const int blockSize = fox ? quint8(memo[6]) << 8 | quint8(memo[7]) : 512;
    QCOMPARE(qint64(next) * blockSize, qint64(memo.size()));
    QVERIFY(memo.contains("changed"));
    QVERIFY(memo.contains("short")); // the old block stays, the record points elsewhere

    Table t;
    QVERIFY(t.open(path, {}, &error));
    QByteArray rec;
    QStringList notes;
    for (quint32 i = 1; i <= t.recordCount(); ++i) {
        QVERIFY(t.readRecord(i, &rec));
        notes << text(t.value(rec, 1));
    }
    QCOMPARE(notes, (QStringList{"changed", longText, "", ""}));
}

void TestDbf::missingMemoFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dbf"));
    QString error;
    QVERIFY(createTable(path, Flavour::VisualFoxPro,
                        {{QStringLiteral("NAME"), 'C', 10}, {QStringLiteral("NOTE"), 'M'}},
                        defaultCodePage(), &error));
    {
        Table t;
        QVERIFY(t.open(path, {}, &error));
        QVERIFY(t.appendRecord({T("a"), T("memo text")}, nullptr, &error));
    }
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("t.fpt"))));
    Table t;
    QVERIFY2(t.open(path, {}, &error), qPrintable(error)); // the table still opens
    QVERIFY(!t.hasMemoFile());
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(t.value(rec, 0).text, QStringLiteral("a"));
    QVERIFY(t.value(rec, 1).isNull());
    QVERIFY(!t.updateRecord(1, {std::nullopt, T("new memo")}, &error));
    QVERIFY(error.contains(QStringLiteral("备注文件缺失")));
    QVERIFY2(t.updateRecord(1, {T("b"), std::nullopt}, &error), qPrintable(error));
    QVERIFY(t.appendRecord({T("c"), Value::null()}, nullptr, &error));
}

void TestDbf::memoDamage() {
    // Pointers past the end, a length past the end, a dBase III memo without its end byte.
    const QByteArray dbf = buildDbf(0x83, 0, {{"M", 'M', 10}},
                                    {" 999999999", "         1", "         2", "abc       "});
    QByteArray dbt(512, '\0');
    dbt[0] = 3;
    dbt += QByteArray("first\x1A\x1A").leftJustified(512, '\0');
    dbt += "runs to the end";
    Table t;
    QString error;
    QVERIFY(t.open(bufferOf(dbf), bufferOf(dbt), {}, &error));
    QByteArray rec;
    QStringList values;
    for (quint32 i = 1; i <= 4; ++i) {
        QVERIFY(t.readRecord(i, &rec));
        values << text(t.value(rec, 0));
    }
    QCOMPARE(values, (QStringList{"<NULL>", "first", "runs to the end", "<NULL>"}));

    QByteArray fpt(512, '\0');
    fpt[3] = 9;
    fpt[7] = 64;
    fpt += QByteArray("\0\0\0\x01\x7f\xff\xff\xff"
                      "abc",
                      11); // claims 2 GB
    const QByteArray vfp = buildDbf(0x30, 0x03, {{"M", 'M', 4}}, {le32(8), le32(100)});
    Table v;
    QVERIFY(v.open(bufferOf(vfp), bufferOf(fpt), {}, &error));
    QVERIFY(v.readRecord(1, &rec));
    QCOMPARE(text(v.value(rec, 0)), QStringLiteral("abc"));
    QVERIFY(v.readRecord(2, &rec));
    QVERIFY(v.value(rec, 0).isNull());
}

void TestDbf::memoTextEndsBeforeNul() {
    // Visual FoxPro memo blocks (type, big-endian length, data) whose stored length counts a
    // NUL after the text, as some programs write them; a blob keeps every byte.
    QByteArray fpt(512, '\0');
    fpt[3] = 13; // next free block
    fpt[7] = 64; // block size
    const auto block = [&](int type, const QByteArray& data) {
        QByteArray b(8, '\0');
        b[3] = char(type);
        b[7] = char(data.size());
        fpt += (b + data).leftJustified(64, '\0');
    };
    block(1, QByteArray("\xcd\xf5\xd0\xa1\xc3\xf7\0", 7)); // 王小明 in GBK, then a NUL
    block(1, QByteArray("a\0b\0\0", 5));
    block(1, QByteArray("plain"));
    block(1, QByteArray("\0", 1));
    block(2, QByteArray("\x01\0", 2));
    const QByteArray dbf =
        buildDbf(0x30, 0x7A, {{"NOTE", 'M', 4}, {"DATA", 'W', 4}},
                 {le32(8) + le32(12), le32(9) + le32(0), le32(10) + le32(0), le32(11) + le32(0)});
    Table t;
    QString error;
    QVERIFY2(t.open(bufferOf(dbf), bufferOf(fpt), {}, &error), qPrintable(error));
    QStringList notes;
    QByteArray rec;
    for (quint32 r = 1; r <= t.recordCount(); ++r) {
        QVERIFY(t.readRecord(r, &rec));
        notes << text(t.value(rec, 0));
    }
    QCOMPARE(notes, (QStringList{QString::fromUtf8("王小明"), QString::fromLatin1("a\0b", 3),
                                 QStringLiteral("plain"), QString()}));
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(t.value(rec, 1), Value::fromBytes(QByteArray("\x01\0", 2)));
}

void TestDbf::journalRestoresBytes() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.dbf"));
    QString error;
    QVERIFY(createTable(path, Flavour::DBase3,
                        {{QStringLiteral("NAME"), 'C', 10}, {QStringLiteral("NOTE"), 'M'}},
                        defaultCodePage(), &error));
    {
        Table t;
        QVERIFY(t.open(path, {}, &error));
        QVERIFY(t.appendRecord({T("one"), T("memo one")}, nullptr, &error));
        QVERIFY(t.appendRecord({T("two"), T("memo two")}, nullptr, &error));
        QVERIFY(t.flush(&error));
    }
    const QByteArray dbfBefore = fileBytes(path);
    const QByteArray dbtBefore = fileBytes(dir.filePath(QStringLiteral("j.dbt")));

    Table t;
    QVERIFY(t.open(path, {}, &error));
    QVERIFY(t.beginTransaction(&error));
    QVERIFY(t.updateRecord(1, {T("uno"), T("new memo")}, &error));
    t.savepoint(0);
    QVERIFY(t.appendRecord({T("three"), T("memo three")}, nullptr, &error));
    QVERIFY(t.deleteRecord(2, &error));
    QVERIFY(t.flush(&error)); // even flushed changes are undone
    QCOMPARE(t.recordCount(), 3u);
    QVERIFY(t.rollbackTo(0, &error));
    QCOMPARE(t.recordCount(), 2u);
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(t.value(rec, 0).text, QStringLiteral("uno")); // before the savepoint: kept
    QVERIFY(t.readRecord(2, &rec));
    QVERIFY(!Table::isDeleted(rec));
    QVERIFY(t.rollback(&error));
    QCOMPARE(fileBytes(path), dbfBefore);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("j.dbt"))), dbtBefore);

    // Committed changes stay.
    QVERIFY(t.beginTransaction(&error));
    QVERIFY(t.appendRecord({T("four"), T("memo four")}, nullptr, &error));
    QVERIFY(t.commit(&error));
    QVERIFY(t.rollback(&error)); // nothing left to undo
    Table again;
    QVERIFY(again.open(path, {}, &error));
    QCOMPARE(again.recordCount(), 3u);
}

void TestDbf::headerAndEndMarker() {
    // dbase_31.dbf ends without 0x1A; a write adds it and updates count and date.
    const QByteArray bytes = buildDbf(0x03, 0, {{"N", 'C', 3}}, {"abc", "def"}, false);
    auto buffer = bufferOf(bytes);
    QBuffer* raw = buffer.get();
    Table t;
    QString error;
    QVERIFY(t.open(std::move(buffer), nullptr, {}, &error));
    QCOMPARE(t.recordCount(), 2u);
    QVERIFY(t.appendRecord({T("ghi")}, nullptr, &error));
    QVERIFY(t.flush(&error));
    const QByteArray after = raw->data();
    QCOMPARE(after.size(), bytes.size() + 4 + 1);
    QCOMPARE(after.back(), '\x1A');
    QCOMPARE(quint8(after[4]), quint8(3));
    const QDate today = QDate::currentDate();
    QCOMPARE(int(quint8(after[1])) + 1900, today.year());
    QCOMPARE(int(after[2]), today.month());
    QCOMPARE(int(after[3]), today.day());
    QVERIFY(t.deleteRecord(2, &error));
    QVERIFY(t.flush(&error));
    QCOMPARE(raw->data()[32 + 32 + 1 + 4], '*');
    QCOMPARE(raw->data().size(), after.size());

    // A header that claims more records than the file holds: only whole records are read.
    QByteArray cut = buildDbf(0x03, 0, {{"N", 'C', 3}}, {"abc", "def"}, false);
    putLe(cut, 4, 1000000, 4);
    cut.chop(1);
    Table c;
    QVERIFY(c.open(bufferOf(cut), nullptr, {}, &error));
    QCOMPARE(c.recordCount(), 1u);
    QByteArray rec;
    QVERIFY(!c.readRecord(2, &rec));
}

void TestDbf::recordLengthOneShort_data() {
    QTest::addColumn<bool>("withEof");
    QTest::newRow("end byte") << true;
    QTest::newRow("no end byte") << false;
}

void TestDbf::recordLengthOneShort() {
    // Another dBase library wrote 15-byte records (flag, 8 + 6 bytes of fields) under a header
    // that says 14. The file's size shows the records are 15 bytes long.
    QFETCH(bool, withEof);
    QByteArray bytes = buildDbf(0x03, 0, {{"NAME", 'C', 8}, {"CITY", 'C', 6}},
                                {"ZHANG   Xiamen", "LI      Fuzhou", "*WANG    Ningbo"}, withEof);
    QCOMPARE(bytes.size(), 32 + 64 + 1 + 3 * 15 + (withEof ? 1 : 0));
    putLe(bytes, 10, 14, 2);
    auto buffer = bufferOf(bytes);
    QBuffer* raw = buffer.get();
    Table t;
    QString error;
    QVERIFY2(t.open(std::move(buffer), nullptr, {}, &error), qPrintable(error));
    QVERIFY(error.isEmpty()); // silently
    QCOMPARE(t.recordCount(), 3u);
    QCOMPARE(t.recordLength(), 15);
    QStringList values;
    QByteArray rec;
    for (quint32 r = 1; r <= t.recordCount(); ++r) {
        QVERIFY(t.readRecord(r, &rec));
        values << (Table::isDeleted(rec) ? QStringLiteral("*") : QString()) + text(t.value(rec, 0))
               << text(t.value(rec, 1));
    }
    QCOMPARE(values, (QStringList{"ZHANG", "Xiamen", "LI", "Fuzhou", "*WANG", "Ningbo"}));
    QVERIFY2(t.refresh(&error), qPrintable(error)); // the header is as it was: no restructure

    // A record written here has the records' length; the header keeps its own number.
    QVERIFY2(t.beginTransaction(&error), qPrintable(error));
    QVERIFY2(t.appendRecord({T("ZHAO"), T("Xining")}, nullptr, &error), qPrintable(error));
    QVERIFY(t.commit(&error));
    const QByteArray after = raw->data();
    QCOMPARE(after.size(), 32 + 64 + 1 + 4 * 15 + 1);
    QCOMPARE(after.mid(32 + 64 + 1 + 3 * 15, 16), QByteArray(" ZHAO    Xining\x1A"));
    QCOMPARE(quint8(after[4]), quint8(4));
    QCOMPARE(quint8(after[10]), quint8(14));
    Table again;
    QVERIFY2(again.open(bufferOf(after), nullptr, {}, &error), qPrintable(error));
    QCOMPARE(again.recordCount(), 4u);
    QVERIFY(again.readRecord(4, &rec));
    QCOMPARE(text(again.value(rec, 1)), QStringLiteral("Xining"));

    // Two bytes more than either length allows: damaged.
    bytes.insert(32 + 64 + 1 + 15, "  ");
    Table bad;
    QVERIFY(!bad.open(bufferOf(bytes), nullptr, {}, &error));
    QVERIFY2(error.contains(QStringLiteral("超过记录长度")), qPrintable(error));
}

void TestDbf::damagedTables_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray good = buildDbf(0x03, 0, {{"N", 'C', 3}}, {"abc"});
    QTest::newRow("empty") << QByteArray() << "不是 dBase/FoxPro 表";
    QTest::newRow("short") << good.left(20) << "不是 dBase/FoxPro 表";
    QTest::newRow("text file") << QByteArray("name,age\n王小明,32\n").leftJustified(200, ' ')
                               << "不是 dBase/FoxPro 表";
    QByteArray b = good;
    b[0] = 0x04;
    QTest::newRow("dBase 7") << b << "dBase 7";
    b = good;
    putLe(b, 8, 4000, 2);
    QTest::newRow("header past the end") << b << "表头不完整";
    // Fields longer than the header's records, and a file size that fits neither length:
    // 1 record of 4 bytes and the end byte, against 3 records of 3 or 4 bytes.
    b = good;
    putLe(b, 4, 3, 4);
    putLe(b, 10, 3, 2);
    QTest::newRow("fields longer than the record") << b << "超过记录长度";
    // The file fits the header's 2 records of 2 bytes, which cannot hold a 3-byte field.
    b = good;
    putLe(b, 4, 2, 4);
    putLe(b, 10, 2, 2);
    QTest::newRow("fields longer, size fits the header") << b << "超过记录长度";
    b = good;
    b[32] = '\x0D';
    QTest::newRow("no fields") << b << "没有字段";
    b = good;
    putLe(b, 8, 20, 2);
    QTest::newRow("header too short") << b << "不是 dBase/FoxPro 表";
}

void TestDbf::damagedTables() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    Table t;
    QString error;
    QVERIFY(!t.open(bufferOf(bytes), nullptr, {}, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QCOMPARE(t.fields().size(), size_t(0));
    QVERIFY(!t.appendRecord({T("x")}, nullptr, &error));
}

void TestDbf::companionFilesIgnoreCase() {
    QTemporaryDir dir;
    for (const char* name : {"contacts.dbf", "contacts.FPT", "Other.DBF", "other.dbt", "x.cpg"})
        QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    QCOMPARE(QFileInfo(findCompanionFile(dir.filePath("contacts.dbf"), {"fpt", "dbt"})).fileName(),
             QStringLiteral("contacts.FPT"));
    QCOMPARE(QFileInfo(findCompanionFile(dir.filePath("Other.DBF"), {"fpt", "dbt"})).fileName(),
             QStringLiteral("other.dbt"));
    QVERIFY(findCompanionFile(dir.filePath("contacts.dbf"), {"cpg"}).isEmpty());

    // A .cpg file names the code page of a table without a language-driver byte.
    const QString path = dir.filePath(QStringLiteral("utf.dbf"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(buildDbf(0x03, 0, {{"NAME", 'C', 12}},
                     {"\xe5\x9b\xbd\xe8\xaf\xad\xe5\x9c\x8b\xe8\xaa\x9e"}));
    f.close();
    QFile cpg(dir.filePath(QStringLiteral("UTF.CPG")));
    QVERIFY(cpg.open(QIODevice::WriteOnly));
    cpg.write("\xEF\xBB\xBFUTF-8\r\n");
    cpg.close();
    Table t;
    QString error;
    QVERIFY(t.open(path, {}, &error));
    QCOMPARE(t.codePage().number, 65001);
    QByteArray rec;
    QVERIFY(t.readRecord(1, &rec));
    QCOMPARE(t.value(rec, 0).text, QString::fromUtf8("国语國語"));
}

void TestDbf::createRefusesBadDefinitions() {
    QTemporaryDir dir;
    QString error;
    const QString path = dir.filePath(QStringLiteral("c.dbf"));
    QVERIFY(!createTable(path, Flavour::DBase3, {}, defaultCodePage(), &error));
    QVERIFY(!createTable(path, Flavour::DBase3, {{QStringLiteral("ELEVENCHARS"), 'C', 5}},
                         defaultCodePage(), &error));
    QVERIFY(!createTable(path, Flavour::DBase3, {{QStringLiteral("A"), 'I', 4}}, defaultCodePage(),
                         &error));
    QVERIFY(!createTable(path, Flavour::DBase3, {{QStringLiteral("A"), 'C', 5, 0, true}},
                         defaultCodePage(), &error));
    QVERIFY(!createTable(path, Flavour::VisualFoxPro,
                         {{QStringLiteral("A"), 'C', 5}, {QStringLiteral("a"), 'C', 5}},
                         defaultCodePage(), &error));
    QVERIFY(error.contains(QStringLiteral("重复")));
    QVERIFY(!createTable(path, Flavour::VisualFoxPro, {{QStringLiteral("A"), 'N', 5, 4}},
                         defaultCodePage(), &error));
    QVERIFY(!QFile::exists(path));
    // Chinese field names take two bytes a character: five fit in ten bytes.
    QVERIFY2(createTable(path, Flavour::VisualFoxPro, {{QString::fromUtf8("客户姓名称"), 'C', 5}},
                         defaultCodePage(), &error),
             qPrintable(error));
    QVERIFY(!createTable(path, Flavour::VisualFoxPro, {{QStringLiteral("A"), 'C', 5}},
                         defaultCodePage(), &error));
    QVERIFY(error.contains(QStringLiteral("已存在")));
    Table t;
    QVERIFY(t.open(path, {}, &error));
    QCOMPARE(t.fields()[0].name, QString::fromUtf8("客户姓名称"));
    QCOMPARE(t.codePage().number, 936);
}

// The table decoder of whole-table reads gives exactly what the codec gives: every two-byte
// character, four-byte forms, bytes that are no character, a lead byte cut off at the end, and
// text appended after what the buffer already holds.
void TestDbf::quickDecoderAgreesWithTheCodec() {
    using formats::dbf::detail::TextDecoder;
    QList<QByteArray> inputs = {
        "",
        "ASCII only 123",
        QByteArray("\xD5\xC5\xC8\xFD"),               // 张三
        QByteArray("\x81\x30\x81\x30"),               // a four-byte form
        QByteArray("abc\xD5\xC5\x95\x32\x82\x36xyz"), // two-byte, four-byte, ASCII
        QByteArray("\xD5"),                           // a lead byte alone
        QByteArray("\xD5\xC5\xFF\xFF"),               // bytes that are no character
        QByteArray("\x80\x41"),
        QByteArray("\xA1\x7F\xA1\xA1"),
    };
    // Every two-byte pair once.
    QByteArray pairs;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            if (trail != 0x7F) pairs += char(lead), pairs += char(trail);
    inputs << pairs;
    for (const QByteArray& codec : {QByteArray("GB18030"), QByteArray("GBK"), QByteArray()}) {
        TextDecoder quick(codec), plain(codec);
        for (const QByteArray& in : inputs) {
            std::vector<char16_t> out = {u'前'};
            quick.decodeInto(in.constData(), in.size(), &out);
            const QString expected = QStringLiteral("前") + plain.decode(in);
            QCOMPARE(QString(reinterpret_cast<const QChar*>(out.data()), qsizetype(out.size())),
                     expected);
        }
    }
}

CHACHONG_TEST_MAIN(TestDbf)
#include "tst_dbf.moc"
