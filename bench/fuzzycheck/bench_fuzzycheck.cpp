// The fuzzy check on generated Chinese client lists opened as dBase tables ("打开DBF数据"), the
// address as key field, beside baselines measured in the same run:
//  - fragment mode against the exact check on the same file and field (the whole check each:
//    scan, groups, separation), at the medium and the large size;
//  - postcode mode with 1, 3 and 6 digits against fragment mode, at the medium size;
//  - fragment mode against its queries run literally through SQLite, one candidate query per
//    record, at the small size.
//   bench_fuzzycheck [large] [medium] [small]       (default 1000000 100000 10000)
#include "bench/common/listcopy.h"
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "check/engine/checkjob.h"
#include "core/workdb.h"
#include "import/engine/sources.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>

namespace {

struct Run {
    double seconds = 0;
    int groups = 0, rows = 0;
};

Run runCheck(core::AppState& st, core::CheckMode mode, const QString& postcode = {},
             int digits = 0) {
    check::CheckJob job(st);
    const check::Refusal refused = job.prepare(
        {.mode = mode,
         .fields = {QStringLiteral("地址")},
         .postcode = postcode.isEmpty() ? core::PostcodeMode::Off : core::PostcodeMode::Field,
         .postcodeField = postcode,
         .postcodeDigits = digits});
    if (!refused.ok()) std::fprintf(stderr, "%s\n", qPrintable(refused.error));
    core::ProgressSink sink;
    QElapsedTimer t;
    t.start();
    const core::RunResult r = job.runAll(sink);
    if (!r.ok()) std::fprintf(stderr, "%s\n", qPrintable(r.error));
    return {t.nsecsElapsed() / 1e9, r.groups, r.duplicateRows};
}

QString fold(const QString& s) {
    QString f = s;
    for (QChar& c : f)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + 32);
    return f;
}

// Fragment mode's queries as written, through SQLite: per record the candidate query over the
// whole table ("... Like '%xy%' Order By key"), its rows fetched and filtered by the record's
// pairs, the look-up of the record in the duplicate table, the rows of a group inserted.
Run literal(const QString& csv) {
    sqlite3* h = nullptr;
    sqlite3_open(":memory:", &h);
    sqlite3_exec(h, "CREATE TABLE t (k TEXT); CREATE TABLE cc (k TEXT)", nullptr, nullptr, nullptr);
    QFile f(csv);
    f.open(QIODevice::ReadOnly);
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    const int column = lines.first().split(QLatin1Char(',')).indexOf(QStringLiteral("地址"));
    QStringList keys;
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty()) keys << lines[i].split(QLatin1Char(','))[column];
    sqlite3_stmt *ins, *cand, *seen, *add;
    sqlite3_prepare_v2(h, "INSERT INTO t VALUES (?)", -1, &ins, nullptr);
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    for (const QString& k : keys) {
        sqlite3_bind_text16(ins, 1, k.utf16(), int(k.size() * 2), SQLITE_TRANSIENT);
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    sqlite3_prepare_v2(h, "SELECT k FROM t WHERE k LIKE ?1 ESCAPE '\\' ORDER BY k", -1, &cand,
                       nullptr);
    sqlite3_prepare_v2(h, "SELECT 1 FROM cc WHERE k = ?1 COLLATE NOCASE", -1, &seen, nullptr);
    sqlite3_prepare_v2(h, "INSERT INTO cc VALUES (?1)", -1, &add, nullptr);
    Run r;
    QElapsedTimer t;
    t.start();
    for (const QString& key : keys) {
        const QString v = key.trimmed();
        sqlite3_bind_text16(seen, 1, v.utf16(), int(v.size() * 2), SQLITE_TRANSIENT);
        const bool recorded = sqlite3_step(seen) == SQLITE_ROW;
        sqlite3_reset(seen);
        if (recorded || v.isEmpty()) continue;
        const QString pattern = QLatin1Char('%') + v.left(2) + QLatin1Char('%');
        sqlite3_bind_text16(cand, 1, pattern.utf16(), int(pattern.size() * 2), SQLITE_TRANSIENT);
        QStringList rows;
        while (sqlite3_step(cand) == SQLITE_ROW)
            rows << QString::fromUtf16(
                static_cast<const char16_t*>(sqlite3_column_text16(cand, 0)));
        sqlite3_reset(cand);
        QStringList found;
        for (const QString& row : rows) {
            bool all = true;
            for (qsizetype k = 0; k + 1 < v.size() && all; ++k)
                all = fold(row).contains(fold(v.mid(k, 2)));
            if (all) found << row;
        }
        if (found.size() < 2) continue;
        ++r.groups;
        for (const QString& row : found) {
            sqlite3_bind_text16(add, 1, row.utf16(), int(row.size() * 2), SQLITE_TRANSIENT);
            sqlite3_step(add);
            sqlite3_reset(add);
            ++r.rows;
        }
    }
    r.seconds = t.nsecsElapsed() / 1e9;
    for (auto* s : {ins, cand, seen, add})
        sqlite3_finalize(s);
    sqlite3_close(h);
    return r;
}

