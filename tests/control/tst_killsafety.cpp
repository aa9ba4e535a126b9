// Nothing half-written when the program dies or the disk fills: a batch delete, a merge into a
// dBase table and an export into a workbook of the user's, each run in a process of its own
// (this test started again as a child) and killed (SIGKILL) at five moments of a run of a
// second or so. Afterwards the file opens and holds all of its old records or all of the new
// ones, never a part; every backup equals the original byte for byte; the working database
// passes SQLite's check and the program starts on it. A full disk (a small tmpfs, in a mount
// namespace of its own) stops the merge and the export with a reason, the file as it was.
#include "app/mainfm1.h"
#include "control/engine/export.h"
#include "control/engine/merge.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/formats/dbf/dbf.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"
#include "tools/engine/batchdelete.h"
#include "ui/scripteddialogs.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>
#include <sqlite3.h>

namespace {

const QString workDbName = QStringLiteral("MorlayBankCC.mdb");

// ---- the child: one run on the files of a folder, then exit (0 done, 1 failed) ----------------

int child(const QString& op, const QString& dir, const QString& target) {
    core::AppState& st = core::appState();
    if (!core::openWorkDatabase(st, dir + QLatin1Char('/') + workDbName).ok()) return 2;
    st.AppDir = dir;
    st.WorkDbPath = dir + QLatin1Char('/') + workDbName;
    st.RsDup = std::make_shared<db::Recordset>();
    if (!st.RsDup->open(QStringLiteral("Select * From ClienttableCC"), st.WorkConn,
                        db::CursorType::Keyset, db::LockType::BatchOptimistic))
        return 2;
    // The check table whose fields the duplicates hold: the imported table.
    st.RsSource = std::make_shared<db::Recordset>();
    if (!st.RsSource->open(QStringLiteral("Select * From ClienttableELS"), st.WorkConn)) return 2;
    core::ProgressSink quiet;
    QString error;
    if (op == QLatin1String("batchdelete")) {
        core::RunOptions o;
        o.fields = QStringList{QStringLiteral("姓名")};
        error = tools::batchDelete(st, o, quiet).error;
    } else if (op == QLatin1String("merge")) {
        control::MergeTarget t;
        if (!control::openDbaseTarget(st, target, QFileInfo(target).fileName(), &t).ok()) return 1;
        error = control::mergeIntoTarget(st, t, quiet).error;
    } else if (op == QLatin1String("export")) {
        error = control::exportTable(st, st.WorkConn, QStringLiteral("ClienttableCC"), target,
                                     QStringLiteral("重复客户"))
                    .error;
    } else {
        return 2;
    }
    if (error.isEmpty()) return 0;
    std::fputs(error.toUtf8().constData(), stderr);
    return 1;
}

// ---- the parent ---------------------------------------------------------------------------

// The rows of ClienttableCC: names in groups of three (the batch delete keeps one of each).
QList<QStringList> duplicateRows(int count) {
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i)
        rows << QStringList{QStringLiteral("客户%1").arg(i / 3),
                            QStringLiteral("1380013%1").arg(i % 10000, 4, 10, QChar('0')),
                            QStringLiteral("广东省深圳市南山区科技路%1号").arg(i)};
    return rows;
}

// Read as the program would open it: a journal a killed run left behind is rolled back first.
int tableCount(const QString& db, const QString& table, QString* integrity) {
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(db).constData(), &h, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        return -1;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &st, nullptr);
    if (sqlite3_step(st) == SQLITE_ROW)
        *integrity = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    const QByteArray sql = QStringLiteral("SELECT count(*) FROM [%1]").arg(table).toUtf8();
    sqlite3_prepare_v2(h, sql.constData(), -1, &st, nullptr);
    const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(h);
    return n;
}

// The live records of a dBase table, their values one after another; empty when it does not
// open.
QList<QStringList> dbfRecords(const QString& path) {
    formats::dbf::Table t;
    QString error;
    formats::dbf::OpenOptions o;
    o.readOnly = true;
    QList<QStringList> rows;
    if (!t.open(path, o, &error)) return rows;
    QByteArray record;
    for (quint32 r = 1; r <= t.recordCount(); ++r) {
        if (!t.readRecord(r, &record, &error)) return {};
        if (formats::dbf::Table::isDeleted(record)) continue;
        QStringList values;
        for (int i : t.visibleFields())
            values << t.value(record, i).text;
        rows << values;
    }
    return rows;
}

} // namespace

