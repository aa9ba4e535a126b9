#include "fuzzy/engine/fuzzycheck.h"

#include "core/workdb.h"
#include "db/criteria.h"
#include "db/formats/threads.h"
#include "db/sqltext.h"

#include <QHash>
#include <QSet>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace fuzzy {

namespace {

// A value as the passes copy it: null reads as empty text, blanks trimmed.
QString trimmed(QStringView v) {
    return v.isNull() ? QString(QLatin1String("")) : db::trimBlanks(v).toString();
}

QString trimmed(const QString& v) {
    return v.isNull() ? QString(QLatin1String("")) : db::trimBlanks(v);
}

// The administrative-division characters that firstFind treats apart.
bool isDivision(QStringView c) {
    return c.size() == 1 && (c[0] == u'省' || c[0] == u'市' || c[0] == u'区' || c[0] == u'县');
}

// The code points of a text, each as a view into it.
std::vector<QStringView> codePoints(QStringView text) {
    std::vector<QStringView> out;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = firstCodePoints(text.sliced(i), 1).size();
        out.push_back(text.sliced(i, n));
        i += n;
    }
    return out;
}

// The filter firstFind sets for a key (folded): each adjacent pair of its characters, the
// first character instead of a pair that ends in 省, 市, 区 or 县, the last instead of one that
// starts with one. Views into key.
std::vector<QStringView> filterTerms(QStringView key) {
    const std::vector<QStringView> chars = codePoints(key);
    std::vector<QStringView> terms;
    for (size_t k = 1; k < chars.size(); ++k) {
        QStringView p(chars[k - 1].data(), chars[k - 1].size() + chars[k].size());
        if (isDivision(chars[k])) p = chars.front();
        if (isDivision(firstCodePoints(p, 1))) p = chars.back();
        terms.push_back(p);
    }
    return terms;
}

} // namespace

// Fragment mode's candidate look-ups depend on the seed's key alone, so other threads work
// them out ahead of the record loop, in order: per row of the check table, the rows of its
// fragment's query under its filter. The loop takes them row by row; a row without a filter
// (a null or one-character key) is left to the loop. The loop mostly waits for them, so there
// are as many such threads as cores.
class FuzzyCheck::FiltersAhead {
public:
    FiltersAhead(const CandidateTable& table, int first, int last, int threads)
        : table_(table), first_(first), last_(last) {
        for (Chunk& c : ring_)
            c.rows.resize(kChunk);
        for (int i = 0; i < threads; ++i)
            workers_.emplace_back([this] { work(); });
    }
    ~FiltersAhead() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }

    // The filter rows of a row (asked in ascending order), or null for none.
    std::vector<int>* filterOf(int row) {
        if (row < first_ || row >= last_) return nullptr;
        const int chunk = (row - first_) / kChunk;
        Chunk& c = ring_[size_t(chunk % kRing)];
        std::unique_lock lock(mutex_);
        if (chunk > consumed_) {
            consumed_ = chunk; // the chunks before it are free for the next ones
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return c.done == chunk; });
        Entry& e = c.rows[size_t((row - first_) % kChunk)];
        return e.has ? &e.rows : nullptr;
    }

private:
    static constexpr int kChunk = 256, kRing = 32;
    struct Entry {
        bool has = false;
        std::vector<int> rows;
    };
    struct Chunk {
        int done = -1; // the chunk worked out into this place
        std::vector<Entry> rows;
    };

    void work() {
        for (;;) {
            int chunk;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ < consumed_ + kRing; });
                if (stop_ || first_ + next_ * kChunk >= last_) return;
                chunk = next_++;
            }
            Chunk& c = ring_[size_t(chunk % kRing)];
            const int from = first_ + chunk * kChunk;
            for (int i = 0; i < kChunk; ++i) {
                Entry& e = c.rows[size_t(i)];
                try {
                    fill(from + i, e);
                } catch (const std::exception&) { // no memory: the loop works it out itself
                    e.has = false;
                }
            }
            {
                std::lock_guard lock(mutex_);
                c.done = chunk;
            }
            changed_.notify_all();
        }
    }

    void fill(int row, Entry& e) const {
        e.has = false;
        e.rows.clear();
        if (row >= last_ || table_.keyIsNull(row)) return;
        const QStringView key = table_.foldedKey(row);
        const std::vector<QStringView> terms = filterTerms(key);
        if (terms.empty()) return;
        CandidateSet set(table_, CandidateQuery{CandidateQuery::KeyFragment,
                                                firstCodePoints(key, 2).toString()});
        if (set.recordCount() == 0) return;
        set.setFilter(terms);
        e.rows = set.rows();
        e.has = true;
    }

    const CandidateTable& table_;
    const int first_, last_;
    std::array<Chunk, kRing> ring_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 0;     // the next chunk to work out
    int consumed_ = 0; // the chunk the loop is in
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

