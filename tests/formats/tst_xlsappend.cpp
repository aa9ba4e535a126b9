// New worksheets added to real Excel 97-2003 workbooks of other people (and to new ones): every
// old sheet, name, format and stream read back unchanged by xlrd and olefile, the new sheets'
// cells as written, and LibreOffice reading the result; workbooks that cannot take a sheet are
// refused.
#include "db/formats/xls/cfb.h"
#include "db/formats/xls/xlsappend.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace formats::xls;

using testsupport::expectedCells;
using testsupport::valuesOf;

namespace {

// The rows written into the new sheets, and what a reader must find: a text cell for every
// text (digits and leading zeros kept), a number for every number, nothing for Empty.
struct Table {
    std::vector<std::vector<Cell>> rows;
};

Table clientTable() {
    Table t;
    const auto text = [](const char* s) { return Cell::ofText(QString::fromUtf8(s)); };
    t.rows.push_back(
        {text("姓名"), text("电话"), text("编号"), text("地址"), text("备注"), text("金额")});
    t.rows.push_back({text("张三"), text("13800138000"), text("001234"), text("北京市海淀区"),
                      text("O'Brien's [x] \"quoted\""), Cell::ofNumber(12.5)});
    t.rows.push_back({text("李四"), Cell(), text("000000"), text("  前后有空格  "),
                      text("第一行\r\n第二行"), Cell::ofNumber(-3)});
    t.rows.push_back({text("张三"), text("13800138000"), text("1E5"), text("上海市"), Cell(),
                      Cell::ofNumber(1e20)});
    // Long enough that the new strings run over into CONTINUE records, split in the middle of
    // its two-byte characters.
    t.rows.push_back({text("王五"), text("0574-87654321"),
                      Cell::ofText(QString(9000, QChar(0x5B57)) + QStringLiteral("尾")),
                      text("Zürich"), text("=1+1"), Cell()});
    return t;
}

QJsonObject streamsOf(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(
        QStringLiteral(CHACHONG_SOURCE_DIR) + QStringLiteral("/tests/formats/cfb_streams.py"),
        {path}, &ok, &err);
    if (!ok) qWarning().noquote() << "olefile failed on" << path << err;
    return ok ? QJsonDocument::fromJson(out).object() : QJsonObject();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Little-endian record bytes for hand-built workbooks.
QByteArray rec(uint16_t type, const QByteArray& body) {
    QByteArray r;
    r.append(char(type & 0xFF)).append(char(type >> 8));
    r.append(char(body.size() & 0xFF)).append(char(body.size() >> 8));
    return r + body;
}
QByteArray le16(int v) {
    return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char((v >> 8) & 0xFF));
}
QByteArray le32(uint32_t v) {
    return le16(int(v & 0xFFFF)) + le16(int(v >> 16));
}
QByteArray bofBody(int type) {
    return le16(0x0600) + le16(type) + le32(0) + le32(0) + le32(0);
}

// A one-sheet BIFF8 workbook with extra global records before the sheet list.
QByteArray handMadeWorkbook(const QByteArray& extraGlobals) {
    QByteArray g = rec(0x0809, bofBody(5)) + extraGlobals;
    for (int i = 0; i < 16; ++i)
        g += rec(0x00E0, le16(0) + le16(0) + le16(i < 15 ? 0xFFF5 : 1) + QByteArray(14, '\0'));
    const qsizetype patch = g.size() + 4;
    g += rec(0x0085, le32(0) + QByteArray(2, '\0') + QByteArray(1, 2) + QByteArray(1, 0) + "S1");
    g += rec(0x000A, {});
    const QByteArray at = le32(uint32_t(g.size()));
    g.replace(patch, 4, at);
    g += rec(0x0809, bofBody(0x10)) + rec(0x000A, {});
    g.append(QByteArray(4096, '\0'));
    return formats::cfb::write({{QStringLiteral("Workbook"), g}});
}

} // namespace

