// The check-run window: it runs the exact check when shown and closes itself at the end.
#include "app/appstate.h"
#include "check/mainfm11.h"
#include "db/sqltext.h"
#include "import/worktables.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/scripteddialogs.h"

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>

using namespace db;

class TestMainFm11 : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private slots:
    void runsExactCheckOnActivation() {
        app::resetAppState();
        app::AppState& st = app::appState();
        const QString dbPath = testsupport::copyWorkDb(tmp.path());
        st.AppDir = tmp.path();
        st.WorkDbPath = dbPath;
        QVERIFY(st.WorkConn.open(accessConnectionString(dbPath)));
        QVERIFY(st.WorkConn.execute("CREATE TABLE src (name VARCHAR(20), tel VARCHAR(20))"));
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From src", st.WorkConn));
        st.SourceType = "xls";
        QVERIFY(sources::createTable(st).ok);
        QVERIFY(st.WorkConn.execute("Drop Table src"));
        Recordset els;
        QVERIFY(els.open("Select * From ClienttableELS", st.WorkConn));
        for (const char* n : {"张三", "李四", "张三"}) {
            els.addNew();
            els.setValue(0, QString::fromUtf8(n));
            els.setValue(1, "1");
            QVERIFY(els.update());
        }
        st.RsSource = std::make_shared<Recordset>();
        QVERIFY(st.RsSource->open("Select * From ClienttableELS", st.WorkConn));
        st.CheckFields[0] = "name";
        st.CheckFieldCount = 1;
        st.CheckMode = 1;
        st.RsDup = std::make_shared<Recordset>();
        QVERIFY(st.RsDup->open("Select * From ClienttableCC", st.WorkConn, CursorType::Keyset,
                               LockType::BatchOptimistic));

        ui::ScriptedDialogs d;
        d.expectMessage("查重结束").expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
        QPointer<check::mainFm11> w = check::mainFm11::showRun("完全相同查重");
        QCOMPARE(w->windowTitle(), QString("完全相同查重"));
        QVERIFY(w->Picture2->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(w.isNull(), 10000); // closes itself at the end
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        QCOMPARE(st.RsSource->recordCount(), 1);
        QCOMPARE(st.RsDup->recordCount(), 2);
    }

    void noDuplicatesEndsWithItsMessage() {
        app::AppState& st = app::appState();
        ui::ScriptedDialogs d;
        d.expectMessage("查重结束，无重复数据！");
        st.RsSource->requery();
        QVERIFY(st.WorkConn.execute("Delete * From ClienttableCC"));
        QVERIFY(st.RsDup->requery());
        auto* w = new check::mainFm11("完全相同查重");
        QPointer<check::mainFm11> guard = w;
        w->show();
        QTRY_VERIFY(w->hasRun() || guard.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 10000);
        QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
    }
};

CHACHONG_TEST_MAIN(TestMainFm11)
#include "tst_mainfm11.moc"
