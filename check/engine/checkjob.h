#pragma once
// One check, whichever front end starts it: the main window's "开始查重", chachong-batch, the
// benchmarks and the screenshot tool all go through a CheckJob. The job refuses what cannot run,
// sets the check up in the shared state, and then runs its steps, each reporting to a progress
// sink and returning the run's result so far:
//
//     check::CheckJob job(state);
//     if (!job.prepare(request).ok()) ...  // refused, nothing changed
//     job.scan(sink);              // the groups into ClienttableCC
//     job.separate(sink);          // the grouped records out of the check table
//     job.backupDuplicates();      // ClienttableDD, a copy of ClienttableCC
//     job.keepReport();            // the run's report (report.h) in the working database
//
// or job.runAll(sink) for all four. A window asks its questions between the steps. The rules
// every front end keeps, because the job keeps them:
//  - a fuzzy check whose grouping pass failed for single records is still separated; the result
//    counts those records (failedRecords, firstFailure) for the front end to warn about;
//  - ClienttableDD is written after the separation, for both kinds of check, also after a run
//    that stopped or failed;
//  - when the check table and ClienttableCC live in different databases, the exact check's
//    groups are written on a second thread while the separation marks its records, and the
//    deletions are committed only once the groups are written.
// 智能查重 is the third mode (smartscan.h): its groups take the same road, and why each row is in
// its group is kept beside them.
// The scan reads the check table through cursors of its own: RsSource, which the windows' grids
// show, does not move.
#include "check/engine/report.h"
#include "core/run.h"

#include <optional>

namespace check {

// What the user asked for, as the main window's controls or the runner's options give it.
struct CheckRequest {
    std::optional<core::CheckMode> mode = {}; // none chosen: refused
    QStringList fields = {};                  // the check-field list; the first five take part
    // The range boxes as typed; none: the whole table.
    std::optional<QString> start = {}, end = {};
    core::PostcodeMode postcode = core::PostcodeMode::Off;
    QString postcodeField = {}; // the postcode field as shown or typed (postcode mode only)
    int postcodeDigits = 0;
    // 智能查重: the kind code of each check field ("name", "address", ...; missing or empty ones
    // inferred) and the level ("strict", "normal", "loose"; empty: normal).
    QStringList kinds = {};
    QString level = {};
};

// Why a request does not run (error, empty when it runs): a step the user has not taken yet
// ("请选择查重字段"), or something wrong (warning: a range that holds no record, an unknown
// field, a failure).
struct Refusal : core::Status {
    bool warning = false;
};

// What the user is told of a fuzzy check whose grouping pass failed for some records; empty when
// none did.
QString failedRecordsNote(const core::RunResult& result);

class CheckJob {
public:
    explicit CheckJob(core::AppState& state);
    // A job over options made elsewhere (the check already prepared in the shared state).
    CheckJob(core::AppState& state, const core::RunOptions& options);

    // What refuses the request before the user is asked to confirm it: no table open, an empty
    // table, no check field, no kind of check, a range that holds no record.
    static Refusal refusal(const core::AppState& state, const CheckRequest& request);

    // Every refusal (the ones above, then a missing or unknown postcode field, an unknown check
    // field) and, when there is none, the check set up: the check fields and postcode settings
    // stored, ClienttableCC emptied and opened, the kind of check stored. Nothing is changed
    // when it refuses. Returns the refusal or the failure; none when ready.
    Refusal prepare(const CheckRequest& request);

    const core::RunOptions& options() const { return options_; }
    const core::RunResult& result() const { return result_; }

    // The scan over options().start..end: groups, duplicateRows, copiedFrom, cancelled, error,
    // and for the fuzzy check failedRecords and firstFailure. Stopped through the sink, the
    // groups found so far stay in ClienttableCC.
    core::RunResult scan(core::ProgressSink& sink);
    // The separation of what the scan copied, when it ended well with duplicates (otherwise the
    // result as it is): separated, remaining, backupPath, cancelled, error.
    core::RunResult separate(core::ProgressSink& sink);
    // ClienttableDD written from ClienttableCC.
    core::Status backupDuplicates();
    // The report of the run so far (the time of its steps, not of the questions between them),
    // kept in the working database for the check-control window and the runner's --report.
    core::Status keepReport();
    // The four steps; a failed backup of the duplicates becomes the error of a run that had
    // none, a report not kept a note.
    core::RunResult runAll(core::ProgressSink& sink);

private:
    // The exact check's groups, when they wait in RsDup for the separation to write them.
    core::Status writePendingGroups();

    core::AppState& st_;
    core::RunOptions options_;
    core::RunResult result_;
    bool pending_ = false;
    qint64 elapsedMs_ = 0; // in the steps so far
};

} // namespace check
