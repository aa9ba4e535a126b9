// The merge without its window: check_Repeat (records equal field by field, the first kept), the
// merge back into the check table after a real check, the three kinds of target ("clients.DBF"
// gives the table clients, Access files that can only be read, MSys tables hidden, an SQLite
// database written), and the mends: a value wider than its dBase field writes nothing and names
// the record and the field, a failed merge leaves the target as it was, the user's file is
// backed up first. dBase files are read back with python3-dbf.
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "control/engine/merge.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/formats/dbf/dbf.h"
#include "import/engine/sources.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

using testsupport::tableRows;

using testsupport::dbfRows;
using testsupport::digest;

namespace {

struct Recorder : core::ProgressSink {
    QList<QPair<int, int>> calls;
    QList<int> left;
    int stopAt = -1; // the progress call (1-based) that answers false
    bool progress(int done, int total) override {
        calls << qMakePair(done, total);
        return calls.size() != stopAt;
    }
    void remaining(int count) override { left << count; }
};

// The backups in a folder's 查重备份, and the logs of the changes beside them.
QStringList backups(const QString& dir) {
    QStringList files = QDir(dir + QStringLiteral("/查重备份")).entryList(QDir::Files);
    files.removeIf([](const QString& f) { return f.endsWith(QLatin1String(".csv")); });
    return files;
}
// A log's lines, split at commas (the tests' values hold none), its byte-order mark checked.
QList<QStringList> logLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray text = f.readAll();
    if (!text.startsWith("\xEF\xBB\xBF")) return {};
    QList<QStringList> lines;
    for (const QString& line :
         QString::fromUtf8(text.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        lines << line.split(QLatin1Char(','));
    return lines;
}
QStringList logs(const QString& dir) {
    return QDir(dir + QStringLiteral("/查重备份"))
        .entryList({QStringLiteral("*.csv")}, QDir::Files);
}

} // namespace

class TestMerge : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();

    // ClienttableCC (No, 姓名, 电话, 地址, running number 1, 2, ...) holding the rows.
    void duplicates(const QList<QStringList>& rows) {
        QVERIFY(f.loadDuplicates({"姓名", "电话", "地址"}, rows));
    }
    // The client fields of ClienttableCC as stored, row by row.
    QList<QStringList> storedDuplicates() {
        QList<QStringList> rows;
        for (const QStringList& r : tableRows(st.WorkConn, "ClienttableCC"))
            rows << r.mid(1, 3);
        return rows;
    }
    // An SQLite database of the user's with one table (columns of the given declared types).
    QString userDatabase(const QString& name, const QString& create) {
        const QString path = f.dir() + QLatin1Char('/') + name;
        QFile::remove(path);
        QFile::copy(st.WorkDbPath, path);
        db::Connection c;
        if (!c.open(db::accessConnectionString(path)) || !testsupport::exec(c, create)) return {};
        return path;
    }

private slots:
    void repeatsAreWholeRecordsComparedFieldByField() {
        duplicates({{"张三", "1", "甲"},   // A
                    {" 张三", "1 ", "甲"}, // A2: A with blanks, another No and running number
                    {"张三", "1", "乙"},   // B: the same key, another address
                    {"李", "AB", "C"},     // stays
                    {"李", "A", "BC"},     // the same letters run together: stays
                    {"ZHANG", "1", "x"},   // stays
                    {"zhang", "1", "x"},   // letter case counts: stays
                    {"张三", "1", "甲"}}); // A again, last: goes
        Recorder sink;
        const core::RunResult r = control::removeRepeats(st, sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.deleted, 2);
        QCOMPARE(r.duplicateRows, 6);
        QCOMPARE(storedDuplicates(), (QList<QStringList>{{"张三", "1", "甲"},
                                                         {"张三", "1", "乙"},
                                                         {"李", "AB", "C"},
                                                         {"李", "A", "BC"},
                                                         {"ZHANG", "1", "x"},
                                                         {"zhang", "1", "x"}}));
        QCOMPARE(sink.left, (QList<int>{7, 6}));
        QCOMPARE(sink.calls.size(), 8);
        QCOMPARE(sink.calls.last(), qMakePair(8, 8));
        QCOMPARE(st.RsDup->recordCount(), 6);
        QCOMPARE(st.RsDup->absolutePosition(), 1);
    }

