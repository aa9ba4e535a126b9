// A requery that does without reading the table: when only this layer's recordsets changed the
// database since the rows were read, and what they did to the table was deleting rows, the rows
// in memory are brought up to date. Anything else (a statement, another connection, a change of
// the schema, a rollback, a row added or edited elsewhere) makes the requery read the table.
// Also: pending edits are held to their fields' sizes.
#include "db/connection.h"
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"

#include <sqlite3.h>

using namespace db;

namespace {

// Counts the statements that read rows for a recordset ("SELECT rowid, ...") on a handle.
struct ReadCounter {
    int reads = 0;
    static int traced(unsigned, void* self, void* stmt, void*) {
        const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(stmt));
        if (sql && QByteArray(sql).startsWith("SELECT rowid"))
            ++static_cast<ReadCounter*>(self)->reads;
        return 0;
    }
    void attach(sqlite3* db) {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &ReadCounter::traced, this);
    }
};

QStringList names(Recordset& rs) {
    QStringList out;
    for (rs.moveFirst(); !rs.isEof(); rs.moveNext())
        out << rs.value(1).toString();
    return out;
}

} // namespace

class TestRequery : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString path;
    Connection conn;
    ReadCounter counter;

    // Table k: (n, name) rows 1 甲, 2 乙, 3 丙, 4 丁, 5 戊.
    RecordsetPtr openK(LockType lock = LockType::Pessimistic) {
        auto rs = std::make_shared<Recordset>();
        if (!rs->open(sql::selectAll("k"), conn, CursorType::Keyset, lock))
            qWarning() << rs->errorString();
        return rs;
    }
    // Deletes the rows whose name is given, through a recordset of its own.
    void deleteThroughOther(const QStringList& gone) {
        auto other = openK();
        for (const QString& name : gone) {
            QVERIFY(other->moveFirst());
            QVERIFY(other->find(sql::equals("name", name)));
            QVERIFY(other->deleteCurrent());
        }
    }

