// Start-up of the program: a working database that is missing, not a database, damaged or
// incomplete gives a clear message naming the file and a non-zero exit status; a program
// directory with blanks and Chinese characters works; "退出" ends the run with status 0.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "program/program.h"
#include "tests/support/testsupport.h"
#include "ui/scripteddialogs.h"

#include <QTimer>
#include <QWidget>

#include <sqlite3.h>
#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

    // Runs the program's start-up on dir and expects it to refuse with a message that names
    // the working database and contains what.
    void expectRefusal(const QString& dir, const QString& what) {
        const QString path = QDir::toNativeSeparators(dir + QStringLiteral("/MorlayBankCC.mdb"));
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessageContaining(path);
        {
            app::mainFm1 w;
            QVERIFY(!w.formLoad(dir));
        }
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
        QCOMPARE(dialogs.shown().size(), 1);
        QVERIFY2(dialogs.shown().first().text.contains(what),
                 qPrintable(dialogs.shown().first().text));
        QCOMPARE(dialogs.shown().first().icon, ui::Icon::Critical);
        // The program as a whole ends with a non-zero status.
        dialogs.expectMessageContaining(path);
        QVERIFY(program::runProgram(*qApp, dir, nullptr) != 0);
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
        // Nothing is left half open.
        QVERIFY(!core::appState().WorkConn.isOpen());
    }

private slots:
    void init() { core::resetAppState(); }
    void cleanup() { core::resetAppState(); }

    void missingWorkingDatabase() {
        QTemporaryDir dir;
        expectRefusal(dir.path(), QStringLiteral("找不到工作数据库文件"));
    }

    void notADatabase_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("这不是数据库\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("zip") << QByteArray("PK\x03\x04 and more");
    }

    void notADatabase() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("MorlayBankCC.mdb")), content);
        expectRefusal(dir.path(), QStringLiteral("不是有效的数据库文件"));
    }

    void damagedDatabase() {
        // The header of an SQLite file followed by garbage.
        QTemporaryDir dir;
        const QString path = testsupport::copyWorkDb(dir.path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(100);
        f.write(QByteArray(4000, '\xA5'));
        f.close();
        expectRefusal(dir.path(), QStringLiteral("已损坏"));
    }

    void incompleteDatabase() {
        QTemporaryDir dir;
        const QString path = testsupport::copyWorkDb(dir.path());
        sqlite3* db = nullptr;
        QVERIFY(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK);
        QVERIFY(sqlite3_exec(db, "DROP TABLE empty_table; DROP TABLE yb_table", nullptr, nullptr,
                             nullptr) == SQLITE_OK);
        sqlite3_close(db);
        expectRefusal(dir.path(), QStringLiteral("empty_table、yb_table"));
    }

    void directoryInsteadOfFile() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("MorlayBankCC.mdb")));
        expectRefusal(dir.path(), QStringLiteral("MorlayBankCC.mdb"));
    }

    void readOnlyWorkingDatabase() {
        if (::geteuid() == 0) QSKIP("running as root: file permissions do not apply");
        QTemporaryDir dir;
        const QString path = testsupport::copyWorkDb(dir.path());
        QFile(path).setPermissions(QFileDevice::ReadOwner);
        expectRefusal(dir.path(), QStringLiteral("只读"));
        QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void directoryWithBlanksAndChinese() {
        QTemporaryDir base;
        const QString dir = base.filePath(QStringLiteral("查重 程序 (2024)"));
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(!testsupport::copyWorkDb(dir).isEmpty());
        ui::ScriptedDialogs dialogs;
        app::mainFm1 w;
        QVERIFY(w.formLoad(dir));
        QCOMPARE(core::appState().AppDir, dir);
        QCOMPARE(core::appState().WorkDbPath, dir + QStringLiteral("/MorlayBankCC.mdb"));
        QVERIFY(core::appState().WorkConn.isOpen());
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void closingAnotherWindowDoesNotEndTheRun() {
        // While the main window is hidden (a check runs), the window that is up closes.
        QTemporaryDir dir;
        QVERIFY(!testsupport::copyWorkDb(dir.path()).isEmpty());
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Ok);
        bool stillRunning = false;
        QObject scope; // timers that outlive the run must not fire into later tests
        QTimer::singleShot(50, &scope, [&] {
            app::mainForm()->hide();
            auto* other = new QWidget;
            other->setAttribute(Qt::WA_DeleteOnClose);
            other->show();
            other->close();
            QTimer::singleShot(100, &scope, [&] {
                stillRunning = app::mainForm() != nullptr;
                if (!stillRunning) return;
                app::mainForm()->show();
                app::mainForm()->exit_Click();
            });
        });
        QCOMPARE(program::runProgram(*qApp, dir.path(), nullptr), 0);
        QVERIFY(stillRunning);
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void exitEndsTheRunWithStatusZero() {
        QTemporaryDir dir;
        QVERIFY(!testsupport::copyWorkDb(dir.path()).isEmpty());
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessage(QStringLiteral("确实要退出该系统吗？"), ui::Answer::Ok);
        app::WindowDirectory none;
        bool shown = false;
        QObject scope;
        QTimer::singleShot(50, &scope, [&] {
            app::mainFm1* w = app::mainForm();
            shown = w && w->isVisible();
            if (w) w->exit_Click();
        });
        QCOMPARE(program::runProgram(*qApp, dir.path(), &none), 0);
        QVERIFY(shown);
        QVERIFY(!app::mainForm()); // the main window is gone with the run
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }
};

CHACHONG_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
