#pragma once
// The fuzzy check ("模糊查重"): every record of the check table is compared with candidate
// records only, and each record's grouping pass writes the groups it finds into ClienttableCC.
//
// Candidates are found in one of two ways:
//  - fragment mode (no postcode field): the records whose key field (the first check field)
//    holds the first two characters of the record's own key value; a fresh candidate set per
//    record, held in slot 26;
//  - postcode mode: the records whose postcode starts with the record's postcode prefix of the
//    chosen length. Prefixes are enrolled as segments 1..200 in yb_table in the order they are
//    met, each with a slot that keeps its candidate set for the segment's later records;
//    slot 201 takes an empty prefix and every new prefix past the 200th, queried afresh.
// The grouping pass of a record (do_procedure) narrows the candidates to those that hold every
// adjacent pair of characters of the record's key value (firstFind; 省, 市, 区, 县 handled
// apart), copies them into the scratch table tempTable1 and records them as one group
// (save_record_1, one check field) or as groups that agree exactly on the further check fields
// (do_next, with tempTable2 marking the combinations already grouped).
//
// Comparisons: a character is a Unicode code point; "=" and Like fold ASCII letters only, a null
// never equals anything and matches no pattern; values are trimmed of blanks (spaces) only;
// record keys (a candidate equal to the seed, the yb_table prefix look-up) compare exactly.
// Apostrophes, %, _ and [ in values are taken literally.
//
// The procedures keep their names and their order of work; the candidate queries are answered
// from indexes over one snapshot of the source table (candidates.h) and the scratch tables are
// kept in memory during the run and written to tempTable1 and tempTable2 at its end.
#include "core/run.h"
#include "fuzzy/engine/candidates.h"

#include <QHash>

#include <array>
#include <memory>
#include <optional>

namespace fuzzy {

class FuzzyCheck {
public:
    explicit FuzzyCheck(core::AppState& state);
    ~FuzzyCheck();

    // The run: yb_table prepared, the record loop over options.start..options.end, the groups
    // written into ClienttableCC. A grouping pass that fails ends for its record and the run goes
    // on; the result counts such records (failedRecords, firstFailure). The separation, the
    // backup into ClienttableDD and the closing messages are the caller's (check::CheckJob).
    // Stopped through the sink, the groups found so far stay.
    core::RunResult wholecheck2(const core::RunOptions& options, core::ProgressSink& sink);

private:
    // A scratch table in memory: rows in the layout of ClienttableCC (No, the source's columns,
    // the running number); a null value is a null QString.
    struct Scratch {
        std::vector<QStringList> rows;
        std::vector<db::Bookmark> origin; // each row's record of the check table
    };
    using Slot = std::optional<CandidateSet>;
    class FiltersAhead;

    // The grouping pass and its procedures.
    void do_procedure(Slot& candidates, int& counter);
    bool checkRepeat(const QString& field);
    void firstFind(CandidateSet& candidates, const QString& value, const QString& field,
                   int unused1 = 0, int unused2 = 0);
    void del_record_tempTable(const QString& table);
    void save_record_1(int& counter, const QString& field);
    void rs2_rs3_Add(int running);
    void rss_rs3_Add(const std::vector<int>& candidates, int& running, const QString& field);
    void do_next(int& counter);
    void temp_rsTo_rs3_Add(const std::vector<int>& group, int& running);
    void rss_initialization();

    // The record loop's two ways of choosing candidates.
    void fragmentStep(int& counter);
    void postcodeStep(int& counter);
    void segmentTemplate(int segment, const QString& prefix, int& counter);
    void overflowPath(const QString& prefix, int& counter);
    void enrol(int segment);
    int segmentOf(const QString& prefix) const;

    // ClienttableCC through RsDup.
    // A row of ClienttableCC copied from the check table's record origin.
    bool addDuplicate(const QStringList& values, db::Bookmark origin, QString* error);
    void fail(const QString& why);
    void marks(int first, int second);
    void writeScratchTables();

    core::AppState& st_;
    db::RecordsetPtr src_; // the record loop's cursor over the check table
    core::ProgressSink* sink_ = nullptr;
    CandidateTable table_;
    std::unique_ptr<FiltersAhead> ahead_; // fragment mode on more than one thread
    std::array<Slot, 202> slots_;         // 1..201; slot 0 unused
    std::array<QString, 202> slotPrefix_;
    // Seed columns of the check table, and the matching columns of ClienttableCC.
    int seedColumns_ = 0;
    int dupColumns_ = 0;
    int keySource_ = -1; // key field in the check table
    int keyDup_ = -1;    // key field in ClienttableCC (and the scratch tables)
    int postcodeSource_ = -1;
    std::vector<int> furtherDup_; // further check fields in ClienttableCC
    QStringList seed_;            // the record under check, trimmed
    int shownCounter_ = 0;        // the counter as Text8 shows it for the record under check
    int postcodeDigits_ = 0;
    QHash<QString, int> segmentByPrefix_; // yb_table's rows: prefix to segment
    Scratch temp1_, temp2_;
    std::vector<db::Bookmark> copiedFrom_; // RunResult::copiedFrom
    bool scratchUsed_ = false;
    int mark1_ = 0, mark2_ = 0;
    int failed_ = 0;
    bool recordFailed_ = false;
    QString firstFailure_;
};

} // namespace fuzzy