private slots:
    void init() {
        QVERIFY(tmp.isValid());
        path = testsupport::copyWorkDb(tmp.path());
        QVERIFY(!path.isEmpty());
        conn = Connection();
        QVERIFY(conn.open(accessConnectionString(path)));
        QVERIFY(testsupport::exec(conn, "CREATE TABLE k (n VARCHAR(4), name VARCHAR(8))"));
        QVERIFY(testsupport::exec(conn, "INSERT INTO k VALUES ('1','甲'),('2','乙'),('3','丙'),"
                                        "('4','丁'),('5','戊')"));
        counter = ReadCounter{};
        counter.attach(conn.handle());
    }
    void cleanup() {
        sqlite3_trace_v2(conn.handle(), 0, nullptr, nullptr);
        conn.close();
    }

    void deletionsElsewhereAreDroppedWithoutReading() {
        auto rs = openK();
        QVERIFY(rs->setAbsolutePosition(4));
        const Bookmark mark = rs->bookmark();
        deleteThroughOther({"乙", "戊"});
        QCOMPARE(rs->recordCount(), 5); // not seen before the requery
        const int before = counter.reads;
        QVERIFY(rs->requery());
        QCOMPARE(counter.reads, before);
        QCOMPARE(rs->recordCount(), 3);
        QCOMPARE(rs->absolutePosition(), 1);
        QCOMPARE(names(*rs), QStringList({"甲", "丙", "丁"}));
        QVERIFY(rs->setBookmark(mark));
        QCOMPARE(rs->value(1).toString(), QString("丁"));
        QCOMPARE(rs->absolutePosition(), 3);
        // A second requery has nothing more to do.
        QVERIFY(rs->requery());
        QCOMPARE(counter.reads, before);
        QCOMPARE(rs->recordCount(), 3);
    }

    void filterStaysAndClonesSeeTheDeletions() {
        auto rs = openK();
        QVERIFY(rs->setFilter(sql::equals("n", "2")));
        auto clone = rs->clone();
        QCOMPARE(clone->recordCount(), 5);
        deleteThroughOther({"乙"});
        const int before = counter.reads;
        QVERIFY(rs->requery());
        QCOMPARE(counter.reads, before);
        QCOMPARE(rs->recordCount(), 0);
        QCOMPARE(rs->filter(), sql::equals("n", "2"));
        QCOMPARE(clone->recordCount(), 4);
    }

    void anythingElseReadsTheTable_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        const QStringList all = {"甲", "乙", "丙", "丁", "戊"};
        QTest::newRow("statement") << "statement" << QStringList({"甲", "丙", "丁", "戊"});
        QTest::newRow("other connection") << "connection" << QStringList({"甲", "乙", "丙", "丁"});
        QTest::newRow("schema") << "schema" << QStringList({"甲", "乙"});
        QTest::newRow("row added elsewhere") << "insert" << all + QStringList{"己"};
        QTest::newRow("row edited elsewhere")
            << "update" << QStringList({"甲", "乙", "改", "丁", "戊"});
        QTest::newRow("deletion rolled back") << "rollback" << all;
    }
    void anythingElseReadsTheTable() {
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        auto rs = openK();
        if (change == "statement") {
            QVERIFY(conn.execute("Delete * From k Where name = '乙'"));
        } else if (change == "connection") {
            Connection second;
            QVERIFY(second.open(accessConnectionString(path)));
            QVERIFY(testsupport::exec(second, "DELETE FROM k WHERE name = '戊'"));
        } else if (change == "schema") {
            // The same name, other rows: the rowids of the old rows mean nothing now.
            QVERIFY(conn.execute("Drop Table k"));
            QVERIFY(testsupport::exec(conn, "CREATE TABLE k (n VARCHAR(4), name VARCHAR(8))"));
            QVERIFY(testsupport::exec(conn, "INSERT INTO k VALUES ('1','甲'),('2','乙')"));
        } else if (change == "insert") {
            auto other = openK();
            QVERIFY(other->addNew());
            QVERIFY(other->setValue(1, "己"));
            QVERIFY(other->update());
        } else if (change == "update") {
            auto other = openK();
            QVERIFY(other->setAbsolutePosition(3));
            QVERIFY(other->setValue(1, "改"));
            QVERIFY(other->update());
        } else if (change == "rollback") {
            QVERIFY(conn.beginTransaction());
            deleteThroughOther({"乙", "丙"});
            conn.rollback();
        }
        const int before = counter.reads;
        QVERIFY2(rs->requery(), qPrintable(rs->errorString()));
        QCOMPARE(counter.reads, before + 1);
        QCOMPARE(names(*rs), expected);
    }

    void ownChangesNeedNoReading() {
        auto rs = openK();
        QVERIFY(rs->setAbsolutePosition(2));
        QVERIFY(rs->setValue(1, "新"));
        QVERIFY(rs->update());
        QVERIFY(rs->setAbsolutePosition(5));
        QVERIFY(rs->deleteCurrent());
        QVERIFY(rs->addNew());
        QVERIFY(rs->setValue(1, "加"));
        QVERIFY(rs->update());
        const int before = counter.reads;
        QVERIFY(rs->requery());
        QCOMPARE(counter.reads, before);
        QCOMPARE(names(*rs), QStringList({"甲", "新", "丙", "丁", "加"}));
        // What the table holds, read by SQLite.
        const QList<QStringList> rows = testsupport::tableRows(conn, "k");
        QStringList stored;
        for (const QStringList& r : rows)
            stored << r.value(1);
        QCOMPARE(stored, QStringList({"甲", "新", "丙", "丁", "加"}));
    }

    // A pending value is held to its field's size at once, naming the field; it is never cut.
    void pendingEditsKeepToTheFieldSize() {
        auto rs = openK(LockType::BatchOptimistic);
        QVERIFY(rs->setAbsolutePosition(1));
        QVERIFY(rs->setValue("name", QString(9, QChar(0x5F20))));
        QVERIFY(!rs->update());
        QCOMPARE(rs->errorString(),
                 QString("字段“name”的值长度为 9，超过了字段的定义长度 8，未写入"));
        rs->cancelUpdate();
        QVERIFY(!rs->hasPendingChanges());
        QVERIFY(rs->addNew());
        QVERIFY(rs->setValue("n", "12345"));
        QVERIFY(!rs->update());
        QVERIFY(rs->errorString().contains("“n”"));
        rs->cancelUpdate();
        QVERIFY(rs->setAbsolutePosition(1));
        QVERIFY(rs->setValue("name", QString(8, QChar(0x5F20))));
        QVERIFY(rs->update());
        QVERIFY(rs->hasPendingChanges());
        QVERIFY(rs->updateBatch());
        QCOMPARE(testsupport::tableRows(conn, "k").first().value(1), QString(8, QChar(0x5F20)));
    }
};

CHACHONG_TEST_MAIN(TestRequery)
#include "tst_requery.moc"
