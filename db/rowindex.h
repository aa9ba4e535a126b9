#pragma once
// Indexes over a recordset's rows: positions of live rows (an order-statistics tree), equality
// look-ups on one or several fields (hash chains), and "contains" look-ups (character bigrams).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace db {

// Live/dead flags of row slotCount with rank and select in O(log n).
class PositionTree {
public:
    void reset(int slotCount); // all live
    void append();             // one more live slot at the end
    void kill(int slot);
    bool live(int slot) const {
        return slot >= 0 && slot < int(live_.size()) && live_[size_t(slot)];
    }
    int count() const { return count_; }
    int slotCount() const { return int(live_.size()); }
    int rank(int slot) const; // live slotCount at or before slot
    int select(int k) const;  // slot of the k-th live slot (1-based); -1 if none
private:
    void add(int slot, int delta);
    std::vector<int> tree_;
    std::vector<uint8_t> live_;
    int count_ = 0;
};

// Rows grouped by the (case-folded) values of a set of fields. Each group is a chain of slotCount
// in ascending order. Rows with a null in one of the fields are left out (null equals nothing).
class EqualityIndex {
public:
    using KeyOf = std::function<bool(int slot, uint64_t* hash)>; // false: not indexed (null)
    explicit EqualityIndex(std::vector<int> columns) : columns_(std::move(columns)) {}
    const std::vector<int>& columns() const { return columns_; }
    void build(int slotCount, const KeyOf& key);
    // A slot joins the index (a new one, or one whose values changed after remove()).
    void add(int slot, const KeyOf& key);
    // A slot leaves the index before its values change; hash is the key of its values as they
    // still are.
    void remove(int slot, uint64_t hash);
    // First slot of the group with this hash, then next(slot) along the chain; -1 at the end.
    int head(uint64_t hash) const;
    int next(int slot) const { return slot < int(next_.size()) ? next_[size_t(slot)] : -1; }

private:
    struct Bucket {
        uint64_t hash;
        int head, tail; // head -2: an empty bucket
    };
    Bucket* findBucket(uint64_t hash) const;
    Bucket& bucketFor(uint64_t hash);
    void grow();
    void link(int slot, uint64_t hash);
    std::vector<int> columns_;
    std::vector<Bucket> buckets_; // open addressing, size a power of two; head -1 = empty
    int used_ = 0;
    size_t home(uint64_t hash) const { return size_t((__uint128_t(hash) * buckets_.size()) >> 64); }
    std::vector<int> next_;
    std::vector<uint8_t> indexed_;
};

// Slots whose text contains a given pair of adjacent characters (case-folded). Built once;
// slotCount added or changed later go to a delta list, so results may hold stale slotCount: callers
// check every candidate against the full pattern anyway.
class BigramIndex {
public:
    using TextOf = std::function<bool(int slot, std::u16string* text)>; // false: null
    explicit BigramIndex(int column) : column_(column) {}
    int column() const { return column_; }
    void build(int slotCount, const TextOf& text);
    void touch(int slot, const TextOf& text); // added or changed slot
    // Candidate slotCount (ascending, unique) for a bigram; cost hint = size.
    std::vector<int> candidates(char16_t a, char16_t b) const;
    size_t estimate(char16_t a, char16_t b) const;

private:
    static uint64_t keyOf(char16_t a, char16_t b) { return (uint64_t(a) << 16) | b; }
    int column_;
    std::vector<uint64_t> keys_; // open addressing table of bigram keys
    std::vector<int> ids_;       // bigram id per table entry, -1 empty
    std::vector<int> offsets_;   // per id: start in postings_ (size ids+1)
    std::vector<int> postings_;
    std::vector<std::pair<uint64_t, int>> delta_; // (bigram, slot)
    int findId(uint64_t key) const;
};

} // namespace db
