// 智能查重 against the other checks on labelled client lists, whose true duplicates are known:
// pairwise F1 (with precision and recall) of 智能查重 at each level beside the best of the exact
// and fuzzy checks on the same list and fields in the same run, for two, three and five check
// fields of a Chinese list and for a Latin-script list; then the whole process at the large size,
// chachong-batch check --smart against the exact check on the same file and fields (time and
// peak memory, the memory also against the table's text).
//   bench_smart [customers] [large rows]      (default 4000 1000000; 0: that part skipped)
// CHACHONG_BENCH_DETAIL=1 writes the recall of 智能查重 per kind of re-entry to standard error.
#include "bench/common/listcopy.h"
#include "bench/common/process.h"
#include "bench/common/suite.h"
#include "bench/gen/labelled.h"
#include "check/engine/checkjob.h"
#include "core/workdb.h"
#include "import/engine/sources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Setup {
    QString name; // "智能查重 标准", "完全相同查重", "模糊查重 地址"
    core::CheckMode mode;
    QStringList fields;
    QStringList kinds; // 智能查重: as the user would leave them (inferred) unless given
    QString level;
};

// The group of every row of the list after a check (-1: in no group).
std::optional<std::vector<int>> groupsOf(const Setup& s, const QString& dbf, const QString& dir,
                                         int rows) {
    core::AppState& st = core::appState();
    if (!bench::openCopy(st, dbf, dir)) return std::nullopt;
    QHash<db::Bookmark, int> rowOf;
    for (int r = 0; r < st.RsSource->recordCount(); ++r)
        rowOf.insert(st.RsSource->bookmarkAt(r), r);
    check::CheckJob job(st);
    if (const check::Refusal why =
            job.prepare({.mode = s.mode, .fields = s.fields, .kinds = s.kinds, .level = s.level});
        !why.ok()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(s.name), qPrintable(why.error));
        return std::nullopt;
    }
    core::ProgressSink sink;
    const core::RunResult r = job.scan(sink);
    if (!r.ok()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(s.name), qPrintable(r.error));
        return std::nullopt;
    }
    std::vector<int> group(size_t(rows), -1);
    int current = -1;
    const db::RecordsetPtr cc = st.RsDup->clone();
    for (int k = 0; k < cc->recordCount() && k < int(r.copiedFrom.size()); ++k) {
        if (!cc->viewAt(k, 0).isEmpty()) ++current; // No on a group's first row
        group[size_t(rowOf.value(r.copiedFrom[size_t(k)]))] = current;
    }
    return group;
}

// The recall of true pairs per kind of change of the further entry (a pair of an entry and the
// customer's first entry).
void detail(const gen::LabelledTable& t, const std::vector<int>& group, const QString& name) {
    QMap<QString, std::pair<int, int>> byKind; // found, all
    for (size_t r = 0; r < t.rows.size(); ++r) {
        if (t.copyOf[r] < 0) continue;
        const bool found = group[r] >= 0 && group[r] == group[size_t(t.copyOf[r])];
        for (const QString& kind : t.change[r].split(u'+', Qt::SkipEmptyParts)) {
            byKind[kind].first += found;
            ++byKind[kind].second;
        }
    }
    int shown = 0;
    for (size_t r = 0; r < t.rows.size() && shown < 40; ++r) {
        if (t.copyOf[r] < 0) continue;
        const bool found = group[r] >= 0 && group[r] == group[size_t(t.copyOf[r])];
        if (found || !qEnvironmentVariableIsSet("MISSED")) continue;
        if (!name.contains(qEnvironmentVariable("MISSED"))) continue;
        ++shown;
        std::fprintf(stderr, "MISS %s\n  %s\n  %s\n", qPrintable(t.change[r]),
                     qPrintable(t.rows[size_t(t.copyOf[r])].join(" | ")),
                     qPrintable(t.rows[r].join(" | ")));
    }
    std::fprintf(stderr, "%s, recall by change:\n", qPrintable(name));
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        std::fprintf(stderr, "  %-22s %5d/%-5d %.3f\n", qPrintable(it.key()), it->first, it->second,
                     double(it->first) / std::max(1, it->second));
    // The look-alikes grouped with the customer they look like.
    QMap<QString, std::pair<int, int>> wrong;
    std::vector<int> firstRow(t.lookalikeOf.size(), -1);
    for (size_t r = 0; r < t.rows.size(); ++r)
        if (firstRow[size_t(t.entity[r])] < 0) firstRow[size_t(t.entity[r])] = int(r);
    for (size_t c = 0; c < t.lookalikeOf.size(); ++c) {
        if (t.lookalikeOf[c] < 0) continue;
        const int a = firstRow[c], b = firstRow[size_t(t.lookalikeOf[c])];
        auto& w = wrong[t.lookalikeKind[c]];
        w.first +=
            a >= 0 && b >= 0 && group[size_t(a)] >= 0 && group[size_t(a)] == group[size_t(b)];
        ++w.second;
    }
    for (auto it = wrong.cbegin(); it != wrong.cend(); ++it)
        std::fprintf(stderr, "  look-alike %-11s grouped %d/%d\n", qPrintable(it.key()), it->first,
                     it->second);
}

