// Connections, connection strings, statement translation and criteria.
#include "db/connection.h"
#include "db/criteria.h"
#include "db/jetsql.h"
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"

#include <sqlite3.h>
#include <unistd.h>

using namespace db;

class TestConnection : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private slots:
    void connectionStrings() {
        ConnectionTarget s =
            parseConnectionString(accessConnectionString("/d/客户 数据/a=b.mdb"), nullptr);
        QCOMPARE(int(s.kind), int(SourceKind::Sqlite));
        QCOMPARE(s.path, QString("/d/客户 数据/a=b.mdb"));
        s = parseConnectionString(dbaseConnectionString("/data/客户"), nullptr);
        QCOMPARE(int(s.kind), int(SourceKind::Dbf));
        QCOMPARE(s.path, QString("/data/客户"));
        s = parseConnectionString(dbaseConnectionString("/x") + ";CodePage=UTF-8", nullptr);
        QCOMPARE(s.path, QString("/x"));
        QCOMPARE(s.codePage, QString("UTF-8"));
        s = parseConnectionString(excelConnectionString("/d/a.xls"), nullptr);
        QCOMPARE(int(s.kind), int(SourceKind::Xls));
        QCOMPARE(s.path, QString("/d/a.xls"));
        s = parseConnectionString("Provider = Microsoft.Jet.OLEDB.4.0 ; Data Source = /t/x.mdb",
                                  nullptr);
        QCOMPARE(int(s.kind), int(SourceKind::Sqlite));
        QCOMPARE(s.path, QString("/t/x.mdb"));
        QString err;
        s = parseConnectionString("Server=x;Database=y", &err);
        QCOMPARE(int(s.kind), int(SourceKind::None));
        QVERIFY(!err.isEmpty());
        QCOMPARE(excelConnectionString("p"),
                 QString("Provider=MSDASQL.1;Driver={Microsoft Excel Driver (*.xls)}; DBQ=p"));
    }

    void openErrorsAreClear() {
        Connection c;
        QVERIFY(!c.open(accessConnectionString(tmp.path() + "/missing.mdb")));
        QVERIFY(!c.isOpen());
        QVERIFY(c.errorString().contains("找不到数据库文件"));
        QVERIFY(c.errorString().contains("missing.mdb"));

        const QString text = tmp.path() + "/notes.mdb";
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("这不是数据库 just some text\n");
        f.close();
        QVERIFY(!c.open(accessConnectionString(text)));
        QVERIFY2(c.errorString().contains("不是Access数据库"), qPrintable(c.errorString()));

        QVERIFY(!c.open(dbaseConnectionString(tmp.path() + "/nodir")));
        QVERIFY(c.errorString().contains("nodir"));
        QVERIFY(!c.execute("Delete * From t"));
        QVERIFY(c.errorString().contains("没有打开"));
    }

    void readOnlyDatabase() {
        const QString db = testsupport::copyWorkDb(tmp.path());
        QFile::setPermissions(db, QFileDevice::ReadOwner);
        if (::geteuid() == 0) QSKIP("root can write read-only files");
        Connection c;
        QVERIFY(c.open(accessConnectionString(db)));
        QVERIFY(c.isReadOnly());
        Recordset rs;
        QVERIFY(rs.open("Select * From yb_table", c));
        QVERIFY(rs.addNew());
        rs.setValue(1, "1");
        QVERIFY(!rs.update());
        QVERIFY(rs.errorString().contains("只读"));
    }

    void lockedDatabase() {
        const QString db = testsupport::copyWorkDb(tmp.path());
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        Connection c;
        QVERIFY(c.open(accessConnectionString(db)));
        QVERIFY(!c.execute("Delete * From yb_table"));
        QVERIFY2(c.errorString().contains("锁定"), qPrintable(c.errorString()));
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY(c.execute("Delete * From yb_table"));
    }

    void schemaRows() {
        const QString db = testsupport::copyWorkDb(tmp.path());
        Connection c;
        QVERIFY(c.open(accessConnectionString(db)));
        QStringList names;
        for (const SchemaRow& r : c.tableSchema()) {
            names << r.tableName;
            QCOMPARE(r.tableType, QString("TABLE"));
        }
        QCOMPARE(names,
                 QStringList({"ClienttableDBF", "empty_table", "yb_table", "ClienttableOwner"}));
        QVERIFY(c.hasTable("CLIENTTABLEDBF"));
        QVERIFY(c.execute("Select * Into MSysThing From empty_table"));
        bool system = false;
        for (const SchemaRow& r : c.tableSchema())
            if (r.tableName == "MSysThing") system = r.tableType == "SYSTEM TABLE";
        QVERIFY(system);
    }

    void transactions() {
        const QString db = testsupport::copyWorkDb(tmp.path());
        Connection c;
        QVERIFY(c.open(accessConnectionString(db)));
        QVERIFY(c.beginTransaction());
        QVERIFY(c.beginTransaction()); // nests
        QVERIFY(c.execute("Select * Into t1 From empty_table"));
        QVERIFY(c.commit());
        QVERIFY(c.inTransaction());
        c.rollback();
        QVERIFY(!c.hasTable("t1"));
    }

    void translation_data() {
        QTest::addColumn<QString>("jet");
        QTest::addColumn<QString>("sqlite");
        QTest::newRow("delete") << "Delete * From ClienttableCC"
                                << "DELETE From ClienttableCC";
        QTest::newRow("drop") << "Drop Table [Order Details]"
                              << "Drop Table \"Order Details\"";
        QTest::newRow("select") << "Select * From [Sheet1$]"
                                << "Select * From \"Sheet1$\"";
        QTest::newRow("equals") << "Select * From t Where [a] = 'O''B'"
                                << "Select * From t Where \"a\" = 'O''B' COLLATE NOCASE";
        QTest::newRow("like") << "Select * From t Where a Like '%1[%]%' Order By a"
                              << "Select * From t Where a Like '%1\\%%' ESCAPE '\\' Order By a";
        QTest::newRow("chinese") << "Select * From 客户表"
                                 << "Select * From 客户表";
    }
    void translation() {
        QFETCH(QString, jet);
        QFETCH(QString, sqlite);
        JetStatement st;
        QString err;
        QVERIFY2(translateJet(jet, &st, &err), qPrintable(err));
        QCOMPARE(st.sql, sqlite);
    }

    void selectIntoAndBaseTable() {
        JetStatement st;
        QString err;
        QVERIFY(translateJet("Select [查重No] As No, [查重流水号01] As [客户 名称] Into "
                             "ClienttableCC From ClienttableDBF",
                             &st, &err));
        QCOMPARE(int(st.kind), int(JetStatement::SelectInto));
        QCOMPARE(st.intoTable, QString("ClienttableCC"));
        QCOMPARE(
            st.sql,
            QString(
                "Select \"查重No\" As No, \"查重流水号01\" As \"客户 名称\" From ClienttableDBF"));
        QVERIFY(translateJet("Select * From [a b] Where x = '1' Order By x", &st, &err));
        QCOMPARE(st.baseTable, QString("a b"));
        QVERIFY(st.selectAll);
        QVERIFY(translateJet("Select a.x From a, b", &st, &err));
        QVERIFY(st.baseTable.isEmpty());
        QVERIFY(!translateJet("Select * From [broken", &st, &err));
        QVERIFY(!err.isEmpty());
        QVERIFY(!translateJet("Select * From t Where a Like '[abc]'", &st, &err));
    }

    void criteria() {
        Criterion c;
        QString err;
        QVERIFY(parseCriterion("[客户 名称] = 'O''Brien' And 地址 Like '%朝阳%'", &c, &err));
        QCOMPARE(int(c.terms.size()), 2);
        QCOMPARE(c.terms[0].field, QString("客户 名称"));
        QCOMPARE(c.terms[0].value, QString("O'Brien"));
        QCOMPARE(c.terms[1].field, QString("地址"));
        QVERIFY(parseCriterion("", &c, &err));
        QVERIFY(c.empty());
        QVERIFY(!parseCriterion("a = 'x", &c, &err));
        QVERIFY(!parseCriterion("a = 'x' Or b = 'y'", &c, &err));
        QVERIFY(err.contains("And"));
        QVERIFY(!parseCriterion("a > 'x'", &c, &err));
        QVERIFY(!parseCriterion("a = 'x' And", &c, &err));
    }

    // Statements and criteria share their quoting: a doubled "]" in a bracketed name and a
    // doubled apostrophe in a text stand for one character; a name or text left open is refused
    // with a message that quotes the whole statement.
    void quotingInStatements_data() {
        QTest::addColumn<QString>("jet");
        QTest::addColumn<QString>("sqlite"); // empty: refused
        QTest::addColumn<QString>("error");
        QTest::newRow("doubled ]") << "Select [a]]b] From [t]]]"
                                   << "Select \"a]b\" From \"t]\""
                                   << "";
        QTest::newRow("doubled '") << "Select * From t Where x = 'O''Brien'"
                                   << "Select * From t Where x = 'O''Brien' COLLATE NOCASE"
                                   << "";
        QTest::newRow("only quotes") << "Select * From t Where x <> ''''"
                                     << "Select * From t Where x <> '''' COLLATE NOCASE"
                                     << "";
        QTest::newRow("double quotes") << "Select \"a\"\"b\", `c``d` From t"
                                       << "Select \"a\"\"b\", \"c`d\" From t"
                                       << "";
        QTest::newRow("bracket in text") << "Select * From t Where x = '[a'"
                                         << "Select * From t Where x = '[a' COLLATE NOCASE"
                                         << "";
        QTest::newRow("quote in name") << "Select [O'Brien] From t"
                                       << "Select \"O'Brien\" From t"
                                       << "";
        QTest::newRow("words and blanks") << "  Select\tt.x,名称　From 客户表 Where a>=1  "
                                          << "Select t.x,名称 From 客户表 Where a>=1"
                                          << "";
        QTest::newRow("open name") << "  Select [a]]b From t "
                                   << ""
                                   << "语句中的名称缺少结束符：Select [a]]b From t";
        QTest::newRow("open name at end") << "Drop Table [t]]"
                                          << ""
                                          << "语句中的名称缺少结束符：Drop Table [t]]";
        QTest::newRow("open text") << "Select * From t Where x = 'O''Brien"
                                   << ""
                                   << "语句中的文字缺少结束引号：Select * From t Where x = "
                                      "'O''Brien";
        QTest::newRow("lone quote") << "Delete * From t Where x = '"
                                    << ""
                                    << "语句中的文字缺少结束引号：Delete * From t Where x = '";
    }
    void quotingInStatements() {
        QFETCH(QString, jet);
        QFETCH(QString, sqlite);
        QFETCH(QString, error);
        JetStatement st;
        QString err;
        const bool ok = translateJet(jet, &st, &err);
        if (sqlite.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(err, error);
        } else {
            QVERIFY2(ok, qPrintable(err));
            QCOMPARE(st.sql, sqlite);
        }
    }

    void quotingInCriteria_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("terms"); // field, value, ...; empty: refused
        QTest::addColumn<QString>("error");
        QTest::newRow("doubled ]") << "[a]]b] = 'x'" << QStringList{"a]b", "x"} << "";
        QTest::newRow("doubled '") << "[姓名] = 'O''Brien'" << QStringList{"姓名", "O'Brien"} << "";
        QTest::newRow("only quotes")
            << "a = '''' And b Like ''" << QStringList{"a", "'", "b", ""} << "";
        QTest::newRow("brackets in value")
            << "[a] Like '%[[]x]%'" << QStringList{"a", "%[[]x]%"} << "";
        QTest::newRow("bare names")
            << "a-b='1' And 客户.名称 Like'%2%' And \"c\" = '3'"
            << QStringList{"a-b", "1", "客户.名称", "%2%", "\"c\"", "3"} << "";
        QTest::newRow("open name")
            << "[a]]b = 'x'" << QStringList{} << "条件无效（缺少字段名）：[a]]b = 'x'";
        QTest::newRow("open name at end")
            << "a = 'x' And [b" << QStringList{} << "条件无效（缺少字段名）：a = 'x' And [b";
        QTest::newRow("open text")
            << "[a] = 'O''Brien" << QStringList{} << "条件无效（缺少带引号的值）：[a] = 'O''Brien";
        QTest::newRow("lone quote")
            << " a = '" << QStringList{} << "条件无效（缺少带引号的值）： a = '";
    }
    void quotingInCriteria() {
        QFETCH(QString, text);
        QFETCH(QStringList, terms);
        QFETCH(QString, error);
        Criterion c;
        QString err;
        const bool ok = parseCriterion(text, &c, &err);
        if (terms.isEmpty()) {
            QVERIFY(!ok);
            QCOMPARE(err, error);
            QVERIFY(c.empty());
            return;
        }
        QVERIFY2(ok, qPrintable(err));
        QStringList got;
        for (const CriterionTerm& t : c.terms)
            got << t.field << t.value;
        QCOMPARE(got, terms);
    }

    void likeMatching_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("match");
        QTest::newRow("contains") << "%朝阳%"
                                  << "北京朝阳区" << true;
        QTest::newRow("anchored") << "朝阳%"
                                  << "北京朝阳区" << false;
        QTest::newRow("one") << "a_c"
                             << "abc" << true;
        QTest::newRow("one-short") << "a_c"
                                   << "ac" << false;
        QTest::newRow("fold") << "ABC%"
                              << "abcd" << true;
        QTest::newRow("literal%") << "%[%]"
                                  << "100%" << true;
        QTest::newRow("literal%-no") << "%[%]"
                                     << "100" << false;
        QTest::newRow("set") << "[!a]b"
                             << "ab" << false;
        QTest::newRow("backtrack") << "%ab%ab"
                                   << "xabyab" << true;
        QTest::newRow("empty") << "%"
                               << "" << true;
        QTest::newRow("trailing-blank") << "a"
                                        << "a " << false;
    }
    void likeMatching() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, match);
        LikePattern p;
        QString err;
        QVERIFY(compileLike(pattern, &p, &err));
        QCOMPARE(likeMatch(p, reinterpret_cast<const char16_t*>(text.utf16()), int(text.size())),
                 match);
    }
};

CHACHONG_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
