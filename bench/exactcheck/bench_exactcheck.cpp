// The exact check on generated client lists (10% exact and 5% near copies planted), beside two
// baselines measured in the same run:
// pandas finding and writing the same groups from the same rows as CSV (1,000,000 rows), and
// the check's statements run literally through SQLite, one filter per seed (20,000 rows).
//   bench_exactcheck [rows] [literal-rows]
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "check/engine/checkjob.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "db/sqltext.h"
#include "import/engine/worktables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>

#include <cstdio>

using namespace db;

namespace {

QStringList fields; // the generator's: 姓名 性别 公司 省份 城市 区县 地址 邮编 电话 证件号
const int checkA = 0, checkB = 8; // 姓名, 电话

// A client list with 10% exact and 5% near copies planted.
gen::Table generate(int n, unsigned seed) {
    gen::Options o;
    o.rows = n;
    o.seed = seed;
    o.exactShare = 0.10;
    o.nearShare = 0.05;
    gen::Table t = gen::generate(o);
    fields = t.fields;
    return t;
}

// A working database holding the rows as the imported check table ClienttableELS.
bool load(core::AppState& st, const QString& dir, const gen::Table& table) {
    const QString db = dir + "/MorlayBankCC.mdb";
    QFile::remove(db);
    QFile::copy(QStringLiteral(CHACHONG_PROGRAM_DIR) + "/MorlayBankCC.mdb", db);
    QFile(db).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    st = core::AppState{};
    st.AppDir = dir;
    st.WorkDbPath = db;
    if (!st.WorkConn.open(accessConnectionString(db))) return false;
    QStringList defs;
    for (const QString& f : fields)
        defs << sql::ident(f) + " VARCHAR(50)";
    st.WorkConn.execute("CREATE TABLE src (" + defs.join(",") + ")");
    st.RsSource = std::make_shared<Recordset>();
    st.RsSource->open("Select * From src", st.WorkConn);
    st.SourceType = "xls";
    if (!sources::createTable(st).ok()) return false;
    sqlite3* h = st.WorkConn.handle();
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(h, "INSERT INTO ClienttableELS VALUES (?,?,?,?,?,?,?,?,?,?)", -1, &ins,
                       nullptr);
    for (const QStringList& r : table.rows) {
        for (int i = 0; i < r.size(); ++i)
            sqlite3_bind_text16(ins, i + 1, r[i].utf16(), int(r[i].size() * 2), SQLITE_TRANSIENT);
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    return true;
}

struct Run {
    double seconds = 0;
    int groups = 0, rows = 0;
};

Run ours(core::AppState& st) {
    QElapsedTimer t;
    t.start();
    st.RsSource = std::make_shared<Recordset>();
    st.RsSource->open("Select * From ClienttableELS", st.WorkConn);
    check::CheckJob job(st);
    job.prepare({.mode = core::CheckMode::Exact, .fields = {fields[checkA], fields[checkB]}});
    core::ProgressSink sink;
    const auto r = job.runAll(sink);
    return {t.nsecsElapsed() / 1e9, r.groups, r.duplicateRows};
}

// The check's statements as written: per seed one filter over the table and one search in the
// duplicate table, through SQLite without an index.
Run literal(core::AppState& st) {
    sqlite3* h = st.WorkConn.handle();
    QElapsedTimer t;
    t.start();
    const QString a = sql::ident(fields[checkA]).replace('[', '"').replace(']', '"');
    const QString b = sql::ident(fields[checkB]).replace('[', '"').replace(']', '"');
    sqlite3_stmt *seeds, *filter, *recorded, *insert;
    sqlite3_exec(h, "DELETE FROM ClienttableCC; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(h, "SELECT * FROM ClienttableELS", -1, &seeds, nullptr);
    sqlite3_prepare_v2(
        h,
        QString(
            "SELECT * FROM ClienttableELS WHERE %1 = ?1 COLLATE NOCASE AND %2 = ?2 COLLATE NOCASE")
            .arg(a, b)
            .toUtf8(),
        -1, &filter, nullptr);
    sqlite3_prepare_v2(
        h, QString("SELECT 1 FROM ClienttableCC WHERE %1 = ?1 COLLATE NOCASE").arg(a).toUtf8(), -1,
        &recorded, nullptr);
    sqlite3_prepare_v2(h, "INSERT INTO ClienttableCC VALUES (?,?,?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                       nullptr);
    Run r;
    int running = 0;
    while (sqlite3_step(seeds) == SQLITE_ROW) {
        sqlite3_bind_value(filter, 1, sqlite3_column_value(seeds, checkA));
        sqlite3_bind_value(filter, 2, sqlite3_column_value(seeds, checkB));
        std::vector<std::vector<QString>> group;
        while (sqlite3_step(filter) == SQLITE_ROW) {
            std::vector<QString> row;
            for (int c = 0; c < 10; ++c)
                row.push_back(QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(filter, c))));
            group.push_back(row);
        }
        sqlite3_reset(filter);
        if (group.size() < 2) continue;
        sqlite3_bind_value(recorded, 1, sqlite3_column_value(seeds, checkA));
        const bool known = sqlite3_step(recorded) == SQLITE_ROW;
        sqlite3_reset(recorded);
        if (known) continue;
        ++r.groups;
        for (size_t m = 0; m < group.size(); ++m) {
            const QString no = m == 0 ? QString::number(r.groups) : QString();
            sqlite3_bind_text16(insert, 1, no.utf16(), int(no.size() * 2), SQLITE_TRANSIENT);
            for (int c = 0; c < 10; ++c)
                sqlite3_bind_text16(insert, c + 2, group[m][size_t(c)].utf16(),
                                    int(group[m][size_t(c)].size() * 2), SQLITE_TRANSIENT);
            const QString run = QString::number(++running);
            sqlite3_bind_text16(insert, 12, run.utf16(), int(run.size() * 2), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            ++r.rows;
        }
    }
    for (auto* s : {seeds, filter, recorded, insert})
        sqlite3_finalize(s);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    r.seconds = t.nsecsElapsed() / 1e9;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int big = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int small = argc > 2 ? std::atoi(argv[2]) : 20000;
    QTemporaryDir tmp;
    core::AppState& st = core::appState();
    bench::heading();
    int status = 0;

    // Against pandas at the large size: the same rows, as CSV, grouped on the same two fields.
    const gen::Table rows = generate(big, 7);
    if (!load(st, tmp.path(), rows)) return 1;
    const Run o = ours(st);
    QString error;
    gen::writeCsv(rows, tmp.path() + "/rows.csv", &error);
    QProcess py;
    py.start("/usr/bin/python3",
             {QString(CHACHONG_BENCH_DIR) + "/pandas_groups.py", tmp.path() + "/rows.csv",
              tmp.path() + "/groups.csv", fields[checkA] + "," + fields[checkB]});
    py.waitForFinished(-1);
    const QStringList p = QString::fromUtf8(py.readAllStandardOutput()).split(' ');
    QProcess ver;
    ver.start("/usr/bin/python3", {"-c", "import pandas; print(pandas.__version__)"});
    ver.waitForFinished(-1);
    const QString size = QStringLiteral("%1 rows, %2 groups, %3 duplicate rows");
    if (p.size() >= 3) {
        const QString pandas =
            QStringLiteral("pandas ") + QString::fromUtf8(ver.readAllStandardOutput()).trimmed();
        bench::row(
            QStringLiteral("exact check (working table → ClienttableCC, separation)"),
            size.arg(bench::count(big)).arg(bench::count(o.groups)).arg(bench::count(o.rows)),
            o.seconds, p[0].toDouble(), pandas + QStringLiteral(" (CSV → groups → CSV)"), "s");
        if (p[2].trimmed().toInt() != o.groups || p[1].toInt() != o.rows) {
            std::fprintf(stderr, "pandas found %s groups in %s rows\n", qPrintable(p[2].trimmed()),
                         qPrintable(p[1]));
            status = 2;
        }
    } else {
        std::fprintf(stderr, "pandas did not run: %s\n",
                     qPrintable(QString::fromUtf8(py.readAllStandardError())));
    }
    // Against the check's statements run literally, at the small size.
    const gen::Table few = generate(small, 11);
    if (!load(st, tmp.path(), few)) return 1;
    const Run lit = literal(st);
    const Run o2 = ours(st);
    bench::row(
        QStringLiteral("exact check"),
        size.arg(bench::count(small)).arg(bench::count(o2.groups)).arg(bench::count(o2.rows)),
        o2.seconds, lit.seconds,
        QStringLiteral("its statements run literally in SQLite (%1 groups)")
            .arg(bench::count(lit.groups)),
        "s");
    return status;
}
