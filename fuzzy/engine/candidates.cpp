#include "fuzzy/engine/candidates.h"

#include "db/formats/blanks.h"
#include "db/formats/threads.h"

#include <algorithm>
#include <stdexcept>

namespace fuzzy {

namespace {

// Code units mapped so that their order is the code points' order: surrogates (D800-DFFF) go
// above E000-FFFF.
inline char16_t orderUnit(char16_t c) {
    if (c >= 0xD800) return c >= 0xE000 ? char16_t(c - 0x800) : char16_t(c + 0x2000);
    return c;
}

// The code points of a text, one after another (a lone surrogate stands for itself).
template <typename F> void forEachCodePoint(QStringView s, F f) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() &&
            QChar::isLowSurrogate(s[i + 1].unicode())) {
            f(QChar::surrogateToUcs4(c, s[i + 1].unicode()), i, 2);
            ++i;
        } else {
            f(char32_t(c), i, 1);
        }
    }
}

constexpr uint64_t singleMark = 0x200000; // above every code point

} // namespace

QString foldAscii(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    QChar* o = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        o[i] = (c >= u'A' && c <= u'Z') ? QChar(char16_t(c + 32)) : QChar(c);
    }
    return out;
}

int compareCodePoints(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = orderUnit(a[i].unicode()), y = orderUnit(b[i].unicode());
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void CandidateTable::Signature::add(uint64_t fragmentKey) {
    const uint64_t h = fragmentKey * 0x9E3779B97F4A7C15ull;
    const unsigned bit = unsigned(h >> 57); // 0..127
    bits[bit >> 6] |= uint64_t(1) << (bit & 63);
}

uint64_t CandidateTable::fragmentKey(QStringView folded) {
    char32_t cps[2] = {0, 0};
    int n = 0;
    forEachCodePoint(folded, [&](char32_t cp, qsizetype, int) {
        if (n < 2) cps[n] = cp;
        ++n;
    });
    if (n == 1) return (uint64_t(cps[0]) << 32) | singleMark;
    return (uint64_t(cps[0]) << 32) | cps[1];
}

void CandidateTable::build(db::RecordsetPtr rows, int keyColumn, int postcodeColumn) {
    rows_ = std::move(rows);
    rowCount_ = rows_->recordCount();
    keyColumn_ = keyColumn;
    postcodeColumn_ = postcodeColumn;
    keyText_.clear();
    key_.assign(size_t(rowCount_), {0, 0});
    keyNull_.assign(size_t(rowCount_), 0);
    signature_.assign(size_t(rowCount_), Signature{});
    keyed_.clear();
    postings_.clear();
    std::vector<QStringView> stored(static_cast<size_t>(rowCount_));
    for (int r = 0; r < rowCount_; ++r)
        stored[size_t(r)] = rows_->viewAt(r, keyColumn);

    // The rows are indexed in parts side by side, each part with key texts and postings of its
    // own, joined in table order afterwards.
    const int parts = std::clamp(rowCount_ / 32768, 1, formats::workerThreads());
    struct Part {
        std::vector<char16_t> text;
        std::vector<int> keyed;
        std::unordered_map<uint64_t, std::vector<int>> postings;
    };
    std::vector<Part> part(static_cast<size_t>(parts));
    const auto bounds = [&](int p) {
        return std::pair{int(int64_t(rowCount_) * p / parts),
                         int(int64_t(rowCount_) * (p + 1) / parts)};
    };
    formats::onThreads(parts, [&](int p) {
        Part& out = part[size_t(p)];
        std::vector<uint64_t> seen;
        const auto [from, to] = bounds(p);
        for (int r = from; r < to; ++r) {
            if (stored[size_t(r)].isNull()) {
                keyNull_[size_t(r)] = 1;
                continue;
            }
            out.keyed.push_back(r);
            const QStringView v = formats::trimBlanks(stored[size_t(r)]);
            const size_t offset = out.text.size();
            for (QChar c : v) {
                const char16_t u = c.unicode();
                out.text.push_back((u >= u'A' && u <= u'Z') ? char16_t(u + 32) : u);
            }
            key_[size_t(r)] = {uint32_t(offset), int32_t(v.size())}; // within the part for now
            // Every character and every pair of adjacent characters, once per row.
            seen.clear();
            char32_t previous = 0;
            bool first = true;
            forEachCodePoint(QStringView(out.text.data() + offset, v.size()),
                             [&](char32_t cp, qsizetype, int) {
                                 seen.push_back((uint64_t(cp) << 32) | singleMark);
                                 if (!first) seen.push_back((uint64_t(previous) << 32) | cp);
                                 previous = cp;
                                 first = false;
                             });
            std::sort(seen.begin(), seen.end());
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
            for (uint64_t k : seen) {
                out.postings[k].push_back(r);
                signature_[size_t(r)].add(k);
            }
        }
    });
    for (Part& p : part) {
        const size_t base = keyText_.size();
        if (base + p.text.size() > 0xFFFFFFFFu) throw std::length_error("key text too long");
        keyText_.insert(keyText_.end(), p.text.begin(), p.text.end());
        std::vector<char16_t>().swap(p.text);
        for (int r : p.keyed)
            key_[size_t(r)].first += uint32_t(base);
        keyed_.insert(keyed_.end(), p.keyed.begin(), p.keyed.end());
        for (auto& [k, list] : p.postings) {
            std::vector<int>& to = postings_[k];
            if (to.empty())
                to = std::move(list);
            else
                to.insert(to.end(), list.begin(), list.end());
        }
        p.postings.clear();
    }

    // Key order: nulls first, then folded values by code point; equal keys in table order. The
    // parts are sorted side by side, then merged (a stable merge keeps table order).
    std::vector<int> order(static_cast<size_t>(rowCount_));
    for (int r = 0; r < rowCount_; ++r)
        order[size_t(r)] = r;
    const auto before = [this](int a, int b) {
        const bool na = keyIsNull(a), nb = keyIsNull(b);
        if (na || nb) return na && !nb;
        return compareCodePoints(foldedKey(a), foldedKey(b)) < 0;
    };
    formats::onThreads(parts, [&](int p) {
        const auto [from, to] = bounds(p);
        std::stable_sort(order.begin() + from, order.begin() + to, before);
    });
    for (int p = 1; p < parts; ++p)
        std::inplace_merge(order.begin(), order.begin() + bounds(p).first,
                           order.begin() + bounds(p).second, before);
    rank_.assign(size_t(rowCount_), 0);
    for (int i = 0; i < rowCount_; ++i)
        rank_[size_t(order[size_t(i)])] = i;

    postcodeOrder_.clear();
    foldedPostcode_.clear();
    if (postcodeColumn < 0) return;
    foldedPostcode_.resize(size_t(rowCount_));
    for (int r = 0; r < rowCount_; ++r) {
        const QStringView v = rows_->viewAt(r, postcodeColumn);
        if (v.isNull()) continue;
        foldedPostcode_[size_t(r)] = foldAscii(formats::trimBlanks(v));
        if (foldedPostcode_[size_t(r)].isNull()) foldedPostcode_[size_t(r)] = QLatin1String("");
        postcodeOrder_.push_back(r);
    }
    std::stable_sort(postcodeOrder_.begin(), postcodeOrder_.end(), [this](int a, int b) {
        return compareCodePoints(foldedPostcode_[size_t(a)], foldedPostcode_[size_t(b)]) < 0;
    });
}

int CandidateTable::columnCount() const {
    return rows_ ? rows_->fieldCount() : 0;
}

QStringView CandidateTable::foldedKey(int row) const {
    const auto& [offset, length] = key_[size_t(row)];
    return QStringView(keyText_.data() + offset, length);
}

const std::vector<int>* CandidateTable::posting(QStringView foldedFragment) const {
    static const std::vector<int> none;
    const int n = codePointCount(foldedFragment);
    if (n == 0) return &keyed_;
    if (n > 2) return nullptr;
    const auto it = postings_.find(fragmentKey(foldedFragment));
    return it == postings_.end() ? &none : &it->second;
}

std::pair<int, int> CandidateTable::postcodeRange(QStringView foldedPrefix) const {
    const auto cut = [&](int row) {
        const QString& s = foldedPostcode_[size_t(row)];
        return QStringView(s).first(std::min(s.size(), foldedPrefix.size()));
    };
    const auto lo = std::partition_point(postcodeOrder_.begin(), postcodeOrder_.end(), [&](int r) {
        return compareCodePoints(cut(r), foldedPrefix) < 0;
    });
    const auto hi = std::partition_point(lo, postcodeOrder_.end(), [&](int r) {
        return compareCodePoints(cut(r), foldedPrefix) == 0;
    });
    return {int(lo - postcodeOrder_.begin()), int(hi - postcodeOrder_.begin())};
}

// ---- candidate sets ------------------------------------------------------------------------

CandidateSet::CandidateSet(const CandidateTable& table, CandidateQuery query)
    : table_(table), query_(std::move(query)) {
    if (query_.kind == CandidateQuery::KeyFragment) {
        const std::vector<int>* p = table_.posting(query_.folded);
        queryCount_ = p ? int(p->size()) : 0;
    } else {
        const auto [lo, hi] = table_.postcodeRange(query_.folded);
        queryCount_ = hi - lo;
    }
}

int CandidateSet::recordCount() const {
    return filtered_ ? int(rows_.size()) : queryCount_;
}

bool CandidateSet::inQuery(int row) const {
    if (query_.kind == CandidateQuery::KeyFragment)
        return !table_.keyIsNull(row) && table_.foldedKey(row).contains(query_.folded);
    const QStringView v = table_.value(row, table_.postcodeColumn());
    return !v.isNull() && foldAscii(formats::trimBlanks(v)).startsWith(query_.folded);
}

bool CandidateSet::holdsAll(int row, const std::vector<QStringView>& terms) const {
    if (table_.keyIsNull(row)) return false;
    const QStringView key = table_.foldedKey(row);
    for (QStringView t : terms)
        if (!key.contains(t)) return false;
    return true;
}

void CandidateSet::setFilter(const std::vector<QStringView>& foldedTerms) {
    rows_.clear();
    listed_ = false;
    filtered_ = !foldedTerms.empty();
    if (!filtered_) return;
    // The rarest term's rows are walked; each must show every term's bit, then hold every term.
    CandidateTable::Signature wanted;
    const std::vector<int>* rarest = nullptr;
    for (QStringView t : foldedTerms) {
        wanted.add(CandidateTable::fragmentKey(t));
        const std::vector<int>* p = table_.posting(t);
        if (!rarest || p->size() < rarest->size()) rarest = p;
    }
    auto keep = [&](int row) {
        return table_.signature(row).covers(wanted) && holdsAll(row, foldedTerms);
    };
    std::vector<int> found;
    if (query_.kind == CandidateQuery::PostcodePrefix && size_t(queryCount_) < rarest->size()) {
        // The query's own rows are the fewest: walk them.
        const auto [lo, hi] = table_.postcodeRange(query_.folded);
        for (int i = lo; i < hi; ++i) {
            const int row = table_.postcodeOrder()[size_t(i)];
            if (keep(row)) found.push_back(row);
        }
    } else {
        // The rows' signatures lie all over memory: each is asked for 64 rows ahead, so the
        // loop does not wait for them one at a time (most of its time went so).
        const std::vector<int>& list = *rarest;
        constexpr size_t kAhead = 64;
        for (size_t i = 0; i < list.size(); ++i) {
            if (i + kAhead < list.size()) __builtin_prefetch(&table_.signature(list[i + kAhead]));
            const int row = list[i];
            if (keep(row) && inQuery(row)) found.push_back(row);
        }
    }
    std::sort(found.begin(), found.end(),
              [this](int a, int b) { return table_.rank(a) < table_.rank(b); });
    rows_ = std::move(found);
}

const std::vector<int>& CandidateSet::rows() const {
    if (filtered_ || listed_) return rows_;
    if (query_.kind == CandidateQuery::KeyFragment) {
        if (const std::vector<int>* p = table_.posting(query_.folded)) rows_ = *p;
    } else {
        const auto [lo, hi] = table_.postcodeRange(query_.folded);
        rows_.assign(table_.postcodeOrder().begin() + lo, table_.postcodeOrder().begin() + hi);
    }
    std::sort(rows_.begin(), rows_.end(),
              [this](int a, int b) { return table_.rank(a) < table_.rank(b); });
    listed_ = true;
    return rows_;
}

} // namespace fuzzy