class TestXlsAppend : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    // Files written by the append test, for one LibreOffice run at the end: (original, new,
    // number of old sheets).
    struct Written {
        QString original, appended;
        int oldSheets;
    };
    QList<Written> written_;

    // Appends the table as a new sheet (or several, one per name) to a copy of a sample.
    QString append(const QString& original, const QStringList& names, const Table& t,
                   const QString& outName) {
        SheetAppender a;
        QString error;
        if (!a.openExisting(fileBytes(original), original, &error)) {
            qWarning().noquote() << error;
            return {};
        }
        for (const QString& name : names) {
            if (!a.beginSheet(name, &error)) return {};
            for (const auto& row : t.rows)
                if (!a.addRow(row, &error)) return {};
        }
        QByteArray out;
        if (!a.finish(&out, &error)) return {};
        const QString path = tmp_.filePath(outName);
        return writeBytes(path, out) ? path : QString();
    }

    // Everything xlrd and olefile see of the old workbook is in the new one unchanged, and
    // the new sheets hold the table.
    void compareWithOriginal(const QString& original, const QString& appended,
                             const QStringList& names, const Table& t) {
        const QJsonObject before = testsupport::excelDump(original, QStringLiteral("xls"));
        const QJsonObject after = testsupport::excelDump(appended, QStringLiteral("xls"));
        QVERIFY(!before.isEmpty() && !after.isEmpty());
        const QJsonArray oldSheets = before[u"sheets"].toArray();
        const QJsonArray newSheets = after[u"sheets"].toArray();
        QCOMPARE(newSheets.size(), oldSheets.size() + names.size());
        for (int i = 0; i < oldSheets.size(); ++i)
            QVERIFY2(oldSheets[i] == newSheets[i],
                     qPrintable(oldSheets[i].toObject()[u"name"].toString()));
        for (int k = 0; k < names.size(); ++k) {
            const QJsonObject s = newSheets[oldSheets.size() + k].toObject();
            QCOMPARE(s[u"name"].toString(), names[k]);
            QCOMPARE(s[u"state"].toInt(), 0);
            QCOMPARE(valuesOf(s), expectedCells(t.rows));
        }
        QCOMPARE(after[u"names"], before[u"names"]);
        const QJsonObject oldStyles = before[u"styles"].toObject();
        const QJsonObject newStyles = after[u"styles"].toObject();
        for (const QString key : {"fonts", "formats", "styles", "datemode"})
            QCOMPARE(newStyles[key], oldStyles[key]);
        // The cell formats stay; at most one plain one is added after them.
        const QJsonArray oldXfs = oldStyles[u"xfs"].toArray();
        const QJsonArray newXfs = newStyles[u"xfs"].toArray();
        QVERIFY(newXfs.size() == oldXfs.size() || newXfs.size() == oldXfs.size() + 1);
        for (int i = 0; i < oldXfs.size(); ++i)
            QCOMPARE(newXfs[i], oldXfs[i]);

        // Every other stream and storage of the container, byte for byte.
        const QJsonObject oldStreams = streamsOf(original);
        const QJsonObject newStreams = streamsOf(appended);
        QVERIFY(!oldStreams.isEmpty() && !newStreams.isEmpty());
        QCOMPARE(newStreams[u"root_clsid"], oldStreams[u"root_clsid"]);
        const auto withoutWorkbook = [](const QJsonObject& o) {
            QJsonArray kept;
            for (const auto& e : o[u"entries"].toArray())
                if (e.toArray()[0].toString().compare(QLatin1String("Workbook"),
                                                      Qt::CaseInsensitive) != 0)
                    kept.append(e);
            return kept;
        };
        QCOMPARE(withoutWorkbook(newStreams), withoutWorkbook(oldStreams));
        // The sheets moved: their INDEX records still lead to their DBCELL records.
        const QJsonArray oldIndex = oldStreams[u"index_pointers"].toArray();
        const QJsonArray newIndex = newStreams[u"index_pointers"].toArray();
        QCOMPARE(newIndex[0].toInt(), oldIndex[0].toInt() + oldIndex[1].toInt());
        QCOMPARE(newIndex[1].toInt(), 0);
    }

