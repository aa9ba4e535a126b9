// The exact check engine, headless: groups, numbering, the separation and its backup.
#include "app/appstate.h"
#include "check/exactcheck.h"
#include "check/separation.h"
#include "db/sqltext.h"
#include "import/worktables.h"
#include "tests/support/testsupport.h"
#include "ui/scripteddialogs.h"

using namespace db;

namespace {

struct RecordingSink : check::CheckSink {
    bool mainHidden = false, mainShown = false, closed = false, maintenance = false;
    bool panelShown = false;
    QString mainCounter;
    void hideMainWindow() override { mainHidden = true; }
    void showMainWindow() override { mainShown = true; }
    void closeRunWindow() override { closed = true; }
    bool openMaintenance() override { return maintenance = true; }
    void showSeparationPanel(bool v) override { panelShown |= v; }
    void showMainCounter(const QString& t) override { mainCounter = t; }
};

} // namespace

class TestExactCheck : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    app::AppState& st = app::appState();

    // Loads rows into the working database as an imported source (ClienttableELS) and prepares
    // a check on the given fields, as the main window does.
    void prepare(const QStringList& fields, const QList<QStringList>& rows,
                 const QStringList& check) {
        app::resetAppState();
        const QString dbPath = testsupport::copyWorkDb(tmp.path());
        st.AppDir = tmp.path();
        st.WorkDbPath = dbPath;
        QVERIFY(st.WorkConn.open(accessConnectionString(dbPath)));
        QStringList defs;
        for (const QString& f : fields)
            defs << sql::ident(f) + " VARCHAR(50)";
        QVERIFY(st.WorkConn.execute("CREATE TABLE src (" + defs.join(", ") + ")"));
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From src", st.WorkConn));
        st.SourceType = "xls";
        st.SourceTable = "[src$]";
        QVERIFY(sources::createTable(st).ok);
        Recordset els;
        QVERIFY(els.open("Select * From ClienttableELS", st.WorkConn));
        QVERIFY(st.WorkConn.beginTransaction());
        for (const QStringList& r : rows) {
            els.addNew();
            for (int i = 0; i < r.size(); ++i)
                els.setValue(i, r[i].isNull() ? QVariant() : QVariant(r[i]));
            QVERIFY(els.update());
        }
        QVERIFY(st.WorkConn.commit());
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From ClienttableELS", st.WorkConn));
        for (int k = 0; k < check.size(); ++k)
            st.CheckFields[k] = check[k];
        st.CheckFieldCount = qint16(check.size());
        st.CheckMode = 1;
        QVERIFY(st.WorkConn.execute("Delete * From ClienttableCC"));
        st.RsDup = std::make_shared<Recordset>();
        QVERIFY(st.RsDup->open("Select * From ClienttableCC", st.WorkConn, CursorType::Keyset,
                               LockType::BatchOptimistic));
    }
    QList<QStringList> table(const QString& name) {
        Recordset rs;
        QList<QStringList> out;
        if (!rs.open("Select * From " + name, st.WorkConn)) return out;
        if (rs.recordCount() == 0) return out;
        rs.moveFirst();
        while (!rs.isEof()) {
            QStringList r;
            for (int i = 0; i < rs.fieldCount(); ++i)
                r << rs.value(i).toString();
            out << r;
            rs.moveNext();
        }
        return out;
    }
    check::ExactCheckResult run(RecordingSink& sink, const QString& start = "1", QString end = {}) {
        if (end.isEmpty()) end = QString::number(st.RsSource->recordCount());
        check::ExactCheck engine(st, sink);
        return engine.wholeCheck(start, end);
    }