// F1 of 智能查重 at a level beside the best of the baselines, one row of the table.
bool compare(const gen::LabelledTable& t, const QString& dbf, const QString& dir,
             const QString& what, const Setup& smart, const std::vector<Setup>& baselines) {
    const int rows = int(t.rows.size());
    const auto ours = groupsOf(smart, dbf, dir, rows);
    if (!ours) return false;
    const gen::PairScores s = gen::pairScores(t.entity, *ours);
    if (qEnvironmentVariableIsSet("CHACHONG_BENCH_DETAIL")) detail(t, *ours, smart.name + what);
    gen::PairScores best;
    QString bestName;
    for (const Setup& b : baselines) {
        const auto theirs = groupsOf(b, dbf, dir, rows);
        if (!theirs) return false;
        const gen::PairScores p = gen::pairScores(t.entity, *theirs);
        if (bestName.isEmpty() || p.f1 > best.f1) best = p, bestName = b.name;
    }
    auto f1 = [](const gen::PairScores& p) {
        return QStringLiteral("F1 %1 (P %2 R %3)")
            .arg(p.f1, 0, 'f', 3)
            .arg(p.precision, 0, 'f', 3)
            .arg(p.recall, 0, 'f', 3);
    };
    const QString size = QStringLiteral("%1 rows, %2 true pairs")
                             .arg(bench::count(rows))
                             .arg(bench::count(gen::pairScores(t.entity, {}).truePairs));
    std::printf("| %s F1, %s: %s | %s | %.3f | %s: %.3f | %.2f |\n", qPrintable(smart.name),
                qPrintable(what), qPrintable(f1(s)), qPrintable(size), s.f1,
                qPrintable(bestName + u' ' + f1(best)), best.f1,
                best.f1 > 0 ? s.f1 / best.f1 : 0.0);
    std::fflush(stdout);
    return true;
}

// A dBase list is written in GBK: a Latin letter GBK lacks (ö) loses its accent.
void foldToGbk(gen::LabelledTable* t) {
    for (QStringList& row : t->rows)
        for (QString& v : row) {
            QString folded;
            for (const QChar c : v.normalized(QString::NormalizationForm_D))
                if (c.category() != QChar::Mark_NonSpacing) folded += c;
            v = folded;
        }
}

