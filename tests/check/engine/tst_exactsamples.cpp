// The exact check on real files made by other people: a FoxPro table checked in place, and an
// Excel sheet imported into the working database. Expected groups come from a plain scan.
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/sqltext.h"
#include "import/engine/importrows.h"
#include "import/engine/sources.h"
#include "import/engine/worktables.h"
#include "tests/support/testsupport.h"

#include <QDir>

using namespace db;

namespace {

struct Expected {
    int groups = 0;
    int rows = 0;
};

// Groups of records equal on the fields (first field not empty), by a plain scan.
Expected groupsByScan(Recordset& rs, const QStringList& fields) {
    QMap<QStringList, int> count;
    rs.moveFirst();
    while (!rs.isEof()) {
        QStringList key;
        for (const QString& f : fields)
            key << testsupport::blankTrimmed(rs.value(f).toString()).toLower();
        if (!key.first().isEmpty()) ++count[key];
        rs.moveNext();
    }
    Expected e;
    for (int n : count)
        if (n >= 2) {
            ++e.groups;
            e.rows += n;
        }
    return e;
}

} // namespace

class TestExactSamples : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    core::AppState& st = core::appState();

    void startWorkDb() {
        core::resetAppState();
        const QString db = testsupport::copyWorkDb(tmp.path());
        st.AppDir = tmp.path();
        st.WorkDbPath = db;
        QVERIFY(st.WorkConn.open(accessConnectionString(db)));
    }
    void prepareCheck(const QStringList& fields) {
        core::setCheckFields(st, fields);
        QVERIFY(core::prepareCheck(st, core::CheckMode::Exact).ok());
    }

private slots:
    void foxproTableCheckedInPlace() {
        startWorkDb();
        const QString dir = tmp.path() + "/客户 数据";
        QDir().mkpath(dir);
        QVERIFY(
            !testsupport::copyInto(testsupport::sample("dbf/javadbf/dbase_31.dbf"), dir).isEmpty());
        QVERIFY2(st.SourceConn.open(dbaseConnectionString(dir)),
                 qPrintable(st.SourceConn.errorString()));
        st.SourceType = "dbf";
        st.SourceTable = "dbase_31";
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open(sql::selectAll("dbase_31"), st.SourceConn));
        const int before = st.RsSource->recordCount();
        QCOMPARE(before, 77);
        QVERIFY(sources::createTable(st).ok());
        const QStringList fields{"categoryid", "discontinu"};
        Recordset scan;
        QVERIFY(scan.open(sql::selectAll("dbase_31"), st.SourceConn));
        const Expected e = groupsByScan(scan, fields);
        QVERIFY(e.groups > 2);
        prepareCheck(fields);

        core::ProgressSink sink;
        const auto r = check::CheckJob(st, core::runOptionsOf(st, 1, before)).runAll(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, e.groups);
        QCOMPARE(r.duplicateRows, e.rows);
        QCOMPARE(r.separated, e.rows);
        // The file itself lost the separated records; its backup keeps all of them.
        Connection again;
        QVERIFY(again.open(dbaseConnectionString(dir)));
        Recordset left;
        QVERIFY(left.open(sql::selectAll("dbase_31"), again));
        QCOMPARE(left.recordCount(), before - e.rows);
        QVERIFY(r.backupPath.startsWith(dir + "/查重备份/dbase_31_"));
        const QStringList backups = QDir(dir + "/查重备份").entryList({"*.dbf"}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        Connection backup;
        QVERIFY(backup.open(dbaseConnectionString(dir + "/查重备份")));
        Recordset all;
        QVERIFY(all.open(sql::selectAll(QFileInfo(backups.first()).completeBaseName()), backup));
        QCOMPARE(all.recordCount(), before);
        // Duplicate rows are whole records of the table.
        Recordset cc;
        QVERIFY(cc.open("Select * From ClienttableCC", st.WorkConn));
        QCOMPARE(cc.fieldCount(), st.RsSource->fieldCount() + 2);
    }

    void longMemoValuesKeptWhole() {
        // Three equal memo values of 70,000 characters: one group of three, all separated.
        startWorkDb();
        const QString dir = tmp.path() + "/备注";
        QDir().mkpath(dir);
        QString memo;
        for (int i = 0; i < 70000; ++i)
            memo += i % 7 == 0 ? QChar(0x5907) : QChar('a' + i % 26);
        QVERIFY(testsupport::makeDbf(
            dir + "/客户.dbf", {"姓名", "备注"},
            {{"张三", memo}, {"李四", memo}, {"王五", memo}, {"赵六", "短"}}, "CM"));
        const sources::OpenResult opened = sources::openDbf(st, dir + "/客户.dbf", "客户.dbf");
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        prepareCheck({"备注"});
        core::ProgressSink sink;
        const auto r = check::CheckJob(st, core::runOptionsOf(st, 1, 4)).runAll(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, 1);
        QCOMPARE(r.duplicateRows, 3);
        QCOMPARE(r.separated, 3);
        const QList<QStringList> cc = testsupport::tableRows(st.WorkConn, "ClienttableCC");
        QCOMPARE(cc[1][2].size(), 70000);
        QCOMPARE(cc[1][2], memo);
        QCOMPARE(st.RsSource->recordCount(), 1);
    }

    void excelSheetImported() {
        startWorkDb();
        const QString file =
            testsupport::copyInto(testsupport::sample("xls/poi/19599-2.xls"), tmp.path());
        QVERIFY2(st.SourceConn.open(excelConnectionString(file)),
                 qPrintable(st.SourceConn.errorString()));
        st.SourceType = "xls";
        st.SourceTable = "[汇总$]";
        Recordset sheet;
        QVERIFY2(sheet.open("Select * From [汇总$]", st.SourceConn),
                 qPrintable(sheet.errorString()));
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From [汇总$]", st.SourceConn));
        QVERIFY(sources::createTable(st).ok());
        // The import: every row into ClienttableELS, fields by position.
        core::ProgressSink quiet;
        sources::ImportResult imported = sources::importRows(st, quiet);
        QVERIFY(sources::reopenImported(st, imported));
        const int before = st.RsSource->recordCount();
        QCOMPARE(before, sheet.recordCount());
        const QStringList fields{st.RsSource->fieldName(2)};
        const Expected e = groupsByScan(*st.RsSource, fields);
        QCOMPARE(e.groups, 3); // 次, 元, 个
        prepareCheck(fields);

        core::ProgressSink sink;
        const auto r = check::CheckJob(st, core::runOptionsOf(st, 1, before)).runAll(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, e.groups);
        QCOMPARE(r.duplicateRows, e.rows);
        QCOMPARE(st.RsSource->recordCount(), before - e.rows);
        QVERIFY(r.backupPath.isEmpty()); // the working database needs no copy
        QVERIFY(!QDir(tmp.path() + "/查重备份").exists());
    }
};

CHACHONG_TEST_MAIN(TestExactSamples)
#include "tst_exactsamples.moc"