private slots:
    void noDuplicates() {
        prepare({"name", "city"}, {{"张三", "北京"}, {"李四", "上海"}}, {"name"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束，无重复数据！");
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.groups, 0);
        QVERIFY(sink.mainHidden && sink.mainShown && sink.closed);
        QVERIFY(st.WorkConn.hasTable("ClienttableDD"));
        QVERIFY(table("ClienttableDD").isEmpty()); // an empty copy
        QCOMPARE(table("ClienttableELS").size(), 2);
    }

    void groupsNumberedAndSeparated() {
        // A group of three, a pair, and a record with an empty first field that repeats.
        prepare({"name", "tel"},
                {{"张三", "1"},
                 {"李四", "2"},
                 {"张三", "3"},
                 {"", "4"},
                 {"李四", "5"},
                 {"张三", "6"},
                 {"", "7"},
                 {"王五", "8"}},
                {"name"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.groups, 2);
        const QList<QStringList> cc = table("ClienttableCC");
        QCOMPARE(cc.size(), 5);
        // No on the first row of a group only; running numbers across groups.
        QCOMPARE(cc[0], QStringList({"1", "张三", "1", "1"}));
        QCOMPARE(cc[1], QStringList({"", "张三", "3", "2"}));
        QCOMPARE(cc[2], QStringList({"", "张三", "6", "3"}));
        QCOMPARE(cc[3], QStringList({"2", "李四", "2", "4"}));
        QCOMPARE(cc[4], QStringList({"", "李四", "5", "5"}));
        QCOMPARE(table("ClienttableDD"), cc);
        const QList<QStringList> rest = table("ClienttableELS");
        QCOMPARE(rest, QList<QStringList>({{"", "4"}, {"", "7"}, {"王五", "8"}}));
        QCOMPARE(r.separated, 5);
        QCOMPARE(sink.mainCounter, QString("3"));
        QVERIFY(sink.panelShown);
        QVERIFY(sink.mainShown && sink.closed && !sink.maintenance);
    }

    void allCheckFieldsDecideWhatIsRecorded() {
        // (A, X) twice and (A, Y) twice are two groups on two check fields.
        prepare({"a", "b"}, {{"A", "X"}, {"A", "X"}, {"A", "Y"}, {"A", "Y"}, {"A", "Z"}},
                {"a", "b"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Ok);
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.groups, 2);
        QCOMPARE(table("ClienttableCC").size(), 4);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"A", "Z"}}));
        QVERIFY(sink.maintenance && !sink.mainShown);
    }

    void columnsComparedOneByOne() {
        // (李, AB, C) and (李, A, BC) join to the same text; only the real pair is separated.
        prepare({"n", "x", "y"}, {{"李", "AB", "C"}, {"李", "AB", "C"}, {"李", "A", "BC"}},
                {"n", "x", "y"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"李", "A", "BC"}}));
    }

    void apostrophesAndBlanks() {
        // Seeds are trimmed, stored values compared as stored.
        prepare({"name", "n"},
                {{"O'Brien", "1"},
                 {"O'Brien", "2"},
                 {"  Bon app'", "3"},
                 {"Bon app'", "4"},
                 {"Bon app'", "5"}},
                {"name"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.groups, 2);
        const QList<QStringList> cc = table("ClienttableCC");
        QCOMPARE(cc.size(), 4);
        QCOMPARE(cc[2][1], QString("Bon app'"));
        // The blank-led record was never copied, so it stays.
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"  Bon app'", "3"}}));
    }

    void rangeScannedMembersOutsideStillGrouped() {
        prepare({"k"}, {{"a"}, {"b"}, {"c"}, {"b"}, {"a"}, {"c"}}, {"k"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink, "2", "2"); // only the seed "b" at position 2
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.groups, 1);
        QCOMPARE(table("ClienttableCC").size(), 2);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"a"}, {"c"}, {"a"}, {"c"}}));
    }

    void manyGroupsKeepTheirOwnNumbers() {
        QList<QStringList> rows;
        for (int i = 0; i < 33000; ++i)
            rows << QStringList{QString::number(i)} << QStringList{QString::number(i)};
        prepare({"k"}, rows, {"k"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink);
        QCOMPARE(r.groups, 33000);
        Recordset cc;
        QVERIFY(cc.open("Select * From ClienttableCC", st.WorkConn));
        QVERIFY(cc.setAbsolutePosition(2 * 32999 + 1));
        QCOMPARE(cc.value(0).toString(), QString("33000"));
        QCOMPARE(cc.value(2).toString(), QString::number(2 * 32999 + 1));
        QCOMPARE(table("ClienttableELS").size(), 0);
    }

    void fieldNamedByFullWidthBlanks() {
        // A heading of full-width blanks is a field name like any other: only U+0020 blanks
        // are trimmed.
        prepare({"\u3000", "n"}, {{"a", "1"}, {"a", "2"}, {"b", "3"}}, {"\u3000"});
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(r.ran);
        QCOMPARE(r.groups, 1);
        QCOMPARE(table("ClienttableELS"), QList<QStringList>({{"b", "3"}}));
    }

    void unknownCheckFieldStopsClearly() {
        prepare({"k"}, {{"a"}, {"a"}}, {"nope"});
        ui::ScriptedDialogs d;
        d.expectMessageContaining("nope");
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QVERIFY(!r.ran);
        QCOMPARE(table("ClienttableELS").size(), 2);
    }

    void backupBeforeDeletingFromUsersFile() {
        // A source database of the user's own (an SQLite file other than the working database).
        prepare({"k"}, {{"a"}, {"a"}, {"b"}}, {"k"});
        const QString userDir = tmp.path() + "/用户 数据";
        QDir().mkpath(userDir);
        const QString userDb = testsupport::copyWorkDb(userDir);
        const QString renamed = userDir + "/客户.mdb";
        QFile::remove(renamed);
        QVERIFY(QFile::rename(userDb, renamed));
        QVERIFY(st.SourceConn.open(accessConnectionString(renamed)));
        QVERIFY(st.SourceConn.execute("Select * Into 客户 From ClienttableDBF"));
        QVERIFY(st.SourceConn.execute("Delete * From 客户"));
        // Copy the rows of ClienttableELS shape into it through a recordset.
        st.SourceConn.execute("Drop Table 客户");
        QVERIFY(st.SourceConn.execute("CREATE TABLE 客户 (k VARCHAR(10))"));
        QVERIFY(st.SourceConn.execute("INSERT INTO 客户 VALUES ('a')"));
        QVERIFY(st.SourceConn.execute("INSERT INTO 客户 VALUES ('a')"));
        QVERIFY(st.SourceConn.execute("INSERT INTO 客户 VALUES ('b')"));
        st.SourceType = "mdb";
        st.SourceTable = "客户";
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From 客户", st.SourceConn));
        QCOMPARE(check::userFileOfCheckTable(st), renamed);

        // The backup folder cannot be made (a file is in the way): nothing is deleted.
        {
            QFile blocker(userDir + "/查重备份");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            ui::ScriptedDialogs d;
            d.expectMessage("查重结束")
                .expectMessageContaining("查重备份")
                .expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
            RecordingSink sink;
            const auto r = run(sink);
            QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
            QCOMPARE(r.separated, 0);
            QCOMPARE(st.RsSource->recordCount(), 3);
            Recordset still;
            QVERIFY(still.open("Select * From 客户", st.SourceConn));
            QCOMPARE(still.recordCount(), 3);
            QVERIFY(QFile::remove(userDir + "/查重备份"));
            QVERIFY(st.WorkConn.execute("Delete * From ClienttableCC"));
            QVERIFY(st.RsDup->requery());
        }
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        RecordingSink sink;
        const auto r = run(sink);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(r.separated, 2);
        QVERIFY(r.backupPath.contains("查重备份"));
        QVERIFY(QFile::exists(r.backupPath));
        Connection backup;
        QVERIFY(backup.open(accessConnectionString(r.backupPath)));
        Recordset b;
        QVERIFY(b.open("Select * From 客户", backup));
        QCOMPARE(b.recordCount(), 3); // the copy was taken before the deletion
        Recordset now;
        QVERIFY(now.open("Select * From 客户", st.SourceConn));
        QCOMPARE(now.recordCount(), 1);
    }
};

CHACHONG_TEST_MAIN(TestExactCheck)
#include "tst_exactcheck.moc"
