// New worksheets in .xlsx workbooks: new ones written by libxlsxwriter, and real workbooks of
// other people changed as packages. openpyxl and Python's zipfile check that every old part
// and sheet is as it was and the new sheets hold what was written; LibreOffice reads the
// results; workbooks that cannot take a sheet are refused.
#include "db/formats/xlsxwrite/xlsxsheets.h"
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using formats::xls::Cell;
using formats::xls::CellKind;
using formats::xlsxwrite::SheetWriter;

using testsupport::expectedCells;
using testsupport::valuesOf;

namespace {

std::vector<std::vector<Cell>> clientRows() {
    const auto text = [](const char* s) { return Cell::ofText(QString::fromUtf8(s)); };
    return {
        {text("姓名"), text("电话"), text("编号"), text("地址"), text("备注"), text("金额")},
        {text("张三"), text("13800138000"), text("001234"), text("北京市海淀区"),
         text("O'Brien's <b>&amp;</b> \"quoted\""), Cell::ofNumber(12.5)},
        {text("李四"), Cell(), text("000000"), text("  前后有空格  "), text("第一行\r\n第二行"),
         Cell::ofNumber(-3)},
        {text("张三"), text("13800138000"), text("_x0041_ 不是转义"), text("上海市"), Cell(),
         Cell::ofNumber(0.1)},
        {text("王五"), text("0574-87654321"), Cell::ofText(QString(9000, QChar(0x5B57))),
         text("Zürich"), text("=1+1"), Cell()},
    };
}

// The first cell where two lists differ, for a readable failure.
QString firstDifference(const QJsonArray& got, const QJsonArray& want) {
    for (qsizetype i = 0; i < std::max(got.size(), want.size()); ++i)
        if (i >= got.size() || i >= want.size() || got[i] != want[i])
            return QStringLiteral("cell %1: got %2, want %3")
                .arg(i)
                .arg(i < got.size()
                         ? QString::fromUtf8(
                               QJsonDocument(got[i].toArray()).toJson(QJsonDocument::Compact))
                         : QStringLiteral("nothing"),
                     i < want.size()
                         ? QString::fromUtf8(
                               QJsonDocument(want[i].toArray()).toJson(QJsonDocument::Compact))
                         : QStringLiteral("nothing"));
    return {};
}

#define COMPARE_CELLS(got, want)                                                                   \
    do {                                                                                           \
        const QString diff = firstDifference(got, want);                                           \
        QVERIFY2(diff.isEmpty(), qPrintable(diff.left(300)));                                      \
    } while (false)

QJsonObject partsOf(const QString& path) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(QStringLiteral(CHACHONG_SOURCE_DIR) +
                                                      QStringLiteral("/tests/formats/zip_parts.py"),
                                                  {path}, &ok, &err);
    if (!ok) qWarning().noquote() << "zipfile failed on" << path << err;
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

} // namespace

