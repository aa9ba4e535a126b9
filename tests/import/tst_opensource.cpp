// The five open and import commands driven from the main window's menu through the scripted
// dialog service, on copies of real sample files: path pieces, status bar, field list,
// counters, the working tables' columns, the table chooser and the import window, and
// ClienttableELS compared row for row with an independent reader of the same file.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "db/criteria.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/textcodec.h"
#include "db/sqltext.h"
#include "import/commands.h"
#include "import/engine/dbfcodepage.h"
#include "import/engine/sources.h"
#include "import/engine/worktables.h"
#include "import/mainfm5.h"
#include "import/tablefm1.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/scripteddialogs.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStringEncoder>

#include <functional>
#include <sqlite3.h>

using core::appState;
using testsupport::child;

namespace {

// The windows the commands hand over to, created for real; the import window can be prepared
// by the test before it starts.
class Windows : public app::WindowDirectory {
public:
    QPointer<sources::tableFm1> chooser;
    QPointer<sources::mainFm5> import;
    std::function<void()> beforeImport;
    bool importFinished = false;
    sources::ImportResult importResult;
    bool showTableChooser() override {
        chooser = sources::tableFm1::showChooser();
        return true;
    }
    bool showImportProgress() override {
        if (beforeImport) beforeImport();
        importFinished = false;
        import = new sources::mainFm5;
        QObject::connect(import, &sources::mainFm5::finished, import, [this] {
            importFinished = true;
            importResult = import->result();
        });
        import->show();
        return true;
    }
    bool openSource(const QString& command) override { return sources::runCommand(command); }
};

struct Column {
    QString name;
    int size;
};

QList<Column> columnsOf(const db::Connection& c, const QString& table) {
    db::Recordset rs;
    QList<Column> out;
    if (!rs.open(db::sql::selectAll(table), c)) return out;
    for (int i = 0; i < rs.fieldCount(); ++i)
        out.append({rs.fieldName(i), rs.definedSize(i)});
    return out;
}

QList<QStringList> rowsOf(const db::Connection& c, const QString& table) {
    db::Recordset rs;
    QList<QStringList> out;
    if (!rs.open(db::sql::selectAll(table), c)) return out;
    for (int r = 0; r < rs.recordCount(); ++r) {
        QStringList row;
        for (int i = 0; i < rs.fieldCount(); ++i)
            row << rs.valueAt(r, i).toString();
        out << row;
    }
    return out;
}

// The same value as the program shows it: text equal after trimming, numbers by value.
bool sameValue(const QJsonValue& expected, const QString& actual) {
    if (expected.isNull()) return actual.isEmpty();
    // The import trims blanks (spaces) only; line breaks inside or at the end of a memo are data.
    const QString e = expected.isString() ? testsupport::blankTrimmed(expected.toString())
                                          : QString::number(expected.toDouble(), 'g', 17);
    if (e == actual) return true;
    bool ok1 = false, ok2 = false;
    const double a = e.toDouble(&ok1), b = actual.toDouble(&ok2);
    return ok1 && ok2 && a == b;
}

// The independent reader's view of a file; dBase tables that declare no code page are read as
// GBK, as the program reads them.
// python3-dbf gives field names in lower case; these tables store them in upper case.
QStringList dbfFields(const QJsonObject& dump) {
    QStringList out;
    for (const QJsonValue& f : dump["fields"].toArray())
        out << f.toString().toUpper();
    return out;
}

QJsonObject dump(const QString& script, const QString& file) {
    bool ok = false;
    QByteArray err;
    QStringList args{file};
    if (script.startsWith(QLatin1String("dbf"))) args << QStringLiteral("cp936");
    const QByteArray out = testsupport::runPython(QStringLiteral(CHACHONG_SOURCE_DIR) +
                                                      QStringLiteral("/tests/formats/") + script,
                                                  args, &ok, &err);
    if (!ok) qWarning() << err;
    return QJsonDocument::fromJson(out).object();
}

} // namespace

