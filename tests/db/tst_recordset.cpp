// Recordsets over the working database: positions, filters, finds, edits, batches.
#include "db/connection.h"
#include "db/criteria.h"
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"

#include <QRandomGenerator>

#include <array>
#include <random>

#include <sqlite3.h>

using namespace db;

class TestRecordset : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    Connection conn;

    // A table of clients with the given rows (null for a QString() with isNull).
    void makeTable(const QString& name, const QStringList& cols, const QList<QStringList>& rows) {
        QStringList defs;
        for (const QString& c : cols)
            defs << sql::ident(c) + QStringLiteral(" VARCHAR(40)");
        conn.execute(sql::dropTable(name));
        QVERIFY2(conn.execute(
                     QStringLiteral("CREATE TABLE %1 (%2)").arg(sql::ident(name), defs.join(", "))),
                 qPrintable(conn.errorString()));
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll(name), conn));
        for (const QStringList& r : rows) {
            QVERIFY(rs.addNew());
            for (int i = 0; i < r.size(); ++i)
                rs.setValue(i, r[i].isNull() ? QVariant() : QVariant(r[i]));
            QVERIFY2(rs.update(), qPrintable(rs.errorString()));
        }
    }
    QStringList column(Recordset& rs, int col) {
        QStringList out;
        if (rs.recordCount() == 0) return out;
        rs.moveFirst();
        while (!rs.isEof()) {
            out << rs.value(col).toString();
            rs.moveNext();
        }
        return out;
    }

