// The exact check on generated client lists, beside two baselines measured in the same run:
// pandas finding and writing the same groups from the same rows as CSV (1,000,000 rows), and
// the check's statements run literally through SQLite, one filter per seed (20,000 rows).
//   bench_exactcheck [rows] [literal-rows]
#include "app/appstate.h"
#include "check/exactcheck.h"
#include "db/sqltext.h"
#include "import/worktables.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>
#include <random>

using namespace db;

namespace {

// Answers every box: OK to the messages, Cancel to the hand-over question.
struct AutoDialogs : ui::DialogService {
    ui::Answer message(const QString&, const QString&, ui::Icon, ui::Buttons b) override {
        return b == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::Cancel;
    }
    std::optional<ui::FileChoice> openFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<ui::FileChoice> saveFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return {}; }
};

const QStringList fields = {"姓名", "电话", "省份", "城市", "地址", "邮编", "公司", "证件号", "性别", "备注"};

QList<QStringList> generate(int n, unsigned seed) {
    static const QString sur = QStringLiteral("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢");
    static const QString giv = QStringLiteral("伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超兰霞平刚桂华玉萍红娥玲芬燕彬鹏辉宇浩凯健俊帆帅旭宁龙林欣");
    static const QStringList prov = {"北京市", "上海市", "广东省", "江苏省", "浙江省", "四川省", "湖北省", "山东省"};
    static const QStringList city = {"朝阳区", "浦东新区", "广州市", "南京市", "杭州市", "成都市", "武汉市", "济南市"};
    std::mt19937 rng(seed);
    QList<QStringList> rows;
    rows.reserve(n);
    for (int i = 0; i < n; ++i) {
        if (i > 10 && rng() % 10 == 0) { // ~10% planted duplicates
            rows << rows[int(rng() % unsigned(i))];
            continue;
        }
        const int p = int(rng() % prov.size());
        QString name = sur[int(rng() % sur.size())];
        name += giv[int(rng() % giv.size())];
        if (rng() % 2) name += giv[int(rng() % giv.size())];
        rows << QStringList{name,
                            QStringLiteral("13%1").arg(rng() % 1000000000, 9, 10, QLatin1Char('0')),
                            prov[p], city[p],
                            QStringLiteral("%1%2路%3号").arg(city[p]).arg(giv[int(rng() % giv.size())]).arg(rng() % 500),
                            QStringLiteral("%1").arg(100000 + rng() % 800000),
                            QStringLiteral("%1%2有限公司").arg(sur[int(rng() % sur.size())], giv[int(rng() % giv.size())]),
                            QStringLiteral("%1").arg(110000000000000000ull + rng() % 899999999999ull),
                            rng() % 2 ? QStringLiteral("男") : QStringLiteral("女"),
                            QString()};
    }
    return rows;
}

