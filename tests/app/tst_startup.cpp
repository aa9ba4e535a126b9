// Start-up of the program: a working database that is missing, not a database, damaged or
// incomplete gives a clear message naming the file and a non-zero exit status; a program
// directory with blanks and Chinese characters works; "退出" ends the run with status 0.
// Where the working database is: beside a program that may write there, else in the user's
// data folder, copied on first start and upgraded, with the user's tables, by a newer program.
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "core/workplace.h"
#include "help/manualfm1.h"
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

bool execSql(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

int countRows(const QString& path, const QString& table) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    int n = -1;
    const QByteArray sql = QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table).toUtf8();
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

// Permissions hold for root only through a user without rights: while one of these lives, the
// process acts as "nobody" when it runs as root.
struct WithoutRootRights {
    bool dropped = false;
    WithoutRootRights() {
        if (::geteuid() == 0) dropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~WithoutRootRights() {
        if (dropped) {
            [[maybe_unused]] const int u = ::seteuid(0);
            [[maybe_unused]] const int g = ::setegid(0);
        }
    }
};

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

    // Where the working database of a run is, and what start-up made of the user's copy. The
    // program folder holds the shipped database (beside), or prefix/bin and
    // prefix/share/chachong hold the program and the shipped files (installed).
    void workingDatabasePlace_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("userCopy"); // before start-up: none, same, older, broken
        QTest::addColumn<bool>("ownCopy");     // the run works on the user's copy
        QTest::addColumn<QString>("refusal");  // part of the message when start-up fails
        QTest::newRow("writable program folder") << "beside"
                                                 << "none" << false << "";
        QTest::newRow("read-only program folder") << "read-only"
                                                  << "none" << true << "";
        QTest::newRow("read-only database file") << "read-only file"
                                                 << "none" << true << "";
        QTest::newRow("installed, first start") << "installed"
                                                << "none" << true << "";
        QTest::newRow("installed, later start") << "installed"
                                                << "same" << true << "";
        QTest::newRow("installed, newer program") << "installed"
                                                  << "older" << true << "";
        QTest::newRow("installed, broken copy") << "installed"
                                                << "broken" << true << "把它删除后重新启动";
    }

    void workingDatabasePlace() {
        QFETCH(QString, layout);
        QFETCH(QString, userCopy);
        QFETCH(bool, ownCopy);
        QFETCH(QString, refusal);
        QTemporaryDir base;
        QFile::setPermissions(base.path(), QFileDevice::Permissions(0x7777));
        const QDir root(base.path());
        const bool installed = layout == QLatin1String("installed");
        const QString programDir = root.filePath(installed ? "usr/bin" : "查重 程序");
        const QString shippedDir = installed ? root.filePath("usr/share/chachong") : programDir;
        const QString dataDir = root.filePath("home/chachong");
        QVERIFY(QDir().mkpath(programDir) && QDir().mkpath(shippedDir) && QDir().mkpath(dataDir));
        QFile::setPermissions(dataDir, QFileDevice::Permissions(0x7777));
        const QString shipped = testsupport::copyWorkDb(shippedDir);
        // Whoever runs the program may write a program folder (and its database) of their own.
        // Installed, everyone reads what the program ships.
        if (!installed) {
            QFile::setPermissions(programDir, QFileDevice::Permissions(0x7777));
            QFile::setPermissions(shipped, QFileDevice::Permissions(0x6666));
        } else {
            QFile::setPermissions(shipped, QFileDevice::Permissions(0x6644));
        }
        writeFile(QDir(shippedDir).filePath("用户指南.txt"), "指南");
        // A newer program ships a schema of a higher version with a table more.
        QVERIFY(execSql(shipped, userCopy == QLatin1String("older")
                                     ? "PRAGMA user_version = 7; CREATE TABLE newer(a)"
                                     : "PRAGMA user_version = 6"));
        const QString own = QDir(dataDir).filePath("MorlayBankCC.mdb");
        if (userCopy == QLatin1String("broken")) {
            writeFile(own, "这不是数据库");
        } else if (userCopy != QLatin1String("none")) {
            // What an earlier run left: imported rows, the owner of the duplicates' backup.
            QVERIFY(QFile::copy(shipped, own));
            QFile::setPermissions(own, QFileDevice::Permissions(0x6666));
            QVERIFY(execSql(
                own,
                "PRAGMA user_version = 6; DROP TABLE IF EXISTS newer;"
                "CREATE TABLE ClienttableELS(姓名, 地址);"
                "INSERT INTO ClienttableELS VALUES ('张三', '南山区'), ('李四', '');"
                "CREATE INDEX els_name ON ClienttableELS(姓名);"
                "INSERT INTO ClienttableOwner VALUES ('ClienttableDD', '/home/客户.dbf', '')"));
        }
        const QByteArray ownBefore =
            QFileInfo::exists(own) ? testsupport::digest(own) : QByteArray();
        const QByteArray shippedBefore = testsupport::digest(shipped);
        if (layout == QLatin1String("read-only"))
            QFile::setPermissions(programDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther);
        if (layout == QLatin1String("read-only file"))
            QFile::setPermissions(shipped, QFileDevice::ReadOwner | QFileDevice::ReadOther);

        ui::ScriptedDialogs dialogs;
        if (!refusal.isEmpty()) dialogs.expectMessageContaining(refusal);
        bool loaded = false;
        {
            WithoutRootRights asUser;
            app::mainFm1 w;
            loaded = w.formLoad(programDir, dataDir);
            if (loaded) core::appState().WorkConn.close();
        }
        QFile::setPermissions(programDir, QFileDevice::Permissions(0x7755));
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
        if (ownCopy) QCOMPARE(testsupport::digest(shipped), shippedBefore); // never written
        const core::AppState& st = core::appState();
        if (!refusal.isEmpty()) {
            QVERIFY(!loaded);
            QCOMPARE(testsupport::digest(own), ownBefore); // the user's file as it was
            return;
        }
        QVERIFY(loaded);
        QCOMPARE(st.WorkDbPath, ownCopy ? own : shipped);
        QCOMPARE(st.AppDir, shippedDir);
        QVERIFY(QFileInfo::exists(help::manualFm1::guidePath()));
        QCOMPARE(QFileInfo::exists(own), ownCopy);
        if (!ownCopy) return;
        // Only its owner reads a copy the program made.
        if (userCopy != QLatin1String("same"))
            QCOMPARE(QFileInfo(own).permissions() &
                         (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                     QFileDevice::Permissions());
        if (userCopy != QLatin1String("older")) {
            // Made from the shipped one, or left as the user's work left it.
            QCOMPARE(core::workDbSchemaVersion(own), 6);
            QCOMPARE(countRows(own, "ClienttableELS"), userCopy == QLatin1String("same") ? 2 : -1);
            QVERIFY(!QFileInfo::exists(own + ".v6.bak"));
        } else {
            // The newer schema, the user's tables and rows, the old file kept aside.
            QCOMPARE(core::workDbSchemaVersion(own), 7);
            QCOMPARE(countRows(own, "newer"), 0);
            QCOMPARE(countRows(own, "ClienttableELS"), 2);
            QCOMPARE(countRows(own, "ClienttableOwner"), 1);
            QCOMPARE(countRows(own, "empty_table"), 0);
            QVERIFY(!execSql(own, "CREATE INDEX els_name ON ClienttableELS(地址)")); // carried
            QCOMPARE(testsupport::digest(own + ".v6.bak"), ownBefore);
        }
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