private slots:
    void init() {
        QVERIFY(tmp.isValid());
        const QString db = testsupport::copyWorkDb(tmp.path());
        QVERIFY(!db.isEmpty());
        QVERIFY2(conn.open(accessConnectionString(db)), qPrintable(conn.errorString()));
    }

    void positionsAndMoves() {
        makeTable("t", {"name"}, {{"a"}, {"b"}, {"c"}});
        Recordset rs;
        QVERIFY(rs.open("Select * From t", conn));
        QCOMPARE(rs.recordCount(), 3);
        QCOMPARE(rs.absolutePosition(), 1);
        QVERIFY(!rs.isBof() && !rs.isEof());
        QVERIFY(rs.moveLast());
        QCOMPARE(rs.value("name").toString(), QString("c"));
        QVERIFY(rs.moveNext());
        QVERIFY(rs.isEof());
        QCOMPARE(rs.absolutePosition(), 0);
        QVERIFY(!rs.moveNext()); // past the end is an error, not a wrap
        QVERIFY(rs.movePrevious());
        QCOMPARE(rs.value(0).toString(), QString("c"));
        QVERIFY(rs.setAbsolutePosition(2));
        QCOMPARE(rs.value(0).toString(), QString("b"));
        QVERIFY(!rs.setAbsolutePosition(4)); // invalid position leaves the row where it was
        QCOMPARE(rs.absolutePosition(), 2);
        QVERIFY(rs.moveFirst());
        QVERIFY(rs.movePrevious());
        QVERIFY(rs.isBof());
    }

    void emptyTableAndStatementsWithoutRows() {
        Recordset rs;
        QVERIFY(rs.open("Select * From empty_table", conn));
        QVERIFY(rs.isOpen());
        QCOMPARE(rs.recordCount(), 0);
        QVERIFY(rs.isEof() && rs.isBof());
        QCOMPARE(rs.absolutePosition(), 0);
        QVERIFY(rs.value(0).isNull());
        QVERIFY(!rs.errorString().isEmpty());

        Recordset st;
        QVERIFY(st.open("Delete * From yb_table", conn));
        QVERIFY(!st.isOpen()); // a statement without rows leaves the recordset closed
    }

    void missingTableFailsClearly() {
        Recordset rs;
        QVERIFY(!rs.open("Select * From 不存在的表", conn));
        QVERIFY(!rs.isOpen());
        QVERIFY2(rs.errorString().contains("表不存在"), qPrintable(rs.errorString()));
        QVERIFY(rs.errorString().contains("不存在的表"));
        QVERIFY(!conn.execute("Drop Table nothing_here"));
        QVERIFY(conn.errorString().contains("nothing_here"));
    }

    void filterTwoChineseTerms() {
        makeTable("c", {"姓名", "城市"},
                  {{"张三", "北京"},
                   {"李四", "上海"},
                   {"张三", "上海"},
                   {"张三", "北京"},
                   {"王五", "北京"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("c"), conn));
        QVERIFY(
            rs.setFilter(sql::allOf({sql::equals("姓名", "张三"), sql::equals("城市", "北京")})));
        QCOMPARE(rs.recordCount(), 2);
        QCOMPARE(rs.absolutePosition(), 1);
        QCOMPARE(column(rs, 1), QStringList({"北京", "北京"}));
        QVERIFY(rs.setFilter(""));
        QCOMPARE(rs.recordCount(), 5);
        QVERIFY(rs.setFilter(sql::equals("姓名", "赵六")));
        QCOMPARE(rs.recordCount(), 0);
        QVERIFY(rs.isEof());
        QVERIFY(!rs.setFilter("[没有] = 'x'"));
        QVERIFY(rs.errorString().contains("没有"));
    }

    void likeWithChineseBigrams() {
        makeTable("a", {"地址"},
                  {{"北京市朝阳区建国路"},
                   {"上海市浦东新区"},
                   {"北京市海淀区"},
                   {"朝阳门外"},
                   {QString()}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("a"), conn));
        QVERIFY(rs.setFilter(sql::contains("地址", "朝阳")));
        QCOMPARE(column(rs, 0), QStringList({"北京市朝阳区建国路", "朝阳门外"}));
        QVERIFY(
            rs.setFilter(sql::allOf({sql::contains("地址", "北京"), sql::contains("地址", "区")})));
        QCOMPARE(rs.recordCount(), 2);
        QVERIFY(rs.setFilter(sql::startsWith("地址", "上海")));
        QCOMPARE(column(rs, 0), QStringList({"上海市浦东新区"}));
        QVERIFY(rs.setFilter(sql::like("地址", "%")));
        QCOMPARE(rs.recordCount(), 4); // null matches nothing, not even "%"
        QVERIFY(rs.setFilter(sql::like("地址", "朝__外")));
        QCOMPARE(rs.recordCount(), 1);
    }

    void apostrophesAndWildcardsInValues() {
        makeTable("q", {"name"},
                  {{"O'Brien"}, {"Bon app'"}, {"100%"}, {"1000"}, {"a_b"}, {"axb"}, {"[x]"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("q"), conn));
        QVERIFY2(rs.setFilter(sql::equals("name", "O'Brien")), qPrintable(rs.errorString()));
        QCOMPARE(column(rs, 0), QStringList({"O'Brien"}));
        QVERIFY(rs.setFilter(sql::equals("name", "Bon app'")));
        QCOMPARE(rs.recordCount(), 1);
        QVERIFY(rs.setFilter(sql::contains("name", "0%")));
        QCOMPARE(column(rs, 0), QStringList({"100%"})); // % taken literally
        QVERIFY(rs.setFilter(sql::contains("name", "_")));
        QCOMPARE(column(rs, 0), QStringList({"a_b"}));
        QVERIFY(rs.setFilter(sql::startsWith("name", "[x")));
        QCOMPARE(column(rs, 0), QStringList({"[x]"}));
        QVERIFY(rs.setFilter(sql::equals("name", "a_b")));
        QCOMPARE(rs.recordCount(), 1); // "=" has no wildcards
        // The same values through SQL.
        Recordset s;
        QVERIFY(s.open("Select * From q Where " + sql::contains("name", "0%"), conn));
        QCOMPARE(column(s, 0), QStringList({"100%"}));
        QVERIFY(s.open("Select * From q Where " + sql::equals("name", "O'Brien"), conn));
        QCOMPARE(s.recordCount(), 1);
        // A value cannot end the expression early.
        QVERIFY(rs.setFilter(sql::equals("name", "x' Or name Like '%")));
        QCOMPARE(rs.recordCount(), 0);
    }

    void caseFoldedBlanksAroundLeftOut() {
        makeTable("k", {"v"}, {{"abc"}, {"ABC"}, {"abc "}, {"Äbc"}, {"äbc"}, {" a bc"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("k"), conn));
        QVERIFY(rs.setFilter(sql::equals("v", "Abc")));
        QCOMPARE(column(rs, 0), QStringList({"abc", "ABC", "abc "}));
        QVERIFY(rs.setFilter(sql::equals("v", " a BC  ")));
        QCOMPARE(column(rs, 0), QStringList({" a bc"})); // blanks inside are characters
        QVERIFY(rs.setFilter(sql::equals("v", "äbc")));
        QCOMPARE(rs.recordCount(), 1); // only ASCII letters fold
        QVERIFY(rs.setFilter(sql::like("v", "abc")));
        QCOMPARE(rs.recordCount(), 3);
        QVERIFY(rs.setFilter(sql::like("v", "a%c")));
        QCOMPARE(rs.recordCount(), 4);
        Recordset s; // SQL folds letter case as filters do (statements compare stored values)
        QVERIFY(s.open("Select * From k Where " + sql::equals("v", "Abc"), conn));
        QCOMPARE(s.recordCount(), 2);
        QVERIFY(rs.setFilter(""));
        QVERIFY(rs.moveLast());
        QVERIFY(rs.movePrevious() && rs.movePrevious() && rs.movePrevious());
        QVERIFY(rs.find(sql::equals("v", "abc ")));
        QCOMPARE(rs.absolutePosition(), 3);
    }

    void findFromTheMiddle() {
        makeTable("f", {"k", "n"}, {{"x", "1"}, {"y", "2"}, {"x", "3"}, {"y", "4"}, {"x", "5"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("f"), conn));
        QVERIFY(rs.setAbsolutePosition(2));
        QVERIFY(rs.find(sql::equals("k", "x")));
        QCOMPARE(rs.value("n").toString(), QString("3"));
        QVERIFY(rs.find(sql::equals("k", "x"))); // the current row counts
        QCOMPARE(rs.value("n").toString(), QString("3"));
        QVERIFY(rs.moveNext());
        QVERIFY(rs.find(sql::equals("k", "x")));
        QCOMPARE(rs.value("n").toString(), QString("5"));
        QVERIFY(rs.moveNext());
        QVERIFY(!rs.find(sql::equals("k", "x")));
        QVERIFY(rs.isEof());
        QVERIFY(rs.moveFirst());
        QVERIFY(!rs.find(sql::equals("k", "z")));
        QVERIFY(rs.isEof()); // not found leaves the end
        QVERIFY(rs.moveFirst());
        QVERIFY(rs.find(sql::contains("k", "y")));
        QCOMPARE(rs.value("n").toString(), QString("2"));
        // Under a filter the find sees only the filtered rows.
        QVERIFY(rs.setFilter(sql::equals("k", "y")));
        QVERIFY(rs.find(sql::equals("n", "4")));
        QCOMPARE(rs.absolutePosition(), 2);
        QVERIFY(rs.moveFirst());
        QVERIFY(!rs.find(sql::equals("n", "3")));
    }

    void deleteUnderFilterThenMove() {
        makeTable("d", {"k", "n"}, {{"a", "1"}, {"b", "2"}, {"a", "3"}, {"a", "4"}, {"b", "5"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("d"), conn));
        QVERIFY(rs.setFilter(sql::equals("k", "a")));
        QCOMPARE(rs.recordCount(), 3);
        QVERIFY(rs.setAbsolutePosition(2));
        QVERIFY(rs.deleteCurrent());
        QCOMPARE(rs.recordCount(), 2);
        QVERIFY(rs.value(0).isNull()); // the deleted row stays current until the next move
        QVERIFY(rs.moveNext());
        QCOMPARE(rs.value("n").toString(), QString("4"));
        QCOMPARE(rs.absolutePosition(), 2);
        QVERIFY(rs.deleteCurrent());
        QVERIFY(rs.moveNext());
        QVERIFY(rs.isEof());
        QVERIFY(rs.setFilter(""));
        QCOMPARE(column(rs, 1), QStringList({"1", "2", "5"}));
        Recordset fresh;
        QVERIFY(fresh.open(sql::selectAll("d"), conn));
        QCOMPARE(column(fresh, 1), QStringList({"1", "2", "5"})); // written through
    }

    void bookmarkAfterRequery() {
        makeTable("b", {"n"}, {{"1"}, {"2"}, {"3"}, {"4"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("b"), conn));
        QVERIFY(rs.setAbsolutePosition(3));
        const Bookmark mark = rs.bookmark();
        QVERIFY(rs.moveFirst());
        QVERIFY(rs.deleteCurrent());
        QVERIFY(rs.requery());
        QCOMPARE(rs.recordCount(), 3);
        QVERIFY(rs.setBookmark(mark));
        QCOMPARE(rs.value(0).toString(), QString("3"));
        QCOMPARE(rs.absolutePosition(), 2);
    }

    void bookmarkOfADeletedRow() {
        makeTable("bd", {"n"}, {{"1"}, {"2"}, {"3"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("bd"), conn));
        QVERIFY(rs.setAbsolutePosition(2));
        const Bookmark gone = rs.bookmark();
        QVERIFY(rs.deleteCurrent());
        QVERIFY(rs.moveLast());
        // The row is gone: the bookmark is refused and the current row stays where it was.
        QVERIFY(!rs.setBookmark(gone));
        QCOMPARE(rs.errorString(), QString("书签指向的记录已不存在"));
        QCOMPARE(rs.value(0).toString(), QString("3"));
        QCOMPARE(rs.absolutePosition(), 2);
        // So it is through a second cursor that saw the deletion, and after a requery.
        Recordset other;
        QVERIFY(other.open(sql::selectAll("bd"), conn));
        QVERIFY(!other.setBookmark(gone));
        QVERIFY(rs.requery());
        QVERIFY(!rs.setBookmark(gone));
        // The last row deleted and one added: SQLite gives it the deleted row's rowid again, and
        // that bookmark now names the new row.
        makeTable("bl", {"n"}, {{"1"}, {"2"}, {"3"}});
        Recordset again;
        QVERIFY(again.open(sql::selectAll("bl"), conn));
        QVERIFY(again.moveLast());
        const Bookmark last = again.bookmark();
        QVERIFY(again.deleteCurrent());
        QVERIFY(again.addNew());
        QVERIFY(again.setValue(0, QStringLiteral("9")));
        QVERIFY(again.update());
        QVERIFY(again.moveLast());
        QCOMPARE(again.bookmark(), last);
        QVERIFY(again.moveFirst());
        QVERIFY2(again.setBookmark(last), qPrintable(again.errorString()));
        QCOMPARE(again.value(0).toString(), QString("9"));
    }

    void blanksTrimmedAtBothEndsOnly() {
        // Spaces only: a tab, a full-width blank and line breaks are data.
        const QList<std::pair<QString, QString>> cases = {{"  张三  ", "张三"},
                                                          {" a b ", "a b"},
                                                          {"   ", ""},
                                                          {"", ""},
                                                          {"\t张三\n", "\t张三\n"},
                                                          {"\u3000张三", "\u3000张三"},
                                                          {" 李四\r\n ", "李四\r\n"},
                                                          {"x", "x"}};
        for (const auto& [in, out] : cases) {
            QCOMPARE(trimBlanks(in), out);
            QCOMPARE(trimBlanks(QStringView(in)).toString(), out);
        }
    }

    void batchSaveAndCancel() {
        makeTable("bt", {"n", "v"}, {{"1", "a"}, {"2", "b"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("bt"), conn, CursorType::Keyset, LockType::BatchOptimistic));
        QVERIFY(rs.setValue("v", "changed"));
        QVERIFY(rs.update());
        QVERIFY(rs.addNew());
        rs.setValue("n", "3");
        rs.setValue("v", "new");
        QVERIFY(rs.update());
        QCOMPARE(rs.recordCount(), 3);
        QVERIFY(rs.hasPendingChanges());
        Recordset other;
        QVERIFY(other.open(sql::selectAll("bt"), conn));
        QCOMPARE(column(other, 1), QStringList({"a", "b"})); // nothing written yet
        QVERIFY(rs.cancelBatch());
        QVERIFY(!rs.hasPendingChanges());
        QCOMPARE(column(rs, 1), QStringList({"a", "b"}));

        QVERIFY(rs.moveLast());
        QVERIFY(rs.setValue("v", "saved"));
        QVERIFY(rs.update());
        QVERIFY(rs.addNew());
        rs.setValue("n", "9");
        QVERIFY(rs.update());
        QVERIFY2(rs.updateBatch(), qPrintable(rs.errorString()));
        QVERIFY(!rs.hasPendingChanges());
        QVERIFY(other.requery());
        QCOMPARE(column(other, 1), QStringList({"a", "saved", ""}));
        QVERIFY(other.moveLast());
        QCOMPARE(other.value("n").toString(), QString("9"));
        QVERIFY(other.value("v").isNull());
        // The saved new row has a real identity now: a bookmark of it survives a requery.
        QVERIFY(rs.moveLast());
        const Bookmark mark = rs.bookmark();
        QVERIFY(mark > 0);
        QVERIFY(rs.requery());
        QVERIFY(rs.setBookmark(mark));
        QCOMPARE(rs.value("n").toString(), QString("9"));
    }

    // An empty text is stored as an empty text and a null as NULL, through every write path:
    // added and edited rows, at once and in a batch, in a table whose only texts are empty.
    void emptyAndNullStayApart() {
        for (const LockType lock : {LockType::Pessimistic, LockType::BatchOptimistic}) {
            makeTable("en", {"a", "b"}, {});
            Recordset rs;
            QVERIFY(rs.open(sql::selectAll("en"), conn, CursorType::Keyset, lock));
            QVERIFY(rs.addNew());
            rs.setValue(0, QString(""));
            rs.setValue(1, QVariant());
            QVERIFY(rs.update());
            QVERIFY(rs.addNew());
            rs.setValue(0, QVariant());
            rs.setValue(1, QString("x"));
            QVERIFY(rs.update());
            QVERIFY(rs.setValue(1, QString("")));
            QVERIFY(rs.update());
            // The same two rows added in one step each.
            const std::array<QStringView, 2> first{QStringView(u""), QStringView()};
            const std::array<QStringView, 2> second{QStringView(), QStringView(u"")};
            QVERIFY2(rs.addRecord(first), qPrintable(rs.errorString()));
            QVERIFY2(rs.addRecord(second), qPrintable(rs.errorString()));
            QVERIFY(!rs.addRecord(std::array<QStringView, 1>{}));
            QCOMPARE(rs.recordCount(), 4);
            QCOMPARE(rs.absolutePosition(), 4);
            QVERIFY(rs.value(0).isNull());
            QCOMPARE(rs.value(1), QVariant(QString("")));
            if (lock == LockType::BatchOptimistic)
                QVERIFY2(rs.updateBatch(), qPrintable(rs.errorString()));
            sqlite3_stmt* st = nullptr;
            QCOMPARE(sqlite3_prepare_v2(conn.handle(),
                                        "SELECT typeof(a) || ':' || typeof(b) || ':' || "
                                        "coalesce(length(a), -1) || ':' || coalesce(length(b), -1) "
                                        "FROM en ORDER BY rowid",
                                        -1, &st, nullptr),
                     SQLITE_OK);
            QStringList got;
            while (sqlite3_step(st) == SQLITE_ROW)
                got << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            QCOMPARE(got, QStringList({"text:null:0:-1", "null:text:-1:0", "text:null:0:-1",
                                       "null:text:-1:0"}));
        }
    }

    void batchFailureKeepsEverythingPending() {
        QVERIFY(conn.execute("CREATE TABLE bf (v VARCHAR(40) UNIQUE)"));
        QVERIFY(conn.execute("INSERT INTO bf VALUES ('a')"));
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("bf"), conn, CursorType::Keyset, LockType::BatchOptimistic));
        QVERIFY(rs.addNew());
        rs.setValue(0, "ok");
        QVERIFY(rs.update());
        QVERIFY(rs.addNew());
        rs.setValue(0, "a"); // the table refuses it only when it is written
        QVERIFY(rs.update());
        QVERIFY(!rs.updateBatch());
        QVERIFY2(rs.errorString().contains("UNIQUE"), qPrintable(rs.errorString()));
        QVERIFY(rs.hasPendingChanges());
        Recordset other;
        QVERIFY(other.open(sql::selectAll("bf"), conn));
        QCOMPARE(other.recordCount(), 1); // all or nothing
    }

    void valuesNeverCut() {
        makeTable("w", {"v"}, {});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("w"), conn));
        QCOMPARE(rs.definedSize(0), 40);
        QVERIFY(rs.addNew());
        rs.setValue(0, QString(41, QChar(0x5F20)));
        QVERIFY(!rs.update());
        QVERIFY(rs.errorString().contains("40"));
        rs.cancelUpdate();
        QCOMPARE(rs.recordCount(), 0);
        QVERIFY(rs.addNew());
        rs.setValue(0, QString(40, QChar(0x5F20)));
        QVERIFY(rs.update());
        QCOMPARE(rs.value(0).toString().size(), 40);
        // Rows added in one step: refused whole, written or kept for the batch, found by filters.
        const QString tooLong(41, QChar(0x674E)), fits(40, QChar(0x674E));
        for (const LockType lock : {LockType::Pessimistic, LockType::BatchOptimistic}) {
            Recordset more;
            QVERIFY(more.open(sql::selectAll("w"), conn, CursorType::Keyset, lock));
            const int before = more.recordCount();
            QVERIFY(!more.addRecord(std::array<QStringView, 1>{QStringView(tooLong)}));
            QVERIFY2(more.errorString().contains("41"), qPrintable(more.errorString()));
            QCOMPARE(more.recordCount(), before);
            QVERIFY(more.addRecord(std::array<QStringView, 1>{QStringView(fits)}));
            QCOMPARE(more.hasPendingChanges(), lock == LockType::BatchOptimistic);
            QVERIFY(more.setFilter(QStringLiteral("v = '%1'").arg(fits)));
            QCOMPARE(more.recordCount(), lock == LockType::Pessimistic ? 1 : 2);
            QVERIFY(more.updateBatch());
        }
        Recordset stored;
        QVERIFY(stored.open(QStringLiteral("Select * From w Where v = '%1'").arg(fits), conn));
        QCOMPARE(stored.recordCount(), 2);
    }

    void selectIntoKeepsSizes() {
        QVERIFY(conn.execute(
            "Select [查重No] As No, [查重流水号01] As [客户 名称], [查重流水号02] As [ORDER], "
            "[查重流水号02] Into ClienttableCC From ClienttableDBF"));
        Recordset rs;
        QVERIFY(rs.open("Select * From ClienttableCC", conn));
        QCOMPARE(rs.fieldNames(), QStringList({"No", "客户 名称", "ORDER", "查重流水号02"}));
        QCOMPARE(rs.definedSize(0), 32);
        QVERIFY(rs.declaredType(2).startsWith("TEXT"));
        // The template's columns are unsized: a 70,000-character memo value fits whole.
        QVERIFY(rs.addNew());
        QVERIFY(rs.setValue(1, QString(70000, QChar(0x957F))));
        QVERIFY(rs.setValue(2, QStringLiteral("00123")));
        QVERIFY2(rs.update(), qPrintable(rs.errorString()));
        Recordset again;
        QVERIFY(again.open("Select * From ClienttableCC", conn));
        QCOMPARE(again.value(1).toString(), QString(70000, QChar(0x957F)));
        QCOMPARE(again.value(2).toString(), QStringLiteral("00123")); // text stays text
        QVERIFY(conn.execute("Delete * From ClienttableCC"));
        QVERIFY(!conn.execute("Select * Into ClienttableCC From ClienttableDBF"));
        QVERIFY(conn.errorString().contains("ClienttableCC"));
        QVERIFY(conn.execute("Drop Table ClienttableCC"));
        QVERIFY(!conn.hasTable("ClienttableCC"));
        // A failing select-into leaves no half-made table behind.
        QVERIFY(!conn.execute(
            "Select [查重No] As a, [查重流水号01] As A Into bad From ClienttableDBF"));
        QVERIFY(!conn.hasTable("bad"));
        // Copy with rows, and the copy keeps sizes too.
        makeTable("src", {"name"}, {{"甲"}, {"乙"}});
        QVERIFY(conn.execute("Select * Into dst From src"));
        QVERIFY(rs.open("Select * From dst", conn));
        QCOMPARE(rs.recordCount(), 2);
        QCOMPARE(rs.definedSize(0), 40);
    }

    void ybTableByPosition() {
        Recordset rs;
        QVERIFY(rs.open("Select * From yb_table", conn));
        QCOMPARE(rs.fieldCount(), 2);
        QCOMPARE(rs.definedSize(1), 6);
        QVERIFY(rs.declaredType(0).contains("SMALLINT"));
        QVERIFY(rs.addNew());
        rs.setValue(0, "7");
        rs.setValue(1, "100080");
        QVERIFY(rs.update());
        QVERIFY(rs.requery());
        QCOMPARE(rs.value(0).toString(), QString("7"));
        Recordset t;
        QVERIFY(t.open("Select * From ClienttableDBF", conn));
        QCOMPARE(t.fieldCount(), 50);
    }

    void cloneSharesDeletes() {
        makeTable("cl", {"n"}, {{"1"}, {"2"}, {"3"}});
        auto rs = std::make_shared<Recordset>();
        QVERIFY(rs->open(sql::selectAll("cl"), conn));
        auto other = rs->clone();
        QVERIFY(other->setFilter(sql::equals("n", "2")));
        QCOMPARE(other->recordCount(), 1);
        QSignalSpy removed(rs.get(), &Recordset::rowsRemoved);
        QVERIFY(other->deleteCurrent());
        QCOMPARE(rs->recordCount(), 2);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.first().at(0).toInt(), 1);
        QCOMPARE(column(*rs, 0), QStringList({"1", "3"}));
        QCOMPARE(rs->fieldName(0), QString("n"));
    }

    void editsKeepIndexesCurrent() {
        makeTable("ix", {"k"}, {{"a"}, {"b"}, {"a"}});
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("ix"), conn));
        QVERIFY(rs.setFilter(sql::equals("k", "a")));
        QCOMPARE(rs.recordCount(), 2);
        QVERIFY(rs.setFilter(sql::contains("k", "ab")));
        QCOMPARE(rs.recordCount(), 0);
        QVERIFY(rs.setFilter(""));
        QVERIFY(rs.setAbsolutePosition(2));
        QVERIFY(rs.setValue(0, "a"));
        QVERIFY(rs.update());
        QVERIFY(rs.moveFirst());
        QVERIFY(rs.setValue(0, "xaby"));
        QVERIFY(rs.update());
        QVERIFY(rs.addNew());
        rs.setValue(0, "a");
        QVERIFY(rs.update());
        QVERIFY(rs.setFilter(sql::equals("k", "a")));
        QCOMPARE(rs.recordCount(), 3);
        QVERIFY(rs.setFilter(sql::contains("k", "ab")));
        QCOMPARE(column(rs, 0), QStringList({"xaby"}));
    }

    // Random tables, edits and criteria, checked against a plain scan.
    void indexesAgreeWithAScan() {
        std::mt19937 rng(20261208);
        const QStringList pool = {"张",   "李",   "王", "ab", "AB", "a",
                                  "北京", "京市", "市", "",   " a", "a "};
        auto pick = [&]() {
            return pool[int(rng() % pool.size())] + pool[int(rng() % pool.size())];
        };
        QList<QStringList> rows;
        for (int i = 0; i < 300; ++i)
            rows.append({pick(), pick()});
        makeTable("r", {"x", "y"}, rows);
        Recordset rs;
        QVERIFY(rs.open(sql::selectAll("r"), conn));
        auto naive = [&](const QString& x, const QString& yPart) {
            QList<int> out; // positions (1-based) in the unfiltered order
            rs.setFilter("");
            int pos = 0;
            rs.moveFirst();
            while (!rs.isEof()) {
                ++pos;
                const QString vx = testsupport::blankTrimmed(rs.value(0).toString());
                const QString vy = testsupport::blankTrimmed(rs.value(1).toString());
                if (!rs.value(0).isNull() && !rs.value(1).isNull() &&
                    vx.compare(testsupport::blankTrimmed(x), Qt::CaseInsensitive) == 0 &&
                    vy.contains(yPart, Qt::CaseInsensitive))
                    out << pos;
                rs.moveNext();
            }
            return out;
        };
        for (int round = 0; round < 60; ++round) {
            // Mutate: edit, add or delete a random row.
            rs.setFilter("");
            const int n = rs.recordCount();
            const int op = int(rng() % 3);
            if (op == 0 && n > 0) {
                rs.setAbsolutePosition(int(rng() % n) + 1);
                rs.setValue(int(rng() % 2), pick());
                QVERIFY(rs.update());
            } else if (op == 1) {
                rs.addNew();
                rs.setValue(0, pick());
                rs.setValue(1, pick());
                QVERIFY(rs.update());
            } else if (n > 0) {
                rs.setAbsolutePosition(int(rng() % n) + 1);
                QVERIFY(rs.deleteCurrent());
            }
            const QString x = pick();
            const QString yPart = pool[int(rng() % 8)];
            const QList<int> expected = naive(x, yPart);
            QList<int> got;
            QStringList terms{sql::equals("x", x)};
            if (!yPart.isEmpty()) terms << sql::contains("y", yPart);
            // Build the position list of the filtered rows via bookmarks.
            rs.setFilter("");
            QHash<Bookmark, int> posOf;
            rs.moveFirst();
            for (int p = 1; !rs.isEof(); ++p, rs.moveNext())
                posOf[rs.bookmark()] = p;
            QVERIFY(rs.setFilter(sql::allOf(terms)));
            rs.moveFirst();
            while (!rs.isEof()) {
                got << posOf.value(rs.bookmark());
                rs.moveNext();
            }
            QCOMPARE(got, expected);
            // Find walks the same rows.
            rs.setFilter("");
            QList<int> found;
            rs.moveFirst();
            while (rs.find(sql::allOf(terms))) {
                found << rs.absolutePosition();
                rs.moveNext();
                if (rs.isEof()) break;
            }
            QCOMPARE(found, expected);
        }
    }
};

CHACHONG_TEST_MAIN(TestRecordset)
#include "tst_recordset.moc"