QString list(const gen::Table& t, const QString& path) {
    QString error;
    if (!gen::writeDbf(t, path, &error)) std::fprintf(stderr, "%s\n", qPrintable(error));
    return path;
}

QString size(int rows, const Run& r) {
    return QStringLiteral("%1 rows, %2 groups, %3 duplicate rows")
        .arg(bench::count(rows))
        .arg(bench::count(r.groups))
        .arg(bench::count(r.rows));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int large = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int medium = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int small = argc > 3 ? std::atoi(argv[3]) : 10000;
    QTemporaryDir tmp;
    core::AppState& st = core::appState();
    bench::heading();
    auto fuzzyAgainstExact = [&](int rows, unsigned seed) {
        gen::Options o;
        o.rows = rows;
        o.seed = seed;
        const QString file =
            list(gen::generate(o), tmp.filePath(QStringLiteral("list%1.dbf").arg(rows)));
        Run exact, fuzzy;
        if (!bench::openCopy(st, file, tmp.filePath("a"))) return QString();
        exact = runCheck(st, core::CheckMode::Exact);
        if (!bench::openCopy(st, file, tmp.filePath("b"))) return QString();
        fuzzy = runCheck(st, core::CheckMode::Fuzzy);
        bench::row(QStringLiteral("fuzzy check, fragment mode (address)"), size(rows, fuzzy),
                   fuzzy.seconds, exact.seconds,
                   QStringLiteral("exact check on the same field (%1 groups)")
                       .arg(bench::count(exact.groups)),
                   "s");
        return file;
    };
    fuzzyAgainstExact(large, 5);
    const QString file = fuzzyAgainstExact(medium, 6);
    if (file.isEmpty()) return 1;

    // Postcode segments of 1, 3 and 6 digits against fragment mode on the same file.
    if (!bench::openCopy(st, file, tmp.filePath("c"))) return 1;
    const Run fragment = runCheck(st, core::CheckMode::Fuzzy);
    for (int digits : {1, 3, 6}) {
        if (!bench::openCopy(st, file, tmp.filePath("d"))) return 1;
        const Run segments = runCheck(st, core::CheckMode::Fuzzy, QStringLiteral("邮编"), digits);
        bench::row(QStringLiteral("fuzzy check, postcode mode, %1 digit%2 (address)")
                       .arg(digits)
                       .arg(digits > 1 ? "s" : ""),
                   size(medium, segments), segments.seconds, fragment.seconds,
                   QStringLiteral("fragment mode on the same file"), "s");
    }

    // Against the queries run literally, at the small size.
    gen::Options o;
    o.rows = small;
    o.seed = 7;
    const gen::Table few = gen::generate(o);
    QString error;
    gen::writeCsv(few, tmp.filePath("few.csv"), &error);
    const Run lit = literal(tmp.filePath("few.csv"));
    if (!bench::openCopy(st, list(few, tmp.filePath("few.dbf")), tmp.filePath("e"))) return 1;
    const Run ours = runCheck(st, core::CheckMode::Fuzzy);
    bench::row(QStringLiteral("fuzzy check, fragment mode (address)"), size(small, ours),
               ours.seconds, lit.seconds,
               QStringLiteral("its candidate queries run literally in SQLite"), "s");
    return 0;
}