class TestKillSafety : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    QString prepared_; // a folder holding the working database with ClienttableCC filled

    QString fresh(const QString& name) {
        const QString dir = f.dir() + QLatin1Char('/') + name;
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        QFile::copy(prepared_ + QLatin1Char('/') + workDbName, dir + QLatin1Char('/') + workDbName);
        QFile::setPermissions(dir + QLatin1Char('/') + workDbName,
                              QFile::ReadOwner | QFile::WriteOwner);
        return dir;
    }
    static QStringList childArgs(const QString& op, const QString& dir, const QString& target) {
        return {QStringLiteral("--child"), op, dir, target};
    }
    // Runs the child to its end; its exit code and what it said.
    static int runChild(const QStringList& args, QString* err = nullptr) {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), args);
        p.waitForFinished(120000);
        if (err) *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    static void runAndKill(const QStringList& args, int afterMs) {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), args);
        if (!p.waitForStarted()) return;
        if (!p.waitForFinished(afterMs)) {
            p.kill();
            p.waitForFinished(60000);
        }
    }
    static double timed(const QStringList& args) {
        QElapsedTimer t;
        t.start();
        runChild(args);
        return double(t.elapsed());
    }
    // The working database after a run: SQLite finds it sound, and the program starts on it.
    void workDatabaseSound(const QString& dir, QList<int> counts) {
        QString integrity;
        const int n = tableCount(dir + QLatin1Char('/') + workDbName, "ClienttableCC", &integrity);
        QCOMPARE(integrity, QStringLiteral("ok"));
        QVERIFY2(counts.contains(n), qPrintable(QString::number(n)));
        core::resetAppState();
        ui::ScriptedDialogs quiet; // no message expected
        {
            app::mainFm1 w;
            QVERIFY(w.formLoad(dir));
        }
        QVERIFY2(quiet.problems().isEmpty(), qPrintable(quiet.problems()));
        core::resetAppState();
    }
    // A backup is whole: the original byte for byte (the logs beside them are no copies).
    static void backupsWhole(const QString& dir, const QByteArray& original) {
        for (const QString& b : QDir(dir + QStringLiteral("/查重备份")).entryList(QDir::Files)) {
            if (b.endsWith(QStringLiteral(".part")) || b.endsWith(QStringLiteral(".csv"))) continue;
            QVERIFY2(testsupport::digest(dir + QStringLiteral("/查重备份/") + b) == original,
                     qPrintable(b));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(f.loadDuplicates({"姓名", "电话", "地址"}, duplicateRows(200000)));
        prepared_ = f.dir();
        core::resetAppState();
    }

    void killedBatchDelete() {
        const QString dir = fresh("batch");
        const QStringList args = childArgs("batchdelete", dir, {});
        QCOMPARE(runChild(args), 0);
        QString integrity;
        const int after =
            tableCount(dir + QLatin1Char('/') + workDbName, "ClienttableCC", &integrity);
        QCOMPARE(after, 200000 / 3 + 1);
        const double whole = timed(childArgs("batchdelete", fresh("batch"), {}));
        for (double at : {0.1, 0.3, 0.5, 0.7, 0.9}) {
            const QString d = fresh("batch");
            runAndKill(childArgs("batchdelete", d, {}), int(whole * at));
            workDatabaseSound(d, {200000, 200000 / 3 + 1});
        }
    }

    void killedMergeIntoADbaseTable() {
        QList<QStringList> own;
        for (int i = 0; i < 500; ++i)
            own << QStringList{QStringLiteral("老客户%1").arg(i), QStringLiteral("1"), "x"};
        const QString original = f.dir() + QStringLiteral("/目标原件.dbf");
        QVERIFY(testsupport::makeDbf(original, {"姓名", "电话", "地址"}, own, {}, {20, 20, 60}));
        const QByteArray before = testsupport::digest(original);
        auto prepare = [&] {
            const QString d = fresh("merge");
            QFile::copy(original, d + QStringLiteral("/目标.dbf"));
            QFile::setPermissions(d + QStringLiteral("/目标.dbf"),
                                  QFile::ReadOwner | QFile::WriteOwner);
            return d;
        };
        QString d = prepare();
        QString err;
        QCOMPARE(runChild(childArgs("merge", d, d + QStringLiteral("/目标.dbf")), &err), 0);
        const QList<QStringList> merged = dbfRecords(d + QStringLiteral("/目标.dbf"));
        const QList<QStringList> old = dbfRecords(original);
        QCOMPARE(merged.size(), 200500);
        QCOMPARE(merged.mid(0, 500), old);
        d = prepare();
        const double whole = timed(childArgs("merge", d, d + QStringLiteral("/目标.dbf")));
        for (double at : {0.1, 0.3, 0.5, 0.7, 0.9}) {
            d = prepare();
            runAndKill(childArgs("merge", d, d + QStringLiteral("/目标.dbf")), int(whole * at));
            // All the old records, or all the new ones too.
            const QList<QStringList> now = dbfRecords(d + QStringLiteral("/目标.dbf"));
            QVERIFY2(now == old || now == merged, qPrintable(QString::number(now.size())));
            backupsWhole(d, before);
            workDatabaseSound(d, {200000});
        }
    }

    void killedExportIntoAWorkbook_data() {
        QTest::addColumn<QString>("sample");
        QTest::newRow(".xls") << "xls/poi/chinese-provinces.xls";
        QTest::newRow(".xlsx") << "xlsx/poi/51626_contact.xlsx";
    }
    void killedExportIntoAWorkbook() {
        QFETCH(QString, sample);
        const QString name = QFileInfo(sample).fileName();
        const QByteArray before = testsupport::digest(testsupport::sample(sample));
        const QStringList sheetsBefore =
            testsupport::sheetNames(testsupport::excelDump(testsupport::sample(sample)));
        auto prepare = [&] {
            const QString d = fresh("export");
            testsupport::copyInto(testsupport::sample(sample), d);
            return d;
        };
        QString d = prepare();
        QCOMPARE(runChild(childArgs("export", d, d + QLatin1Char('/') + name)), 0);
        const QJsonObject done = testsupport::excelDump(d + QLatin1Char('/') + name);
        // The user's sheets, then the new one (and those it goes on to past a sheet's rows).
        const QStringList sheets = testsupport::sheetNames(done);
        QCOMPARE(sheets.mid(0, sheetsBefore.size()), sheetsBefore);
        QCOMPARE(sheets.value(sheetsBefore.size()), QStringLiteral("重复客户"));
        d = prepare();
        const double whole = timed(childArgs("export", d, d + QLatin1Char('/') + name));
        for (double at : {0.1, 0.3, 0.5, 0.7, 0.9}) {
            d = prepare();
            runAndKill(childArgs("export", d, d + QLatin1Char('/') + name), int(whole * at));
            const QString book = d + QLatin1Char('/') + name;
            // The workbook as it was, or with the whole new sheet.
            if (testsupport::digest(book) == before) continue;
            QCOMPARE(testsupport::excelDump(book), done);
        }
    }

    void fullDiskStopsTheMergeAndTheExport_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("file");
        QTest::newRow("merge") << "merge"
                               << "目标.dbf";
        QTest::newRow("export") << "export"
                                << "chinese-provinces.xls";
    }
    void fullDiskStopsTheMergeAndTheExport() {
        QFETCH(QString, op);
        QFETCH(QString, file);
        if (QProcess::execute(
                QStringLiteral("unshare"),
                {QStringLiteral("-r"), QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            QSKIP("mount namespaces (unshare -r -m) are not available on this machine");
        const QString d = fresh("disk-" + op);
        const QString source = d + QLatin1Char('/') + file;
        if (op == QLatin1String("merge"))
            QVERIFY(testsupport::makeDbf(source, {"姓名", "电话", "地址"}, {{"老客户", "1", "x"}},
                                         {}, {20, 20, 60}));
        else
            testsupport::copyInto(testsupport::sample("xls/poi/" + file), d);
        const QByteArray before = testsupport::digest(source);
        // Room for the file and its backup, not for what the run adds.
        const qint64 room = 2 * QFileInfo(source).size() + 32 * 1024;
        const QString script =
            QStringLiteral("set -u\n"
                           "mount -t tmpfs -o size=%1 tmpfs \"$MNT\" || exit 90\n"
                           "cp \"$SRC\" \"$MNT/\" || exit 91\n"
                           "\"$CHILD\" --child \"$OP\" \"$DIR\" \"$MNT/$NAME\" "
                           "2>\"$DIR/err\"\n"
                           "echo $? > \"$DIR/rc\"\n"
                           "sha256sum < \"$MNT/$NAME\" > \"$DIR/after\"\n"
                           "sha256sum < \"$SRC\" > \"$DIR/before\"\n"
                           "ls -a \"$MNT\" \"$MNT/查重备份\" > \"$DIR/ls\" 2>&1\n"
                           "exit 0\n")
                .arg(room);
        QDir().mkpath(d + QStringLiteral("/mnt"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MNT"), d + QStringLiteral("/mnt"));
        env.insert(QStringLiteral("SRC"), source);
        env.insert(QStringLiteral("NAME"), file);
        env.insert(QStringLiteral("DIR"), d);
        env.insert(QStringLiteral("OP"), op);
        env.insert(QStringLiteral("CHILD"), QCoreApplication::applicationFilePath());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("unshare"), {QStringLiteral("-r"), QStringLiteral("-m"),
                                            QStringLiteral("sh"), QStringLiteral("-c"), script});
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        auto text = [&](const QString& name) {
            QFile t(d + QLatin1Char('/') + name);
            return t.open(QIODevice::ReadOnly) ? QString::fromUtf8(t.readAll()) : QString();
        };
        QCOMPARE(text("rc").trimmed(), QStringLiteral("1"));
        const QString err = text("err");
        QVERIFY2(err.contains(QStringLiteral("磁盘已满")) || err.contains(QStringLiteral("写入")),
                 qPrintable(err));
        QCOMPARE(text("after"), text("before"));
        QVERIFY(!before.isEmpty());
        QVERIFY2(!text("ls").contains(QStringLiteral(".part")), qPrintable(text("ls")));
        workDatabaseSound(d, {200000});
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        return child(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                     QString::fromLocal8Bit(argv[4]));
    }
    testsupport::setUpEnvironment();
    CHACHONG_TEST_APPLICATION app(argc, argv);
    TestKillSafety tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_killsafety.moc"