private slots:
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    void keepsEverything_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("sheet");
        // Defined names (sheet-local too), an apostrophe in a sheet name.
        QTest::newRow("namesdemo") << "xls/xlrd/namesdemo.xls"
                                   << "客户名单";
        // Chinese sheets, merged areas, external-sheet references.
        QTest::newRow("19599-2") << "xls/poi/19599-2.xls"
                                 << "导出结果";
        QTest::newRow("TestOpen") << "xls/ExcelDataReader/TestOpen.xls"
                                  << "Sheet4";
        // Macros (a VBA storage), hidden and very hidden sheets, a chart sheet.
        QTest::newRow("any_sheets") << "xls/calamine/any_sheets.xls"
                                    << "名单";
        QTest::newRow("Test_Excel_Dataset") << "xls/ExcelDataReader/Test_Excel_Dataset.xls"
                                            << "名单 2024";
        // No shared-string table at all, 1904 dates, a drawing group.
        QTest::newRow("date_1904") << "xls/calamine/date_1904.xls"
                                   << "名单";
        // A shared-string table without its index.
        QTest::newRow("61287") << "xls/poi/61287.xls"
                               << "第二页";
        QTest::newRow("Formate") << "xls/xlrd/Formate.xls"
                                 << "Blätt4";
        QTest::newRow("profiles") << "xls/xlrd/profiles.xls"
                                  << "EXPORT";
        QTest::newRow("chinese-provinces") << "xls/poi/chinese-provinces.xls"
                                           << "名单";
        QTest::newRow("Test255x10") << "xls/ExcelDataReader/Test255x10.xls"
                                    << "名单";
    }

    void keepsEverything() {
        QFETCH(QString, sample);
        QFETCH(QString, sheet);
        const QString original = testsupport::sample(sample);
        const Table t = clientTable();
        const QString out =
            append(original, {sheet}, t, QFileInfo(original).completeBaseName() + "-new.xls");
        QVERIFY(!out.isEmpty());
        compareWithOriginal(original, out, {sheet}, t);
        const int oldSheets =
            int(testsupport::excelDump(original, "xls")[u"sheets"].toArray().size());
        written_.append({original, out, oldSheets});
    }

    // A shared-string table that already runs over CONTINUE records: one written by LibreOffice
    // (another writer), and one of our own appends; the new strings go after its last part.
    void appendsAfterContinuedStrings() {
        const QString csv = tmp_.filePath(QStringLiteral("many.csv"));
        {
            QFile f(csv);
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int r = 0; r < 600; ++r)
                f.write(QStringLiteral("客户%1,地址%1号大街%2,备注%1\n")
                            .arg(r)
                            .arg(QString(10, QChar(0x8857)))
                            .toUtf8());
        }
        const QString loDir = tmp_.filePath(QStringLiteral("lo-xls"));
        QDir().mkpath(loDir);
        QByteArray log;
        QVERIFY2(testsupport::officeConvert({csv}, QStringLiteral("xls"), loDir, &log), log);
        const QString byOffice = loDir + QStringLiteral("/many.xls");
        QVERIFY(streamsOf(byOffice)[u"sst_continues"].toInt() > 0);

        const Table t = clientTable();
        const QString once = append(byOffice, {"一"}, t, QStringLiteral("once.xls"));
        QVERIFY(!once.isEmpty());
        compareWithOriginal(byOffice, once, {"一"}, t);
        QVERIFY(streamsOf(once)[u"sst_continues"].toInt() >
                streamsOf(byOffice)[u"sst_continues"].toInt());
        const QString twice = append(once, {"二", "三"}, t, QStringLiteral("twice.xls"));
        QVERIFY(!twice.isEmpty());
        compareWithOriginal(once, twice, {"二", "三"}, t);
        written_.append({byOffice, twice, 1});
    }

    // LibreOffice opens every file written above: the old sheets' values as in the original,
    // the new sheets' as written.
    void libreOfficeReadsTheResults() {
        QVERIFY(!written_.isEmpty());
        const QString before = tmp_.filePath(QStringLiteral("lo-before"));
        const QString after = tmp_.filePath(QStringLiteral("lo-after"));
        QDir().mkpath(before);
        QDir().mkpath(after);
        QStringList originals, appended;
        for (const Written& w : written_) {
            // Copies under distinct names: two originals may share a base name.
            const QString copy =
                tmp_.filePath(QFileInfo(w.appended).completeBaseName() + "-orig.xls");
            QFile::remove(copy);
            QVERIFY(QFile::copy(w.original, copy));
            originals << copy;
            appended << w.appended;
        }
        QByteArray log;
        QVERIFY2(testsupport::officeConvert(originals, "xlsx", before, &log), log);
        QVERIFY2(testsupport::officeConvert(appended, "xlsx", after, &log), log);
        const Table t = clientTable();
        for (int i = 0; i < written_.size(); ++i) {
            const QJsonArray old =
                testsupport::excelDump(before + "/" + QFileInfo(originals[i]).completeBaseName() +
                                       ".xlsx")[u"sheets"]
                    .toArray();
            const QJsonArray now =
                testsupport::excelDump(after + "/" + QFileInfo(appended[i]).completeBaseName() +
                                       ".xlsx")[u"sheets"]
                    .toArray();
            QVERIFY2(!now.isEmpty(), qPrintable(appended[i]));
            QVERIFY2(now.size() > old.size(), qPrintable(appended[i]));
            for (int s = 0; s < old.size(); ++s)
                QVERIFY2(valuesOf(old[s].toObject()) == valuesOf(now[s].toObject()),
                         qPrintable(appended[i] + ": " + old[s].toObject()[u"name"].toString()));
            const QJsonObject added = now[old.size()].toObject();
            // LibreOffice reads a lone CR inside a text as a line break of its own.
            QJsonArray want = expectedCells(t.rows);
            QJsonArray got = valuesOf(added);
            QCOMPARE(got.size(), want.size());
            for (int k = 0; k < want.size(); ++k) {
                QJsonArray g = got[k].toArray(), w = want[k].toArray();
                if (w[2] == QLatin1String("s"))
                    w[3] = w[3].toString().replace(QLatin1String("\r\n"), QLatin1String("\n"));
                if (g[2] == QLatin1String("s"))
                    g[3] = g[3].toString().replace(QLatin1String("\r\n"), QLatin1String("\n"));
                QVERIFY2(g == w, qPrintable(QJsonDocument(g).toJson(QJsonDocument::Compact)));
            }
        }
    }

    // A new workbook: the first new sheet is the one shown; a second follows it.
    void newWorkbook() {
        SheetAppender a;
        a.openNew();
        QString error;
        const Table t = clientTable();
        for (const QString name : {"名单", "名单_2"}) {
            QVERIFY2(a.beginSheet(name, &error), qPrintable(error));
            for (const auto& row : t.rows)
                QVERIFY2(a.addRow(row, &error), qPrintable(error));
        }
        QVERIFY(!a.beginSheet("名单", &error));
        QByteArray bytes;
        QVERIFY2(a.finish(&bytes, &error), qPrintable(error));
        const QString path = tmp_.filePath(QStringLiteral("新建.xls"));
        QVERIFY(writeBytes(path, bytes));
        const QJsonObject dump = testsupport::excelDump(path);
        const QJsonArray sheets = dump[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets[0].toObject()[u"name"].toString(), QStringLiteral("名单"));
        QCOMPARE(sheets[1].toObject()[u"name"].toString(), QStringLiteral("名单_2"));
        QCOMPARE(valuesOf(sheets[0].toObject()), expectedCells(t.rows));
        QCOMPARE(valuesOf(sheets[1].toObject()), expectedCells(t.rows));
        // Wide enough for the texts: the address column is wider than Excel's default.
        QVERIFY(sheets[0].toObject()[u"widths"].toObject()[u"3"].toArray()[0].toInt() > 12 * 256);
        QVERIFY(streamsOf(path)[u"root_clsid"].toString().startsWith("00020820"));
    }

    void refusesWorkbooksItCannotChange_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("Excel 95") << fileBytes(testsupport::sample("xls/poi/testEXCEL_95.xls"))
                                  << "Excel 95";
        const QByteArray filePass = rec(0x002F, le16(1) + QByteArray(52, '\x11'));
        QTest::newRow("encrypted") << handMadeWorkbook(filePass) << "加密";
        QTest::newRow("protected structure") << handMadeWorkbook(rec(0x0012, le16(1))) << "保护";
        QTest::newRow("text") << QByteArray("姓名,电话\n张三,13800138000\n") << "不是Excel";
        const QByteArray whole = fileBytes(testsupport::sample("xls/xlrd/namesdemo.xls"));
        QTest::newRow("cut short") << whole.left(whole.size() / 2) << "不完整";
        QTest::newRow("xlsx inside")
            << fileBytes(testsupport::sample("xlsx/poi/49273.xlsx")) << ".xlsx";
        QTest::newRow("empty") << QByteArray() << "不是Excel";
    }

    void refusesWorkbooksItCannotChange() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        SheetAppender a;
        QString error;
        QVERIFY(!a.openExisting(bytes, QStringLiteral("/数据/客户.xls"), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("客户.xls")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("未作改动")), qPrintable(error));
    }

    // The unprotected twin of the hand-made workbook is accepted (so the refusal above is
    // about the protection), and the new cells take the one plain cell format it has.
    void handMadeWorkbookTakesASheet() {
        SheetAppender a;
        QString error;
        QVERIFY2(a.openExisting(handMadeWorkbook(rec(0x0012, le16(0))), "x.xls", &error),
                 qPrintable(error));
        QVERIFY(a.beginSheet("S2", &error));
        QVERIFY(a.addRow({Cell::ofText("001234")}, &error));
        QByteArray out;
        QVERIFY(a.finish(&out, &error));
        const QString path = tmp_.filePath(QStringLiteral("handmade.xls"));
        QVERIFY(writeBytes(path, out));
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets[1].toObject()[u"cells"].toArray()[0].toArray(),
                 (QJsonArray{0, 0, "s", "001234", 15}));
    }

    void sheetNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << ""
                               << "不能为空";
        QTest::newRow("32 characters") << QString(32, QChar(0x540D)) << "31";
        QTest::newRow("31 is fine") << QString(31, QChar(0x540D)) << "";
        for (const char* c : {"[", "]", ":", "*", "?", "/", "\\"})
            QTest::newRow(c) << QStringLiteral("名%1单").arg(QLatin1String(c)) << "不允许的字符";
        QTest::newRow("leading apostrophe") << "'名单"
                                            << "单引号";
        QTest::newRow("trailing apostrophe") << "名单'"
                                             << "单引号";
        QTest::newRow("inner apostrophe") << "O'Brien"
                                          << "";
        QTest::newRow("reserved") << "history"
                                  << "保留";
        QTest::newRow("clash, other case") << "SHEET1"
                                           << "已有";
        QTest::newRow("clash with apostrophe") << "seamus o'reilly"
                                               << "已有";
        QTest::newRow("clash, own name") << "Sheet3"
                                         << "已有";
        QTest::newRow("a dollar is a character") << "Sheet1$"
                                                 << "";
    }

    void sheetNames() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        SheetAppender a;
        QString error;
        const QString path = testsupport::sample("xls/xlrd/namesdemo.xls");
        QVERIFY(a.openExisting(fileBytes(path), path, &error));
        QCOMPARE(a.sheetNames(),
                 (QStringList{"Sheet1", "Sheet2", "Sheet3", QStringLiteral("Seamus O'Reilly")}));
        QCOMPARE(a.beginSheet(name, &error), reason.isEmpty());
        if (!reason.isEmpty()) QVERIFY2(error.contains(reason), qPrintable(error));
    }

    // Excel compares sheet names without letter case beyond ASCII too.
    void clashBeyondAscii() {
        SheetAppender a;
        QString error;
        const QString path = testsupport::sample("xls/xlrd/Formate.xls");
        QVERIFY(a.openExisting(fileBytes(path), path, &error));
        QVERIFY(!a.beginSheet(QStringLiteral("BLÄTT1"), &error));
        QVERIFY(!a.beginSheet(QStringLiteral("öäü"), &error));
        QVERIFY(a.beginSheet(QStringLiteral("Blätt2"), &error));
    }

    void limits() {
        SheetAppender a;
        a.openNew();
        QString error;
        QVERIFY(a.beginSheet("T", &error));
        QVERIFY(!a.addRow(std::vector<Cell>(257, Cell::ofNumber(1)), &error));
        QVERIFY(error.contains("256"));
        QVERIFY(a.addRow(std::vector<Cell>(256, Cell::ofNumber(1)), &error));
        QVERIFY(!a.addRow({Cell::ofText(QString(32768, 'x'))}, &error));
        QVERIFY(error.contains("32767"));
        QVERIFY(a.addRow({Cell::ofText(QString(32767, 'x'))}, &error));
        for (int r = 2; r < 65536; ++r)
            QVERIFY(a.addRow({Cell::ofText(QStringLiteral("行%1").arg(r))}, &error));
        QCOMPARE(a.rowCount(), 65536);
        QVERIFY(!a.addRow({Cell::ofText("one too many")}, &error));
        QVERIFY(error.contains("65536"));
        QByteArray out;
        QVERIFY(a.finish(&out, &error));
        const QString path = tmp_.filePath(QStringLiteral("full.xls"));
        QVERIFY(writeBytes(path, out));
        const QJsonArray cells =
            testsupport::excelDump(path)[u"sheets"].toArray()[0].toObject()[u"cells"].toArray();
        QCOMPARE(cells.size(), 256 + 1 + 65534);
        QCOMPARE(cells.last().toArray()[0].toInt(), 65535);
        QCOMPARE(cells.last().toArray()[3].toString(), QStringLiteral("行65535"));
    }

    // The whole tree of a compound file read and written again: streams, storages, class ids.
    void compoundFileTree() {
        const QString path = testsupport::sample("xls/ExcelDataReader/Test_Excel_Dataset.xls");
        formats::cfb::Reader r;
        QCOMPARE(r.open(fileBytes(path)), formats::cfb::Status::Ok);
        formats::cfb::Node root;
        QCOMPARE(r.readTree(&root), formats::cfb::Status::Ok);
        const QString copy = tmp_.filePath(QStringLiteral("tree.xls"));
        QVERIFY(writeBytes(copy, formats::cfb::write(root)));
        const QJsonObject a = streamsOf(path), b = streamsOf(copy);
        QVERIFY(!a.isEmpty());
        QCOMPARE(b, a);
    }
};

CHACHONG_TEST_MAIN(TestXlsAppend)
#include "tst_xlsappend.moc"