class TestOpenSource : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<app::mainFm1> w_;
    Windows windows_;
    core::AppState& st = appState();

    QString copySample(const QString& sample, const QString& subdir, const QString& as = {}) {
        const QString target = dir_->path() + QLatin1Char('/') + subdir;
        QDir().mkpath(target);
        const QString src = testsupport::sample(sample);
        const QString dest =
            target + QLatin1Char('/') + (as.isEmpty() ? QFileInfo(src).fileName() : as);
        QFile::remove(dest);
        if (!QFile::copy(src, dest)) return {};
        QFile::setPermissions(dest, QFile::ReadOwner | QFile::WriteOwner);
        return dest;
    }
    // The template's column j.
    Column templateColumn(int j) { return columnsOf(st.WorkConn, "ClienttableDBF").value(j); }

    void checkCounters(int count) {
        if (count == 0) {
            QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(), QStringLiteral("0"));
            QCOMPARE(child<QLineEdit>(w_.get(), "Text12")->text(), QStringLiteral("0"));
        } else {
            QCOMPARE(child<QLineEdit>(w_.get(), "Text1")->text(),
                     QStringLiteral("1/%1").arg(count));
            QCOMPARE(child<QLineEdit>(w_.get(), "Text12")->text(), QStringLiteral("1"));
        }
        QCOMPARE(child<QLineEdit>(w_.get(), "Text13")->text(), QString::number(count));
    }
    QStringList fieldList() {
        QStringList out;
        for (int i = 0; i < child<QListWidget>(w_.get(), "List2")->count(); ++i)
            out << child<QListWidget>(w_.get(), "List2")->item(i)->text();
        return out;
    }
    // ClienttableCC, tempTable1/2: No, the fields with the template's types, the running number.
    void checkMappedTables(const QStringList& fields) {
        const int n = std::min<int>(int(fields.size()), sources::maxFields);
        for (const char* table : {"ClienttableCC", "tempTable1", "tempTable2"}) {
            const QList<Column> cols = columnsOf(st.WorkConn, table);
            QCOMPARE(cols.size(), n + 2);
            QCOMPARE(cols[0].name, QStringLiteral("No"));
            for (int k = 0; k < n; ++k) {
                QCOMPARE(cols[k + 1].name, fields[k]);
                QCOMPARE(cols[k + 1].size, templateColumn(k + 1).size);
            }
            QCOMPARE(cols[n + 1].name, templateColumn(n).name);
        }
    }
    void checkImportedTable(const QStringList& fields) {
        const int n = std::min<int>(int(fields.size()), sources::maxFields);
        const QList<Column> cols = columnsOf(st.WorkConn, "ClienttableELS");
        QCOMPARE(cols.size(), n);
        for (int k = 0; k < n; ++k) {
            QCOMPARE(cols[k].name, fields[k]);
            QCOMPARE(cols[k].size, templateColumn(k + 1).size);
        }
    }
    // ClienttableELS holds exactly the independent reader's rows (first 49 fields).
    void checkImportedRows(const QJsonArray& rows) {
        const QList<QStringList> got = rowsOf(st.WorkConn, "ClienttableELS");
        QCOMPARE(got.size(), rows.size());
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray want = rows[r].toArray();
            const int n = std::min<int>(int(want.size()), sources::maxFields);
            QCOMPARE(got[r].size(), n);
            for (int i = 0; i < n; ++i)
                QVERIFY2(sameValue(want[i], got[r][i]),
                         qPrintable(QStringLiteral("row %1 field %2: %3 vs %4")
                                        .arg(r)
                                        .arg(i)
                                        .arg(want[i].toVariant().toString(), got[r][i])));
        }
    }
    void waitForImport() {
        QTRY_VERIFY_WITH_TIMEOUT(windows_.importFinished, 60000);
        QTRY_VERIFY(windows_.import.isNull()); // it closed itself
    }
    void checkImportedSourceShown() {
        QVERIFY(core::isOpen(st.RsSource));
        QVERIFY(st.RsSource->connection() == st.WorkConn);
        QCOMPARE(st.RsSource->source(), db::sql::selectAll("ClienttableELS"));
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset(), st.RsSource);
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(!testsupport::copyWorkDb(dir_->path()).isEmpty());
        core::resetAppState();
        windows_.beforeImport = nullptr;
        windows_.importFinished = false;
        app::setWindows(&windows_);
        w_ = std::make_unique<app::mainFm1>();
        QVERIFY(w_->formLoad(dir_->path()));
    }
    void cleanup() {
        delete windows_.chooser.data();
        delete windows_.import.data();
        w_.reset();
        app::setWindows(nullptr);
        core::resetAppState();
        dir_.reset();
    }

    void pathPieces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("dir");
        QTest::newRow("chinese") << "/home/张/客户/客户表.dbf"
                                 << "客户表.dbf"
                                 << "客户表"
                                 << "/home/张/客户";
        QTest::newRow("windows") << "D:\\客户\\客户表.dbf"
                                 << "客户表.dbf"
                                 << "客户表"
                                 << "D:\\客户";
        QTest::newRow("upper ext") << "/a/NWIND.MDB"
                                   << "NWIND.MDB"
                                   << "NWIND"
                                   << "/a";
        QTest::newRow("root") << "/x.xls"
                              << "x.xls"
                              << "x"
                              << "";
        QTest::newRow("short title") << "/a/ab"
                                     << "ab"
                                     << ""
                                     << "/a";
    }
    void pathPieces() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        const sources::PathPieces p = sources::pathPieces(path, title);
        QCOMPARE(p.path, path);
        QCOMPARE(p.fileTitle, title);
        QTEST(p.baseName, "base");
        QTEST(p.dir, "dir");
    }

    // Cancel in each file dialog: nothing changes but the check-field list and the flag.
    void cancelInEachDialog_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<bool>("clearsCheckFields");
        QTest::addColumn<QString>("moreFilters");
        QTest::newRow("打开DBF数据") << "begin_DBF"
                                     << "dbf" << true << QString();
        QTest::newRow("导入DBF数据") << "Input_DBF"
                                     << "dbf" << false << QString();
        QTest::newRow("打开MDB数据") << "begin_MDB"
                                     << "mdb" << true << QString();
        QTest::newRow("导入Excel数据")
            << "inputFile_XLS"
            << "xls" << true << QStringLiteral("|Excel 2007及以上文件|*.xlsx");
    }
    void cancelInEachDialog() {
        QFETCH(QString, command);
        QFETCH(QString, ext);
        QFETCH(bool, clearsCheckFields);
        QFETCH(QString, moreFilters);
        child<QListWidget>(w_.get(), "List1")->addItem(QStringLiteral("姓名"));
        st.SourcePath = QStringLiteral("/old/path.dbf");
        ui::ScriptedDialogs d;
        d.expectOpenFile(std::nullopt);
        w_->findChild<QAction*>(command)->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        const ui::FileDialogOptions& o = d.shown().at(0).fileOptions;
        QCOMPARE(o.title, QStringLiteral("选择目标文件"));
        QCOMPARE(o.filter, QStringLiteral("所有文件|*.*|%1文件|*.%1").arg(ext) + moreFilters);
        QCOMPARE(o.filterIndex, 2);
        QCOMPARE(o.defaultExtension, ext);
        QVERIFY(o.mustExist);
        QCOMPARE(st.SourcePath, QStringLiteral("/old/path.dbf"));
        QVERIFY(!core::isOpen(st.RsSource));
        QVERIFY(windows_.chooser.isNull());
        QCOMPARE(child<QListWidget>(w_.get(), "List1")->count(), clearsCheckFields ? 0 : 1);
        QCOMPARE(w_->sourceOpenedFlag(), qint16(clearsCheckFields ? 1 : 0));
    }

    // A file given to the program (a file manager's "打开方式") opens with the command of its
    // kind, no file dialog asked; one of no known kind, or missing, is refused in words.
    void givenFile_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("dBase table") << "dbf/javadbf/gbk.dbf"
                                     << "客户.DBF"
                                     << "";
        QTest::newRow("Excel workbook")
            << "reference/chinese-names-corpus/Chinese_Family_Name（1k）.xlsx"
            << "名单.xlsx"
            << "";
        QTest::newRow("unknown kind") << "dbf/javadbf/gbk.dbf"
                                      << "客户.pdf"
                                      << "不认识的文件格式";
        QTest::newRow("missing") << ""
                                 << "不在了.dbf"
                                 << "找不到文件";
    }
    void givenFile() {
        QFETCH(QString, sample);
        QFETCH(QString, name);
        QFETCH(QString, refusal);
        const QString path =
            sample.isEmpty() ? dir_->filePath(name) : copySample(sample, "客户数据", name);
        ui::ScriptedDialogs d;
        if (!refusal.isEmpty()) d.expectMessageContaining(refusal);
        QCOMPARE(sources::openGivenFile(path), refusal.isEmpty());
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(d.shown().size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty()) {
            QVERIFY(!core::isOpen(st.RsSource));
            return;
        }
        QCOMPARE(st.SourcePath, path);
        if (name.endsWith(".DBF")) {
            QCOMPARE(st.SourceType, QStringLiteral("dbf"));
            QVERIFY(core::isOpen(st.RsSource));
        } else {
            QVERIFY(!windows_.chooser.isNull()); // the sheet is chosen next, as after the dialog
        }
    }

    // "打开DBF数据" on a GBK FoxPro table renamed 客户.dbf in a folder 客户数据.
    void openDbfGbk() {
        const QString path = copySample("dbf/javadbf/gbk.dbf", "客户数据", "客户.dbf");
        QVERIFY(!path.isEmpty());
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        const QString dir = dir_->path() + "/客户数据";
        QCOMPARE(st.SourcePath, path);
        QCOMPARE(st.SourceFileTitle, QStringLiteral("客户.dbf"));
        QCOMPARE(st.SourceBaseName, QStringLiteral("客户"));
        QCOMPARE(st.SourceTable, QStringLiteral("客户"));
        QCOMPARE(st.SourceDir, dir);
        QCOMPARE(st.SourceType, QStringLiteral("dbf"));
        QCOMPARE(QDir(st.SourceConn.path()).absolutePath(), QDir(dir).absolutePath());
        QVERIFY(core::isOpen(st.RsSource));
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset(), st.RsSource);
        const QStringList fields = {"设计编号", "审核信息", "是否打印"};
        QCOMPARE(st.RsSource->fieldNames(), fields);
        QCOMPARE(fieldList(), fields);
        checkCounters(28);
        QCOMPARE(w_->statusPanel(1), QDir::toNativeSeparators(dir));
        QCOMPARE(w_->statusPanel(2), QStringLiteral("客户.dbf"));
        QCOMPARE(w_->statusPanel(3), QStringLiteral("客户"));
        checkMappedTables(fields);
        QVERIFY(!child<QFrame>(w_.get(), "Picture1")->isVisible());
    }

    // A Big5 table that declares no code page: both dBase commands ask for the code page with
    // the guess selected and the values read in each; the choice is what the table is read in
    // and is offered first the next time; Cancel leaves the open source as it was.
    void dbfWithoutCodePage() {
        using namespace formats::dbf;
        const QString path = dir_->path() + QStringLiteral("/b/客戶.dbf");
        QDir().mkpath(QFileInfo(path).path());
        const QStringList names{QStringLiteral("陳志明"), QStringLiteral("臺北市大安區忠孝東路"),
                                QStringLiteral("國泰人壽保險股份有限公司")};
        QString error;
        QVERIFY2(createTable(path, Flavour::DBase3, {{QStringLiteral("NAME"), 'C', 40}},
                             parseCodePage(QStringLiteral("950")), &error),
                 qPrintable(error));
        {
            Table t;
            QVERIFY2(t.open(path, {}, &error), qPrintable(error));
            for (const QString& n : names) {
                quint32 recno = 0;
                QVERIFY2(t.appendRecord({Value::fromText(n)}, &recno, &error), qPrintable(error));
            }
            QVERIFY(t.flush(&error));
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(29) && f.write("\0", 1) == 1);
        f.close();
        const QStringList offered = sources::dbfCodePageNames();
        const int big5 = int(offered.indexOf("950")), western = int(offered.indexOf("1252"));
        QVERIFY(big5 >= 0 && western >= 0);
        QStringList westernNames;
        QStringEncoder encoder("Big5");
        for (const QString& n : names)
            westernNames << formats::decode(encoder.encode(n), "windows-1252");
        const auto shownValues = [&] {
            QStringList out;
            for (int r = 0; core::isOpen(st.RsSource) && r < st.RsSource->recordCount(); ++r)
                out << st.RsSource->valueAt(r, 0).toString();
            return out;
        };

        // The guess offered first; the user takes 1252.
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        d.expectChoice(western);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        const ui::ChoiceOptions first = d.shown().at(1).choice;
        QCOMPARE(first.title, QStringLiteral("选择代码页"));
        QVERIFY2(first.prompt.contains(QStringLiteral("客戶.dbf")) &&
                     first.prompt.contains(QStringLiteral("Big5（繁体中文，950）")),
                 qPrintable(first.prompt));
        QCOMPARE(first.current, big5);
        QCOMPARE(first.items.size(), offered.size());
        QCOMPARE(first.items.at(big5), QStringLiteral("Big5（繁体中文，950）"));
        QCOMPARE(first.previews.at(big5), names);
        QCOMPARE(first.previews.at(western), westernNames);
        QCOMPARE(st.SourceCodePage, QStringLiteral("1252"));
        QCOMPARE(shownValues(), westernNames);
        QCOMPARE(sources::rememberedDbfCodePage(path), QStringLiteral("1252"));

        // Opened again: the choice comes first; now Big5.
        d.clear();
        d.expectOpenFile(path);
        d.expectChoice(big5);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(d.shown().at(1).choice.current, western);
        QVERIFY(d.shown().at(1).choice.prompt.contains(QStringLiteral("上次")));
        QCOMPARE(shownValues(), names);
        QCOMPARE(sources::rememberedDbfCodePage(path), QStringLiteral("950"));

        // Cancel in the choice: the open table stays, in its code page.
        d.clear();
        d.expectOpenFile(path);
        d.expectChoice(std::nullopt);
        child<QAction>(w_.get(), "Input_DBF")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(windows_.import.isNull());
        QCOMPARE(st.SourceType, QStringLiteral("dbf"));
        QCOMPARE(st.SourceCodePage, QStringLiteral("950"));
        QCOMPARE(shownValues(), names);

        // "导入DBF数据" imports the rows in the code page chosen.
        d.clear();
        d.expectOpenFile(path);
        d.expectChoice(big5);
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QAction>(w_.get(), "Input_DBF")->trigger();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS"),
                 (QList<QStringList>{{names[0]}, {names[1]}, {names[2]}}));
    }

    // "导入DBF数据（可导出Excel文件）" on a dBase III table with memo and reserved-word fields.
    void importDbfWithMemo() {
        QVERIFY(!copySample("dbf/DBFFile/dbase_83.dbt", "d").isEmpty());
        const QString path = copySample("dbf/DBFFile/dbase_83.dbf", "d");
        const QJsonObject want = dump("dbf_dump.py", path);
        QVERIFY(!want.isEmpty());
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QAction>(w_.get(), "Input_DBF")->trigger();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceType, QStringLiteral("xls"));
        QCOMPARE(st.SourceFileTitle, QStringLiteral("MorlayBankCC.MDB"));
        QCOMPARE(st.SourceTable, QStringLiteral("dbase_83"));
        QCOMPARE(w_->statusPanel(2), QStringLiteral("MorlayBankCC.MDB"));
        QCOMPARE(w_->statusPanel(3), QStringLiteral("dbase_83"));
        const QStringList fields = dbfFields(want);
        QCOMPARE(fieldList(), fields);
        checkImportedSourceShown();
        checkCounters(67);
        checkMappedTables(fields);
        checkImportedTable(fields);
        checkImportedRows(want["rows"].toArray());
        QCOMPARE(windows_.importResult.copied, 67);
        QCOMPARE(windows_.importResult.failed, 0);
    }

    void stoppedImportKeepsNothing() {
        // Stopped at its tenth record: the rows copied by then are taken back.
        QVERIFY(!copySample("dbf/DBFFile/dbase_83.dbt", "s").isEmpty());
        const QString path = copySample("dbf/DBFFile/dbase_83.dbf", "s");
        QVERIFY(sources::openDbfForImport(st, path, "dbase_83.dbf").ok());
        struct Stop : core::ProgressSink {
            int calls = 0;
            bool progress(int, int) override { return ++calls < 10; }
        } stop;
        const sources::ImportResult r = sources::importRows(st, stop);
        QVERIFY(r.cancelled);
        QCOMPARE(r.copied, 0);
        QCOMPARE(stop.calls, 10);
        QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS").size(), 0);
        QCOMPARE(sources::importProblem(r), QStringLiteral("导入已停止，没有导入任何数据。"));
    }

    // A text file of many batches, read and written side by side (two threads) or one after the
    // other (one): the table holds every row trimmed, a short row's missing values empty, and is
    // the recordset the check goes on with; stopped late, it holds nothing.
    void longImportWrittenWhole_data() {
        QTest::addColumn<QByteArray>("threads");
        QTest::addColumn<int>("stopAt"); // 0: not stopped
        QTest::newRow("one thread") << QByteArray("1") << 0;
        QTest::newRow("two threads") << QByteArray("2") << 0;
        QTest::newRow("two threads, stopped") << QByteArray("2") << 9000;
    }
    void longImportWrittenWhole() {
        QFETCH(QByteArray, threads);
        QFETCH(int, stopAt);
        const int rows = 10000;
        QString text = QStringLiteral("姓名,地址,电话\n");
        QList<QStringList> want;
        for (int i = 0; i < rows; ++i) {
            const QString name = QStringLiteral("客户%1").arg(i);
            const QString address = QStringLiteral("\"杭州市西湖区, %1号\"").arg(i % 977);
            if (i % 97 == 5) { // two values only
                text += QStringLiteral("  %1 ,%2\n").arg(name, address);
                want << QStringList{name, address.mid(1, address.size() - 2), QString()};
                continue;
            }
            const QString phone = i % 13 == 0 ? QString() : QString::number(13800000000LL + i);
            text += QStringLiteral("%1,%2, %3 \n").arg(name, address, phone);
            want << QStringList{name, address.mid(1, address.size() - 2), phone};
        }
        const QString path = dir_->path() + "/long.csv";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        f.close();
        qputenv("CHACHONG_THREADS", threads);
        const auto unset = qScopeGuard([] { qunsetenv("CHACHONG_THREADS"); });
        QVERIFY(sources::connectText(st, path, "long.csv").ok());
        QStringList tables;
        QVERIFY(sources::chooserTables(st, &tables).ok());
        QCOMPARE(tables.size(), 1);
        QVERIFY(sources::openChosenTable(st, tables.first(), true).ok());
        struct Stop : core::ProgressSink {
            int at = 0, calls = 0;
            bool progress(int, int) override { return at == 0 || ++calls < at; }
        } sink;
        sink.at = stopAt;
        sources::ImportResult r = sources::importRows(st, sink);
        if (stopAt > 0) {
            QVERIFY(r.cancelled);
            QCOMPARE(r.copied, 0);
            QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS").size(), 0);
            return;
        }
        QCOMPARE(r.copied, rows);
        QCOMPARE(r.failed, 0);
        QVERIFY(sources::reopenImported(st, r));
        QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS"), want);
        QList<QStringList> kept;
        for (int i = 0; i < st.RsSource->recordCount(); ++i) {
            QStringList row;
            for (int c = 0; c < st.RsSource->fieldCount(); ++c)
                row << st.RsSource->valueAt(i, c).toString();
            kept << row;
        }
        QCOMPARE(kept, want);
    }

    // A source of 145 fields: the first 49 are carried and the user hears once of the rest.
    void importMoreThan49Fields() {
        QVERIFY(!copySample("dbf/javadbf/dbase_30.fpt", "w").isEmpty());
        const QString path = copySample("dbf/javadbf/dbase_30.dbf", "w");
        const QJsonObject want = dump("dbf_dump.py", path);
        const QStringList fields = dbfFields(want);
        QCOMPARE(fields.size(), 145);
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        d.expectMessage(sources::leftOutMessage(fields.mid(49), true), ui::Answer::Ok,
                        ui::defaultTitle());
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QAction>(w_.get(), "Input_DBF")->trigger();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(d.messageTexts().at(0).contains(fields.at(144)));
        checkMappedTables(fields);
        checkImportedTable(fields);
        checkImportedRows(want["rows"].toArray());
        QCOMPARE(fieldList(), fields.mid(0, 49));
    }

    // "打开MDB数据" on a real Access file: the copy notice, the chooser, "确认" with nothing
    // selected, then Customers.
    void openMdbCustomers() {
        const QString path = copySample("mdb/mdbtestdata/nwind.mdb", "m");
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        d.expectMessage("此Access文件以副本方式打开，原文件不会被修改");
        child<QAction>(w_.get(), "begin_MDB")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceType, QStringLiteral("mdb"));
        QCOMPARE(st.SourceBaseName, QStringLiteral("nwind"));
        QVERIFY(st.SourceConn.isWorkingCopy());
        QVERIFY(!windows_.chooser.isNull());
        sources::tableFm1* c = windows_.chooser;
        QCOMPARE(c->windowTitle(), QStringLiteral("选择表"));
        QStringList names;
        for (int i = 0; i < child<QListWidget>(c, "List1")->count(); ++i)
            names << child<QListWidget>(c, "List1")->item(i)->text();
        QCOMPARE(names.size(), 9);
        QVERIFY(names.contains("Customers"));
        QVERIFY(names.contains("Order Details"));
        for (const QString& n : names)
            QVERIFY(!n.startsWith("MSys"));
        QVERIFY(!child<QFrame>(c, "Picture1")->isVisible());

        // Nothing selected: nothing happens.
        child<QPushButton>(c, "Command2")->click();
        QVERIFY(!windows_.chooser.isNull());
        QVERIFY(child<QPushButton>(c, "Command2")->isEnabled());
        QVERIFY(child<QPushButton>(c, "Command1")->isEnabled());
        QVERIFY(!core::isOpen(st.RsSource));

        child<QListWidget>(c, "List1")->setCurrentRow(names.indexOf("Customers"));
        child<QPushButton>(c, "Command2")->click();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QTRY_VERIFY(windows_.chooser.isNull());
        QCOMPARE(st.SourceTable, QStringLiteral("Customers"));
        QVERIFY(core::isOpen(st.RsSource));
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset(), st.RsSource);
        const QStringList fields = {"CustomerID", "CompanyName", "ContactName", "ContactTitle",
                                    "Address",    "City",        "Region",      "PostalCode",
                                    "Country",    "Phone",       "Fax"};
        QCOMPARE(fieldList(), fields);
        checkCounters(91);
        QCOMPARE(w_->statusPanel(2), QStringLiteral("nwind.mdb"));
        QCOMPARE(w_->statusPanel(3), QStringLiteral("Customers"));
        checkMappedTables(fields);
        QVERIFY(windows_.import.isNull()); // an Access table is checked in place
    }

    // An Access-form file that is an SQLite database: system-looking names are hidden.
    void msysNamesHidden() {
        const QString path = dir_->path() + "/sys.mdb";
        {
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &h), SQLITE_OK);
            const int rc = sqlite3_exec(h,
                                        "CREATE TABLE MSysData (a VARCHAR(10));"
                                        "CREATE TABLE msysobjects (a VARCHAR(10));"
                                        "CREATE TABLE [客户] (a VARCHAR(10));",
                                        nullptr, nullptr, nullptr);
            sqlite3_close(h);
            QCOMPARE(rc, SQLITE_OK);
        }
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "begin_MDB")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(!windows_.chooser.isNull());
        QCOMPARE(child<QListWidget>(windows_.chooser, "List1")->count(), 1);
        QCOMPARE(child<QListWidget>(windows_.chooser, "List1")->item(0)->text(),
                 QStringLiteral("客户"));
        // An empty table: counters "0", the field list still filled.
        child<QListWidget>(windows_.chooser, "List1")->setCurrentRow(0);
        child<QPushButton>(windows_.chooser, "Command2")->click();
        QVERIFY(core::isOpen(st.RsSource));
        checkCounters(0);
        QCOMPARE(fieldList(), QStringList{"a"});
        // Connecting another file lets go of the table shown; "返回" then leaves nothing open
        // rather than the previous file's rows under the new file's name.
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "begin_MDB")->trigger();
        QVERIFY(!core::isOpen(st.RsSource));
        child<QPushButton>(windows_.chooser, "Command1")->click();
        QTRY_VERIFY(windows_.chooser.isNull());
        QVERIFY(!core::isOpen(st.RsSource));
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 0);
        QVERIFY(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset() == nullptr ||
                child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset()->fieldNames() !=
                    QStringList{"a"});
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
    }

    // 49 fields all reach the working tables without a word; from 50 on the user hears which
    // are left out. A field named No keeps its name in the grid and gets a suffix beside the
    // record-number column.
    void fieldLimit_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("49") << 49;
        QTest::newRow("50") << 50;
    }
    void fieldLimit() {
        QFETCH(int, count);
        QStringList fields{"No", "ORDER", "客户 名称"};
        while (fields.size() < count)
            fields << QStringLiteral("F%1").arg(fields.size());
        const QString path = dir_->path() + "/wide.mdb";
        {
            QStringList defs;
            for (const QString& f : fields)
                defs << db::sql::ident(f) + " VARCHAR(20)";
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &h), SQLITE_OK);
            const QByteArray sql = ("CREATE TABLE wide (" + defs.join(", ") + ")").toUtf8();
            const int rc = sqlite3_exec(h, sql.constData(), nullptr, nullptr, nullptr);
            sqlite3_close(h);
            QCOMPARE(rc, SQLITE_OK);
        }
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        if (count > sources::maxFields)
            d.expectMessage(sources::leftOutMessage(fields.mid(sources::maxFields), false));
        child<QAction>(w_.get(), "begin_MDB")->trigger();
        child<QListWidget>(windows_.chooser, "List1")->setCurrentRow(0);
        child<QPushButton>(windows_.chooser, "Command2")->click();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        // Only the fields the working tables carry are offered as check fields.
        QCOMPARE(fieldList(), fields.mid(0, 49));
        const QList<Column> cc = columnsOf(st.WorkConn, "ClienttableCC");
        QCOMPARE(cc.size(), sources::maxFields + 2);
        QCOMPARE(cc[0].name, QStringLiteral("No"));
        QCOMPARE(cc[1].name, QStringLiteral("No_1"));
        QCOMPARE(cc[2].name, QStringLiteral("ORDER"));
        QCOMPARE(cc[3].name, QStringLiteral("客户 名称"));
        QCOMPARE(cc[49].name, fields[48]);
        QCOMPARE(cc[50].name, templateColumn(49).name);
    }

    // "导入Excel数据" on a Chinese sheet.
    void importXlsxWorkbook() {
        // "导入Excel数据" takes an Excel 2007 workbook: its filter comes after the others, the
        // chooser lists its worksheets, the import copies the chosen one as it copies a sheet.
        const QString path =
            copySample("reference/chinese-names-corpus/Chinese_Family_Name（1k）.xlsx", "xx");
        const QJsonObject want = dump("xlsx_dump.py", path);
        const QJsonObject sheet = want["sheets"].toArray().at(0).toObject();
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "inputFile_XLS")->trigger();
        const ui::FileDialogOptions o = d.shown().first().fileOptions;
        QCOMPARE(o.filter,
                 QStringLiteral("所有文件|*.*|xls文件|*.xls|Excel 2007及以上文件|*.xlsx"));
        QCOMPARE(o.filterIndex, 2);
        QVERIFY(!windows_.chooser.isNull());
        auto* list = child<QListWidget>(windows_.chooser, "List1");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), sheet["name"].toString());
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        list->setCurrentRow(0);
        child<QPushButton>(windows_.chooser, "Command2")->click();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceBaseName, QStringLiteral("Chinese_Family_Name（1k）"));
        QCOMPARE(st.SourceTable, "[" + sheet["name"].toString() + "$]");
        QCOMPARE(w_->statusPanel(2), QStringLiteral("Chinese_Family_Name（1k）.xlsx"));
        checkImportedRows(sheet["rows"].toArray());
        checkCounters(sheet["rows"].toArray().size());
    }

    void importCsvText() {
        // "导入文本数据（CSV）": a GB18030 file with a quoted line break, a doubled quote and a
        // code with leading zeros, imported at once (the file holds one table).
        const QString path = dir_->filePath("客户 名单.csv");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QStringEncoder gb("GB18030");
            f.write(gb.encode(
                QStringLiteral("姓名,地址,邮编\r\n张三,\"北京市\n朝阳区\",001234\r\n"
                               "李四,\"上海\"\"浦东\"\"\",200120\r\n张三,北京,001234\r\n")));
        }
        ui::ScriptedDialogs d;
        d.expectOpenFile(path).expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QAction>(w_.get(), "inputFile_CSV")->trigger();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        const ui::FileDialogOptions o = d.shown().first().fileOptions;
        QCOMPARE(o.filter, QStringLiteral("文本文件|*.csv;*.txt|所有文件|*.*"));
        QCOMPARE(o.filterIndex, 1);
        QCOMPARE(st.SourceType, QStringLiteral("xls"));
        QCOMPARE(st.SourceFileTitle, QStringLiteral("客户 名单.csv"));
        QCOMPARE(st.SourceBaseName, QStringLiteral("客户 名单"));
        QCOMPARE(fieldList(), QStringList({"姓名", "地址", "邮编"}));
        QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS"),
                 QList<QStringList>({{"张三", "北京市\n朝阳区", "001234"},
                                     {"李四", "上海\"浦东\"", "200120"},
                                     {"张三", "北京", "001234"}}));
        checkCounters(3);
        // Cancel in the file dialog changes nothing.
        d.clear();
        d.expectOpenFile(std::nullopt);
        child<QAction>(w_.get(), "inputFile_CSV")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceFileTitle, QStringLiteral("客户 名单.csv"));
    }

    void importExcelChinese() {
        const QString path = copySample("xls/poi/chinese-provinces.xls", "x");
        const QJsonObject want = dump("xls_dump.py", path);
        const QJsonObject sheet = want["sheets"].toArray().at(0).toObject();
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "inputFile_XLS")->trigger();
        QVERIFY(!windows_.chooser.isNull());
        QCOMPARE(child<QListWidget>(windows_.chooser, "List1")->count(), 1);
        QCOMPARE(child<QListWidget>(windows_.chooser, "List1")->item(0)->text(),
                 QStringLiteral("provinces"));
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QListWidget>(windows_.chooser, "List1")->setCurrentRow(0);
        child<QPushButton>(windows_.chooser, "Command2")->click();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceTable, QStringLiteral("[provinces$]"));
        QCOMPARE(st.SourceType, QStringLiteral("xls"));
        QCOMPARE(w_->statusPanel(3), QStringLiteral("provinces"));
        QStringList fields;
        for (const QJsonValue& f : sheet["fields"].toArray())
            fields << f.toString();
        QCOMPARE(fieldList(), fields);
        checkImportedSourceShown();
        checkCounters(3);
        checkMappedTables(fields);
        checkImportedTable(fields);
        checkImportedRows(sheet["rows"].toArray());
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset()->valueAt(1, 1).toString(),
                 QStringLiteral("北京市"));

        // "打开导入数据" reopens those rows; then with ClienttableELS emptied, and missing.
        d.clear();
        child<QAction>(w_.get(), "begin_MDB2")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceType, QStringLiteral("mdb"));
        QCOMPARE(st.SourceTable, QStringLiteral("ClienttableELS"));
        QCOMPARE(st.SourceFileTitle, QStringLiteral("MorlayBankCC.mdb"));
        QCOMPARE(st.SourceDir, dir_->path());
        QCOMPARE(w_->statusPanel(3), QStringLiteral("ClienttableELS"));
        checkCounters(3);
        QCOMPARE(fieldList(), fields);
        QVERIFY(st.WorkConn.execute("Delete * From ClienttableELS"));
        child<QAction>(w_.get(), "begin_MDB2")->trigger();
        QVERIFY(core::isOpen(st.RsSource));
        checkCounters(0);
        QCOMPARE(fieldList(), fields);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));

        QVERIFY(st.WorkConn.execute("Drop Table ClienttableELS"));
        d.expectMessageContaining("ClienttableELS", ui::Answer::Ok);
        child<QAction>(w_.get(), "begin_MDB2")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(!core::isOpen(st.RsSource));
        QVERIFY(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset() != nullptr);
        QCOMPARE(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset()->fieldCount() == 0 ||
                     child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset()->fieldNames() !=
                         fields,
                 true);
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 0);
        checkCounters(0);
    }

    // A workbook with named ranges beside its sheets: only the sheets are offered.
    void namedRangesNotOffered() {
        const QString path = copySample("xls/xlrd/namesdemo.xls", "n");
        const QJsonObject want = dump("xls_dump.py", path);
        QStringList sheets;
        for (const QJsonValue& s : want["sheets"].toArray())
            sheets << s.toObject()["name"].toString();
        QVERIFY(!want["names"].toArray().isEmpty());
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        child<QAction>(w_.get(), "inputFile_XLS")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QStringList names;
        for (int i = 0; i < child<QListWidget>(windows_.chooser, "List1")->count(); ++i)
            names << child<QListWidget>(windows_.chooser, "List1")->item(i)->text();
        QCOMPARE(names, sheets);
        // The sheet with an apostrophe in its name opens and imports.
        const QString sheet = QStringLiteral("Seamus O'Reilly");
        QVERIFY(names.contains(sheet));
        d.expectMessage("Ok", ui::Answer::Ok, "导入数据成功");
        child<QListWidget>(windows_.chooser, "List1")->setCurrentRow(names.indexOf(sheet));
        child<QPushButton>(windows_.chooser, "Command2")->click();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.SourceTable, "[" + sheet + "$]");
        checkImportedRows(
            want["sheets"].toArray().at(names.indexOf(sheet)).toObject()["rows"].toArray());
    }

    // A row the working database refuses is counted and reported, never "导入数据成功": alone,
    // and among rows stored together (the others of its statement are stored). The second
    // field holds the value refused.
    void failedRowsReported_data() {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<int>("total");
        QTest::newRow("three rows") << "xls/poi/chinese-provinces.xls"
                                    << "北京市" << 3;
        QTest::newRow("row 20 of 39") << "xls/poi/61287.xls"
                                      << "14" << 39;
    }
    void failedRowsReported() {
        QFETCH(QString, sample);
        QFETCH(QString, refused);
        QFETCH(int, total);
        const QString path = copySample(sample, "f");
        windows_.beforeImport = [this, refused] {
            const QString col = columnsOf(st.WorkConn, "ClienttableELS").value(1).name;
            QVERIFY(st.WorkConn.execute("DROP TRIGGER IF EXISTS refuse"));
            QVERIFY(st.WorkConn.execute("CREATE TRIGGER refuse BEFORE INSERT ON ClienttableELS "
                                        "WHEN NEW." +
                                        db::sql::ident(col) + " = '" + refused +
                                        "' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        };
        ui::ScriptedDialogs d;
        d.expectOpenFile(path);
        d.expectMessageContaining("有 1 行未能导入", ui::Answer::Ok);
        child<QAction>(w_.get(), "inputFile_XLS")->trigger();
        child<QListWidget>(windows_.chooser, "List1")->setCurrentRow(0);
        child<QPushButton>(windows_.chooser, "Command2")->click();
        waitForImport();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        qWarning() << rowsOf(st.WorkConn, "ClienttableELS").value(19);
        QCOMPARE(windows_.importResult.total, total);
        QCOMPARE(windows_.importResult.copied, total - 1);
        QCOMPARE(windows_.importResult.failed, 1);
        QCOMPARE(rowsOf(st.WorkConn, "ClienttableELS").size(), total - 1);
    }

    // A file that is no dBase table: a clear message, and the grid no longer shows the
    // previous source.
    void corruptFileLeavesNoStaleGrid() {
        const QString good = copySample("dbf/javadbf/gbk.dbf", "c");
        const QString bad = dir_->path() + "/c/坏.dbf";
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("this is not a dBase table at all");
        }
        ui::ScriptedDialogs d;
        d.expectOpenFile(good);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY(core::isOpen(st.RsSource));
        const db::RecordsetPtr old = st.RsSource;
        d.expectOpenFile(bad);
        d.expectMessageContaining("坏", ui::Answer::Ok);
        child<QAction>(w_.get(), "begin_DBF")->trigger();
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(!core::isOpen(st.RsSource));
        QVERIFY(child<ui::DataGrid>(w_.get(), "DataGrid1")->recordset() != old);
        QCOMPARE(child<QListWidget>(w_.get(), "List2")->count(), 0);
        checkCounters(0);
    }
};

CHACHONG_TEST_MAIN(TestOpenSource)
#include "tst_opensource.moc"
