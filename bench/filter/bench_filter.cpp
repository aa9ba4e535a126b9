// Cost of one equality filter, one "contains" filter and one find on a recordset, at growing
// table sizes, beside a plain scan of the same rows in the same run (the baseline). A filter should
// cost about the rows it matches, not the rows of the table.
//   bench_filter [sizes...]      (default 10000 100000 1000000)
#include "bench/common/suite.h"
#include "db/connection.h"
#include "db/recordset.h"
#include "db/sqltext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <random>

using namespace db;

static const char16_t* surnames =
    u"王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏"
    u"吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱"
    u"严覃武戴莫孔向汤";
static const char16_t* given = u"伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华玉萍红娥玲芬"
                               u"燕彬鹏辉宇浩凯健俊帆帅旭宁龙林欣";

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000, 1000000};
    QTemporaryDir tmp;
    bench::heading();
    for (int n : sizes) {
        const QString path = tmp.path() + QStringLiteral("/b%1.db").arg(n);
        sqlite3* raw = nullptr;
        sqlite3_open(path.toUtf8().constData(), &raw);
        sqlite3_exec(raw, "CREATE TABLE t (name VARCHAR(20), city VARCHAR(20)); BEGIN", nullptr,
                     nullptr, nullptr);
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO t VALUES (?1, ?2)", -1, &ins, nullptr);
        std::mt19937 rng(42);
        const QString s = QString::fromUtf16(surnames), g = QString::fromUtf16(given);
        QString wanted; // a name from the middle of the table: the filter has rows to find
        for (int i = 0; i < n; ++i) {
            QString name = s[int(rng() % s.size())];
            name += g[int(rng() % g.size())];
            name += g[int(rng() % g.size())];
            if (i == n / 2) wanted = name;
            const QString city = QStringLiteral("城市%1").arg(rng() % 300);
            sqlite3_bind_text16(ins, 1, name.utf16(), int(name.size() * 2), SQLITE_TRANSIENT);
            sqlite3_bind_text16(ins, 2, city.utf16(), int(city.size() * 2), SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(raw);

        Connection conn;
        conn.open(accessConnectionString(path));
        Recordset rs;
        rs.open(QStringLiteral("Select * From t"), conn);
        QElapsedTimer t;
        // A plain scan comparing every row, as a filter without an index would.
        t.start();
        int scanned = 0;
        rs.moveFirst();
        while (!rs.isEof()) {
            if (rs.value(0).toString() == wanted) ++scanned;
            rs.moveNext();
        }
        const double scanMs = t.nsecsElapsed() / 1e6;
        // First use builds the indexes; the figures are for a later filter, as in a check.
        rs.setFilter(sql::equals(QStringLiteral("name"), QStringLiteral("李娜")));
        rs.setFilter(sql::contains(QStringLiteral("name"), QStringLiteral("秀英")));
        t.restart();
        rs.setFilter(sql::equals(QStringLiteral("name"), wanted));
        const int eqMatches = rs.recordCount();
        const double eqMs = t.nsecsElapsed() / 1e6;
        t.restart();
        rs.setFilter(sql::contains(QStringLiteral("name"), QStringLiteral("桂英")));
        const int likeMatches = rs.recordCount();
        const double likeMs = t.nsecsElapsed() / 1e6;
        rs.setFilter(QString());
        rs.moveFirst();
        t.restart();
        rs.find(sql::equals(QStringLiteral("name"), wanted));
        const double findMs = t.nsecsElapsed() / 1e6;
        const QString rows = bench::count(n) + QStringLiteral(" rows");
        const QString scan = QStringLiteral("full scan");
        bench::row(QStringLiteral("equality filter, %1 rows found").arg(eqMatches), rows, eqMs,
                   scanMs, scan, "ms");
        bench::row(QStringLiteral("contains filter, %1 rows found").arg(likeMatches), rows, likeMs,
                   scanMs, scan, "ms");
        bench::row(QStringLiteral("find"), rows, findMs, scanMs, scan, "ms");
        if (scanned != eqMatches) {
            std::fprintf(stderr, "filter found %d rows, the scan %d\n", eqMatches, scanned);
            return 2;
        }
    }
    return 0;
}