bool quality(int customers, const QTemporaryDir& tmp) {
    gen::LabelledOptions o;
    o.customers = customers;
    o.seed = 2026;
    const gen::LabelledTable chinese = gen::generateLabelled(o);
    gen::LabelledTable latin = gen::generateLatinLabelled(o);
    foldToGbk(&latin);
    const QString cdbf = tmp.filePath(QStringLiteral("chinese.dbf"));
    const QString ldbf = tmp.filePath(QStringLiteral("latin.dbf"));
    QString error;
    if (!gen::writeDbf(chinese, cdbf, &error) || !gen::writeDbf(latin, ldbf, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const QString dir = tmp.filePath(QStringLiteral("run"));
    using M = core::CheckMode;
    auto smart = [](const QStringList& fields, const QString& level = QStringLiteral("normal"),
                    const QStringList& kinds = {}) {
        const QString label = level == QLatin1String("strict")  ? QStringLiteral("严格")
                              : level == QLatin1String("loose") ? QStringLiteral("宽松")
                                                                : QStringLiteral("标准");
        return Setup{QStringLiteral("智能查重 ") + label, M::Smart, fields, kinds, level};
    };
    auto others = [](const QStringList& fields) {
        std::vector<Setup> b{{QStringLiteral("完全相同查重"), M::Exact, fields, {}, {}}};
        for (const QString& key : fields)
            if (key == QLatin1String("地址") || key == QLatin1String("姓名") ||
                key == QLatin1String("name") || key == QLatin1String("address"))
                b.push_back({QStringLiteral("模糊查重 ") + key, M::Fuzzy, {key}, {}, {}});
        return b;
    };
    const QStringList nameAddress = {QStringLiteral("姓名"), QStringLiteral("地址")};
    const QStringList namePhone = {QStringLiteral("姓名"), QStringLiteral("电话")};
    const QStringList three = {QStringLiteral("姓名"), QStringLiteral("地址"),
                               QStringLiteral("电话")};
    const QStringList five =
        three + QStringList{QStringLiteral("身份证号"), QStringLiteral("单位名称")};
    const QStringList latinFields = {QStringLiteral("name"), QStringLiteral("address"),
                                     QStringLiteral("city"), QStringLiteral("birth_date")};
    bool ok = true;
    for (const QStringList* fields : {&nameAddress, &namePhone, &three, &five})
        ok = ok && compare(chinese, cdbf, dir, fields->join(u'+'), smart(*fields), others(*fields));
    for (const QString& level : {QStringLiteral("strict"), QStringLiteral("loose")})
        ok =
            ok && compare(chinese, cdbf, dir, three.join(u'+'), smart(three, level), others(three));
    ok = ok && compare(latin, ldbf, dir, QStringLiteral("Latin ") + latinFields.join(u'+'),
                       smart(latinFields, QStringLiteral("normal"),
                             {QStringLiteral("name"), QStringLiteral("address"),
                              QStringLiteral("other"), QStringLiteral("other")}),
                       others(latinFields));
    return ok;
}

// The whole process on a large list: --smart against the exact check, alternately.
bool speed(int rows, const QTemporaryDir& tmp) {
    const QString dbf = tmp.filePath(QStringLiteral("large.dbf"));
    QProcess gen;
    gen.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_gen"),
              {QStringLiteral("--rows"), QString::number(rows), QStringLiteral("--formats"),
               QStringLiteral("dbf"), QStringLiteral("--out"),
               tmp.filePath(QStringLiteral("large"))});
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) {
        std::fprintf(stderr, "bench_gen failed: %s\n", gen.readAllStandardError().constData());
        return false;
    }
    const QByteArray runner = QByteArray(CHACHONG_PROGRAM_DIR) + "/chachong-batch";
    const QByteArray fields = QStringLiteral("姓名,地址,电话").toUtf8();
    const QString dump = tmp.filePath(QStringLiteral("large.csv"));
    const QString out = tmp.filePath(QStringLiteral("summary.txt"));
    if (!bench::runProcess(runner, {"dump", QFile::encodeName(dbf)}, dump)) return false;
    const int repeats = std::max(1, qEnvironmentVariableIntValue("CHACHONG_BENCH_REPEATS") > 0
                                        ? qEnvironmentVariableIntValue("CHACHONG_BENCH_REPEATS")
                                        : 3);
    std::vector<double> exact, smart, exactPeak, smartPeak;
    QByteArray first;
    for (int i = 0; i < repeats; ++i) {
        const auto a =
            bench::runProcess(runner, {"check", QFile::encodeName(dbf), "--fields", fields}, out);
        const auto b = bench::runProcess(
            runner, {"check", QFile::encodeName(dbf), "--fields", fields, "--smart"}, out);
        if (!a || !b) return false;
        // The same file gives the same groups every time.
        const QByteArray groups = b->out.left(b->out.indexOf(" seconds="));
        if (i > 0 && groups != first) {
            std::fprintf(stderr, "智能查重 differs between runs: %s / %s\n", first.constData(),
                         groups.constData());
            return false;
        }
        first = groups;
        exact.push_back(a->seconds);
        smart.push_back(b->seconds);
        exactPeak.push_back(a->peakMB);
        smartPeak.push_back(b->peakMB);
    }
    const QString size = QStringLiteral("%1 rows, 姓名+地址+电话").arg(bench::count(rows));
    bench::row(QStringLiteral("whole job: chachong-batch check --smart"), size,
               bench::median(smart), bench::median(exact),
               QStringLiteral("the exact check of the same file and fields"), "s");
    bench::row(QStringLiteral("peak memory of check --smart"), size, bench::median(smartPeak),
               double(QFileInfo(dump).size()) / 1048576.0,
               QStringLiteral("the table's text (UTF-8 CSV)"), "MB");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int customers = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int large = argc > 2 ? std::atoi(argv[2]) : 1000000;
    QTemporaryDir tmp;
    bench::heading();
    if (customers > 0 && !quality(customers, tmp)) return 1;
    if (large > 0 && !speed(large, tmp)) return 1;
    return 0;
}
