// The exact check engine without any window: groups, numbering, the separation and its backup,
// stopping through the sink. The test links no widget library, so the engine cannot ask a
// question or show a message.
#include "check/engine/backups.h"
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "check/engine/separation.h"
#include "db/sqltext.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"

#include <QCryptographicHash>

using namespace db;
using testsupport::tableRows;

namespace {

// Records what the engine reported; stops the run once progress reaches stopAt.
struct Sink : core::ProgressSink {
    int stopAt = -1; // the progress call (1-based) that answers false
    int calls = 0, lastDone = 0, lastTotal = 0, groupsSeen = 0, remainingSeen = -1;
    bool progress(int done, int total) override {
        ++calls;
        lastDone = done;
        lastTotal = total;
        return stopAt < 0 || calls < stopAt;
    }
    void groups(int count) override { groupsSeen = count; }
    void remaining(int count) override { remainingSeen = count; }
};

} // namespace

class TestExactCheck : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();

    void load(const QStringList& fields, const QList<QStringList>& rows, const QStringList& check) {
        QVERIFY(f.load(fields, rows));
        QVERIFY(f.prepare(check));
    }
    QList<QStringList> table(const QString& name) { return tableRows(st.WorkConn, name); }
    core::RunResult run(core::ProgressSink& sink, int start = 1, int end = -1) {
        return check::CheckJob(st, f.options(start, end)).runAll(sink);
    }