    void pendingEditsStopTheMerge() {
        duplicates({{"张三", "1", "甲"}, {"张三", "1", "甲"}});
        QVERIFY(st.RsDup->setValueAt(1, 3, QString("改")));
        Recorder sink;
        const core::RunResult r = control::removeRepeats(st, sink);
        QVERIFY(r.error.contains("保存修改"));
        const control::MergeResult m = control::mergeIntoCheckTable(st, sink);
        QVERIFY(m.error.contains("保存修改"));
        QCOMPARE(storedDuplicates().size(), 2);
        QCOMPARE(testsupport::rowsOf(st.WorkConn, "ClienttableELS"), 0);
    }

    void mergeBackIntoTheCheckTable() {
        // The road of a check: the duplicates separated out of the check table, then merged
        // back with their blanks trimmed; neither No nor the running number is copied.
        QVERIFY(f.load({"姓名", "电话", "地址"}, {{"张三", "1", " 甲 "},
                                                  {"李四", "2", "O'Brien%"},
                                                  {"张三", "1", "甲"},
                                                  {"王五", "3", "丙"}}));
        QVERIFY(f.prepare({"姓名", "电话"}));
        core::ProgressSink quiet;
        const core::RunResult checked = check::CheckJob(st, f.options()).runAll(quiet);
        QVERIFY2(checked.ok(), qPrintable(checked.error));
        QCOMPARE(checked.separated, 2);
        Recorder sink;
        // A grid on the duplicates hears of the merge once, not per record it walks.
        QSignalSpy moves(st.RsDup.get(), &db::Recordset::currentRowChanged);
        const control::MergeResult r = control::mergeIntoCheckTable(st, sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QVERIFY2(moves.size() <= 3, qPrintable(QString::number(moves.size())));
        QCOMPARE(r.written, 2);
        QVERIFY(r.backupPath.isEmpty()); // the working database is no file of the user's
        QCOMPARE(sink.calls, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS"),
                 (QList<QStringList>{{"李四", "2", "O'Brien%"},
                                     {"王五", "3", "丙"},
                                     {"张三", "1", "甲"},
                                     {"张三", "1", "甲"}}));
        QCOMPARE(st.RsSource->recordCount(), 4);
        QCOMPARE(st.RsDup->absolutePosition(), 2); // on its last record
        // A second merge of the same duplicates would write them again: the window asks.
        QVERIFY(control::mergedBefore(st));
    }

    void duplicatesStillInTheCheckTableAreNotMergedBack() {
        // Found but not separated (a separation that failed): a merge would write them twice.
        QVERIFY(f.load({"姓名", "电话"}, {{"张三", "1"}, {"张三", "1"}, {"王五", "3"}}));
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink quiet;
        QVERIFY(check::exactScan(st, f.options(), quiet).ok());
        QVERIFY(st.RsDup->updateBatch());
        const control::MergeResult r = control::mergeIntoCheckTable(st, quiet);
        QVERIFY2(r.error.contains("没有分离出去"), qPrintable(r.error));
        QCOMPARE(testsupport::rowsOf(st.WorkConn, "ClienttableELS"), 3);
        QVERIFY(!control::mergedBefore(st));
    }

    void stoppedMidwayChangesNothing_data() {
        QTest::addColumn<QString>("run");
        QTest::newRow("check_Repeat") << "repeats";
        QTest::newRow("merge into the check table") << "check table";
        QTest::newRow("merge into a dBase table") << "dbase";
    }
    void stoppedMidwayChangesNothing() {
        // Stopped after the second record: what was deleted or written by then is taken back.
        QFETCH(QString, run);
        QVERIFY(f.load({"姓名", "电话", "地址"}, {{"张三", "1", "甲"},
                                                  {"张三", "1", "甲"},
                                                  {"李四", "2", "乙"},
                                                  {"李四", "2", "乙"},
                                                  {"王五", "3", "丙"},
                                                  {"王五", "3", "丙"}}));
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink quiet;
        QVERIFY(check::CheckJob(st, f.options()).runAll(quiet).ok());
        QVERIFY(st.RsDup->requery());
        const QList<QStringList> duplicatesBefore = storedDuplicates();
        Recorder stop;
        stop.stopAt = 2;
        if (run == QLatin1String("repeats")) {
            // Two equal records of each group: deletions by the second record.
            const core::RunResult r = control::removeRepeats(st, stop);
            QVERIFY(r.cancelled);
            QCOMPARE(r.deleted, 0);
            QVERIFY(!stop.left.isEmpty());
        } else if (run == QLatin1String("check table")) {
            const control::MergeResult r = control::mergeIntoCheckTable(st, stop);
            QVERIFY(r.cancelled);
            QCOMPARE(r.written, 0);
            QCOMPARE(testsupport::rowsOf(st.WorkConn, "ClienttableELS"), 0);
            QVERIFY(!control::mergedBefore(st));
        } else {
            const QString dir = f.dir() + QStringLiteral("/停止");
            QDir(dir).removeRecursively();
            QVERIFY(QDir().mkpath(dir));
            const QString file = dir + QStringLiteral("/目标.dbf");
            QVERIFY(testsupport::makeDbf(file, {"姓名", "电话", "地址"}, {{"原", "0", "旧"}}));
            const QList<QStringList> before = dbfRows(file);
            control::MergeTarget target;
            QString error;
            QVERIFY(control::openDbaseTarget(st, file, QStringLiteral("目标.dbf"), &target).ok());
            const control::MergeResult r = control::mergeIntoTarget(st, target, stop);
            QVERIFY(r.cancelled);
            QCOMPARE(r.written, 0);
            QCOMPARE(dbfRows(file), before);
        }
        QCOMPARE(stop.calls.size(), 2);
        QCOMPARE(storedDuplicates(), duplicatesBefore);
    }

    void anEmptyDuplicateTableWritesNothing() {
        QVERIFY(f.load({"姓名", "电话"}, {{"张三", "1"}, {"李四", "2"}}));
        QVERIFY(f.prepare({"姓名"}));
        Recorder sink;
        const control::MergeResult r = control::mergeIntoCheckTable(st, sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.written, 0);
        QVERIFY(sink.calls.isEmpty());
        QCOMPARE(testsupport::rowsOf(st.WorkConn, "ClienttableELS"), 2);
    }

    void aDbaseCheckTableIsBackedUpAndGetsItsRecordsBack() {
        QVERIFY(f.load({"x"}, {})); // a working database; the source is a dBase file
        const QString dir = f.dir() + QStringLiteral("/客户");
        QVERIFY(QDir().mkpath(dir));
        const QString file = dir + QStringLiteral("/客户表.dbf");
        QVERIFY(testsupport::makeDbf(file, {"姓名", "电话"},
                                     {{"张三", "1"}, {"李四", "2"}, {"张三", "1"}, {"王五", "3"}}));
        QVERIFY(sources::openDbf(st, file, QStringLiteral("客户表.dbf")).ok());
        QVERIFY(f.prepare({"姓名"}));
        core::ProgressSink quiet;
        const core::RunResult checked = check::CheckJob(st, f.options()).runAll(quiet);
        QVERIFY2(checked.ok(), qPrintable(checked.error));
        QCOMPARE(backups(dir).size(), 1);
        const QByteArray separated = digest(file);
        const control::MergeResult r = control::mergeIntoCheckTable(st, quiet);
        QVERIFY2(r.ok(), qPrintable(r.error));
        // A second backup: the file as the separation left it.
        QCOMPARE(backups(dir).size(), 2);
        QCOMPARE(digest(r.backupPath), separated);
        QCOMPARE(dbfRows(file),
                 (QList<QStringList>{{"李四", "2"}, {"王五", "3"}, {"张三", "1"}, {"张三", "1"}}));
        // Beside each backup the log of its step: the records removed, then those written back.
        QCOMPARE(logs(dir).size(), 2);
        QCOMPARE(QFileInfo(r.changeLogPath).completeBaseName(),
                 QFileInfo(r.backupPath).completeBaseName() + QStringLiteral("_合并"));
        const QList<QStringList> written = logLines(r.changeLogPath);
        QCOMPARE(written.size(), 3);
        QCOMPARE(written[0].mid(4), (QStringList{"操作", "记录号", "姓名"}));
        QCOMPARE(written[1].mid(3), (QStringList{"合并", "写入", "3", "张三"}));
        QCOMPARE(written[2].mid(3), (QStringList{"合并", "写入", "4", "张三"}));
    }

    void aDbaseTargetNamedByItsFile() {
        QCOMPARE(control::dbaseTargetTable("clients.DBF"), QString("clients"));
        QCOMPARE(control::dbaseTargetTable("客户表.dbf"), QString("客户表"));
        duplicates({{"张三", "13800138000", "北京"}, {"李四", "001234", "O'Brien"}});
        const QString dir = f.dir() + QStringLiteral("/目标");
        QVERIFY(QDir().mkpath(dir));
        const QString file = dir + QStringLiteral("/clients.DBF");
        QVERIFY(testsupport::makeDbf(file, {"NAME", "TEL", "ADDR"}, {{"原有", "0", "旧"}}));
        const QByteArray before = digest(file);
        control::MergeTarget target;
        QString error;
        error = control::openDbaseTarget(st, file, "clients.DBF", &target).error;
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(target.table, QString("clients"));
        core::ProgressSink quiet;
        const control::MergeResult r = control::mergeIntoTarget(st, target, quiet);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.written, 2);
        QVERIFY(r.leftOut.isEmpty());
        QCOMPARE(digest(r.backupPath), before);
        QCOMPARE(r.backupPath, dir + QStringLiteral("/查重备份/") + backups(dir).first());
        QCOMPARE(dbfRows(file), (QList<QStringList>{{"原有", "0", "旧"},
                                                    {"张三", "13800138000", "北京"},
                                                    {"李四", "001234", "O'Brien"}}));
        // The main window shows the target next.
        QCOMPARE(st.RsSource->baseTable(), QString("clients"));
        QCOMPARE(st.RsSource->recordCount(), 3);
    }