// A working database holding the rows as the imported check table ClienttableELS.
bool load(app::AppState& st, const QString& dir, const QList<QStringList>& rows) {
    const QString db = dir + "/MorlayBankCC.mdb";
    QFile::remove(db);
    QFile::copy(QStringLiteral(CHACHONG_PROGRAM_DIR) + "/MorlayBankCC.mdb", db);
    QFile(db).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    st = app::AppState{};
    st.AppDir = dir;
    st.WorkDbPath = db;
    if (!st.WorkConn.open(accessConnectionString(db))) return false;
    QStringList defs;
    for (const QString& f : fields) defs << sql::ident(f) + " VARCHAR(50)";
    st.WorkConn.execute("CREATE TABLE src (" + defs.join(",") + ")");
    st.RsSource = std::make_shared<Recordset>();
    st.RsSource->open("Select * From src", st.WorkConn);
    st.SourceType = "xls";
    if (!sources::createTable(st).ok) return false;
    sqlite3* h = st.WorkConn.handle();
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(h, "INSERT INTO ClienttableELS VALUES (?,?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
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

struct Run {
    double seconds = 0;
    int groups = 0, rows = 0;
};

Run ours(app::AppState& st) {
    QElapsedTimer t;
    t.start();
    st.RsSource = std::make_shared<Recordset>();
    st.RsSource->open("Select * From ClienttableELS", st.WorkConn);
    st.CheckFields[0] = fields[0];
    st.CheckFields[1] = fields[1];
    st.CheckFieldCount = 2;
    st.WorkConn.execute("Delete * From ClienttableCC");
    st.RsDup = std::make_shared<Recordset>();
    st.RsDup->open("Select * From ClienttableCC", st.WorkConn, CursorType::Keyset, LockType::BatchOptimistic);
    check::CheckSink sink;
    const auto r = check::ExactCheck(st, sink).wholeCheck("1", QString::number(st.RsSource->recordCount()));
    return {t.nsecsElapsed() / 1e9, r.groups, r.duplicateRows};
}

// The check's statements as written: per seed one filter over the table and one search in the
// duplicate table, through SQLite without an index.
Run literal(app::AppState& st) {
    sqlite3* h = st.WorkConn.handle();
    QElapsedTimer t;
    t.start();
    const QString a = sql::ident(fields[0]).replace('[', '"').replace(']', '"');
    const QString b = sql::ident(fields[1]).replace('[', '"').replace(']', '"');
    sqlite3_stmt *seeds, *filter, *recorded, *insert;
    sqlite3_exec(h, "DELETE FROM ClienttableCC; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(h, "SELECT * FROM ClienttableELS", -1, &seeds, nullptr);
    sqlite3_prepare_v2(h, QString("SELECT * FROM ClienttableELS WHERE %1 = ?1 COLLATE NOCASE AND %2 = ?2 COLLATE NOCASE").arg(a, b).toUtf8(), -1, &filter, nullptr);
    sqlite3_prepare_v2(h, QString("SELECT 1 FROM ClienttableCC WHERE %1 = ?1 COLLATE NOCASE").arg(a).toUtf8(), -1, &recorded, nullptr);
    sqlite3_prepare_v2(h, "INSERT INTO ClienttableCC VALUES (?,?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    Run r;
    int running = 0;
    while (sqlite3_step(seeds) == SQLITE_ROW) {
        sqlite3_bind_value(filter, 1, sqlite3_column_value(seeds, 0));
        sqlite3_bind_value(filter, 2, sqlite3_column_value(seeds, 1));
        std::vector<std::vector<QString>> group;
        while (sqlite3_step(filter) == SQLITE_ROW) {
            std::vector<QString> row;
            for (int c = 0; c < 10; ++c)
                row.push_back(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(filter, c))));
            group.push_back(row);
        }
        sqlite3_reset(filter);
        if (group.size() < 2) continue;
        sqlite3_bind_value(recorded, 1, sqlite3_column_value(seeds, 0));
        const bool known = sqlite3_step(recorded) == SQLITE_ROW;
        sqlite3_reset(recorded);
        if (known) continue;
        ++r.groups;
        for (size_t m = 0; m < group.size(); ++m) {
            const QString no = m == 0 ? QString::number(r.groups) : QString();
            sqlite3_bind_text16(insert, 1, no.utf16(), int(no.size() * 2), SQLITE_TRANSIENT);
            for (int c = 0; c < 10; ++c)
                sqlite3_bind_text16(insert, c + 2, group[m][size_t(c)].utf16(), int(group[m][size_t(c)].size() * 2), SQLITE_TRANSIENT);
            const QString run = QString::number(++running);
            sqlite3_bind_text16(insert, 12, run.utf16(), int(run.size() * 2), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            ++r.rows;
        }
    }
    for (auto* s : {seeds, filter, recorded, insert}) sqlite3_finalize(s);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    r.seconds = t.nsecsElapsed() / 1e9;
    return r;
}

void writeCsv(const QString& path, const QList<QStringList>& rows) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QTextStream out(&f);
    out << fields.join(',') << '\n';
    for (const QStringList& r : rows) out << r.join(',') << '\n';
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    AutoDialogs dialogs;
    ui::setDialogs(&dialogs);
    const int big = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int small = argc > 2 ? std::atoi(argv[2]) : 20000;
    QTemporaryDir tmp;
    app::AppState& st = app::appState();
    std::printf("cores: %d\n", QThread::idealThreadCount());

    // Against pandas at the large size.
    const QList<QStringList> rows = generate(big, 7);
    if (!load(st, tmp.path(), rows)) return 1;
    const Run o = ours(st);
    writeCsv(tmp.path() + "/rows.csv", rows);
    QProcess py;
    py.start("/usr/bin/python3", {QString(CHACHONG_BENCH_DIR) + "/pandas_groups.py", tmp.path() + "/rows.csv",
                                  tmp.path() + "/groups.csv", fields[0] + "," + fields[1]});
    py.waitForFinished(-1);
    const QStringList p = QString::fromUtf8(py.readAllStandardOutput()).split(' ');
    QProcess ver;
    ver.start("/usr/bin/python3", {"-c", "import pandas; print(pandas.__version__)"});
    ver.waitForFinished(-1);
    std::printf("| run | rows | groups | duplicate rows | seconds | ratio |\n|---|---:|---:|---:|---:|---:|\n");
    if (p.size() >= 3) {
        const double ps = p[0].toDouble();
        std::printf("| pandas %s (baseline) | %d | %s | %s | %.2f | 1.00 |\n",
                    qPrintable(QString::fromUtf8(ver.readAllStandardOutput()).trimmed()), big,
                    qPrintable(p[2].trimmed()), qPrintable(p[1]), ps);
        std::printf("| exact check | %d | %d | %d | %.2f | %.2f |\n", big, o.groups, o.rows, o.seconds, o.seconds / ps);
    } else {
        std::printf("| exact check | %d | %d | %d | %.2f | (pandas failed: %s) |\n", big, o.groups, o.rows,
                    o.seconds, qPrintable(QString::fromUtf8(py.readAllStandardError())));
    }
    // Against the literal statements at the small size.
    const QList<QStringList> few = generate(small, 11);
    if (!load(st, tmp.path(), few)) return 1;
    const Run lit = literal(st);
    const Run o2 = ours(st);
    std::printf("| literal statements (baseline) | %d | %d | %d | %.2f | 1.00 |\n", small, lit.groups, lit.rows, lit.seconds);
    std::printf("| exact check | %d | %d | %d | %.3f | %.4f (%.0fx faster) |\n", small, o2.groups, o2.rows,
                o2.seconds, o2.seconds / lit.seconds, lit.seconds / o2.seconds);
    return 0;
}
