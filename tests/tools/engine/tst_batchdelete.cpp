// The batch delete over picked fields of ClienttableCC: records equal in every picked field
// collapse to the first, records equal in only some stay; values with apostrophes and wildcards
// are values; the walk reports its position and count after every record; a stopped or refused
// run deletes nothing.
#include "core/appstate.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "tools/engine/batchdelete.h"

#include <QSignalSpy>

namespace {

// Remembers what the walk reported; stops when told to at a given call.
struct Recorder : core::ProgressSink {
    QList<QPair<int, int>> calls;
    int stopAt = -1;
    bool progress(int done, int total) override {
        calls << qMakePair(done, total);
        return calls.size() != stopAt;
    }
};

} // namespace

class TestBatchDelete : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    core::AppState& st = core::appState();

    // ClienttableCC (No, 姓名, 电话, 地址, running number) holding rows of 姓名, 电话, 地址.
    void duplicates(const QList<QStringList>& rows) {
        QVERIFY(f.loadDuplicates({"姓名", "电话", "地址"}, rows));
    }
    QStringList addresses() { return testsupport::tableColumn(st.WorkConn, "ClienttableCC", 3); }
    // The list came from a file of the user's: the batch delete keeps its log beside it.
    QString fromUsersFile() {
        const QString file = f.dir() + "/客户.dbf";
        QFile(file).open(QIODevice::WriteOnly);
        QDir(f.dir() + "/查重备份").removeRecursively();
        st.SourcePath = file;
        st.CheckFields[0] = "姓名";
        st.CheckFieldCount = 1;
        return f.dir() + "/查重备份";
    }
    core::RunOptions picked(const QStringList& fields) {
        core::RunOptions o;
        o.fields = fields;
        return o;
    }

