#pragma once
// 智能查重's matching: records whose check fields, each read by its kind, say they are one
// customer. Never all pairs: candidate pairs come from blocking keys (a phone number, an ID
// number, a name's sound within a city or county, an address within its county, an
// organisation's core name); a block larger than the cap is not expanded and is reported. Each
// candidate pair is scored field by field: agreement adds weight, disagreement takes it away,
// and some disagreements rule a pair out (two valid ID numbers that differ; two names that are
// neither equal nor sound alike, unless the ID numbers agree). Pairs at or above the level's
// threshold are matches. Groups are the matches joined up, with a guard against chaining: a
// strong match joins two groups outright, a weaker one only when every record of the one
// matches every record of the other.
//
// Deterministic: the same records in the same order give the same groups, members, scores and
// reasons, with one thread or several.
#include "smart/engine/fieldkinds.h"
#include "smart/engine/regions.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace smart {

enum class Level { Strict, Normal, Loose };

// "严格", "标准", "宽松".
QString levelLabel(Level level);
// "strict", "normal", "loose" (the runner's --level), and back; false for an unknown code.
QString levelCode(Level level);
bool levelOfCode(const QString& code, Level* level);
// The score a pair needs at a level.
double threshold(Level level);
// Above this margin over the threshold a match is strong: it joins groups without the guard.
constexpr double strongMargin = 3.0;

struct MatchSettings {
    std::vector<FieldKind> kinds; // one per check field, in their order
    QStringList labels;           // the check fields' names, for the reasons
    Level level = Level::Normal;
    int blockCap = 200; // a block of more records than this is not expanded
    int threads = 0;    // 0: as many as the machine has
    // The blocking keys of about this many records are sorted at a time, to bound the memory
    // of a large list; the groups do not depend on it.
    int recordsPerKeyPart = 250000;
};

// Why a record is in its group: its best match in the group, the score, the fields that
// agreed and how ("姓名同音；地址相同").
struct Reason {
    int partner = -1;
    double score = 0;
    QString basis;
};

struct CappedBlock {
    QString key; // what the records share, as the user reads it ("电话 075588881234")
    int records = 0;
};

struct MatchResult {
    // Each group's records (indexes in the order given), in that order; the groups in the
    // order of their first records.
    std::vector<std::vector<int>> groups;
    std::vector<std::vector<Reason>> reasons; // per group, per member
    std::vector<CappedBlock> capped;          // in the order of their first records
    bool cancelled = false;
};

class Matcher {
public:
    explicit Matcher(MatchSettings settings, const Regions& regions = Regions::shipped());
    ~Matcher();
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // The records, one value per check field (null or empty: no value).
    void reserve(int records);
    void add(const std::vector<QStringView>& values);

    // progress(done, total) is called now and then; false cancels (result.cancelled).
    MatchResult run(const std::function<bool(int, int)>& progress = {});

private:
    struct Data;
    Data* d_;
};

} // namespace smart