    void aValueTooWideForItsDbaseFieldWritesNothing() {
        // Four characters are eight bytes in GBK: the second record does not fit NAME(6).
        duplicates({{"张三", "1", "a"}, {"欧阳小明", "2", "b"}, {"李四", "3", "c"}});
        const QString dir = f.dir() + QStringLiteral("/窄");
        QVERIFY(QDir().mkpath(dir));
        const QString file = dir + QStringLiteral("/narrow.dbf");
        QVERIFY(
            testsupport::makeDbf(file, {"NAME", "TEL", "ADDR"}, {{"原", "0", "x"}}, {}, {6, 4, 4}));
        const QByteArray before = digest(file);
        control::MergeTarget target;
        QString error;
        QVERIFY(control::openDbaseTarget(st, file, "narrow.dbf", &target).ok());
        core::ProgressSink quiet;
        const control::MergeResult r = control::mergeIntoTarget(st, target, quiet);
        QVERIFY(!r.ok());
        QCOMPARE(r.written, 0);
        QVERIFY2(r.error.startsWith("数据合并失败，没有写入任何记录"), qPrintable(r.error));
        QVERIFY2(r.error.contains("第2条记录（欧阳小明）"), qPrintable(r.error));
        QVERIFY2(r.error.contains("NAME"), qPrintable(r.error));
        QCOMPARE(digest(file), before);
        QCOMPARE(dbfRows(file), (QList<QStringList>{{"原", "0", "x"}}));
        QVERIFY(!core::isOpen(st.RsSource) || st.RsSource->baseTable() != "narrow");
    }