private slots:
    void equalInEveryPickedFieldCollapsesToTheFirst() {
        duplicates({{"张三", "111", "a"},
                    {"张三", "111", "b"}, // both equal to a: goes
                    {"张三", "222", "c"}, // name only: stays
                    {"李四", "111", "d"}, // phone only: stays
                    {"张三", "111", "e"}, // goes
                    {"O'Brien%[", "1'2_", "f"},
                    {"O'Brien%[", "1'2_", "g"}, // apostrophes and wildcards are values: goes
                    {"O'Brien", "1'2_", "h"},   // stays
                    {"李四", "222", "i"},
                    {" 王五 ", "3", "j"},  // edited with blanks around: equal to itself and
                    {"王五", " 3", "k"}}); // to the next, trimmed: goes
        Recorder sink;
        QSignalSpy resets(st.RsDup.get(), &db::Recordset::rowsReset);
        QSignalSpy moves(st.RsDup.get(), &db::Recordset::currentRowChanged);
        const core::RunResult r = tools::batchDelete(st, picked({"姓名", "电话"}), sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.deleted, 4);
        // A grid on RsDup hears of the walk when the table is read before it (closed, opened)
        // and at its end, never per record.
        QVERIFY2(resets.size() <= 3, qPrintable(QString::number(resets.size())));
        QVERIFY2(moves.size() <= 3, qPrintable(QString::number(moves.size())));
        QCOMPARE(r.duplicateRows, 7);
        QCOMPARE(addresses(), QStringList({"a", "c", "d", "f", "h", "i", "j"}));
        // RsDup sees the same rows and stands on the last; RsPostcode is open on the table.
        QCOMPARE(st.RsDup->recordCount(), 7);
        QCOMPARE(st.RsDup->absolutePosition(), 7);
        QCOMPARE(st.RsPostcode->baseTable(), QString("ClienttableCC"));
        QCOMPARE(st.RsPostcode->recordCount(), 7);
    }

    void oneFieldKeepsTheFirstOfEachValue() {
        duplicates(
            {{"张三", "1", "a"}, {"李四", "2", "b"}, {"张三", "3", "c"}, {"李四", "4", "d"}});
        const QString folder = fromUsersFile();
        Recorder sink;
        const core::RunResult r = tools::batchDelete(st, picked({"姓名"}), sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(addresses(), QStringList({"a", "b"}));
        // The rows removed by their running numbers, with the check field.
        QVERIFY2(r.changeLogPath.startsWith(folder + "/客户_"), qPrintable(r.changeLogPath));
        QVERIFY(r.changeLogPath.endsWith("_批量删除.csv"));
        QFile log(r.changeLogPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(log.readAll().mid(3)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].endsWith(",ClienttableCC,批量删除,删除,3,张三"));
        QVERIFY(lines[2].endsWith(",ClienttableCC,批量删除,删除,4,李四"));
        // After record 1 the table has 3 rows; record 3 was gone by its turn, record 4 after 2.
        QCOMPARE(sink.calls, (QList<QPair<int, int>>{{1, 3}, {2, 2}}));
    }

    void positionsReportedPerRecord() {
        duplicates({{"甲", "1", "a"}, {"乙", "2", "b"}, {"丙", "3", "c"}});
        Recorder sink;
        const core::RunResult r = tools::batchDelete(st, picked({"姓名", "电话"}), sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.deleted, 0);
        QCOMPARE(sink.calls, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    }

    void percentTextIsCutNotRounded() {
        QCOMPARE(tools::progressPercent(1, 3), QString("33.33%"));
        QCOMPARE(tools::progressPercent(2, 3), QString("66.66%"));
        QCOMPARE(tools::progressPercent(3, 3), QString("100%"));
        QCOMPARE(tools::progressPercent(1, 7), QString("14.28%")); // 14.2857...
        QCOMPARE(tools::progressPercent(1, 8), QString("12.5%"));
        QCOMPARE(tools::progressPercent(0, 0), QString("0%"));
    }

    void stoppedRunDeletesNothing() {
        duplicates(
            {{"张三", "1", "a"}, {"张三", "1", "b"}, {"李四", "2", "c"}, {"李四", "2", "d"}});
        const QString folder = fromUsersFile();
        Recorder sink;
        sink.stopAt = 2; // the user stops after the second record
        const core::RunResult r = tools::batchDelete(st, picked({"姓名", "电话"}), sink);
        QVERIFY(r.cancelled);
        QCOMPARE(r.deleted, 0);
        QVERIFY(r.changeLogPath.isEmpty()); // no log of what was undone
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
        QCOMPARE(addresses(), QStringList({"a", "b", "c", "d"}));
        QCOMPARE(st.RsDup->recordCount(), 4);
        QCOMPARE(st.RsPostcode->recordCount(), 4);
    }

    void tableThatCannotBeWrittenLosesNothing() {
        duplicates({{"张三", "1", "a"}, {"张三", "1", "b"}, {"李四", "2", "c"}});
        QVERIFY(testsupport::exec(st.WorkConn, "PRAGMA query_only = 1")); // as on read-only media
        Recorder sink;
        const core::RunResult r = tools::batchDelete(st, picked({"姓名"}), sink);
        QVERIFY(testsupport::exec(st.WorkConn, "PRAGMA query_only = 0"));
        QVERIFY2(r.error.startsWith("批量删除失败，没有删除任何记录："), qPrintable(r.error));
        QVERIFY2(r.error.contains("只读"), qPrintable(r.error));
        QCOMPARE(r.deleted, 0);
        QCOMPARE(addresses(), QStringList({"a", "b", "c"}));
        QCOMPARE(st.RsDup->recordCount(), 3);
    }

    void refusedWhatCannotRun() {
        duplicates({{"张三", "1", "a"}, {"张三", "1", "b"}});
        Recorder sink;
        core::RunResult r = tools::batchDelete(st, picked({"姓名", "邮编"}), sink);
        QCOMPARE(r.error, QString("重复数据表中没有字段“邮编”，请重新选择字段。"));
        // Edits of the grid not saved yet: they must be saved or dropped first.
        QVERIFY(st.RsDup->setAbsolutePosition(2));
        QVERIFY(st.RsDup->setValue(3, QString("改")));
        QVERIFY(st.RsDup->update());
        r = tools::batchDelete(st, picked({"姓名"}), sink);
        QCOMPARE(r.error,
                 QString("重复数据有未保存的修改，请先“保存修改”或“取消修改”，再批量删除。"));
        QVERIFY(sink.calls.isEmpty());
        QCOMPARE(addresses(), QStringList({"a", "b"}));
        QVERIFY(st.RsDup->hasPendingChanges());
    }
};

CHACHONG_TEST_MAIN(TestBatchDelete)
#include "tst_batchdelete.moc"