private slots:
    void noDuplicates() {
        load({"name", "city"}, {{"张三", "北京"}, {"李四", "上海"}}, {"name"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY(r.ok());
        QCOMPARE(r.groups, 0);
        QCOMPARE(r.duplicateRows, 0);
        QVERIFY(st.WorkConn.hasTable("ClienttableDD"));
        QVERIFY(table("ClienttableDD").isEmpty()); // an empty copy
        QCOMPARE(table("ClienttableELS").size(), 2);
    }

    void groupsNumberedAndSeparated() {
        // A group of three, a pair, and a record with an empty first field that repeats.
        load({"name", "tel"},
             {{"张三", "1"},
              {"李四", "2"},
              {"张三", "3"},
              {"", "4"},
              {"李四", "5"},
              {"张三", "6"},
              {"", "7"},
              {"王五", "8"}},
             {"name"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, 2);
        QCOMPARE(sink.groupsSeen, 2);
        const QList<QStringList> cc = table("ClienttableCC");
        QCOMPARE(cc.size(), 5);
        // No on the first row of a group only; running numbers across groups.
        QCOMPARE(cc[0], QStringList({"1", "张三", "1", "1"}));
        QCOMPARE(cc[1], QStringList({"", "张三", "3", "2"}));
        QCOMPARE(cc[2], QStringList({"", "张三", "6", "3"}));
        QCOMPARE(cc[3], QStringList({"2", "李四", "2", "4"}));
        QCOMPARE(cc[4], QStringList({"", "李四", "5", "5"}));
        QCOMPARE(table("ClienttableDD"), cc);
        QCOMPARE(table("ClienttableELS"),
                 QList<QStringList>({{"", "4"}, {"", "7"}, {"王五", "8"}}));
        QCOMPARE(r.separated, 5);
        QCOMPARE(r.remaining, 3);
        QCOMPARE(sink.remainingSeen, 3);
    }

    void allCheckFieldsDecideWhatIsRecorded() {
        // (A, X) twice and (A, Y) twice are two groups on two check fields.
        load({"a", "b"}, {{"A", "X"}, {"A", "X"}, {"A", "Y"}, {"A", "Y"}, {"A", "Z"}}, {"a", "b"});
        Sink sink;
        const auto r = run(sink);
        QCOMPARE(r.groups, 2);
        QCOMPARE(table("ClienttableCC").size(), 4);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"A", "Z"}}));
    }

    void nullCheckFieldLooksForEmptyOnes() {
        // A record whose second check field is null groups the records that hold an empty text
        // there (not itself), when it comes first; null values equal nothing, not each other.
        const QString null;
        load({"name", "tel", "n"},
             {{"张三", null, "1"},
              {"李四", "", "2"},
              {"张三", "", "3"},
              {"张三", "", "4"},
              {"李四", null, "5"},
              {"王五", null, "6"},
              {"王五", null, "7"},
              {"李四", "", "8"}},
             {"name", "tel"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(table("ClienttableCC"), QList<QStringList>({{"1", "张三", "", "3", "1"},
                                                             {"", "张三", "", "4", "2"},
                                                             {"2", "李四", "", "2", "3"},
                                                             {"", "李四", "", "8", "4"}}));
        QCOMPARE(r.separated, 4);
    }

    void columnsComparedOneByOne() {
        // (李, AB, C) and (李, A, BC) join to the same text; only the real pair is separated.
        load({"n", "x", "y"}, {{"李", "AB", "C"}, {"李", "AB", "C"}, {"李", "A", "BC"}},
             {"n", "x", "y"});
        Sink sink;
        run(sink);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"李", "A", "BC"}}));
    }

    void apostrophesAndBlanks() {
        // Seeds and stored values are compared trimmed, copies are trimmed at both ends: the
        // records with blanks around their values join their groups and are separated with them.
        load({"name", "n", "city"},
             {{"O'Brien", "1", " 北京 "},
              {"O'Brien", "2", "北京"},
              {"  Bon app'", "3", "x"},
              {"Bon app'", "4", "x"},
              {"Bon app'", "5", "x"},
              {" 张三", "6", "y"},
              {"张三", "7", "y"}},
             {"name"});
        Sink sink;
        const auto r = run(sink);
        QCOMPARE(r.groups, 3);
        QCOMPARE(table("ClienttableCC"), QList<QStringList>({{"1", "O'Brien", "1", "北京", "1"},
                                                             {"", "O'Brien", "2", "北京", "2"},
                                                             {"2", "Bon app'", "3", "x", "3"},
                                                             {"", "Bon app'", "4", "x", "4"},
                                                             {"", "Bon app'", "5", "x", "5"},
                                                             {"3", "张三", "6", "y", "6"},
                                                             {"", "张三", "7", "y", "7"}}));
        QCOMPARE(r.separated, 7);
        QVERIFY(table("ClienttableELS").isEmpty());
    }

    void fieldNamedNoBesideTheNumberColumn() {
        // ClienttableCC has its own "No" in front; the source's NO gets another name there.
        load({"NO", "name"}, {{"7", "甲"}, {"7", "乙"}, {"8", "丙"}}, {"NO"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, 1);
        QCOMPARE(table("ClienttableCC"),
                 QList<QStringList>({{"1", "7", "甲", "1"}, {"", "7", "乙", "2"}}));
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"8", "丙"}}));
    }

    void rangeScannedMembersOutsideStillGrouped() {
        load({"k"}, {{"a"}, {"b"}, {"c"}, {"b"}, {"a"}, {"c"}}, {"k"});
        Sink sink;
        const auto r = run(sink, 2, 2); // only the seed "b" at position 2
        QCOMPARE(r.groups, 1);
        QCOMPARE(table("ClienttableCC").size(), 2);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"a"}, {"c"}, {"a"}, {"c"}}));
    }

    void rangeThatHoldsNothingIsRefused() {
        load({"k"}, {{"a"}, {"a"}}, {"k"});
        for (auto [start, end] : {std::pair{0, 2}, std::pair{2, 1}, std::pair{3, 3}}) {
            Sink sink;
            const auto r = check::exactScan(st, f.options(start, end), sink);
            QVERIFY2(r.error.contains("查重范围不正确"), qPrintable(r.error));
            QCOMPARE(sink.calls, 0);
        }
        QCOMPARE(table("ClienttableCC").size(), 0);
    }

    void manyGroupsKeepTheirOwnNumbers() {
        QList<QStringList> rows;
        for (int i = 0; i < 33000; ++i)
            rows << QStringList{QString::number(i)} << QStringList{QString::number(i)};
        load({"k"}, rows, {"k"});
        Sink sink;
        const auto r = run(sink);
        QCOMPARE(r.groups, 33000);
        const QList<QStringList> cc = table("ClienttableCC");
        QCOMPARE(cc[2 * 32999], QStringList({"33000", "32999", QString::number(2 * 32999 + 1)}));
        QCOMPARE(table("ClienttableELS").size(), 0);
        // Progress reached every record of the range, the last one too.
        QCOMPARE(sink.lastDone, 66000);
    }

    void fieldNamedByFullWidthBlanks() {
        // A heading of full-width blanks is a field name like any other: only U+0020 blanks
        // are trimmed.
        load({"\u3000", "n"}, {{"a", "1"}, {"a", "2"}, {"b", "3"}}, {"\u3000"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.groups, 1);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"b", "3"}}));
    }

    void unknownCheckFieldStopsClearly() {
        load({"k"}, {{"a"}, {"a"}}, {"nope"});
        Sink sink;
        const auto r = run(sink);
        QVERIFY(r.error.contains("nope"));
        QCOMPARE(table("ClienttableELS").size(), 2);
    }

    void stoppedScanKeepsWhatItFoundAndDeletesNothing() {
        // Stopped at the fourth record: the groups of seeds 1..3 stay in ClienttableCC, the check
        // table keeps every record.
        load({"k"}, {{"a"}, {"b"}, {"a"}, {"c"}, {"c"}, {"b"}}, {"k"});
        const QList<QStringList> before = table("ClienttableELS");
        Sink sink;
        sink.stopAt = 4;
        const auto r = run(sink);
        QVERIFY(r.cancelled);
        QVERIFY(!r.ok());
        QCOMPARE(r.separated, 0);
        QCOMPARE(table("ClienttableELS"), before);
        QCOMPARE(
            table("ClienttableCC"),
            QList<QStringList>({{"1", "a", "1"}, {"", "a", "2"}, {"2", "b", "3"}, {"", "b", "4"}}));
        QCOMPARE(st.RsSource->recordCount(), 6);
    }

    // Stopped, or finding a record changed or gone since the check: nothing is deleted.
    void separationThatCannotFinishDeletesNothing_data() {
        QTest::addColumn<QString>("since"); // what happens to the check table after the check
        QTest::addColumn<QString>("error");
        QTest::newRow("stopped") << QString() << QString();
        QTest::newRow("a record changed") << "change"
                                          << "第 3 条记录在查重之后被修改过，与重复数据不符。";
        QTest::newRow("a record gone") << "delete"
                                       << "有 1 条重复记录在查重数据库中已经找不到。";
    }
    void separationThatCannotFinishDeletesNothing() {
        QFETCH(QString, since);
        QFETCH(QString, error);
        load({"k"}, {{"a"}, {"b"}, {"a"}, {"c"}, {"b"}}, {"k"});
        Sink sink;
        const auto scan = check::exactScan(st, f.options(), sink);
        QCOMPARE(scan.duplicateRows, 4);
        db::Recordset& rs = *st.RsSource;
        if (since == "change") {
            QVERIFY(rs.setBookmark(rs.bookmarkAt(2)));
            QVERIFY(rs.setValue(0, QStringLiteral("z")));
            QVERIFY(rs.update());
        } else if (since == "delete") {
            QVERIFY(rs.setBookmark(rs.bookmarkAt(4)));
            QVERIFY(rs.deleteCurrent());
        }
        const QList<QStringList> before = table("ClienttableELS");
        const int records = rs.recordCount();
        // Stopped: three records examined and deleted, then the stop at the fourth.
        Sink stop;
        stop.stopAt = error.isEmpty() ? 4 : -1;
        const auto r = check::reDelete(st, scan.copiedFrom, stop);
        QCOMPARE(r.cancelled, error.isEmpty());
        if (error.isEmpty()) QCOMPARE(stop.remainingSeen, 2); // deleted before the stop
        QVERIFY2(r.error.endsWith(error), qPrintable(r.error));
        QCOMPARE(r.separated, 0);
        QCOMPARE(table("ClienttableELS"), before);
        QCOMPARE(rs.recordCount(), records);
        QCOMPARE(r.remaining, records);
    }

    void backupAndRestoreTakeTheCompanionsInAnyCase() {
        // A table's memo, index and code-page files, whatever the case of their names, go into
        // the backup with it and come back from it; other files of the folder do not.
        const QString dir = f.dir() + "/伴随";
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
        const QStringList mine = {"KUNDEN.dbf", "kunden.FPT", "Kunden.CDX", "kunden.cpg"};
        for (const QString& name : mine + QStringList{"other.fpt", "kunden.txt"}) {
            QFile file(dir + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name.toUtf8());
        }
        QStringList files = check::tableFiles(dir + "/KUNDEN.dbf");
        files.sort();
        QStringList want = mine;
        want.sort();
        QCOMPARE(files, want);
        QString backup;
        core::Status s = check::backupUserFile(dir + "/KUNDEN.dbf", &backup);
        QVERIFY2(s.ok(), qPrintable(s.error));
        QCOMPARE(QDir(dir + "/查重备份").entryList(QDir::Files).size(), 4);
        for (const QString& name : mine) {
            QFile file(dir + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("changed");
        }
        s = check::restoreUserFile(dir + "/KUNDEN.dbf", backup);
        QVERIFY2(s.ok(), qPrintable(s.error));
        for (const QString& name : mine)
            QCOMPARE(testsupport::digest(dir + "/" + name),
                     QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256));
        // A backup of another table is refused.
        s = check::restoreUserFile(dir + "/other.fpt", backup);
        QVERIFY2(s.error.contains("不是"), qPrintable(s.error));
    }

    void backupBeforeDeletingFromUsersFile() {
        // A source database of the user's own (an SQLite file other than the working database).
        load({"k"}, {{"a"}, {"a"}, {"b"}}, {"k"});
        const QString userDir = f.dir() + "/用户 数据";
        QDir().mkpath(userDir);
        const QString userDb = userDir + "/客户.mdb";
        QVERIFY(QFile::copy(st.WorkDbPath, userDb));
        QVERIFY(st.SourceConn.open(accessConnectionString(userDb)));
        QVERIFY(st.SourceConn.execute("CREATE TABLE 客户 (k VARCHAR(10))"));
        for (const char* v : {"a", "a", "b"})
            QVERIFY(
                testsupport::exec(st.SourceConn, QString("INSERT INTO 客户 VALUES ('%1')").arg(v)));
        st.SourceType = "mdb";
        st.SourceTable = "客户";
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From 客户", st.SourceConn));
        QCOMPARE(check::userFileOfCheckTable(st), userDb);

        // The backup folder cannot be made (a file is in the way): nothing is deleted.
        {
            QFile blocker(userDir + "/查重备份");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            Sink sink;
            const auto r = run(sink);
            QVERIFY(r.error.contains("查重备份"));
            QCOMPARE(r.separated, 0);
            QCOMPARE(st.RsSource->recordCount(), 3);
            QCOMPARE(testsupport::rowsOf(st.SourceConn, "客户"), 3);
            QVERIFY(QFile::remove(userDir + "/查重备份"));
            QVERIFY(f.prepare({"k"}));
        }
        // Stopped during the separation: a backup was made, but no log of what was undone.
        {
            Sink stop;
            stop.stopAt = 5; // the scan asks three times, the separation then
            const auto r = run(stop);
            QVERIFY(r.cancelled);
            QVERIFY(!r.backupPath.isEmpty());
            QCOMPARE(testsupport::rowsOf(st.SourceConn, "客户"), 3);
            QCOMPARE(QDir(userDir + "/查重备份").entryList({"*.csv", "*.part"}, QDir::Files),
                     QStringList());
            QVERIFY(QFile::remove(r.backupPath));
            QVERIFY(f.prepare({"k"}));
        }
        Sink sink;
        const auto r = run(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.separated, 2);
        // The log beside the backup names the records removed, in a file Excel reads as UTF-8.
        QCOMPARE(QFileInfo(r.changeLogPath).completeBaseName(),
                 QFileInfo(r.backupPath).completeBaseName() + "_分离");
        QFile log(r.changeLogPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.startsWith("\xEF\xBB\xBF"));
        QStringList lines = QString::fromUtf8(text.mid(3)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "时间,文件,表,步骤,操作,记录号,k");
        for (int i = 1; i <= 2; ++i) {
            const QStringList cells = lines[i].split(',');
            QCOMPARE(cells.mid(1), (QStringList{QDir::toNativeSeparators(userDb), "客户", "分离",
                                                "删除", QString::number(i), "a"}));
        }
        QVERIFY(r.backupPath.contains("查重备份"));
        QVERIFY(QFile::exists(r.backupPath));
        QVERIFY(!QFile::exists(r.backupPath + ".part"));
        Connection backup;
        QVERIFY(backup.open(accessConnectionString(r.backupPath)));
        QCOMPARE(testsupport::rowsOf(backup, "客户"), 3); // taken before the deletion
        QCOMPARE(testsupport::rowsOf(st.SourceConn, "客户"), 1);
        backup.close();
        st.RsSource.reset();
        st.SourceConn.close();

        // Put back, and undone with the backup the restore made; a database whose table of
        // that name has other columns is no backup of this one.
        const QByteArray separated = testsupport::digest(userDb);
        const QString foreign = userDir + "/查重备份/客户_20200101_000000.mdb";
        {
            Connection other;
            QVERIFY(QFile::copy(st.WorkDbPath, foreign));
            QVERIFY(other.open(accessConnectionString(foreign)));
            QVERIFY(other.execute("CREATE TABLE 客户 (k VARCHAR(10), 电话 VARCHAR(20))"));
        }
        const std::vector<check::Backup> listed = check::backupsOf(userDb);
        QCOMPARE(int(listed.size()), 2);
        QCOMPARE(listed[0].path, QFileInfo(r.backupPath).absoluteFilePath()); // newest first
        QCOMPARE(listed[0].bytes, QFileInfo(r.backupPath).size());
        QString undo;
        bool refused = false;
        core::Status s = check::restoreBackup(userDb, foreign, &undo, &refused);
        QVERIFY2(s.error.contains("字段不同"), qPrintable(s.error));
        QVERIFY(refused);
        QCOMPARE(testsupport::digest(userDb), separated);
        s = check::restoreBackup(userDb, r.backupPath, &undo, &refused);
        QVERIFY2(s.ok(), qPrintable(s.error));
        QCOMPARE(testsupport::digest(userDb), testsupport::digest(r.backupPath));
        s = check::restoreBackup(userDb, undo, &undo, &refused);
        QVERIFY2(s.ok(), qPrintable(s.error));
        QCOMPARE(testsupport::digest(userDb), separated);
    }
};

CHACHONG_TEST_MAIN(TestExactCheck)
#include "tst_exactcheck.moc"