    void accessTargets() {
        duplicates({{"张三", "1", "甲"}, {"李四", "2", "乙"}});
        control::MergeTarget target;
        QStringList tables;
        QString error;
        // A real Access file can only be read here.
        const QString nwind = testsupport::copyInto(
            testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb")), f.dir());
        error = control::openAccessTarget(st, nwind, &target, &tables).error;
        QVERIFY(!error.isEmpty());
        QCOMPARE(error, "此Access文件只能读取，不能写入：" + QDir::toNativeSeparators(nwind));
        // Neither a database nor an Access file.
        const QString junk = f.dir() + QStringLiteral("/坏.mdb");
        QFile j(junk);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QByteArray("not a database\n").repeated(100));
        j.close();
        error = control::openAccessTarget(st, junk, &target, &tables).error;
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.startsWith("无法打开目标文件"), qPrintable(error));

        // An Access-form SQLite database: its tables on offer, MSys tables and views not.
        const QString user = userDatabase(
            "客户库.mdb",
            "CREATE TABLE 客户 (姓名 VARCHAR(20), 电话 VARCHAR(20), 地址 VARCHAR(20))");
        QVERIFY(!user.isEmpty());
        {
            db::Connection c;
            QVERIFY(c.open(db::accessConnectionString(user)));
            QVERIFY(testsupport::exec(c, "CREATE TABLE MSysObjects (Id INTEGER)"));
            QVERIFY(testsupport::exec(c, "CREATE TABLE 两栏 (姓名 VARCHAR(20), 电话 VARCHAR(20))"));
            QVERIFY(testsupport::exec(c, "CREATE VIEW 视图 AS SELECT * FROM 客户"));
        }
        error = control::openAccessTarget(st, user, &target, &tables).error;
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(tables.contains("客户") && tables.contains("两栏"));
        QVERIFY(!tables.contains("MSysObjects") && !tables.contains("视图"));
        for (const QString& t : tables)
            QVERIFY2(!t.startsWith("MSys"), qPrintable(t));
        // The working database offers none of its own tables (rows added to the template would
        // go into every table built from it), only the imported rows.
        control::MergeTarget work;
        QStringList own;
        error = control::openAccessTarget(st, st.WorkDbPath, &work, &own).error;
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(own, QStringList{"ClienttableELS"});
        target.table = QStringLiteral("客户");
        const QByteArray before = digest(user);
        core::ProgressSink quiet;
        control::MergeResult r = control::mergeIntoTarget(st, target, quiet);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(digest(r.backupPath), before);
        QVERIFY(r.backupPath.startsWith(f.dir() + QStringLiteral("/查重备份/客户库_")));
        QCOMPARE(tableRows(target.conn, "客户"),
                 (QList<QStringList>{{"张三", "1", "甲"}, {"李四", "2", "乙"}}));
        // A table with fewer fields takes what it has room for and says what it left out.
        target.table = QStringLiteral("两栏");
        r = control::mergeIntoTarget(st, target, quiet);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.leftOut, QStringList{"地址"});
        QCOMPARE(tableRows(target.conn, "两栏"),
                 (QList<QStringList>{{"张三", "1"}, {"李四", "2"}}));
    }

    void aFailedMergeLeavesTheTargetAsItWas() {
        // The third record is too long for 电话: the two before it are taken back.
        duplicates({{"张三", "1", "甲"}, {"李四", "2", "乙"}, {"王五", "12345", "丙"}});
        const QString user =
            userDatabase("短.mdb", "CREATE TABLE 客户 (姓名 VARCHAR(8), 电话 VARCHAR(3), "
                                   "地址 VARCHAR(8))");
        control::MergeTarget target;
        QStringList tables;
        QString error;
        QVERIFY(control::openAccessTarget(st, user, &target, &tables).ok());
        QVERIFY(testsupport::exec(target.conn, "INSERT INTO 客户 VALUES ('原', '0', '旧')"));
        target.table = QStringLiteral("客户");
        Recorder sink;
        const control::MergeResult r = control::mergeIntoTarget(st, target, sink);
        QVERIFY(!r.ok());
        QCOMPARE(sink.calls.size(), 2); // two records were written before the third failed
        QVERIFY2(r.error.contains("第3条记录（王五）"), qPrintable(r.error));
        QVERIFY2(r.error.contains("电话"), qPrintable(r.error));
        QCOMPARE(tableRows(target.conn, "客户"), (QList<QStringList>{{"原", "0", "旧"}}));
    }

    void theImportedTableAsTarget() {
        duplicates({{"张三", "1", "甲"}});
        control::MergeTarget target;
        target.kind = control::TargetKind::Imported;
        core::ProgressSink quiet;
        const control::MergeResult r = control::mergeIntoTarget(st, target, quiet);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QVERIFY(r.backupPath.isEmpty());
        QCOMPARE(tableRows(st.WorkConn, "ClienttableELS"),
                 (QList<QStringList>{{"张三", "1", "甲"}}));
        QCOMPARE(st.RsSource->baseTable(), QString("ClienttableELS"));
    }

    void noTargetChosenIsNoSuccess() {
        duplicates({{"张三", "1", "甲"}});
        core::ProgressSink quiet;
        for (control::TargetKind kind : {control::TargetKind::Dbase, control::TargetKind::Access}) {
            control::MergeTarget target;
            target.kind = kind;
            const control::MergeResult r = control::mergeIntoTarget(st, target, quiet);
            QVERIFY2(r.error.contains("没有打开目标文件"), qPrintable(r.error));
        }
    }
};

CHACHONG_TEST_MAIN(TestMerge)
#include "tst_merge.moc"