FuzzyCheck::FuzzyCheck(core::AppState& state) : st_(state) {}

FuzzyCheck::~FuzzyCheck() = default;

core::RunResult FuzzyCheck::wholecheck2(const core::RunOptions& options, core::ProgressSink& sink) {
    core::RunResult result;
    sink_ = &sink;
    const db::RecordsetPtr dup = st_.RsDup;
    auto refuse = [&](const QString& why) {
        result.error = why;
        return result;
    };
    if (!core::isOpen(st_.RsSource)) return refuse(QStringLiteral("请打开数据库！"));
    // The scan's own cursor: RsSource, which the grids show, stays where it is.
    src_ = st_.RsSource->clone();
    const db::RecordsetPtr& src = src_;
    if (src->recordCount() < 1) return refuse(QStringLiteral("无数据可查！"));
    if (!core::isOpen(dup)) return refuse(QStringLiteral("重复数据表没有打开，无法查重。"));
    if (options.fields.isEmpty()) return refuse(QStringLiteral("请选择查重字段"));
    const int total = src->recordCount();
    if (options.start < 1 || options.end < options.start || options.start > total)
        return refuse(QStringLiteral("查重范围不正确：开始位置 %1，终止位置 %2，共 %3 条记录。")
                          .arg(options.start)
                          .arg(options.end)
                          .arg(total));

    // Where the check fields stand in the check table and in ClienttableCC.
    dupColumns_ = dup->fieldCount();
    seedColumns_ = std::min(src->fieldCount(), dupColumns_ - 2);
    const int count = int(std::min<qsizetype>(options.fields.size(), 5));
    for (int k = 0; k < count; ++k) {
        const QString name = db::trimBlanks(options.fields[k]);
        const int s = src->fieldIndex(name);
        if (s < 0 || s >= seedColumns_)
            return refuse(
                QStringLiteral("查重字段“%1”不在当前数据表中，请重新选择查重字段。").arg(name));
        if (k == 0)
            keySource_ = s;
        else
            furtherDup_.push_back(s + 1);
    }
    keyDup_ = keySource_ + 1;
    const bool postcode = options.postcode == core::PostcodeMode::Field;
    if (postcode) {
        postcodeSource_ = src->fieldIndex(db::trimBlanks(options.postcodeField));
        if (postcodeSource_ < 0)
            return refuse(QStringLiteral("邮编字段“%1”不在当前数据表中，请重新选择邮编字段。")
                              .arg(options.postcodeField));
        postcodeDigits_ = std::clamp(options.postcodeDigits, 1, 6);
    }

    // The candidates are the check table's own records, read once: every record of a group is
    // one the separation can remove (an imported list's file may hold records that the check
    // table no longer has, separated by an earlier check, or lack the ones merged into it).
    try {
        table_.build(src->clone(), keySource_, postcode ? postcodeSource_ : -1);
    } catch (const std::exception&) { // more key text than the index holds, or no memory for it
        return refuse(QStringLiteral("查重字段的内容太多，模糊查重的索引无法放入内存。可以改用"
                                     "完全相同查重，或把名单分成几个文件分别查重。"));
    }

    // yb_table emptied and opened again; every slot closed.
    if (const core::Status s = core::runStatement(
            st_.RsPostcode, db::sql::deleteAll(QStringLiteral("yb_table")), st_.WorkConn);
        !s.ok())
        return refuse(QStringLiteral("无法清空邮编分段表 yb_table：") + s.error);
    st_.RsPostcode = std::make_shared<db::Recordset>();
    st_.RsPostcode->setCursorLocation(db::CursorLocation::Client);
    if (!st_.RsPostcode->open(db::sql::selectAll(QStringLiteral("yb_table")), st_.WorkConn))
        return refuse(QStringLiteral("无法打开邮编分段表 yb_table：") +
                      st_.RsPostcode->errorString());
    rss_initialization();
    for (Slot& s : slots_)
        s.reset();

    int counter = 0;
    const int end = std::min(options.end, total);
    if (const int threads = formats::workerThreads(); !postcode && threads > 1)
        ahead_ = std::make_unique<FiltersAhead>(table_, options.start - 1, end, threads);
    // The run's writes to the working database (segments, groups, scratch tables) are one
    // transaction: a segment enrolled costs no write to the disk of its own.
    const bool transaction = !st_.WorkConn.inTransaction() && st_.WorkConn.beginTransaction();
    dup->suspendNotifications();
    src->setAbsolutePosition(options.start);
    while (!src->isEof() && src->absolutePosition() <= end) {
        marks(10, mark2_);
        if (!sink.progress(src->absolutePosition(), end)) {
            result.cancelled = true;
            break;
        }
        shownCounter_ = counter;
        seed_.clear();
        for (int c = 0; c < seedColumns_; ++c)
            seed_ << trimmed(src->valueView(c));
        recordFailed_ = false;
        if (postcode)
            postcodeStep(counter);
        else
            fragmentStep(counter);
        marks(100, 100);
        if (dup->recordCount() > 0) dup->moveLast();
        if (src->recordCount() == 0) break;
        src->moveNext();
    }
    // The groups go to ClienttableCC in one transaction, a stopped run's too.
    if (!dup->updateBatch()) result.error = dup->errorString();
    if (dup->recordCount() > 0) dup->moveLast();
    dup->resumeNotifications();
    writeScratchTables();
    if (transaction && !st_.WorkConn.commit() && result.error.isEmpty())
        result.error = st_.WorkConn.errorString();
    ahead_.reset();
    for (Slot& s : slots_)
        s.reset();

    result.groups = counter;
    result.duplicateRows = dup->recordCount();
    result.copiedFrom = std::move(copiedFrom_);
    result.remaining = src->recordCount();
    if (!result.error.isEmpty())
        result.error = QStringLiteral("重复数据写入失败，未分离任何记录：\r\n") + result.error;
    result.failedRecords = failed_;
    result.firstFailure = firstFailure_;
    return result;
}

