#pragma once
// What every long run of the program has in common, whatever starts it (a window, the batch
// runner, a benchmark): one options value in, a progress sink to report to, one result value
// out. An engine asks no question and moves no window; the window that started it shows the
// closing messages and moves the windows, in the order it needs, so the same engine runs in
// tests, in benchmarks and in chachong-batch.
//
//     MySink sink;                                    // progress(done, total): false cancels
//     core::RunResult r = check::CheckJob(state, options).runAll(sink);
//     if (r.cancelled) ... else if (!r.error.isEmpty()) ... else ...
//
// Modes and kinds are enums in here; AppState keeps the stored numbers and texts (CheckMode 1/2/3,
// PostcodeMode 1/2, SourceType "mdb"/"dbf"/"xls"), converted by the functions below only.
#include "core/appstate.h"
#include "core/status.h"

#include <QElapsedTimer>
#include <QStringList>

namespace core {

enum class CheckMode { Exact, Fuzzy, Smart }; // CheckMode 1, 2, 3 (智能查重)
enum class PostcodeMode { Off, Field };       // PostcodeMode 1 ("取消邮编"), 2 ("选择邮编")
enum class SourceKind { None, Access, Dbase, Imported }; // SourceType "", "mdb", "dbf", "xls"

CheckMode checkModeOf(const AppState& st);
void setCheckMode(AppState& st, CheckMode mode);
PostcodeMode postcodeModeOf(const AppState& st);
void setPostcodeMode(AppState& st, PostcodeMode mode);
SourceKind sourceKindOf(const AppState& st);
void setSourceKind(AppState& st, SourceKind kind);

struct RunOptions {
    CheckMode mode = CheckMode::Exact;
    QStringList fields; // the check fields in order; the first is the key field
    int start = 1;      // first record position of the check table to check (1-based)
    int end = 0;        // last record position to check, inclusive
    PostcodeMode postcode = PostcodeMode::Off;
    QString postcodeField;
    int postcodeDigits = 0; // leading postcode characters that form a segment, 1..6
    // 智能查重: each check field's kind ("name", "address", "phone", "id", "org", "postcode",
    // "other"), in the fields' order, and the level ("strict", "normal", "loose").
    QStringList kinds;
    QString level;
};

// The options of the check that AppState describes (CheckFields, CheckFieldCount, CheckMode,
// PostcodeMode, PostcodeField, PostcodeDigits) over the records start..end.
RunOptions runOptionsOf(const AppState& st, int start, int end);

struct RunResult : Status {
    int groups = 0;         // duplicate groups found
    int duplicateRows = 0;  // rows of ClienttableCC afterwards
    int separated = 0;      // records deleted from the check table
    int remaining = 0;      // records of the check table afterwards
    int deleted = 0;        // rows deleted from ClienttableCC (the batch delete)
    bool cancelled = false; // error (Status): why the run failed
    // The fuzzy check: records whose grouping pass failed (their duplicates may be missing from
    // ClienttableCC) and the first such failure, in Chinese.
    int failedRecords = 0;
    QString firstFailure;
    // What else the user should know of a run that went on (智能查重: values too common to
    // compare every record that holds them).
    QStringList notes;
    QString backupPath;    // the copy of the user's file made before anything was deleted from it
    QString changeLogPath; // beside it: the records removed (core::ChangeLog)
    // A check: for each row of ClienttableCC, in its order, the record of the check table it is
    // a copy of. The separation removes these records and no other.
    std::vector<db::Bookmark> copiedFrom;
    bool ok() const { return Status::ok() && !cancelled; }
};

// Where an engine reports. Every call is made often (once per record): an implementation that
// shows something does so at most every few tens of milliseconds (see Throttle).
class ProgressSink {
public:
    virtual ~ProgressSink();
    // done of total steps of the current work (a scan: the position of the record under check
    // and the last position to check). False asks the engine to stop: it stops at the next safe
    // point and reports cancelled.
    virtual bool progress(int done, int total) { return true; }
    // Duplicate groups found so far.
    virtual void groups(int count) {}
    // Records of the check table still there (the separation).
    virtual void remaining(int count) {}
    // The fuzzy check's two stage marks of the record under check (0..100).
    virtual void marks(int first, int second) {}
};

// The program's one throttle: due() is true at most once every interval (and on its first
// call), so a loop may ask per record and repaint or print only now and then.
class Throttle {
public:
    explicit Throttle(int intervalMs = defaultIntervalMs) : interval_(intervalMs) {}
    bool due() {
        if (clock_.isValid() && clock_.elapsed() < interval_) return false;
        clock_.start();
        return true;
    }
    void restart() { clock_.start(); }
    static constexpr int defaultIntervalMs = 30;

private:
    QElapsedTimer clock_;
    int interval_;
};

// The one rule of long runs that change tables: a window holds a RunGuard while its run goes on
// (it yields to the event loop, so other windows stay live), and every command that writes a
// table asks busyRefusal() before it starts. Guards do not nest: a run is only started when
// busyRefusal() said none is going on.
class RunGuard {
public:
    RunGuard(AppState& state, const QString& work) : state_(state) { state_.RunningWork = work; }
    ~RunGuard() { state_.RunningWork.clear(); }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    AppState& state_;
};
// Refused while a run is changing tables: the text says which one and to wait.
Status busyRefusal(const AppState& state);

// A position typed into a box ("查重开始位置", "查重终止位置"): decimal digits, half or full
// width, blanks around them allowed. Returns -1 for anything else (empty text, letters, signs).
int parsePosition(const QString& text);

// Checks a range of record positions against a table of count records: both numbers, 1 <= start
// <= end; an end beyond the table is clipped to count. Sets *start and *end, or says what is
// wrong.
Status checkRange(const QString& startText, const QString& endText, int count, int* start,
                  int* end);

} // namespace core
