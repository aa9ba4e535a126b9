// The batch delete ("批量删除") on two picked fields (姓名, 电话) of a duplicate table built from a
// generated client list (each original with its planted exact and near copies as one group),
// beside two baselines measured in the same run:
//  - at the large size, one reading of ClienttableCC into a recordset: what a requery costs when
//    it reads the table, which the walk does once per record;
//  - at the small size, the walk's steps run literally in SQLite: per record the whole table read
//    again (the requery) and the bookmark looked for in it, the matches found by a scan, the
//    repeats deleted.
//   bench_batchdelete [rows] [literal-rows]        (default 100000 5000)
#include "bench/common/suite.h"
#include "bench/gen/clientgen.h"
#include "core/appstate.h"
#include "db/sqltext.h"
#include "tools/engine/batchdelete.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>

namespace {

QStringList fields;                    // the generator's: 姓名 性别 公司 ... 电话 证件号
const int pickA = 0, pickB = 8;        // 姓名, 电话
using Rows = std::vector<QStringList>; // No, the fields, the running number

// n rows of duplicate groups: every original of a generated list followed by its copies.
Rows duplicateRows(int n, unsigned seed) {
    Rows out;
    for (int size = n + n / 2; int(out.size()) < n; size *= 2) {
        gen::Options o;
        o.rows = size;
        o.seed = seed;
        o.exactShare = 0.30;
        o.nearShare = 0.20;
        const gen::Table t = gen::generate(o);
        fields = t.fields;
        std::vector<int> root(t.rows.size());
        QHash<int, std::vector<int>> members;
        std::vector<int> order;
        for (size_t i = 0; i < t.rows.size(); ++i) {
            root[i] = t.copyOf[i] < 0 ? int(i) : root[size_t(t.copyOf[i])];
            if (members[root[i]].empty()) order.push_back(root[i]);
            members[root[i]].push_back(int(i));
        }
        out.clear();
        int group = 0;
        for (int r : order) {
            const std::vector<int>& m = members[r];
            if (m.size() < 2) continue;
            ++group;
            for (size_t k = 0; k < m.size() && int(out.size()) < n; ++k) {
                QStringList row{k == 0 ? QString::number(group) : QString()};
                row << t.rows[size_t(m[k])];
                row << QString::number(out.size() + 1);
                out.push_back(row);
            }
            if (int(out.size()) >= n) break;
        }
    }
    return out;
}

// A fresh working database whose ClienttableCC holds the rows, laid out as the working-table
// build lays it out (text columns comparing without ASCII case).
bool load(core::AppState& st, const QString& dir, const Rows& rows) {
    const QString path = dir + "/MorlayBankCC.mdb";
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral(CHACHONG_PROGRAM_DIR) + "/MorlayBankCC.mdb", path))
        return false;
    QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    st = core::AppState{};
    st.WorkDbPath = path;
    if (!st.WorkConn.open(db::accessConnectionString(path))) return false;
    QStringList defs{"[No] VARCHAR(32) COLLATE NOCASE"};
    for (const QString& f : fields)
        defs << db::sql::ident(f) + " TEXT COLLATE NOCASE";
    defs << QStringLiteral("[查重流水号%1] TEXT COLLATE NOCASE").arg(fields.size());
    st.WorkConn.execute(db::sql::dropTable("ClienttableCC"));
    sqlite3* h = st.WorkConn.handle();
    if (sqlite3_exec(h, ("CREATE TABLE ClienttableCC (" + defs.join(",") + ")").toUtf8(), nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        return false;
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    QStringList marks;
    for (int i = 0; i < int(defs.size()); ++i)
        marks << "?";
    sqlite3_prepare_v2(h, ("INSERT INTO ClienttableCC VALUES (" + marks.join(",") + ")").toUtf8(),
                       -1, &ins, nullptr);
    for (const QStringList& r : rows) {
        for (int i = 0; i < r.size(); ++i)
            sqlite3_bind_text16(ins, i + 1, r[i].utf16(), int(r[i].size() * 2), SQLITE_TRANSIENT);
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    return true;
}

db::RecordsetPtr openDuplicates(core::AppState& st) {
    auto rs = std::make_shared<db::Recordset>();
    rs->setCursorLocation(db::CursorLocation::Client);
    rs->open(db::sql::selectAll("ClienttableCC"), st.WorkConn, db::CursorType::Keyset,
             db::LockType::BatchOptimistic);
    return rs;
}

struct Run {
    double seconds = 0;
    int remaining = 0;
};

Run ours(core::AppState& st) {
    st.RsDup = openDuplicates(st);
    core::RunOptions o;
    o.fields = QStringList{fields[pickA], fields[pickB]};
    core::ProgressSink sink;
    QElapsedTimer t;
    t.start();
    const core::RunResult r = tools::batchDelete(st, o, sink);
    const double seconds = t.nsecsElapsed() / 1e9;
    if (!r.ok()) std::fprintf(stderr, "batch delete failed: %s\n", qPrintable(r.error));
    return {seconds, r.ok() ? r.duplicateRows : -1};
}

// One reading of the table, as a requery that reads it does.
double oneReading(core::AppState& st) {
    QElapsedTimer t;
    t.start();
    const db::RecordsetPtr rs = openDuplicates(st);
    return rs->recordCount() > 0 ? t.nsecsElapsed() / 1e9 : -1;
}

// A value without the blanks at its ends (spaces only, as the program trims).
QString blanksOff(QString s) {
    while (s.startsWith(QLatin1Char(' ')))
        s.remove(0, 1);
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

// The walk's steps as written, through SQLite.
Run literal(core::AppState& st) {
    sqlite3* h = st.WorkConn.handle();
    QElapsedTimer t;
    t.start();
    const QString a = db::sql::ident(fields[pickA]).replace('[', '"').replace(']', '"');
    const QString b = db::sql::ident(fields[pickB]).replace('[', '"').replace(']', '"');
    sqlite3_stmt *all, *match, *del;
    sqlite3_prepare_v2(h, "SELECT rowid, * FROM ClienttableCC", -1, &all, nullptr);
    sqlite3_prepare_v2(
        h, QString("SELECT rowid FROM ClienttableCC WHERE %1 = ?1 AND %2 = ?2").arg(a, b).toUtf8(),
        -1, &match, nullptr);
    sqlite3_prepare_v2(h, "DELETE FROM ClienttableCC WHERE rowid = ?1", -1, &del, nullptr);
    const int columns = sqlite3_column_count(all);
    // The client cursor: every row read into memory.
    auto requery = [&] {
        std::vector<std::pair<qint64, QStringList>> rows;
        while (sqlite3_step(all) == SQLITE_ROW) {
            QStringList values;
            for (int c = 1; c < columns; ++c)
                values << QString::fromUtf16(
                    static_cast<const char16_t*>(sqlite3_column_text16(all, c)),
                    sqlite3_column_bytes16(all, c) / 2);
            rows.emplace_back(sqlite3_column_int64(all, 0), values);
        }
        sqlite3_reset(all);
        return rows;
    };
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    auto rows = requery();
    size_t pos = 0;
    Run r;
    while (pos < rows.size()) {
        const qint64 mark = rows[pos].first;
        const QString va = blanksOff(rows[pos].second[pickA + 1]);
        const QString vb = blanksOff(rows[pos].second[pickB + 1]);
        sqlite3_bind_text16(match, 1, va.utf16(), int(va.size() * 2), SQLITE_TRANSIENT);
        sqlite3_bind_text16(match, 2, vb.utf16(), int(vb.size() * 2), SQLITE_TRANSIENT);
        std::vector<qint64> found;
        while (sqlite3_step(match) == SQLITE_ROW)
            found.push_back(sqlite3_column_int64(match, 0));
        sqlite3_reset(match);
        for (size_t k = 1; k < found.size(); ++k) {
            sqlite3_bind_int64(del, 1, found[k]);
            sqlite3_step(del);
            sqlite3_reset(del);
        }
        rows = requery();
        size_t back = 0;
        while (back < rows.size() && rows[back].first != mark)
            ++back;
        pos = back + 1;
    }
    for (auto* s : {all, match, del})
        sqlite3_finalize(s);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    r.seconds = t.nsecsElapsed() / 1e9;
    r.remaining = int(rows.size());
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int big = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int small = argc > 2 ? std::atoi(argv[2]) : 5000;
    QTemporaryDir tmp;
    core::AppState& st = core::appState();
    bench::heading();
    int status = 0;
    const QString size = QStringLiteral("%1 duplicate rows, 2 fields, %2 left");

    const Rows many = duplicateRows(big, 7);
    if (!load(st, tmp.path(), many)) return 1;
    const double read = oneReading(st);
    const Run o = ours(st);
    if (o.remaining < 0) return 1;
    bench::row(QStringLiteral("batch delete (requery per record)"),
               size.arg(bench::count(big)).arg(bench::count(o.remaining)), o.seconds, read,
               QStringLiteral("one reading of ClienttableCC"), "s");

    const Rows few = duplicateRows(small, 11);
    if (!load(st, tmp.path(), few)) return 1;
    const Run lit = literal(st);
    if (!load(st, tmp.path(), few)) return 1;
    const Run o2 = ours(st);
    bench::row(QStringLiteral("batch delete"),
               size.arg(bench::count(small)).arg(bench::count(o2.remaining)), o2.seconds,
               lit.seconds,
               QStringLiteral("its steps run literally in SQLite (%1 left)")
                   .arg(bench::count(lit.remaining)),
               "s");
    if (lit.remaining != o2.remaining) {
        std::fprintf(stderr, "the literal steps left %d rows, the batch delete %d\n", lit.remaining,
                     o2.remaining);
        status = 2;
    }
    st = core::AppState{};
    return status;
}
