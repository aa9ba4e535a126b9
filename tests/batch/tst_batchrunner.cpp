// chachong-batch as a user's script runs it: the executable beside the program, on sample files
// made by other people and on generated client lists. Every value it prints is read back with
// independent readers (Python's csv module, python3-dbf, mdbtools), and every exact check is
// compared with groups computed in Python from the table as dumped.
#include "../support/testsupport.h"

#include "app/mainfm1.h"
#include "bench/gen/clientgen.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/criteria.h"
#include "db/formats/dbf/dbf.h"
#include "db/formats/textcodec.h"
#include "db/formats/xls/cfb.h"
#include "import/engine/dbfcodepage.h"
#include "program/program.h"
#include "ui/scripteddialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStringEncoder>

#include <csignal>
#include <pty.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::digest;

namespace {

using testsupport::makeDbf;

struct Run {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

QString runner() {
    return testsupport::programDir() + QStringLiteral("/chachong-batch");
}

Run batch(const QStringList& args, const QString& program = runner()) {
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Starts the runner and kills it (SIGKILL) after delayMs, unless it ended before.
void runAndKill(const QStringList& args, int delayMs) {
    QProcess p;
    p.start(runner(), args);
    if (!p.waitForStarted()) return;
    if (!p.waitForFinished(delayMs)) {
        p.kill();
        p.waitForFinished(60000);
    }
}

// Wall-clock seconds of one whole run.
double timedRun(const QStringList& args) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(runner(), args);
    p.waitForFinished(300000);
    return t.elapsed() / 1000.0;
}

QString script(const QString& name) {
    return QStringLiteral(CHACHONG_SOURCE_DIR) + QStringLiteral("/tests/") + name;
}

QJsonDocument python(const QString& name, const QStringList& args) {
    bool ok = false;
    QByteArray err;
    const QByteArray out = testsupport::runPython(script(name), args, &ok, &err);
    if (!ok) qWarning("%s: %s", qPrintable(name), err.constData());
    return QJsonDocument::fromJson(out);
}

// The records of a CSV file as Python's csv module reads them (the header first).
QList<QStringList> readCsv(const QString& path) {
    QList<QStringList> records;
    const QJsonArray files = python(QStringLiteral("batch/csv_json.py"), {path}).array();
    if (files.isEmpty()) return records;
    for (const QJsonValue& row : files.first().toArray()) {
        QStringList r;
        for (const QJsonValue& v : row.toArray())
            r << v.toString();
        records << r;
    }
    return records;
}

QString writeText(const QString& path, const QString& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(text.toUtf8());
    return path;
}

// "groups=G duplicate_rows=R separated=S remaining=M seconds=T" as numbers.
QMap<QString, double> summary(const QString& line) {
    QMap<QString, double> m;
    const QStringList parts = line.trimmed().split(QLatin1Char(' '));
    for (const QString& p : parts) {
        const qsizetype eq = p.indexOf(QLatin1Char('='));
        if (eq > 0) m[p.left(eq)] = p.mid(eq + 1).toDouble();
    }
    return m;
}

} // namespace

class TestBatchRunner : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

    QString path(const QString& name) const { return tmp_.filePath(name); }

    // A generated list (rows, seed, a share each of exact and of near copies) written to file as
    // format ("dbf", "xls" or "csv"); false with *error.
    static bool writeList(const QString& format, const QString& file, int rows, quint32 seed,
                          double share, QString* error) {
        gen::Options o;
        o.rows = rows;
        o.seed = seed;
        o.exactShare = share;
        o.nearShare = share;
        const gen::Table t = gen::generate(o);
        QFile::remove(file);
        if (format == QLatin1String("dbf")) return gen::writeDbf(t, file, error);
        if (format == QLatin1String("xls")) return gen::writeXls(t, file, error);
        return gen::writeCsv(t, file, error);
    }