class TestXlsxAppend : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QStringList forOffice_; // files for LibreOffice, with the number of old sheets
    QStringList newSheets_; // the first new sheet of each

    QString append(const QByteArray& original, const QStringList& names, const QString& outName,
                   QString* error) {
        SheetWriter w;
        if (!w.openExisting(original, outName, error)) return {};
        for (const QString& name : names) {
            if (!w.beginSheet(name, error)) return {};
            for (const auto& row : clientRows())
                if (!w.addRow(row, error)) return {};
        }
        QByteArray out;
        if (!w.finish(&out, error)) return {};
        const QString path = tmp_.filePath(outName);
        return writeBytes(path, out) ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(tmp_.isValid()); }

    void newWorkbook() {
        SheetWriter w;
        QString error;
        QVERIFY2(w.openNew(&error), qPrintable(error));
        for (const QString name : {"名单", "名单_2"}) {
            QVERIFY2(w.beginSheet(name, &error), qPrintable(error));
            for (const auto& row : clientRows())
                QVERIFY2(w.addRow(row, &error), qPrintable(error));
        }
        QVERIFY(!w.beginSheet("名单", &error));
        QVERIFY(error.contains("已有"));
        QByteArray bytes;
        QVERIFY2(w.finish(&bytes, &error), qPrintable(error));
        const QString path = tmp_.filePath(QStringLiteral("新建.xlsx"));
        QVERIFY(writeBytes(path, bytes));
        const QJsonArray sheets = testsupport::excelDump(path)[u"sheets"].toArray();
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets[1].toObject()[u"name"].toString(), QStringLiteral("名单_2"));
        for (const auto& s : sheets)
            COMPARE_CELLS(valuesOf(s.toObject()), expectedCells(clientRows()));
        QVERIFY(sheets[0].toObject()[u"widths"].toObject()[u"D"].toDouble() > 12);
        forOffice_ << path;
        newSheets_ << QStringLiteral("名单");
    }

    void keepsEverything_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("49273") << "xlsx/poi/49273.xlsx"
                               << "导出";
        QTest::newRow("51626_contact") << "xlsx/poi/51626_contact.xlsx"
                                       << "Contacts 2";
        QTest::newRow("Chinese_Family_Name")
            << QStringLiteral("reference/chinese-names-corpus/Chinese_Family_Name（1k）.xlsx")
            << "名单 & <新>";
    }

    void keepsEverything() {
        QFETCH(QString, sample);
        QFETCH(QString, sheet);
        const QString original = testsupport::sample(sample);
        QString error;
        const QString out = append(fileBytes(original), {sheet, sheet + "_2"},
                                   QFileInfo(original).completeBaseName() + "-new.xlsx", &error);
        QVERIFY2(!out.isEmpty(), qPrintable(error));

        const QJsonObject before = testsupport::excelDump(original);
        const QJsonObject after = testsupport::excelDump(out);
        QVERIFY(!before.isEmpty() && !after.isEmpty());
        const QJsonArray oldSheets = before[u"sheets"].toArray();
        const QJsonArray newSheets = after[u"sheets"].toArray();
        QCOMPARE(newSheets.size(), oldSheets.size() + 2);
        for (int i = 0; i < oldSheets.size(); ++i)
            QCOMPARE(newSheets[i], oldSheets[i]);
        QCOMPARE(newSheets[oldSheets.size()].toObject()[u"name"].toString(), sheet);
        QCOMPARE(newSheets[oldSheets.size() + 1].toObject()[u"name"].toString(), sheet + "_2");
        COMPARE_CELLS(valuesOf(newSheets[oldSheets.size()].toObject()),
                      expectedCells(clientRows()));
        QCOMPARE(after[u"names"], before[u"names"]);
        QCOMPARE(after[u"styles"], before[u"styles"]);

        // Parts: only the four that list sheets change, two are added.
        const QJsonObject oldParts = partsOf(original)[u"parts"].toObject();
        const QJsonObject newParts = partsOf(out)[u"parts"].toObject();
        QCOMPARE(newParts.size(), oldParts.size() + 2);
        const QStringList changing{"[Content_Types].xml", "xl/workbook.xml",
                                   "xl/_rels/workbook.xml.rels", "docProps/app.xml"};
        for (auto it = oldParts.begin(); it != oldParts.end(); ++it) {
            QVERIFY2(newParts.contains(it.key()), qPrintable(it.key()));
            if (!changing.contains(it.key()))
                QVERIFY2(newParts[it.key()] == it.value(), qPrintable(it.key()));
        }
        // The extended properties name the new sheets after the old ones.
        const QJsonObject props = partsOf(out);
        const QJsonArray oldTitles = partsOf(original)[u"titles"].toArray();
        QJsonArray titles = oldTitles;
        titles.append(sheet);
        titles.append(sheet + "_2");
        QCOMPARE(props[u"titles"].toArray(), titles);
        QCOMPARE(props[u"titles_size"].toInt(), int(titles.size()));
        QCOMPARE(props[u"pairs"].toArray()[0].toArray()[1].toInt(), int(titles.size()));

        forOffice_ << out;
        newSheets_ << sheet;

        // The result takes another sheet in turn.
        const QString again =
            append(fileBytes(out), {"第三次"},
                   QFileInfo(original).completeBaseName() + "-again.xlsx", &error);
        QVERIFY2(!again.isEmpty(), qPrintable(error));
        QCOMPARE(testsupport::excelDump(again)[u"sheets"].toArray().size(), newSheets.size() + 1);
    }

    // LibreOffice reads every file written above; each sheet saved as CSV shows the new
    // sheet's texts and numbers.
    void libreOfficeReadsTheResults() {
        QVERIFY(!forOffice_.isEmpty());
        const QString dir = tmp_.filePath(QStringLiteral("lo"));
        QDir().mkpath(dir);
        QByteArray log;
        // Comma, double quote, UTF-8, values rather than their shown form, every sheet.
        QVERIFY2(
            testsupport::officeConvert(
                forOffice_,
                "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                dir, &log),
            log);
        for (int i = 0; i < forOffice_.size(); ++i) {
            const QString csv = dir + "/" + QFileInfo(forOffice_[i]).completeBaseName() + "-" +
                                newSheets_[i] + ".csv";
            const QJsonArray rows = testsupport::excelDump(csv, "csv")[u"rows"].toArray();
            const auto want = clientRows();
            QCOMPARE(rows.size(), qsizetype(want.size()));
            for (size_t r = 0; r < want.size(); ++r) {
                const QJsonArray got = rows[qsizetype(r)].toArray();
                for (size_t c = 0; c < want[r].size(); ++c) {
                    const Cell& w = want[r][c];
                    const QString g = c < size_t(got.size()) ? got[qsizetype(c)].toString() : "";
                    if (w.kind == CellKind::Number)
                        QCOMPARE(g.toDouble(), w.number);
                    else // LibreOffice keeps a line break inside a cell as LF alone
                        QCOMPARE(g, QString(w.text).replace("\r\n", "\n"));
                }
            }
        }
    }

    void refusesWorkbooksItCannotChange_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("xls inside")
            << fileBytes(testsupport::sample("xls/xlrd/namesdemo.xls")) << ".xls";
        QTest::newRow("text") << QByteArray("姓名,电话\n") << "不是Excel";
        const QByteArray whole = fileBytes(testsupport::sample("xlsx/poi/49273.xlsx"));
        QTest::newRow("cut short") << whole.left(whole.size() - 100) << "不是完整";
        QTest::newRow("empty") << QByteArray() << "不是Excel";
    }

    void refusesWorkbooksItCannotChange() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        SheetWriter w;
        QString error;
        QVERIFY(!w.openExisting(bytes, QStringLiteral("/数据/客户.xlsx"), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("客户.xlsx")), qPrintable(error));
    }

    void refusesProtectedStructure() {
        const QString path = tmp_.filePath(QStringLiteral("protected.xlsx"));
        bool ok = false;
        testsupport::runPython(QStringLiteral(CHACHONG_SOURCE_DIR) +
                                   QStringLiteral("/tests/formats/zip_parts.py"),
                               {"--protected", path}, &ok);
        QVERIFY(ok);
        SheetWriter w;
        QString error;
        QVERIFY(!w.openExisting(fileBytes(path), path, &error));
        QVERIFY2(error.contains("保护"), qPrintable(error));
    }

    void sheetNames() {
        SheetWriter w;
        QString error;
        const QString path = testsupport::sample("xlsx/poi/51626_contact.xlsx");
        QVERIFY2(w.openExisting(fileBytes(path), path, &error), qPrintable(error));
        QCOMPARE(w.sheetNames(), (QStringList{"Sheet1", "Sheet2", "Sheet3"}));
        QVERIFY(!w.beginSheet("sheet2", &error));
        QVERIFY(error.contains("已有"));
        QVERIFY(!w.beginSheet("a:b", &error));
        QVERIFY(!w.beginSheet(QString(32, 'x'), &error));
        QVERIFY(w.beginSheet(QString(31, 'x'), &error));
    }

    void limits() {
        SheetWriter w;
        QString error;
        QVERIFY(w.openNew(&error));
        QVERIFY(w.beginSheet("T", &error));
        QVERIFY(!w.addRow(std::vector<Cell>(16385, Cell::ofNumber(1)), &error));
        QVERIFY(error.contains("16384"));
        QVERIFY(!w.addRow({Cell::ofText(QString(32768, 'x'))}, &error));
        QVERIFY(error.contains("32767"));
        QVERIFY(w.addRow(std::vector<Cell>(300, Cell::ofText("宽")), &error));
    }
};

CHACHONG_TEST_MAIN(TestXlsxAppend)
#include "tst_xlsxappend.moc"