// ---- the record loop's steps ---------------------------------------------------------------

void FuzzyCheck::fragmentStep(int& counter) {
    const QString key = seed_[keySource_];
    const QString fragment = firstCodePoints(key, 2).toString();
    Slot& slot = slots_[26];
    slot.reset();
    slot.emplace(table_, CandidateQuery{CandidateQuery::KeyFragment, foldAscii(fragment)});
    if (slot->recordCount() == 0) return;
    marks(30, mark2_);
    do_procedure(slot, counter);
}

void FuzzyCheck::postcodeStep(int& counter) {
    const QString value = trimmed(src_->valueView(postcodeSource_));
    const QString prefix = firstCodePoints(value, postcodeDigits_).toString();
    const int segment = prefix.isEmpty() ? 201 : segmentOf(prefix);
    marks(10, mark2_);
    if (segment >= 1 && segment <= 200)
        segmentTemplate(segment, prefix, counter);
    else
        overflowPath(prefix, counter);
}

int FuzzyCheck::segmentOf(const QString& prefix) const {
    // The first row of yb_table whose stored value starts with the prefix (compared exactly),
    // else the next free number. The run is the table's only writer, so its rows are known
    // here without walking them.
    const auto it = segmentByPrefix_.constFind(prefix);
    return it != segmentByPrefix_.constEnd() ? it.value() : st_.RsPostcode->recordCount() + 1;
}