    // Runs a check and compares it with the groups Python computes from the table's dump:
    // counts, ClienttableCC as written (group numbers, running numbers, whole records), and the
    // rest (no duplicates left, nothing lost).
    void verifyCheck(const QStringList& source, const QString& fields,
                     const QStringList& extra = {}, const QString& start = {},
                     const QString& end = {}) {
        const Run dump = batch(QStringList{QStringLiteral("dump")} + source);
        QCOMPARE(dump.exitCode, 0);
        const QString table = writeText(path(QStringLiteral("table.csv")), dump.out);
        QStringList oracleArgs{table, fields};
        if (!start.isEmpty()) oracleArgs << start << end;
        const QJsonObject expected =
            python(QStringLiteral("batch/exact_groups.py"), oracleArgs).object();
        QVERIFY(expected.contains(QStringLiteral("groups")));

        const QString dupCsv = path(QStringLiteral("dup.csv"));
        const QString restCsv = path(QStringLiteral("rest.csv"));
        QFile::remove(dupCsv);
        QFile::remove(restCsv);
        QStringList args{QStringLiteral("check"), source.first()};
        if (source.size() > 1) args << QStringLiteral("--table") << source[1];
        args << QStringLiteral("--fields") << fields << QStringLiteral("--dup-csv") << dupCsv
             << QStringLiteral("--rest-csv") << restCsv << extra;
        if (!start.isEmpty())
            args << QStringLiteral("--start") << start << QStringLiteral("--end") << end;
        const Run r = batch(args);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^groups=\\d+ duplicate_rows=\\d+ separated=\\d+ "
                                                  "remaining=\\d+ seconds=[0-9.]+$"))
                    .match(lines.first())
                    .hasMatch());
        const auto s = summary(lines.first());
        const int groups = expected[QStringLiteral("groups")].toInt();
        const int rows = expected[QStringLiteral("rows")].toInt();
        QCOMPARE(int(s["groups"]), groups);
        QCOMPARE(int(s["duplicate_rows"]), rows);

        const QList<QStringList> all = readCsv(table);
        const QList<QStringList> dup = readCsv(dupCsv);
        const QList<QStringList> rest = readCsv(restCsv);
        QVERIFY(!all.isEmpty() && !dup.isEmpty() && !rest.isEmpty());
        QCOMPARE(dup.size() - 1, rows);
        QCOMPARE(rest.first(), all.first());
        QCOMPARE(int(s["remaining"]), rest.size() - 1);
        QCOMPARE(int(s["separated"]) + int(s["remaining"]), all.size() - 1);
        // ClienttableCC: the group number on the first row of each group, a running number on
        // every row, the record's values in between.
        const int width = all.first().size();
        int group = 0;
        for (int i = 1; i < dup.size(); ++i) {
            QCOMPARE(dup[i].last(), QString::number(i));
            if (!dup[i].first().isEmpty()) QCOMPARE(dup[i].first(), QString::number(++group));
        }
        QCOMPARE(group, groups);
        // The rest are records of the table as they were; the duplicate table holds records of
        // the table with their values' blanks trimmed; and the rest holds no pair.
        auto trimmed = [](QStringList r) {
            for (QString& v : r)
                v = testsupport::blankTrimmed(v);
            return r;
        };
        QSet<QStringList> records, trimmedRecords;
        for (int i = 1; i < all.size(); ++i) {
            records.insert(all[i]);
            trimmedRecords.insert(trimmed(all[i]));
        }
        for (int i = 1; i < dup.size(); ++i)
            QVERIFY2(trimmedRecords.contains(dup[i].mid(1, width)), qPrintable(dup[i].join('|')));
        for (int i = 1; i < rest.size(); ++i)
            QVERIFY2(records.contains(rest[i]), qPrintable(rest[i].join('|')));
        const QJsonObject left =
            python(QStringLiteral("batch/exact_groups.py"), {restCsv, fields}).object();
        if (start.isEmpty()) QCOMPARE(left[QStringLiteral("groups")].toInt(), 0);
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp_.isValid());
        QVERIFY2(QFileInfo::exists(runner()), "chachong-batch is not built");
        // The runs this test kills cannot remove their private copies: keep those in here.
        const QString scratch = tmp_.path() + QStringLiteral("/scratch");
        QVERIFY(QDir().mkpath(scratch));
        qputenv("TMPDIR", QFile::encodeName(scratch));
    }

    // ---- the command line ---------------------------------------------------------------

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        const QString f = QStringLiteral("a.dbf");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"merge", f};
        QTest::newRow("tables without file") << QStringList{"tables"};
        QTest::newRow("tables, two files") << QStringList{"tables", f, "b.dbf"};
        QTest::newRow("dump, three words") << QStringList{"dump", f, "T", "U"};
        QTest::newRow("restore without backup") << QStringList{"restore", f};
        QTest::newRow("backups, two files") << QStringList{"backups", f, "b.dbf"};
        QTest::newRow("check without fields") << QStringList{"check", f};
        QTest::newRow("empty field name") << QStringList{"check", f, "--fields", "a,,b"};
        QTest::newRow("field twice") << QStringList{"check", f, "--fields", "姓名,电话,姓名"};
        QTest::newRow("six fields") << QStringList{"check", f, "--fields", "a,b,c,d,e,f"};
        QTest::newRow("start 0") << QStringList{"check", f, "--fields", "a", "--start", "0"};
        QTest::newRow("start text") << QStringList{"check", f, "--fields", "a", "--start", "x"};
        QTest::newRow("end negative") << QStringList{"check", f, "--fields=a", "--end=-3"};
        QTest::newRow("start after end")
            << QStringList{"check", f, "--fields", "a", "--start", "9", "--end", "3"};
        QTest::newRow("option without value") << QStringList{"check", f, "--fields"};
        QTest::newRow("unknown option") << QStringList{"check", f, "--fields", "a", "--fast"};
        QTest::newRow("check option on dump") << QStringList{"dump", f, "--in-place"};
        QTest::newRow("unknown encoding") << QStringList{"dump", f, "--encoding", "klingon"};
        QTest::newRow("postcode without digits")
            << QStringList{"check", f, "--fields", "a", "--fuzzy", "--postcode", "邮编"};
        QTest::newRow("digits without postcode")
            << QStringList{"check", f, "--fields", "a", "--fuzzy", "--digits", "3"};
        QTest::newRow("postcode without fuzzy")
            << QStringList{"check", f, "--fields", "a", "--postcode", "邮编", "--digits", "3"};
        QTest::newRow("digits 0") << QStringList{"check",      f,      "--fields", "a", "--fuzzy",
                                                 "--postcode", "邮编", "--digits", "0"};
        QTest::newRow("digits 7") << QStringList{"check",      f,      "--fields", "a", "--fuzzy",
                                                 "--postcode", "邮编", "--digits", "7"};
        QTest::newRow("fuzzy on dump") << QStringList{"dump", f, "--fuzzy"};
        QTest::newRow("merge-back on dump") << QStringList{"dump", f, "--merge-back"};
        QTest::newRow("keep-by without merge-back")
            << QStringList{"check", f, "--fields", "a", "--keep-by", "a"};
        QTest::newRow("empty keep-by field")
            << QStringList{"check", f, "--fields", "a", "--merge-back", "--keep-by", "a,,b"};
        QTest::newRow("sheet without workbook")
            << QStringList{"check", f, "--fields", "a", "--sheet", "名单"};
        QTest::newRow("one workbook for both") << QStringList{
            "check", f, "--fields", "a", "--dup-xls", "x.xls", "--rest-xls", "./x.xls"};
        QTest::newRow("smart and fuzzy")
            << QStringList{"check", f, "--fields", "a", "--smart", "--fuzzy"};
        QTest::newRow("kinds without smart")
            << QStringList{"check", f, "--fields", "a", "--kinds", "a=name"};
        QTest::newRow("reasons without smart")
            << QStringList{"check", f, "--fields", "a", "--reasons-csv", "why.csv"};
        QTest::newRow("unknown kind")
            << QStringList{"check", f, "--fields", "a", "--smart", "--kinds", "a=colour"};
        QTest::newRow("kind of no check field")
            << QStringList{"check", f, "--fields", "a", "--smart", "--kinds", "b=name"};
        QTest::newRow("kind without its field")
            << QStringList{"check", f, "--fields", "a", "--smart", "--kinds", "=name"};
        QTest::newRow("unknown level")
            << QStringList{"check", f, "--fields", "a", "--smart", "--level", "medium"};
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        const Run r = batch(args);
        QVERIFY(!r.crashed);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith(QStringLiteral("chachong-batch: ")), qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("chachong-batch check FILE")));
    }

    void help() {
        const Run r = batch({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(QStringLiteral("chachong-batch dump FILE [TABLE]")));
        QVERIFY(r.out.contains(QStringLiteral("退出码：0 成功；1 失败")));
        QVERIFY(r.err.isEmpty());
        const Run v = batch({QStringLiteral("--version")});
        QCOMPARE(v.exitCode, 0);
        QCOMPARE(v.out, QStringLiteral("chachong-batch " CHACHONG_TEST_VERSION "\n"));
    }

    // A progress line on standard error while a check works, only where a person watches it: on
    // a terminal (a pseudo-terminal here), not in a pipe, and not with --quiet.
    void progressLineOnATerminalOnly() {
        const QString dbf = path(QStringLiteral("progress.dbf"));
        QVERIFY(makeDbf(
            dbf, {QStringLiteral("姓名")},
            {{QStringLiteral("张三")}, {QStringLiteral("张三")}, {QStringLiteral("李四")}}));
        const QStringList args = {QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                                  QStringLiteral("姓名")};
        auto onTerminal = [&](const QStringList& extra) {
            int master = -1;
            const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
            if (pid == 0) {
                std::vector<QByteArray> words{QFile::encodeName(runner())};
                for (const QString& a : args + extra)
                    words.push_back(a.toUtf8());
                std::vector<char*> argv;
                for (QByteArray& w : words)
                    argv.push_back(w.data());
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                _exit(127);
            }
            QByteArray seen;
            char buffer[4096];
            for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
                seen.append(buffer, n);
            int status = 0;
            waitpid(pid, &status, 0);
            close(master);
            return std::pair{WEXITSTATUS(status), QString::fromUtf8(seen)};
        };
        const auto [code, shown] = onTerminal({});
        QCOMPARE(code, 0);
        QVERIFY2(shown.contains(QStringLiteral("查重：第 ")) &&
                     shown.contains(QStringLiteral("%，每秒 ")),
                 qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("groups=1")));
        const auto [quietCode, quiet] = onTerminal({QStringLiteral("--quiet")});
        QCOMPARE(quietCode, 0);
        QVERIFY2(!quiet.contains(QStringLiteral("查重：第 ")), qPrintable(quiet));
        const Run piped = batch(args);
        QCOMPARE(piped.exitCode, 0);
        QVERIFY2(piped.err.isEmpty(), qPrintable(piped.err));
    }

    // Every failure: status 1, one line on standard error, nothing on standard output, the
    // file untouched.
    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("code"); // 1 the file could not be read, 3 the check was refused
        QDir(tmp_.path()).mkpath(QStringLiteral("failures/folder.dbf"));
        const QString dir = path(QStringLiteral("failures"));
        auto file = [&](const QString& name, const QByteArray& bytes) {
            QFile f(dir + QLatin1Char('/') + name);
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
            return f.fileName();
        };
        const QByteArray junk = QByteArray("this is not a table\n").repeated(200);
        const QString corruptDbf = file(QStringLiteral("损坏.dbf"), junk);
        const QString corruptXls = file(QStringLiteral("损坏.xls"), junk);
        const QString corruptMdb = file(QStringLiteral("损坏.mdb"), junk);
        const QString text = file(QStringLiteral("客户.doc"), junk);
        // A workbook saved with a password: the file holds an encrypted package only.
        const QString encrypted = file(
            QStringLiteral("加密.xls"),
            formats::cfb::write({{QStringLiteral("EncryptionInfo"), QByteArray(200, 'e')},
                                 {QStringLiteral("EncryptedPackage"), QByteArray(5000, 'p')}}));
        const QString empty = dir + QStringLiteral("/空表.dbf");
        makeDbf(empty, {QStringLiteral("姓名"), QStringLiteral("电话")}, {});
        const QString small = dir + QStringLiteral("/客户.dbf");
        makeDbf(small, {QStringLiteral("姓名"), QStringLiteral("电话")},
                {{QStringLiteral("张三"), QStringLiteral("1")}});

        QTest::newRow("missing file")
            << QStringList{"dump", dir + "/无此文件.dbf"} << "文件不存在" << 1;
        QTest::newRow("a folder") << QStringList{"tables", dir + "/folder.dbf"} << "不是文件" << 1;
        QTest::newRow("unknown format") << QStringList{"tables", text} << "不认识的文件格式" << 1;
        QTest::newRow("corrupt dbf") << QStringList{"dump", corruptDbf} << "不是 dBase" << 1;
        QTest::newRow("corrupt dbf, check")
            << QStringList{"check", corruptDbf, "--fields", "a"} << "不是 dBase" << 1;
        QTest::newRow("corrupt xls") << QStringList{"tables", corruptXls} << "不是Excel" << 1;
        QTest::newRow("corrupt mdb") << QStringList{"dump", corruptMdb} << "不是Access" << 1;
        QTest::newRow("encrypted workbook") << QStringList{"tables", encrypted} << "加密" << 1;
        QTest::newRow("unknown field")
            << QStringList{"check", small, "--fields", "姓名,手机"} << "没有字段“手机”" << 3;
        QTest::newRow("empty table")
            << QStringList{"check", empty, "--fields", "姓名"} << "无数据可查" << 3;
        QTest::newRow("csv into a missing folder")
            << QStringList{"check", small, "--fields", "姓名", "--dup-csv", dir + "/无/d.csv"}
            << "无法写入" << 3;
        QTest::newRow("workbook into a missing folder")
            << QStringList{"check", small, "--fields", "姓名", "--rest-xls", dir + "/无/r.xls"}
            << "无法写入" << 3;
        QTest::newRow("a workbook that is none")
            << QStringList{"check", small, "--fields", "姓名", "--dup-xls", corruptXls}
            << "无法读取Excel文件" << 1;
        const QString book = testsupport::copyInto(
            testsupport::sample(QStringLiteral("xls/xlrd/namesdemo.xls")), dir);
        QTest::newRow("a sheet of that name")
            << QStringList{"check",     small, "--fields", "姓名",  "--in-place",
                           "--dup-xls", book,  "--sheet",  "Sheet3"}
            << "重名" << 3;
        QTest::newRow("a sheet name Excel refuses")
            << QStringList{"check",      small, "--fields", "姓名", "--in-place",
                           "--rest-xls", book,  "--sheet",  "a:b"}
            << "不允许的字符" << 3;
        // Known before the run: refused before a duplicate is separated from the file.
        const QString pair = dir + QStringLiteral("/重复.dbf");
        makeDbf(pair, {QStringLiteral("姓名")},
                {{QStringLiteral("张三")}, {QStringLiteral("张三")}});
        QDir(dir).mkpath(QStringLiteral("ro"));
        const QString readOnly = testsupport::copyInto(book, dir + QStringLiteral("/ro"));
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        const QString excel95 = testsupport::copyInto(
            testsupport::sample(QStringLiteral("xls/poi/testEXCEL_95.xls")), dir);
        const QString xlsNamedXlsx = dir + QStringLiteral("/名单.xlsx");
        QFile::copy(book, xlsNamedXlsx);
        const QString readOnlyCsv = file(QStringLiteral("只读.csv"), "a\n");
        QFile::setPermissions(readOnlyCsv, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        for (const auto& [name, option, target, why] :
             {std::tuple{"read-only workbook", "--dup-xls", readOnly, "只读"},
              std::tuple{"Excel 95 workbook", "--rest-xls", excel95, "Excel 95"},
              std::tuple{".xlsx name over an .xls file", "--dup-xls", xlsNamedXlsx, "xlsx"},
              std::tuple{"read-only csv", "--rest-csv", readOnlyCsv, "只读"}})
            QTest::newRow(name) << QStringList{"check",      pair,   "--fields", "姓名",
                                               "--in-place", option, target}
                                << why << 3;
        QTest::newRow("keep-by field missing")
            << QStringList{"check",      small,          "--fields",  "姓名",
                           "--in-place", "--merge-back", "--keep-by", "手机"}
            << "没有字段“手机”" << 3;
        const QString nwind = testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb"));
        QTest::newRow("unknown table")
            << QStringList{"dump", nwind, "Kunden"} << "没有表“Kunden”" << 1;
        QTest::newRow("unknown sheet")
            << QStringList{"check",    testsupport::sample(QStringLiteral("xls/poi/19599-2.xls")),
                           "--table",  "Sheet1",
                           "--fields", "F2"}
            << "没有表“Sheet1”" << 1;
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        QFETCH(int, code);
        const QString file = args[1];
        const QByteArray before = digest(file);
        const Run r = batch(args);
        QVERIFY(!r.crashed);
        QCOMPARE(r.exitCode, code);
        QVERIFY2(r.out.isEmpty(), qPrintable(r.out));
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));
        QVERIFY2(r.err.startsWith(QStringLiteral("chachong-batch: ")), qPrintable(r.err));
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QCOMPARE(digest(file), before);
    }

    void severalTablesNeedAName() {
        const Run r = batch({QStringLiteral("dump"),
                             testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb"))});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains(QStringLiteral("Order Details")));
    }

    void missingWorkingDatabase() {
        // The runner copied to a folder without the working database beside it.
        const QString dir = path(QStringLiteral("alone"));
        QDir().mkpath(dir);
        const QString copy = dir + QStringLiteral("/chachong-batch");
        QVERIFY(QFile::copy(runner(), copy));
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QString dbf = path(QStringLiteral("alone.dbf"));
        QVERIFY(makeDbf(dbf, {QStringLiteral("姓名")}, {{QStringLiteral("张三")}}));
        const Run r = batch(
            {QStringLiteral("check"), dbf, QStringLiteral("--fields"), QStringLiteral("姓名")},
            copy);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("找不到工作数据库文件")), qPrintable(r.err));
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    }

    // ---- tables and dump ------------------------------------------------------------------

    void tablesAsTheChooserOffersThem() {
        // Access: what mdbtools lists, system tables left out.
        const QString nwind = testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb"));
        QProcess mdb;
        mdb.start(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), nwind});
        QVERIFY(mdb.waitForFinished());
        QStringList expected;
        for (const QString& t : QString::fromUtf8(mdb.readAllStandardOutput()).split('\n'))
            if (!t.isEmpty() && !t.startsWith(QLatin1String("MSys"))) expected << t;
        Run r = batch({QStringLiteral("tables"), nwind});
        QCOMPARE(r.exitCode, 0);
        QStringList got = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(got.begin(), got.end()),
                 QSet<QString>(expected.begin(), expected.end()));
        // Excel: the sheets in order, named ranges left out; a sheet name with an apostrophe.
        r = batch(
            {QStringLiteral("tables"), testsupport::sample(QStringLiteral("xls/poi/19599-2.xls"))});
        QCOMPARE(r.out, QStringLiteral("汇总\n订阅上行列表\n"));
        r = batch({QStringLiteral("tables"),
                   testsupport::sample(QStringLiteral("xls/xlrd/namesdemo.xls"))});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.split('\n').contains(QStringLiteral("Seamus O'Reilly")));
        // dBase: the table's own name, GBK field names and all.
        r = batch(
            {QStringLiteral("tables"), testsupport::sample(QStringLiteral("dbf/javadbf/gbk.dbf"))});
        QCOMPARE(r.out, QStringLiteral("gbk\n"));
    }

    void dumpEqualsIndependentReaders_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("codePage");
        QTest::newRow("GBK FoxPro") << "dbf/javadbf/gbk.dbf"
                                    << "";
        QTest::newRow("memo with CR LF") << "dbf/javadbf/foxprodb/contacts.dbf"
                                         << "";
        QTest::newRow("deleted records") << "dbf/DBFFile/PYACFL.DBF"
                                         << "";
        QTest::newRow("UTF-8 without code page") << "dbf/mapshaper/utf8.dbf"
                                                 << "utf8";
        // The same table without --encoding: its text tells.
        QTest::newRow("UTF-8 guessed") << "dbf/mapshaper/utf8.dbf"
                                       << "utf8 guessed";
    }
    void dumpEqualsIndependentReaders() {
        QFETCH(QString, file);
        QFETCH(QString, codePage);
        const QString source = testsupport::sample(file);
        QStringList args{QStringLiteral("dump"), source};
        const bool guessed = codePage.endsWith(QLatin1String(" guessed"));
        if (guessed) codePage.chop(8);
        if (!codePage.isEmpty() && !guessed)
            args << QStringLiteral("--encoding") << QStringLiteral("UTF-8");
        const Run r = batch(args);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(!r.out.contains(QLatin1String("\r\n")) || r.out.contains(QLatin1Char('"')));
        const QList<QStringList> got = readCsv(writeText(path(QStringLiteral("dump.csv")), r.out));
        QStringList dumpArgs{source};
        if (!codePage.isEmpty()) dumpArgs << codePage;
        const QJsonObject expected =
            python(QStringLiteral("formats/dbf_dump.py"), dumpArgs).object();
        const QJsonArray rows = expected[QStringLiteral("rows")].toArray();
        const QJsonArray types = expected[QStringLiteral("types")].toArray();
        QVERIFY(!got.isEmpty());
        QStringList fields;
        for (const QJsonValue& f : expected[QStringLiteral("fields")].toArray())
            fields << f.toString();
        // python3-dbf gives field names in lower case.
        QCOMPARE(got.first().join(',').toLower(), fields.join(',').toLower());
        QCOMPARE(got.size() - 1, rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonArray row = rows[i].toArray();
            for (int c = 0; c < row.size(); ++c) {
                const QString t = types[c].toString();
                const QString mine = got[i + 1][c];
                if (row[c].isNull()) {
                    QVERIFY2(mine.isEmpty(), qPrintable(mine));
                } else if (QStringLiteral("NFIBY").contains(t)) {
                    QCOMPARE(mine.toDouble(), row[c].toVariant().toString().toDouble());
                } else {
                    QCOMPARE(mine, row[c].toVariant().toString());
                }
            }
        }
    }

    // A dBase table that declares no code page: read in the one its text is in, else in the
    // one the user chose for the file in the window (the run reads a copy of it); --encoding
    // wins over both.
    void undeclaredCodePage() {
        using namespace formats::dbf;
        const QString dbf = path(QStringLiteral("繁體客戶.dbf"));
        QString error;
        QVERIFY2(createTable(dbf, Flavour::DBase3, {{QStringLiteral("NAME"), 'C', 40}},
                             parseCodePage(QStringLiteral("950")), &error),
                 qPrintable(error));
        const QStringList names{QStringLiteral("陳志明"), QStringLiteral("臺北市大安區忠孝東路"),
                                QStringLiteral("國泰人壽保險股份有限公司")};
        {
            Table t;
            QVERIFY2(t.open(dbf, {}, &error), qPrintable(error));
            for (const QString& n : names) {
                quint32 recno = 0;
                QVERIFY2(t.appendRecord({Value::fromText(n)}, &recno, &error), qPrintable(error));
            }
            QVERIFY(t.flush(&error));
        }
        QFile f(dbf);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(29));
        QVERIFY(f.write("\0", 1) == 1); // no language driver
        f.close();
        const auto dumped = [&](const QStringList& more) {
            const Run r = batch(QStringList{QStringLiteral("dump"), dbf} + more);
            return r.exitCode == 0 ? r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1)
                                   : QStringList{r.err};
        };
        QCOMPARE(dumped({}), names);
        // The window's choice for the file: 1252.
        QVERIFY(sources::rememberDbfCodePage(dbf, QStringLiteral("1252")));
        QStringList western;
        QStringEncoder big5("Big5");
        for (const QString& n : names)
            western << formats::decode(big5.encode(n), "windows-1252");
        QCOMPARE(dumped({}), western);
        QCOMPARE(dumped({QStringLiteral("--encoding"), QStringLiteral("950")}), names);
    }

    void dumpAccessTableEqualsMdbExport() {
        const QString nwind = testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb"));
        const Run r = batch({QStringLiteral("dump"), nwind, QStringLiteral("customers")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QList<QStringList> got = readCsv(writeText(path(QStringLiteral("c.csv")), r.out));
        const QJsonObject data = python(QStringLiteral("formats/mdb_export.py"), {nwind})
                                     .object()[QStringLiteral("data")]
                                     .toObject()[QStringLiteral("Customers")]
                                     .toObject();
        QStringList columns;
        for (const QJsonValue& c : data[QStringLiteral("columns")].toArray())
            columns << c.toString();
        QCOMPARE(got.first(), columns);
        const QJsonArray rows = data[QStringLiteral("rows")].toArray();
        QCOMPARE(got.size() - 1, rows.size());
        bool apostrophe = false;
        for (int i = 0; i < rows.size(); ++i) {
            const QJsonArray row = rows[i].toArray();
            for (int c = 0; c < row.size(); ++c) {
                QCOMPARE(got[i + 1][c], row[c].toString());
                apostrophe = apostrophe || got[i + 1][c].contains(QLatin1Char('\''));
            }
        }
        QVERIFY(apostrophe); // "Bon app'" and its kind came through
    }

    void dumpOfAnEmptyTableIsItsHeader() {
        const Run r =
            batch({QStringLiteral("dump"),
                   testsupport::sample(QStringLiteral("dbf/dbase-rs/KUNDEN-schema-only.DBF"))});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 1);
        QCOMPARE(r.out.split(QLatin1Char(',')).size(), 49);
    }

    // ---- check --------------------------------------------------------------------------

    void checkImportedSheet() {
        const QString xls = testsupport::sample(QStringLiteral("xls/poi/19599-2.xls"));
        const QByteArray file = digest(xls);
        const QByteArray workDb =
            digest(testsupport::programDir() + QStringLiteral("/MorlayBankCC.mdb"));
        verifyCheck({xls, QStringLiteral("订阅上行列表")}, QStringLiteral("F3"));
        QCOMPARE(digest(xls), file);
        QCOMPARE(digest(testsupport::programDir() + QStringLiteral("/MorlayBankCC.mdb")), workDb);
    }

    void checkAccessTable() {
        const QString nwind = testsupport::sample(QStringLiteral("mdb/mdbtestdata/nwind.mdb"));
        const QByteArray before = digest(nwind);
        verifyCheck({nwind, QStringLiteral("Customers")}, QStringLiteral("Country,City"));
        // In place, the Access file is still only read: the run says so.
        const Run r = batch({QStringLiteral("check"), nwind, QStringLiteral("--table"),
                             QStringLiteral("Customers"), QStringLiteral("--fields"),
                             QStringLiteral("Country"), QStringLiteral("--in-place")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(QStringLiteral("原文件不会被修改")), qPrintable(r.err));
        QCOMPARE(digest(nwind), before);
    }

    void checkCopyLeavesTheFileAlone() {
        const QString dir = path(QStringLiteral("copy"));
        QDir().mkpath(dir);
        const QString dbf = testsupport::copyInto(
            testsupport::sample(QStringLiteral("dbf/javadbf/dbase_31.dbf")), dir);
        const QByteArray before = digest(dbf);
        verifyCheck({dbf}, QStringLiteral("CATEGORYID,DISCONTINU"));
        QCOMPARE(digest(dbf), before);
        QVERIFY(!QDir(dir).exists(QStringLiteral("查重备份")));
        // The private copy is no file of the user's: nothing to back up, nothing to tell.
        const Run r = batch({QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                             QStringLiteral("CATEGORYID")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(summary(r.out)["separated"] > 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    void checkInPlaceBacksUpAndSeparates() {
        const QString dir = path(QStringLiteral("inplace"));
        QDir().mkpath(dir);
        const QString dbf = testsupport::copyInto(
            testsupport::sample(QStringLiteral("dbf/javadbf/dbase_31.dbf")), dir);
        const QByteArray before = digest(dbf);
        const QString rest = path(QStringLiteral("inplace-rest.csv"));
        const Run r = batch({QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                             QStringLiteral("SUPPLIERID"), QStringLiteral("--in-place"),
                             QStringLiteral("--rest-csv"), rest});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("查重备份")));
        const auto s = summary(r.out);
        QVERIFY(s["separated"] > 0);
        // The backup is the file as it was; the file now holds the rest, as the runner said.
        const QStringList backups = QDir(dir + QStringLiteral("/查重备份"))
                                        .entryList({QStringLiteral("*.dbf")}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        QCOMPARE(digest(dir + QStringLiteral("/查重备份/") + backups.first()), before);
        const Run after = batch({QStringLiteral("dump"), dbf});
        QCOMPARE(readCsv(writeText(path(QStringLiteral("after.csv")), after.out)), readCsv(rest));
        QCOMPARE(int(s["remaining"]), readCsv(rest).size() - 1);

        // Listed, put back byte for byte, and the restore undone with the backup it made.
        auto listed = [&] {
            const Run l = batch({QStringLiteral("backups"), dbf});
            QStringList lines = l.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            if (l.exitCode != 0 || lines.isEmpty()) return QList<QStringList>{};
            lines.removeFirst(); // the heading
            QList<QStringList> rows;
            for (const QString& line : lines)
                rows << line.split(QLatin1Char('\t'));
            return rows;
        };
        const QByteArray separated = digest(dbf);
        QList<QStringList> rows = listed();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0][1].toInt(), int(s["remaining"] + s["separated"]));
        QCOMPARE(rows[0][4], QString("分离")); // named by the log beside it
        const QString first = rows[0][3];
        Run r2 = batch({QStringLiteral("restore"), dbf, first});
        QVERIFY2(r2.exitCode == 0, qPrintable(r2.err));
        QCOMPARE(digest(dbf), before);
        rows = listed();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1][3], first); // the newest first: the backup the restore made
        QCOMPARE(rows[0][4], QString("-"));
        QCOMPARE(rows[0][1].toInt(), int(s["remaining"]));
        r2 = batch({QStringLiteral("restore"), dbf, rows[0][3]});
        QVERIFY2(r2.exitCode == 0, qPrintable(r2.err));
        QCOMPARE(digest(dbf), separated);

        // Refused, the file left as it is: another table's backup under this file's name, and a
        // file that is no backup at all.
        const QString foreign = dir + QStringLiteral("/查重备份/") +
                                QFileInfo(dbf).completeBaseName() +
                                QStringLiteral("_20200101_000000.dbf");
        QVERIFY(makeDbf(foreign, {QStringLiteral("NAME")}, {{QStringLiteral("x")}}));
        for (const QString& wrong : {foreign, dbf}) {
            r2 = batch({QStringLiteral("restore"), dbf, wrong});
            QCOMPARE(r2.exitCode, 3);
            QVERIFY2(r2.err.contains(QStringLiteral("不是")), qPrintable(r2.err));
            QCOMPARE(digest(dbf), separated);
        }
        QCOMPARE(listed().size(), 4); // the foreign one is listed by its name, but not put back
    }

    // The report of a check, as HTML and as PDF, against the check's own duplicates (--dup-csv)
    // and a list whose places are known: the places read from the address where it is a check
    // field, otherwise from the postcode; for 智能查重 the evidence too.
    void reportOfACheck_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("placesFrom");
        QTest::addColumn<int>("logs"); // of the separation, the batch delete and the merge
        QTest::newRow("address, html") << QStringList{"--fields", "姓名,地址"} << "r1.html"
                                       << "地址字段“地址”" << 0;
        QTest::newRow("postcode, pdf") << QStringList{"--fields", "姓名,电话"} << "r2.pdf"
                                       << "邮编字段“邮编”" << 0;
        QTest::newRow("smart, html")
            << QStringList{"--fields", "姓名,电话,地址", "--smart"} << "r3.html"
            << "地址字段“地址”" << 0;
        QTest::newRow("in place, merged back, pdf")
            << QStringList{"--fields", "姓名,地址", "--in-place", "--merge-back"} << "r4.pdf"
            << "地址字段“地址”" << 3;
    }
    void reportOfACheck() {
        QFETCH(QStringList, options);
        QFETCH(QString, report);
        QFETCH(QString, placesFrom);
        QFETCH(int, logs);
        const QString dbf = path(QFileInfo(report).completeBaseName() + QStringLiteral(".dbf"));
        // 3 in Beijing, 2 and 2 in Shenzhen and Hangzhou (written without its province),
        // singles in Shanghai and Guangzhou.
        const QList<QStringList> rows = {
            {"张三", "广东省深圳市南山区科技园路1号", "13800000001", "518057"},
            {"李四", "北京市海淀区中关村大街5号", "13900000002", "100080"},
            {"王五", "杭州市西湖区文三路8号", "13700000003", "310012"},
            {"赵六", "上海市徐汇区漕溪北路9号", "13600000004", "200030"},
            {"张三", "广东省深圳市南山区科技园路1号", "13800000001", "518057"},
            {"李四", "北京市海淀区中关村大街5号", "13900000002", "100080"},
            {"孙七", "广东省广州市天河区体育西路2号", "13500000005", "510620"},
            {"王五", "杭州市西湖区文三路8号", "13700000003", "310012"},
            {"李四", "北京市海淀区中关村大街5号", "13900000002", "100080"},
        };
        QVERIFY(makeDbf(dbf, {"姓名", "地址", "电话", "邮编"}, rows));
        const QString out = path(report), dup = path(QStringLiteral("report-dup.csv"));
        const Run r = batch(QStringList{"check", dbf, "--report", out, "--dup-csv", dup} + options);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const auto s = summary(r.out);

        // The group sizes of the duplicates as written: the group number on a group's first row.
        QMap<int, int> sizes;
        int members = 0;
        const QList<QStringList> written = readCsv(dup);
        for (int i = 1; i <= written.size(); ++i) {
            if (i == written.size() || !written[i][0].isEmpty()) {
                if (members > 0) ++sizes[members];
                members = 0;
            }
            ++members;
        }
        QCOMPARE(sizes, (QMap<int, int>{{2, 2}, {3, 1}}));

        // The report's text: HTML with its tags taken out, or what pdftotext reads of the PDF.
        QString text;
        if (report.endsWith(QLatin1String(".pdf"))) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"), {out, QStringLiteral("-")});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            text = QString::fromUtf8(p.readAllStandardOutput());
        } else {
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(f.readAll());
            // Self-contained: nothing fetched from elsewhere.
            for (const char* outside : {"http:", "https:", "src=", "href=", "url(", "@import"})
                QVERIFY2(!html.contains(QLatin1String(outside)), outside);
            QVERIFY(html.contains(QLatin1String("<svg")));
            text = QString(html).replace(QRegularExpression(QStringLiteral("<[^>]*>")),
                                         QStringLiteral(" "));
        }
        // Compared without blanks: pdftotext spaces words as the glyphs stand.
        const QRegularExpression blanks(QStringLiteral("\\s+"));
        text = text.replace(QStringLiteral("&quot;"), QStringLiteral("\"")).remove(blanks);
        auto has = [&](QString words) {
            words.remove(blanks);
            if (!text.contains(words)) qWarning("not in the report: %s", qPrintable(words));
            return text.contains(words);
        };
        QVERIFY(has(QStringLiteral("查重记录数 9")));
        QVERIFY(has(QStringLiteral("重复组数 %1").arg(s["groups"])));
        QCOMPARE(int(s["groups"]), 3);
        QVERIFY(has(QStringLiteral("重复记录数 7")));
        QVERIFY(has(QStringLiteral("分离记录数 %1").arg(s["separated"])));
        QVERIFY(has(QStringLiteral("剩余记录数 %1").arg(9 - s["separated"])));
        QCOMPARE(text.count(QStringLiteral("变更记录")), logs);
        QCOMPARE(text.contains(QStringLiteral("分离前的备份")), logs > 0);
        QVERIFY(has(QStringLiteral("2 条 2 组 3 条 1 组 4 条 0 组")));
        QVERIFY(has(QStringLiteral("各省份的重复记录（据%1）").arg(placesFrom)));
        QVERIFY(has(QStringLiteral("北京市 3 条 广东省 2 条 浙江省 2 条")));
        QVERIFY(has(QStringLiteral("广东省各城市的重复记录 深圳市 2 条")));
        QVERIFY(!text.contains(QStringLiteral("上海市")));
        if (options.contains(QStringLiteral("--smart")))
            QVERIFY(has(QStringLiteral("电话相同 3 组")));
        else
            QVERIFY(!text.contains(QStringLiteral("分组依据")));
    }

    // The window and the runner run the same check job: on copies of one file they leave the
    // same file, the same duplicates and their backup (a dBase table lives outside the working
    // database, so the groups are written beside the separation in both).
    void windowAndRunnerAgree_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("exact") << QStringList{"--fields", "姓名,电话"};
        QTest::newRow("fuzzy") << QStringList{"--fields", "公司", "--fuzzy"};
        QTest::newRow("fuzzy by postcode")
            << QStringList{"--fields", "地址", "--fuzzy", "--postcode", "邮编", "--digits", "2"};
        QTest::newRow("smart") << QStringList{"--fields", "姓名,地址,电话", "--smart"};
    }
    void windowAndRunnerAgree() {
        QFETCH(QStringList, options);
        const QString tag = QString::fromUtf8(QTest::currentDataTag()).replace(' ', '_');
        gen::Options g;
        g.rows = 600;
        g.seed = 23;
        const gen::Table t = gen::generate(g);
        const QString dir = path(tag), byWindow = dir + "/窗口/客户.dbf",
                      byRunner = dir + "/批处理/客户.dbf", dupCsv = dir + "/dup.csv";
        QString error;
        for (const QString& file : {byWindow, byRunner}) {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            QVERIFY2(gen::writeDbf(t, file, &error), qPrintable(error));
        }
        const bool smart = options.contains("--smart");
        const QString reasonsCsv = dir + "/why.csv";
        const Run r =
            batch(QStringList{"check", byRunner, "--in-place", "--dup-csv", dupCsv} + options +
                  (smart ? QStringList{"--reasons-csv", reasonsCsv} : QStringList{}));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        // The window: the file opened from the menu, "开始查重", "否" to the maintenance.
        program::ProgramWindows windows;
        core::resetAppState();
        app::setWindows(&windows);
        QTemporaryDir program;
        QVERIFY(!testsupport::copyWorkDb(program.path()).isEmpty());
        {
            app::mainFm1 w;
            QVERIFY(w.formLoad(program.path()));
            w.show();
            ui::ScriptedDialogs d;
            d.expectOpenFile(byWindow)
                .expectMessage(app::mainFm1::startCheckConfirmation())
                .expectMessage("查重结束")
                .expectMessage("现在开始数据维护吗？", ui::Answer::Cancel);
            testsupport::child<QAction>(&w, "begin_DBF")->trigger();
            auto* list = testsupport::child<QListWidget>(&w, "List1");
            list->addItems(options[1].split(','));
            const bool fuzzy = options.contains("--fuzzy");
            testsupport::child<QRadioButton>(&w, smart   ? "Option3"
                                                 : fuzzy ? "Option2"
                                                         : "Option1")
                ->click();
            if (smart) {
                // The kinds as inferred from the fields' names, shown before the run.
                QStringList shown;
                for (int k = 0; k < 3; ++k)
                    shown << testsupport::child<QComboBox>(&w,
                                                           QStringLiteral("smartKind(%1)").arg(k))
                                 ->currentText();
                QCOMPARE(shown, (QStringList{"姓名", "地址", "电话"}));
            }
            if (options.contains("--postcode")) {
                testsupport::child<QRadioButton>(&w, "Option4")->click(); // 2 digits
                testsupport::child<QLineEdit>(&w, "Text11")->setText("邮编");
            }
            testsupport::child<QPushButton>(&w, "Command3")->click();
            auto running = [] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (top->objectName() == "mainFm11" && top->isVisible()) return true;
                return false;
            };
            QVERIFY(running());
            QTRY_VERIFY_WITH_TIMEOUT(!running(), 60000);
            QVERIFY2(d.problems().isEmpty(), qPrintable(d.problems()));
        }
        app::setWindows(nullptr);
        const core::AppState& st = core::appState();
        const QList<QStringList> cc = testsupport::tableRows(st.WorkConn, "ClienttableCC");
        QVERIFY(cc.size() > 10);
        QCOMPARE(testsupport::tableRows(st.WorkConn, "ClienttableDD"), cc);
        QList<QStringList> runnerCc = readCsv(dupCsv);
        QVERIFY(!runnerCc.isEmpty());
        runnerCc.removeFirst(); // the header
        for (QStringList& row : runnerCc)
            row.removeLast(); // the running number, which the runner's file leaves out
        QList<QStringList> windowCc = cc;
        for (QStringList& row : windowCc) {
            row.removeLast();
            for (QString& v : row)
                if (v.isNull()) v = QStringLiteral("");
        }
        QCOMPARE(windowCc, runnerCc);
        const QList<QStringList> left = testsupport::dbfRows(byWindow);
        QCOMPARE(left, testsupport::dbfRows(byRunner));
        QCOMPARE(left.size() + cc.size(), g.rows);
        const auto s = summary(r.out);
        QCOMPARE(int(s["separated"]), cc.size());
        QCOMPARE(int(s["remaining"]), left.size());
        if (!smart) return;
        // Why grouped: one row per duplicate, each matched best with a row of its own group at
        // the level's score or more, the same as the window kept.
        QList<QStringList> why = readCsv(reasonsCsv);
        QCOMPARE(why.takeFirst(), (QStringList{"组号", "流水号", "姓名", "地址", "电话", "相似记录",
                                               "得分", "依据"}));
        QCOMPARE(why.size(), cc.size());
        const QHash<int, core::GroupReason> kept = core::readReasons(st.WorkConn);
        QCOMPARE(kept.size(), cc.size());
        QHash<int, int> groupOf;
        for (const QStringList& row : why)
            groupOf[row[1].toInt()] = row[0].toInt();
        for (const QStringList& row : why) {
            QVERIFY2(groupOf.value(row[5].toInt()) == row[0].toInt(), qPrintable(row.join(',')));
            QVERIFY2(row[6].toDouble() >= 6.0 && !row[7].isEmpty(), qPrintable(row.join(',')));
            const core::GroupReason k = kept.value(row[1].toInt());
            QCOMPARE(QString::number(k.group), row[0]);
            QCOMPARE(k.basis, row[7]);
        }
    }

    // Whether the process has a handler of its own for SIGINT (Linux: its status says so).
    static bool catchesInterrupt(qint64 pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGINT - 1));
        return false;
    }

    // Ctrl-C stops a check as closing the run window does: the file as it was, one line, exit 1.
    void interruptedCheckLeavesTheFileAlone() {
        const QString dir = path(QStringLiteral("interrupt"));
        QDir().mkpath(dir);
        gen::Options o;
        o.rows = 200000;
        o.seed = 3;
        const gen::Table t = gen::generate(o);
        const QString dbf = dir + QStringLiteral("/客户.dbf");
        QString error;
        QVERIFY2(gen::writeDbf(t, dbf, &error), qPrintable(error));
        const QByteArray before = digest(dbf);
        int stopped = 0;
        for (int delayMs : {50, 400, 1200}) {
            QProcess p;
            p.start(runner(), {QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                               QStringLiteral("姓名,地址"), QStringLiteral("--in-place")});
            QVERIFY(p.waitForStarted());
            // The delay counts from the moment the runner catches Ctrl-C: a signal before it
            // (a slow start, a sanitizer build on a busy machine) ends the process as any
            // program that has not started its work yet.
            QVERIFY(QTest::qWaitFor(
                [&] { return p.state() != QProcess::Running || catchesInterrupt(p.processId()); },
                60000));
            QTest::qWait(delayMs);
            // A fast machine may finish before the last signal; waiting on a finished process
            // reports false, so only a running one is waited for.
            if (p.state() == QProcess::Running) {
                ::kill(pid_t(p.processId()), SIGINT);
                QVERIFY(p.waitForFinished(120000));
            }
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            if (p.exitCode() == 0) continue; // finished before the signal: nothing to see
            QCOMPARE(p.exitCode(), 130);
            QVERIFY2(err.contains(QStringLiteral("查重已停止，未分离任何记录")), qPrintable(err));
            QCOMPARE(err.count(QLatin1Char('\n')), 1);
            QVERIFY(p.readAllStandardOutput().isEmpty());
            QCOMPARE(digest(dbf), before);
            ++stopped;
        }
        QVERIFY(stopped > 0);
    }

    // A run killed at any moment leaves a readable file: the dBase table holds its records in
    // their order, some of them perhaps marked deleted, its header's count agrees with its data,
    // and a backup that stands under its name is the original byte for byte.
    void killedRunLeavesAReadableDbf() {
        const QString dir = path(QStringLiteral("killed"));
        QDir().mkpath(dir);
        gen::Options o;
        o.rows = 200000;
        o.seed = 5;
        const QString original = path(QStringLiteral("killed-original.dbf"));
        QString error;
        QVERIFY2(gen::writeDbf(gen::generate(o), original, &error), qPrintable(error));
        QFile of(original);
        QVERIFY(of.open(QIODevice::ReadOnly));
        const QByteArray before = of.readAll();
        const auto le16 = [](const QByteArray& b, int at) {
            return int(uchar(b[at])) | int(uchar(b[at + 1])) << 8;
        };
        const int headerLength = le16(before, 8), recordLength = le16(before, 10);
        const QString dbf = dir + QStringLiteral("/客户.dbf");
        const QStringList args = {QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                                  QStringLiteral("姓名,地址"), QStringLiteral("--in-place")};
        auto fresh = [&] {
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
            QFile::copy(original, dbf);
            QFile::setPermissions(dbf, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        };
        fresh();
        const double whole = timedRun(args);
        int sawDeletions = 0;
        // Kills spread over the length of a whole run: opening, checking, backing up, marking.
        for (double at : {0.1, 0.3, 0.5, 0.7, 0.8, 0.9, 0.95, 1.5}) {
            fresh();
            runAndKill(args, int(whole * at * 1000));

            QFile f(dbf);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray after = f.readAll();
            QCOMPARE(after.size(), before.size());
            // The header as it was but for the date of the last change (bytes 1 to 3).
            QCOMPARE(after[0], before[0]);
            QCOMPARE(after.mid(4, headerLength - 4), before.mid(4, headerLength - 4));
            // Every record is the original one; only its deletion flag may have changed.
            int deleted = 0;
            for (qsizetype at = headerLength; at + recordLength <= after.size();
                 at += recordLength) {
                QVERIFY(after[at] == ' ' || after[at] == '*');
                if (after[at] == '*') ++deleted;
                QVERIFY(after.mid(at + 1, recordLength - 1) ==
                        before.mid(at + 1, recordLength - 1));
            }
            if (deleted > 0) ++sawDeletions;
            // The runner reads it again, as does an independent reader.
            const Run dump = batch({QStringLiteral("dump"), dbf});
            QCOMPARE(dump.exitCode, 0);
            QCOMPARE(dump.out.count(QLatin1Char('\n')), 200000 - deleted + 1);
            // A backup under its own name is whole.
            for (const QString& b :
                 QDir(dir + QStringLiteral("/查重备份")).entryList(QDir::Files)) {
                // Not the log of the changes, nor a copy cut short.
                if (b.endsWith(QStringLiteral(".part")) || b.endsWith(QStringLiteral(".csv")))
                    continue;
                QFile copy(dir + QStringLiteral("/查重备份/") + b);
                QVERIFY(copy.open(QIODevice::ReadOnly));
                QVERIFY2(copy.readAll() == before, qPrintable(b));
            }
        }
        // The last run was let finish: its records were marked.
        QVERIFY(sawDeletions > 0);
    }

    // The same for a table in an SQLite database: after the kill it opens, passes SQLite's own
    // check, and holds either every original row or the rows the separation kept.
    void killedRunLeavesAReadableDatabase() {
        gen::Options o;
        o.rows = 150000;
        o.seed = 6;
        const gen::Table t = gen::generate(o);
        const QString original = path(QStringLiteral("killed-original.mdb"));
        {
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(original).constData(), &h), SQLITE_OK);
            QStringList defs, marks;
            for (const QString& f : t.fields) {
                defs << QStringLiteral("[%1] VARCHAR(80)").arg(f);
                marks << QStringLiteral("?");
            }
            const QByteArray create =
                QStringLiteral("CREATE TABLE 客户 (%1)").arg(defs.join(',')).toUtf8();
            QCOMPARE(sqlite3_exec(h, create.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_stmt* ins = nullptr;
            const QByteArray insert =
                QStringLiteral("INSERT INTO 客户 VALUES (%1)").arg(marks.join(',')).toUtf8();
            QCOMPARE(sqlite3_prepare_v2(h, insert.constData(), -1, &ins, nullptr), SQLITE_OK);
            sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
            for (const QStringList& r : t.rows) {
                for (int i = 0; i < r.size(); ++i) {
                    const QByteArray v = r[i].toUtf8();
                    sqlite3_bind_text(ins, i + 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
                }
                sqlite3_step(ins);
                sqlite3_reset(ins);
            }
            sqlite3_finalize(ins);
            sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(h);
        }
        const Run whole = batch({QStringLiteral("check"), original, QStringLiteral("--fields"),
                                 QStringLiteral("姓名,地址")});
        QCOMPARE(whole.exitCode, 0);
        const int kept = int(summary(whole.out)["remaining"]);
        QVERIFY(kept < 150000);
        const QString dir = path(QStringLiteral("killed-db"));
        const QString db = dir + QStringLiteral("/客户.mdb");
        const QStringList args = {QStringLiteral("check"), db, QStringLiteral("--fields"),
                                  QStringLiteral("姓名,地址"), QStringLiteral("--in-place")};
        auto fresh = [&] {
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
            QFile::copy(original, db);
            QFile::setPermissions(db, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        };
        fresh();
        const double seconds = timedRun(args);
        for (double at : {0.2, 0.5, 0.8, 0.9, 0.97}) {
            fresh();
            runAndKill(args, int(seconds * at * 1000));
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &h), SQLITE_OK);
            QString integrity, rows;
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &st, nullptr);
            if (sqlite3_step(st) == SQLITE_ROW)
                integrity =
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
            sqlite3_prepare_v2(h, "SELECT count(*) FROM 客户", -1, &st, nullptr);
            const int count = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
            sqlite3_finalize(st);
            sqlite3_close(h);
            QCOMPARE(integrity, QStringLiteral("ok"));
            QVERIFY2(count == 150000 || count == kept, qPrintable(QString::number(count)));
        }
    }

    // Read-only media and a full disk, made for the runner alone: a small tmpfs mounted in a
    // mount namespace of its own (unshare), so the test needs no privileges of its own.
    void mediaThatCannotTakeTheChange_data() {
        QTest::addColumn<QString>("kind");  // the file the run works in place on
        QTest::addColumn<QString>("setup"); // what happens to the folder before the run
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only folder") << "dbf"
                                          << "ro"
                                          << "是只读的";
        QTest::newRow("disk full during the backup") << "dbf"
                                                     << "tight"
                                                     << "磁盘已满";
        QTest::newRow("disk full during the separation") << "mdb"
                                                         << "journal"
                                                         << "分离重复记录失败";
        // The groups are written while the dBase table is separated: the working database's
        // folder is full, so the deletions already marked are undone.
        QTest::newRow("disk full while the groups are written") << "dbf"
                                                                << "groups"
                                                                << "重复数据写入失败";
        // The duplicates' workbook, on the same disk, finds it full after the separation: the
        // file is put back as it was (the backup itself moved back, there being no room for a
        // copy).
        QTest::newRow("disk full while the duplicates are exported") << "dbf"
                                                                     << "export"
                                                                     << "原文件已恢复";
    }
    void mediaThatCannotTakeTheChange() {
        QFETCH(QString, kind);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        if (QProcess::execute(
                QStringLiteral("unshare"),
                {QStringLiteral("-r"), QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            QSKIP("mount namespaces (unshare -r -m) are not available on this machine");
        gen::Options o;
        o.rows = setup == QLatin1String("groups") ? 30000 : 3000; // groups of many pages
        o.seed = 8;
        const gen::Table t = gen::generate(o);
        const QString work = path(QStringLiteral("media-") + setup);
        QDir(work).removeRecursively();
        QDir().mkpath(work + QStringLiteral("/mnt"));
        QString source = work + QStringLiteral("/客户.") + kind;
        QString error;
        if (kind == QLatin1String("dbf")) {
            QVERIFY2(gen::writeDbf(t, source, &error), qPrintable(error));
        } else {
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(source).constData(), &h), SQLITE_OK);
            sqlite3_exec(h,
                         "CREATE TABLE 客户 (姓名 VARCHAR(20), 地址 VARCHAR(80), 电话 VARCHAR(20))",
                         nullptr, nullptr, nullptr);
            sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
            for (const QStringList& r : t.rows) {
                const QByteArray sql = QStringLiteral("INSERT INTO 客户 VALUES ('%1','%2','%3')")
                                           .arg(r[0], r[6], r[8])
                                           .toUtf8();
                sqlite3_exec(h, sql.constData(), nullptr, nullptr, nullptr);
            }
            sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(h);
        }
        const qint64 size = QFileInfo(source).size();
        // ro: the file on a folder that is then made read-only. tight: room for the file and
        // a little, not for its backup. journal: room for the file and its backup, not for the
        // database's journal of the deletions. groups: the file where it is, the run's working
        // database on the small disk, with room for the empty database and its empty working
        // tables, not for the groups.
        const qint64 emptyDb =
            QFileInfo(QFileInfo(runner()).dir().filePath(QStringLiteral("MorlayBankCC.mdb")))
                .size();
        const qint64 room = setup == QLatin1String("journal")  ? 2 * size + 48 * 1024
                            : setup == QLatin1String("groups") ? emptyDb + 384 * 1024
                            : setup == QLatin1String("export") ? 2 * size + 16 * 1024
                                                               : size + 64 * 1024;
        const QString script =
            QStringLiteral(
                "set -u\n"
                "mount -t tmpfs -o size=%1 tmpfs \"$MNT\" || exit 90\n"
                "if [ \"$SETUP\" = groups ]; then FILE=\"$SRC\"; export TMPDIR=\"$MNT\"\n"
                "else cp \"$SRC\" \"$MNT/\" || exit 91; FILE=\"$MNT/$NAME\"; fi\n"
                "[ \"$SETUP\" = ro ] && { mount -o remount,ro \"$MNT\" || exit 92; }\n"
                "before=$(sha256sum < \"$FILE\")\n"
                "EXTRA=; [ \"$SETUP\" = export ] && EXTRA=\"$MNT/重复.xls\"\n"
                "\"$RUNNER\" check \"$FILE\" --fields 姓名,地址 --in-place "
                "${EXTRA:+--dup-xls \"$EXTRA\"} >\"$OUT/out\" 2>\"$OUT/err\"\n"
                "echo $? > \"$OUT/rc\"\n"
                "after=$(sha256sum < \"$FILE\")\n"
                "[ \"$before\" = \"$after\" ] && echo same > \"$OUT/same\"\n"
                "ls -a \"$MNT\" \"$MNT/查重备份\" > \"$OUT/ls\" 2>&1\n"
                "exit 0\n")
                .arg(room);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MNT"), work + QStringLiteral("/mnt"));
        env.insert(QStringLiteral("SRC"), source);
        env.insert(QStringLiteral("NAME"), QFileInfo(source).fileName());
        env.insert(QStringLiteral("SETUP"), setup);
        env.insert(QStringLiteral("OUT"), work);
        env.insert(QStringLiteral("RUNNER"), runner());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("unshare"), {QStringLiteral("-r"), QStringLiteral("-m"),
                                            QStringLiteral("sh"), QStringLiteral("-c"), script});
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        auto text = [&](const QString& name) {
            QFile f(work + QLatin1Char('/') + name);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        const QString err = text(QStringLiteral("err"));
        QCOMPARE(text(QStringLiteral("rc")).trimmed(), QStringLiteral("1"));
        QVERIFY2(err.contains(message), qPrintable(err));
        // One line of reason; a late failure also says where the backup was and what came of it.
        // (And, where the full disk had no room left for it, that the log of the separation could
        // not be written.)
        const int logNote = err.contains(QStringLiteral("改动记录")) ? 1 : 0;
        QCOMPARE(err.count(QLatin1Char('\n')) - logNote, setup == QLatin1String("export") ? 3 : 1);
        QVERIFY2(QFile::exists(work + QStringLiteral("/same")), qPrintable(err));
        // No half-written copy is left, and none stands under a backup's name.
        const QString listing = text(QStringLiteral("ls"));
        QVERIFY2(!listing.contains(QStringLiteral(".part")), qPrintable(listing));
        if (setup != QLatin1String("journal") && setup != QLatin1String("export"))
            QVERIFY2(!listing.contains(QStringLiteral("客户_")), qPrintable(listing));
    }

    // In place, a file that cannot be backed up is not changed: the run fails with the reason.
    void checkInPlaceWithoutBackupLosesNothing_data() {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("backup folder name taken by a file") << false;
        if (geteuid() != 0) QTest::newRow("read-only folder") << true;
    }
    void checkInPlaceWithoutBackupLosesNothing() {
        QFETCH(bool, readOnlyFolder);
        const QString dir =
            path(readOnlyFolder ? QStringLiteral("readonly") : QStringLiteral("taken"));
        QDir().mkpath(dir);
        const QString dbf = dir + QStringLiteral("/客户.dbf");
        QFile::remove(dbf);
        QVERIFY(makeDbf(dbf, {QStringLiteral("姓名"), QStringLiteral("电话")},
                        {{"张三", "1"}, {"张三", "1"}, {"李四", "2"}}));
        if (readOnlyFolder) {
            QFile::setPermissions(dbf, QFileDevice::ReadOwner);
            QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        } else {
            QVERIFY(!writeText(dir + QStringLiteral("/查重备份"), QStringLiteral("x")).isEmpty());
        }
        const QByteArray before = digest(dbf);
        const Run r = batch({QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                             QStringLiteral("姓名"), QStringLiteral("--in-place")});
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("查重备份")), qPrintable(r.err));
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(digest(dbf), before);
    }

    void checkValuesThatLookLikeSql() {
        // Quotes, wildcards, brackets and letter case in the check fields.
        const QString dbf = path(QStringLiteral("引号.dbf"));
        QVERIFY(makeDbf(dbf, {QStringLiteral("姓名"), QStringLiteral("备注")},
                        {{"O'Brien", "50%"},
                         {"o'brien", "50%"},
                         {"O'Brien", "50_"},
                         {"[张]三", "a*b"},
                         {"[张]三", "a*b"},
                         {"张三", "a*b"},
                         {"%", "'"},
                         {"%", "'"},
                         {"", "空"},
                         {"", "空"}}));
        verifyCheck({dbf}, QStringLiteral("姓名,备注"));
        const Run r = batch({QStringLiteral("check"), dbf, QStringLiteral("--fields"),
                             QStringLiteral("姓名,备注")});
        const auto s = summary(r.out);
        QCOMPARE(int(s["groups"]), 3);
        QCOMPARE(int(s["duplicate_rows"]), 6);
    }

    // Today's files: .xlsx workbooks and CSV or text files, read as their sheets are.
    void workbooksAndTextFiles() {
        const QString xlsx = testsupport::sample(QStringLiteral("xlsx/poi/51626_contact.xlsx"));
        Run r = batch({QStringLiteral("tables"), xlsx});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("Sheet1\nSheet2\nSheet3\n"));
        r = batch({QStringLiteral("dump"), xlsx, QStringLiteral("Sheet1")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith(QStringLiteral("First Name,Last Name,Company,")));

        const QString csv = path(QStringLiteral("名单.csv"));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QStringEncoder gb("GB18030");
        f.write(
            // Headings with a blank after each delimiter, as many exports write them.
            gb.encode(
                QStringLiteral("姓名; 电话; 备注\n张三;010;\"a;b\"\n李四;020;\n张三;010;c\n")));
        f.close();
        r = batch({QStringLiteral("tables"), csv});
        QCOMPARE(r.out, QStringLiteral("名单\n"));
        r = batch({QStringLiteral("dump"), csv});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(readCsv(writeText(path(QStringLiteral("名单-dump.csv")), r.out)),
                 QList<QStringList>({{"姓名", "电话", "备注"},
                                     {"张三", "010", "a;b"},
                                     {"李四", "020", ""},
                                     {"张三", "010", "c"}}));
        r = batch({QStringLiteral("check"), csv, QStringLiteral("--fields"),
                   QStringLiteral("姓名,电话")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(int(summary(r.out)["groups"]), 1);
        QCOMPARE(int(summary(r.out)["remaining"]), 1);
        // The encoding named overrides the one found: these bytes are no UTF-8.
        r = batch(
            {QStringLiteral("dump"), csv, QStringLiteral("--encoding"), QStringLiteral("UTF-8")});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        // A .txt file is a text file too.
        const QString txt = path(QStringLiteral("名单.txt"));
        QVERIFY(QFile::copy(csv, txt));
        r = batch(
            {QStringLiteral("check"), txt, QStringLiteral("--fields"), QStringLiteral("姓名")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(int(summary(r.out)["duplicate_rows"]), 2);
    }

    // The fuzzy check from the command line writes the rows a plain reading of its rules expects.
    void checkFuzzy_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("postcode"); // with its digits, for the expectation
        QTest::newRow("fragments of the address") << QStringList{"--fields", "地址"} << "";
        QTest::newRow("name and sex") << QStringList{"--fields", "姓名,性别"} << "";
        QTest::newRow("postcode segments")
            << QStringList{"--fields", "公司", "--postcode", "邮编", "--digits", "2"} << "邮编 2";
    }
    void checkFuzzy() {
        QFETCH(QStringList, options);
        QFETCH(QString, postcode);
        const QString dbf = path(QStringLiteral("模糊.dbf"));
        if (!QFile::exists(dbf)) {
            gen::Options o;
            o.rows = 800;
            o.seed = 21;
            QString error;
            QVERIFY2(gen::writeDbf(gen::generate(o), dbf, &error), qPrintable(error));
        }
        const QString dump =
            writeText(path(QStringLiteral("模糊.csv")), batch({QStringLiteral("dump"), dbf}).out);
        const QString dup = path(QStringLiteral("模糊-dup.csv"));
        const Run r = batch(QStringList{QStringLiteral("check"), dbf, QStringLiteral("--fuzzy"),
                                        QStringLiteral("--dup-csv"), dup} +
                            options);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const auto s = summary(r.out);
        QStringList args{dump, options[1]};
        if (!postcode.isEmpty()) args << postcode.split(QLatin1Char(' '));
        const QJsonArray want = python(QStringLiteral("batch/fuzzy_expect.py"), args).array();
        QVERIFY(!want.isEmpty());
        const QList<QStringList> got = readCsv(dup);
        QCOMPARE(got.size() - 1, want.size());
        for (int i = 0; i < want.size(); ++i) {
            QStringList w;
            for (const QJsonValue& v : want[i].toArray())
                w << v.toString();
            QCOMPARE(got[i + 1], w);
        }
        QCOMPARE(int(s["duplicate_rows"]), want.size());
    }

    // ---- generated client lists ---------------------------------------------------------

    // --merge-back against the steps read plainly in tests/batch/merge_back.py: the final table
    // (in the file itself, --rest-csv and --rest-xls) and the counts.
    void mergeBackAgainstAPlainReading_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("keepBy");
        QTest::addColumn<QString>("third"); // the name of the third field
        QTest::newRow("kept by the check fields") << "姓名,电话"
                                                  << ""
                                                  << "地址";
        QTest::newRow("kept by the name") << "姓名,电话"
                                          << "姓名"
                                          << "地址";
        QTest::newRow("checked by name, kept by address") << "姓名"
                                                          << "地址"
                                                          << "地址";
        // The duplicates' table calls a field No "No_1": the one kept by is the table's field.
        QTest::newRow("kept by a field named No") << "姓名"
                                                  << "NO"
                                                  << "No";
    }
    void mergeBackAgainstAPlainReading() {
        QFETCH(QString, fields);
        QFETCH(QString, keepBy);
        QFETCH(QString, third);
        const QString dir = path(QStringLiteral("merge-back"));
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        const QString dbf = dir + QStringLiteral("/客户.dbf");
        QVERIFY(makeDbf(dbf, {"姓名", "电话", third},
                        {{"张三", "13800138000", "北京路1号"},
                         {"李四", "001234", "O'Brien's"},
                         {"张三", "13800138000", " 北京路2号"},
                         {"王五", "1", "x"},
                         {"zhao", "5", "a"},
                         {"ZHAO", "5", "b"},
                         {"李四", "001234", "O'Brien's"},
                         {"张三", "13800138000", "北京路1号"},
                         {"钱七", "7", "%_["},
                         {"李四", "999", "O'Brien's"}}));
        const QString table =
            writeText(path(QStringLiteral("merge-back.csv")), batch({"dump", dbf}).out);
        const QJsonObject expected = python(QStringLiteral("batch/merge_back.py"),
                                            {table, fields, keepBy.isEmpty() ? fields : keepBy})
                                         .object();
        QVERIFY(expected.contains(QStringLiteral("final")));

        const QString restCsv = dir + QStringLiteral("/rest.csv");
        const QString restXls = dir + QStringLiteral("/rest.xls");
        QStringList args{"check",        dbf,          "--fields", fields,       "--in-place",
                         "--merge-back", "--rest-csv", restCsv,    "--rest-xls", restXls};
        if (!keepBy.isEmpty()) args << "--keep-by" << keepBy;
        const Run r = batch(args);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QRegularExpression(QStringLiteral("^groups=\\d+ duplicate_rows=\\d+ separated=\\d+ "
                                                  "remaining=\\d+ deleted=\\d+ merged=\\d+ "
                                                  "seconds=[0-9.]+\\n$"))
                    .match(r.out)
                    .hasMatch());
        const auto s = summary(r.out);
        for (const char* key : {"groups", "separated", "deleted", "merged"})
            QCOMPARE(int(s[key]), expected[key].toInt());
        QList<QStringList> final;
        for (const QJsonValue& row : expected[QStringLiteral("final")].toArray()) {
            QStringList values;
            for (const QJsonValue& v : row.toArray())
                values << testsupport::blankTrimmed(v.toString());
            final << values;
        }
        QCOMPARE(int(s["remaining"]), final.size());
        auto trimmed = [](const QList<QStringList>& rows) {
            QList<QStringList> out;
            for (QStringList r : rows) {
                for (QString& v : r)
                    v = testsupport::blankTrimmed(v);
                out << r;
            }
            return out;
        };
        const QStringList header{"姓名", "电话", third};
        QCOMPARE(trimmed(readCsv(restCsv)), QList<QStringList>{header} + final);
        // The file itself, read by python3-dbf.
        QList<QStringList> inFile;
        for (const QJsonValue& row :
             python(QStringLiteral("formats/dbf_dump.py"), {dbf})["rows"].toArray()) {
            QStringList values;
            for (const QJsonValue& v : row.toArray())
                values << v.toString();
            inFile << values;
        }
        QCOMPARE(trimmed(inFile), final);
        // The workbook, read by xlrd: the sheet is named after the table, every value a text.
        const QJsonObject book = testsupport::excelDump(restXls);
        const QJsonArray sheets = book["sheets"].toArray();
        QCOMPARE(sheets.size(), 1);
        QCOMPARE(sheets[0]["name"].toString(), QString("客户"));
        QList<QStringList> cells(final.size() + 1);
        for (const QJsonValue& c : sheets[0]["cells"].toArray()) {
            const QJsonArray cell = c.toArray();
            QCOMPARE(cell[2].toString(), QString("s"));
            QStringList& row = cells[cell[0].toInt()];
            while (row.size() <= cell[1].toInt())
                row << QString();
            row[cell[1].toInt()] = cell[3].toString();
        }
        QCOMPARE(trimmed(cells), QList<QStringList>{header} + final);
        // One backup, made before the separation: the merge went into the same file after it.
        // Beside it the logs of the three steps.
        const QDir folder(dir + QStringLiteral("/查重备份"));
        QCOMPARE(folder.entryList({QStringLiteral("*.dbf")}, QDir::Files).size(), 1);
        const QStringList logs = folder.entryList({QStringLiteral("*.csv")}, QDir::Files);
        QCOMPARE(logs.size(), 3);
        for (const QString& step :
             {QStringLiteral("_分离"), QStringLiteral("_批量删除"), QStringLiteral("_合并")})
            QVERIFY2(logs.filter(step).size() == 1, qPrintable(logs.join(u' ')));
    }

    // --dup-xls and --rest-xls: a new sheet of a workbook of the user's, and a new .xlsx.
    void excelOutputs() {
        const QString dir = path(QStringLiteral("excel-out"));
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        const QString dbf = dir + QStringLiteral("/名单.dbf");
        QVERIFY(makeDbf(dbf, {"姓名", "电话"},
                        {{"张三", "13800138000"}, {"李四", "001234"}, {"张三", "13800138000"}}));
        const QString book = testsupport::copyInto(
            testsupport::sample(QStringLiteral("xls/poi/chinese-provinces.xls")), dir);
        const QJsonObject before = testsupport::excelDump(book);
        const QString rest = dir + QStringLiteral("/rest.xlsx");
        const QString dupCsv = dir + QStringLiteral("/dup.csv");
        const Run r = batch({"check", dbf, "--fields", "姓名", "--dup-xls", book, "--rest-xls",
                             rest, "--sheet", "查重 结果", "--dup-csv", dupCsv});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QJsonObject after = testsupport::excelDump(book);
        const QJsonArray sheets = after["sheets"].toArray();
        QCOMPARE(sheets.size(), before["sheets"].toArray().size() + 1);
        for (qsizetype i = 0; i < before["sheets"].toArray().size(); ++i)
            QCOMPARE(sheets[i], before["sheets"].toArray()[i]);
        // The duplicates with the check table's fields: No and the running number stay out.
        QCOMPARE(sheets.last()["name"].toString(), QString("查重 结果"));
        const QList<QStringList> dup = readCsv(dupCsv);
        QCOMPARE(dup.size(), 3);
        QJsonArray want;
        for (int row = 0; row < dup.size(); ++row)
            for (int col = 0; col < 2; ++col)
                want.append(
                    QJsonArray{row, col, "s",
                               row == 0 ? QStringList{"姓名", "电话"}[col] : dup[row][col + 1]});
        QJsonArray got;
        for (const QJsonValue& c : sheets.last()["cells"].toArray())
            got.append(QJsonArray{c[0], c[1], c[2], c[3]});
        QCOMPARE(got, want);
        const QJsonArray restSheets = testsupport::excelDump(rest)["sheets"].toArray();
        QCOMPARE(restSheets.size(), 1);
        QCOMPARE(restSheets[0]["name"].toString(), QString("查重 结果"));
        QCOMPARE(restSheets[0]["cells"].toArray().size(), 4); // heading and 李四 001234
        QCOMPARE(restSheets[0]["cells"].toArray()[3].toArray()[3].toString(), QString("001234"));
    }

    void checkGeneratedLists_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::newRow("dbf, name and phone") << "dbf"
                                             << "姓名,电话"
                                             << ""
                                             << "";
        QTest::newRow("dbf, five fields") << "dbf"
                                          << "姓名,电话,地址,邮编,证件号"
                                          << ""
                                          << "";
        QTest::newRow("dbf, a range") << "dbf"
                                      << "姓名,电话"
                                      << "500"
                                      << "1500";
        QTest::newRow("xls, name and address") << "xls"
                                               << "姓名,地址"
                                               << ""
                                               << "";
    }
    void checkGeneratedLists() {
        QFETCH(QString, format);
        QFETCH(QString, fields);
        QFETCH(QString, start);
        QFETCH(QString, end);
        const QString file = path(QStringLiteral("客户名单.") + format);
        QString error;
        QVERIFY2(writeList(format, file, 3000, 42, 0.08, &error), qPrintable(error));
        const QByteArray before = digest(file);
        verifyCheck({file}, fields, {}, start, end);
        QCOMPARE(digest(file), before);
    }

    // Long enough that reading it splits over the threads (a dBase table from 100,000 records, a
    // text file from two megabytes): the outputs are the same, byte for byte, on one thread and
    // on two.
    void sameOutputsOnOneThreadAndOnTwo_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("check");
        const QStringList exact{"--fields", "姓名,地址"};
        QTest::newRow("dbf") << "dbf" << exact;
        QTest::newRow("csv") << "csv" << exact;
        // Fragment mode's candidates are looked up ahead on other threads.
        QTest::newRow("dbf fuzzy") << "dbf" << QStringList{"--fields", "地址", "--fuzzy"};
    }
    void sameOutputsOnOneThreadAndOnTwo() {
        QFETCH(QString, format);
        QFETCH(QStringList, check);
        const QString file = path(QStringLiteral("长名单.") + format);
        QString error;
        QVERIFY2(writeList(format, file, 120000, 7, 0.05, &error), qPrintable(error));
        QList<QByteArray> outputs;
        for (const char* threads : {"1", "2"}) {
            const QString dup = path(QStringLiteral("dup%1.csv").arg(threads));
            const QString rest = path(QStringLiteral("rest%1.csv").arg(threads));
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("CHACHONG_THREADS"), QString::fromLatin1(threads));
            p.setProcessEnvironment(env);
            p.start(runner(), QStringList{"check", file} + check +
                                  QStringList{"--dup-csv", dup, "--rest-csv", rest, "--quiet"});
            QVERIFY(p.waitForFinished(300000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            QVERIFY(p.readAllStandardOutput().contains("groups="));
            outputs << digest(dup) + digest(rest);
            QVERIFY(QFileInfo(dup).size() > 100000);
        }
        QCOMPARE(outputs[1], outputs[0]);
    }
};

CHACHONG_TEST_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
