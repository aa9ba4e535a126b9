#pragma once
// 查重报告: what a check did, for the user to look at after it and to keep. The figures of the
// run (records checked, groups, duplicates, separated, remaining, fields, kind of check, time
// taken), how large the groups are, where the duplicates come from (the province and city of
// each duplicate record, read from its address where 智能查重 read addresses, otherwise from its
// postcode), for 智能查重 how many groups each kind of evidence joined, and the backup and the
// logs of what was removed.
//
// A report is made once, at the end of the run, from the run's own tables (ClienttableCC and
// ClienttableWhy), and kept in the working database until the next check: the check-control
// window shows the same report later, whatever the user has edited since. Every form of it (the
// window, the PDF, the HTML page) shows the rows of figuresOf and the charts of chartsOf.
#include "core/run.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace check {

struct Count {
    QString label;
    int value = 0;
};

struct CheckReport {
    QDateTime finished;
    QString source, table; // the user's file and the table checked
    QString mode;          // "完全相同查重", "模糊查重", "智能查重（标准）"
    QStringList fields;
    int checked = 0, groups = 0, duplicates = 0, separated = 0, remaining = 0;
    qint64 elapsedMs = 0;
    QString outcome; // empty: the run ended well; otherwise how it ended
    // Groups of 2, 3, 4, 5 to 9 and 10 or more records.
    std::vector<Count> groupSizes;
    // Where the places come from ("地址字段“地址”", "邮编字段“邮编”"); empty: the records carry
    // no address or postcode the report could read.
    QString placesFrom;
    // Duplicate records per province, most first, the rest and those not placed last; and for
    // the largest provinces their cities.
    std::vector<Count> provinces;
    std::vector<std::pair<QString, std::vector<Count>>> cities;
    // 智能查重: groups joined by each kind of evidence ("电话相同", "姓名同音"), most first.
    std::vector<Count> evidence;
    QString backup;   // the copy of the user's file made before the separation
    QStringList logs; // the logs of what was removed or written, the run's and those after it
};

// The report of the run that has just ended: st as the run left it (ClienttableCC open in
// RsDup, ClienttableWhy in the working database), its options and result, its time.
CheckReport reportOf(const core::AppState& st, const core::RunOptions& options,
                     const core::RunResult& result, qint64 elapsedMs);

// The figures as rows of label and value, in the order every form shows them.
std::vector<std::pair<QString, QString>> figuresOf(const CheckReport& report);

struct Chart {
    QString title;
    QString unit; // what the bars count ("组", "条")
    std::vector<Count> bars;
};
// The charts of the report, those without bars left out.
std::vector<Chart> chartsOf(const CheckReport& report);

// The report as JSON (kept in the working database, handed to the PDF writer) and back.
QByteArray reportToJson(const CheckReport& report);
std::optional<CheckReport> reportFromJson(const QByteArray& json);

// The report as one HTML page that needs nothing else (styles and charts, as SVG, inside it).
QString reportHtml(const CheckReport& report);
core::Status writeReportHtml(const CheckReport& report, const QString& path);

// Kept in the working database (replacing the one before), and read back; none before the first
// check and while a check runs.
core::Status keepReport(const db::Connection& work, const CheckReport& report);
std::optional<CheckReport> lastReport(const db::Connection& work);
// A log written after the run (a batch delete, a merge) added to the kept report.
void addLogToLastReport(const db::Connection& work, const QString& log);

} // namespace check