void FuzzyCheck::segmentTemplate(int segment, const QString& prefix, int& counter) {
    Slot& slot = slots_[size_t(segment)];
    // A slot never serves another prefix than its own: its candidates are of that prefix.
    if (slot && slotPrefix_[size_t(segment)] != prefix) slot.reset();
    if (slot) {
        // A new pass starts from the segment's whole candidate set: the filter the last pass
        // left would otherwise hide records from it (every record, when it showed none).
        slot->clearFilter();
        do_procedure(slot, counter);
        enrol(segment);
        return;
    }
    slot.emplace(table_, CandidateQuery{CandidateQuery::PostcodePrefix, foldAscii(prefix)});
    slotPrefix_[size_t(segment)] = prefix;
    marks(30, mark2_);
    if (slot->recordCount() > 0) {
        do_procedure(slot, counter);
        enrol(segment);
    } else {
        slot.reset(); // nothing found: the number stays free for the next new prefix
    }
}

void FuzzyCheck::overflowPath(const QString& prefix, int& counter) {
    Slot& slot = slots_[201];
    slot.reset();
    slot.emplace(table_, CandidateQuery{CandidateQuery::PostcodePrefix, foldAscii(prefix)});
    marks(30, mark2_);
    if (slot->recordCount() > 0) do_procedure(slot, counter);
}

void FuzzyCheck::enrol(int segment) {
    db::Recordset& yb = *st_.RsPostcode;
    if (segment <= yb.recordCount() || segment >= 201) return;
    const QString value = trimmed(src_->valueView(postcodeSource_));
    yb.addNew();
    yb.setValue(0, QString::number(segment));
    yb.setValue(1, firstCodePoints(value, 6).toString());
    if (!yb.update()) {
        fail(QStringLiteral("邮编分段无法写入 yb_table：") + yb.errorString());
        yb.cancelUpdate();
        return;
    }
    const QString stored = firstCodePoints(value, 6).toString();
    segmentByPrefix_.insert(firstCodePoints(stored, postcodeDigits_).toString(), segment);
}

// ---- the grouping pass ---------------------------------------------------------------------

void FuzzyCheck::do_procedure(Slot& candidates, int& counter) {
    const QString f = src_->fieldName(keySource_);
    if (checkRepeat(f)) return; // the seed's key value is recorded already
    const QString v = seed_[keySource_];
    if (v.isEmpty()) return;
    firstFind(*candidates, v, f);
    marks(50, 80);
    if (candidates->recordCount() <= 1) return;
    del_record_tempTable(QStringLiteral("tempTable1"));
    del_record_tempTable(QStringLiteral("tempTable2"));
    // The candidates into tempTable1: their values trimmed; No and the running number empty.
    for (int row : candidates->rows()) {
        temp1_.origin.push_back(table_.bookmark(row));
        QStringList r;
        r.reserve(dupColumns_);
        r << QString();
        for (int i = 0; i < seedColumns_; ++i)
            r << (i < table_.columnCount() ? trimmed(table_.value(row, i)) : QString(""));
        while (r.size() < dupColumns_)
            r << QString();
        temp1_.rows.push_back(std::move(r));
    }
    if (furtherDup_.empty())
        save_record_1(counter, f);
    else
        do_next(counter);
}

bool FuzzyCheck::checkRepeat(const QString& field) {
    db::Recordset& dup = *st_.RsDup;
    db::Criterion c = db::equalsCriterion({dup.fieldName(keyDup_)});
    const QString v = seed_[keySource_];
    for (const QString& value : {v, QStringLiteral("*") + v}) {
        db::setEqualsValue(c.terms[0], value);
        if (dup.recordCount() > 0 && dup.moveFirst() && dup.find(c)) return true;
    }
    return false;
}

