#pragma once
// The one form every benchmark prints its figures in, so that bench/run.sh gathers them into a
// single Markdown table: each figure beside its baseline, both measured in the same run, and
// their ratio (ours / baseline). A benchmark run on its own prints the table's heading too.
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace bench {

inline void heading() {
    if (std::getenv("CHACHONG_BENCH_SUITE")) return; // bench/run.sh prints it once
    std::printf("| measure | size | ours | baseline (same run) | ours / baseline |\n"
                "|---|---|---:|---:|---:|\n");
}

// A time or an amount with its unit: "10.09 s", "0.030 ms", "412 MB".
inline QString amount(double value, const char* unit) {
    const int decimals = value >= 100 ? 0 : value >= 10 ? 1 : value >= 1 ? 2 : 3;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QString::fromLatin1(unit);
}

inline void row(const QString& measure, const QString& size, double ours, double baseline,
                const QString& baselineName, const char* unit) {
    const double ratio = baseline > 0 ? ours / baseline : 0;
    const QString r = ratio >= 0.01 || ratio == 0 ? QString::number(ratio, 'f', 2)
                                                  : QString::number(ratio, 'g', 2);
    std::printf("| %s | %s | %s | %s: %s | %s |\n", qPrintable(measure), qPrintable(size),
                qPrintable(amount(ours, unit)), qPrintable(baselineName),
                qPrintable(amount(baseline, unit)), qPrintable(r));
    std::fflush(stdout);
}

// "1,000,000"
inline QString count(long long n) {
    QString digits = QString::number(n);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return digits;
}

} // namespace bench