void FuzzyCheck::firstFind(CandidateSet& candidates, const QString& value, const QString& field,
                           int, int) {
    if (candidates.recordCount() == 0) return; // the filter in force stays
    // A term for each pair of adjacent characters.
    const int terms = std::max(0, int(codePointCount(value)) - 1);
    for (int k = 1; k <= terms; ++k)
        marks(mark1_, 3 * k);
    // Worked out ahead for this record?
    if (ahead_ && table_.bookmark(src_->absolutePosition() - 1) == src_->bookmark())
        if (std::vector<int>* rows = ahead_->filterOf(src_->absolutePosition() - 1)) {
            candidates.setFilterRows(std::move(*rows));
            return;
        }
    // One character gives no term: the filter goes and every candidate stays.
    const QString folded = foldAscii(value); // the terms are views into it
    candidates.setFilter(filterTerms(folded));
}

void FuzzyCheck::del_record_tempTable(const QString& table) {
    Scratch& scratch = table == QLatin1String("tempTable1") ? temp1_ : temp2_;
    scratch.rows.clear();
    scratch.origin.clear();
    scratchUsed_ = true;
}

void FuzzyCheck::save_record_1(int& counter, const QString& field) {
    if (temp1_.rows.size() <= 1) return;
    db::Recordset& dup = *st_.RsDup;
    rs2_rs3_Add(dup.recordCount() + 1);
    ++counter;
    sink_->groups(counter);
    std::vector<int> all(temp1_.rows.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = int(i);
    int running = dup.recordCount() + 1;
    rss_rs3_Add(all, running, field);
    dup.moveLast();
}

void FuzzyCheck::rs2_rs3_Add(int running) {
    QStringList values;
    values << QString::number(shownCounter_ + 1);
    for (int k = 0; k < seedColumns_; ++k)
        values << seed_[k];
    while (values.size() < dupColumns_ - 1)
        values << QString("");
    values << QString::number(running);
    QString error;
    if (!addDuplicate(values, src_->bookmark(), &error)) fail(error);
}

void FuzzyCheck::rss_rs3_Add(const std::vector<int>& candidates, int& running, const QString&) {
    // The one candidate that is the seed itself is left out: the seed's own record, or else
    // the first whose values all equal the seed's (compared exactly, its No and running number
    // empty).
    auto isSeed = [&](const QStringList& row) {
        if (!trimmed(row.first()).isEmpty() || !trimmed(row.last()).isEmpty()) return false;
        for (int k = 0; k < seedColumns_; ++k)
            if (trimmed(row[k + 1]) != seed_[k]) return false;
        return true;
    };
    const db::Bookmark seed = src_->bookmark();
    int left = -1;
    for (int i : candidates)
        if (temp1_.origin[size_t(i)] == seed) {
            left = i;
            break;
        }
    for (int i : candidates) {
        if (left >= 0) break;
        if (isSeed(temp1_.rows[size_t(i)])) left = i;
    }
    for (int i : candidates) {
        if (i == left) continue;
        const QStringList& row = temp1_.rows[size_t(i)];
        QStringList values;
        values << QString("");
        for (int j = 1; j < dupColumns_ - 1; ++j)
            values << trimmed(row[j]);
        values << QString::number(running);
        QString error;
        if (addDuplicate(values, temp1_.origin[size_t(i)], &error))
            ++running;
        else
            fail(error);
    }
}

void FuzzyCheck::do_next(int& counter) {
    if (temp1_.rows.empty()) return;
    db::Recordset& dup = *st_.RsDup;
    // The rows of tempTable1 by their further check fields, as "=" compares them (ASCII letters
    // folded): each filter of temp_rs1 is one of these groups, in table order.
    auto combination = [&](const QStringList& row) {
        QStringList key;
        for (int c : furtherDup_)
            key << foldAscii(trimmed(row[c]));
        return key;
    };
    QHash<QStringList, std::vector<int>> byCombination;
    for (int i = 0; i < int(temp1_.rows.size()); ++i)
        byCombination[combination(temp1_.rows[size_t(i)])].push_back(i);
    QSet<QStringList> grouped; // tempTable2's combinations
    for (const QStringList& row : temp1_.rows) {
        if (trimmed(row[furtherDup_.front()]).isEmpty()) continue;
        const QStringList key = combination(row);
        if (grouped.contains(key)) continue; // grouped already in this pass
        const std::vector<int>& group = byCombination[key];
        if (group.size() <= 1) continue;
        for (int i : group) {
            temp2_.rows.push_back(temp1_.rows[size_t(i)]);
            temp2_.origin.push_back(temp1_.origin[size_t(i)]);
        }
        grouped.insert(key);
        const QStringList& head = temp1_.rows[size_t(group.front())];
        QStringList values;
        for (int j = 0; j < dupColumns_; ++j)
            values << trimmed(head[j]);
        values[0] = QString::number(counter + 1);
        values[dupColumns_ - 1] = QString::number(dup.recordCount() + 1);
        QString error;
        if (!addDuplicate(values, temp1_.origin[size_t(group.front())], &error)) fail(error);
        ++counter;
        sink_->groups(counter);
        int running = dup.recordCount() + 1;
        temp_rsTo_rs3_Add(group, running);
    }
}

void FuzzyCheck::temp_rsTo_rs3_Add(const std::vector<int>& group, int& running) {
    for (size_t k = 1; k < group.size(); ++k) {
        const QStringList& row = temp1_.rows[size_t(group[k])];
        QStringList values;
        for (int i = 0; i < dupColumns_; ++i)
            values << trimmed(row[i]);
        values[0] = QString("");
        values[dupColumns_ - 1] = QString::number(running);
        QString error;
        if (addDuplicate(values, temp1_.origin[size_t(group[k])], &error))
            ++running;
        else
            fail(error);
    }
}

void FuzzyCheck::rss_initialization() {
    for (int n = 1; n <= 26; ++n)
        slots_[size_t(n)].reset();
}

// ---- helpers -------------------------------------------------------------------------------

bool FuzzyCheck::addDuplicate(const QStringList& values, db::Bookmark origin, QString* error) {
    db::Recordset& dup = *st_.RsDup;
    dup.addNew();
    for (int i = 0; i < dupColumns_ && i < values.size(); ++i)
        dup.setValue(i, values[i]);
    if (dup.update()) {
        copiedFrom_.push_back(origin);
        return true;
    }
    *error = dup.errorString();
    dup.cancelUpdate();
    return false;
}

void FuzzyCheck::fail(const QString& why) {
    if (!recordFailed_) {
        recordFailed_ = true;
        ++failed_;
    }
    if (firstFailure_.isEmpty())
        firstFailure_ = QStringLiteral("第 %1 条记录：%2").arg(src_->absolutePosition()).arg(why);
}

void FuzzyCheck::marks(int first, int second) {
    mark1_ = first;
    mark2_ = second;
    sink_->marks(first, second);
}

void FuzzyCheck::writeScratchTables() {
    if (!scratchUsed_) return; // no pass emptied them: they keep what they held
    for (const auto& [name, scratch] : {std::pair{QStringLiteral("tempTable1"), &temp1_},
                                        std::pair{QStringLiteral("tempTable2"), &temp2_}}) {
        if (const core::Status s =
                core::runStatement(st_.RsWork, db::sql::deleteAll(name), st_.WorkConn);
            !s.ok()) {
            fail(QStringLiteral("%1 无法清空：%2").arg(name, s.error));
            continue;
        }
        db::Recordset t;
        if (!t.open(db::sql::selectAll(name), st_.WorkConn)) continue;
        const bool own = !st_.WorkConn.inTransaction() && st_.WorkConn.beginTransaction();
        for (const QStringList& row : scratch->rows) {
            t.addNew();
            for (int i = 0; i < row.size() && i < t.fieldCount(); ++i)
                t.setValue(i, row[i].isNull() ? QVariant() : QVariant(row[i]));
            if (!t.update()) {
                t.cancelUpdate();
                break;
            }
        }
        if (own) st_.WorkConn.commit();
    }
}

} // namespace fuzzy
