#include "db/rowindex.h"

#include "db/criteria.h"

#include <algorithm>

namespace db {

// ---- PositionTree (Fenwick tree over live flags) -----------------------------------------

void PositionTree::reset(int slotCount) {
    live_.assign(size_t(slotCount), 1);
    tree_.assign(size_t(slotCount) + 1, 0);
    for (int i = 1; i <= slotCount; ++i) {
        tree_[size_t(i)] += 1;
        const int parent = i + (i & -i);
        if (parent <= slotCount) tree_[size_t(parent)] += tree_[size_t(i)];
    }
    count_ = slotCount;
}

void PositionTree::add(int slot, int delta) {
    for (int i = slot + 1; i < int(tree_.size()); i += i & -i)
        tree_[size_t(i)] += delta;
}

void PositionTree::append() {
    // Rebuilding on growth keeps the tree exact; doubling capacity keeps appends cheap.
    const int n = int(live_.size());
    live_.push_back(1);
    ++count_;
    if (int(tree_.size()) < n + 2) {
        std::vector<uint8_t> flags = live_;
        const int cap = std::max(16, n * 2);
        tree_.assign(size_t(cap) + 1, 0);
        for (int i = 1; i <= cap; ++i) {
            if (i <= int(flags.size())) tree_[size_t(i)] += flags[size_t(i - 1)];
            const int parent = i + (i & -i);
            if (parent <= cap) tree_[size_t(parent)] += tree_[size_t(i)];
        }
    } else {
        add(n, 1);
    }
}

void PositionTree::kill(int slot) {
    if (!live(slot)) return;
    live_[size_t(slot)] = 0;
    --count_;
    add(slot, -1);
}

int PositionTree::rank(int slot) const {
    if (count_ == int(live_.size())) return std::clamp(slot + 1, 0, count_); // none killed
    int sum = 0;
    for (int i = std::min(slot + 1, int(tree_.size()) - 1); i > 0; i -= i & -i)
        sum += tree_[size_t(i)];
    return sum;
}

int PositionTree::select(int k) const {
    if (k < 1 || k > count_) return -1;
    if (count_ == int(live_.size())) return k - 1; // none killed: the k-th slot
    int pos = 0;
    int step = 1;
    while (step * 2 < int(tree_.size()))
        step *= 2;
    for (; step > 0; step /= 2) {
        const int next = pos + step;
        if (next < int(tree_.size()) && tree_[size_t(next)] < k) {
            pos = next;
            k -= tree_[size_t(next)];
        }
    }
    return pos; // slot index = (pos + 1) - 1
}

// ---- EqualityIndex -----------------------------------------------------------------------

// Open addressing over a table of any size (a bucket's home is the hash scaled to the size),
// kept at most three-quarters full.
EqualityIndex::Bucket* EqualityIndex::findBucket(uint64_t hash) const {
    if (buckets_.empty()) return nullptr;
    const size_t size = buckets_.size();
    for (size_t i = home(hash);; i = i + 1 == size ? 0 : i + 1) {
        const Bucket& b = buckets_[i];
        if (b.head == -2) return nullptr;
        if (b.hash == hash) return const_cast<Bucket*>(&b);
    }
}

void EqualityIndex::grow() {
    std::vector<Bucket> old;
    old.swap(buckets_);
    buckets_.assign(std::max<size_t>(64, old.size() * 2), Bucket{0, -2, -1});
    used_ = 0;
    const size_t size = buckets_.size();
    for (const Bucket& b : old) {
        if (b.head == -2) continue;
        size_t i = home(b.hash);
        while (buckets_[i].head != -2)
            i = i + 1 == size ? 0 : i + 1;
        buckets_[i] = b;
        ++used_;
    }
}

EqualityIndex::Bucket& EqualityIndex::bucketFor(uint64_t hash) {
    if (Bucket* b = findBucket(hash)) return *b;
    if (size_t(used_ + 1) * 4 > buckets_.size() * 3) grow();
    const size_t size = buckets_.size();
    size_t i = home(hash);
    while (buckets_[i].head != -2)
        i = i + 1 == size ? 0 : i + 1;
    buckets_[i] = Bucket{hash, -1, -1};
    ++used_;
    return buckets_[i];
}

void EqualityIndex::link(int slot, uint64_t hash) {
    Bucket& b = bucketFor(hash);
    next_[size_t(slot)] = -1;
    indexed_[size_t(slot)] = 1;
    if (b.head < 0) {
        b.head = b.tail = slot;
        return;
    }
    if (slot > b.tail) {
        next_[size_t(b.tail)] = slot;
        b.tail = slot;
        return;
    }
    // Keep the chain in ascending slot order.
    if (slot < b.head) {
        next_[size_t(slot)] = b.head;
        b.head = slot;
        return;
    }
    int p = b.head;
    while (next_[size_t(p)] >= 0 && next_[size_t(p)] < slot)
        p = next_[size_t(p)];
    next_[size_t(slot)] = next_[size_t(p)];
    next_[size_t(p)] = slot;
}

void EqualityIndex::remove(int slot, uint64_t hash) {
    if (slot >= int(indexed_.size()) || !indexed_[size_t(slot)]) return;
    indexed_[size_t(slot)] = 0;
    Bucket* b = findBucket(hash);
    if (!b) return;
    if (b->head == slot) {
        b->head = next_[size_t(slot)];
        if (b->tail == slot) b->tail = -1;
        return;
    }
    int p = b->head;
    while (p >= 0 && next_[size_t(p)] != slot)
        p = next_[size_t(p)];
    if (p < 0) return;
    next_[size_t(p)] = next_[size_t(slot)];
    if (b->tail == slot) b->tail = p;
}

void EqualityIndex::build(int slotCount, const KeyOf& key) {
    buckets_.assign(std::max<size_t>(64, size_t(slotCount) * 4 / 3 + 1), Bucket{0, -2, -1});
    used_ = 0;
    next_.assign(size_t(slotCount), -1);
    indexed_.assign(size_t(slotCount), 0);
    for (int s = 0; s < slotCount; ++s) {
        uint64_t h;
        if (key(s, &h)) link(s, h);
    }
}

void EqualityIndex::add(int slot, const KeyOf& key) {
    if (int(next_.size()) <= slot) {
        next_.resize(size_t(slot) + 1, -1);
        indexed_.resize(size_t(slot) + 1, 0);
    }
    uint64_t h;
    if (key(slot, &h)) link(slot, h);
}

int EqualityIndex::head(uint64_t hash) const {
    const Bucket* b = findBucket(hash);
    return b ? b->head : -1;
}

// ---- BigramIndex -------------------------------------------------------------------------

int BigramIndex::findId(uint64_t key) const {
    if (keys_.empty()) return -1;
    const size_t mask = keys_.size() - 1;
    for (size_t i = size_t(key * 0x9E3779B97F4A7C15ull >> 20) & mask;; i = (i + 1) & mask) {
        if (ids_[i] < 0) return -1;
        if (keys_[i] == key) return ids_[i];
    }
}

void BigramIndex::build(int slotCount, const TextOf& textOf) {
    // Pass 1: distinct bigrams and their counts; pass 2: postings in slot order.
    std::vector<uint64_t> pairs;
    std::vector<int> pairSlot;
    std::u16string text;
    for (int s = 0; s < slotCount; ++s) {
        if (!textOf(s, &text) || text.size() < 2) continue;
        const size_t start = pairs.size();
        for (size_t i = 0; i + 1 < text.size(); ++i)
            pairs.push_back(keyOf(foldChar(text[i]), foldChar(text[i + 1])));
        std::sort(pairs.begin() + long(start), pairs.end());
        pairs.erase(std::unique(pairs.begin() + long(start), pairs.end()), pairs.end());
        pairSlot.resize(pairs.size(), s);
    }
    size_t cap = 64;
    while (cap < pairs.size() / 2 + 64)
        cap *= 2;
    keys_.assign(cap, 0);
    ids_.assign(cap, -1);
    std::vector<int> counts;
    std::vector<int> pairId(pairs.size());
    const size_t mask = cap - 1;
    // Table sized for the worst case (every pair distinct) is too big; grow as needed instead.
    auto insert = [&](uint64_t key) -> int {
        for (;;) {
            const size_t m = keys_.size() - 1;
            size_t i = size_t(key * 0x9E3779B97F4A7C15ull >> 20) & m;
            while (ids_[i] >= 0 && keys_[i] != key)
                i = (i + 1) & m;
            if (ids_[i] >= 0) return ids_[i];
            if ((counts.size() + 1) * 2 > keys_.size()) {
                std::vector<uint64_t> oldKeys;
                std::vector<int> oldIds;
                oldKeys.swap(keys_);
                oldIds.swap(ids_);
                keys_.assign(oldKeys.size() * 2, 0);
                ids_.assign(oldKeys.size() * 2, -1);
                const size_t nm = keys_.size() - 1;
                for (size_t k = 0; k < oldKeys.size(); ++k) {
                    if (oldIds[k] < 0) continue;
                    size_t j = size_t(oldKeys[k] * 0x9E3779B97F4A7C15ull >> 20) & nm;
                    while (ids_[j] >= 0)
                        j = (j + 1) & nm;
                    keys_[j] = oldKeys[k];
                    ids_[j] = oldIds[k];
                }
                continue;
            }
            keys_[i] = key;
            ids_[i] = int(counts.size());
            counts.push_back(0);
            return ids_[i];
        }
    };
    (void)mask;
    for (size_t i = 0; i < pairs.size(); ++i) {
        pairId[i] = insert(pairs[i]);
        ++counts[size_t(pairId[i])];
    }
    offsets_.assign(counts.size() + 1, 0);
    for (size_t i = 0; i < counts.size(); ++i)
        offsets_[i + 1] = offsets_[i] + counts[i];
    postings_.assign(pairs.size(), 0);
    std::vector<int> fill(offsets_.begin(), offsets_.end() - 1);
    for (size_t i = 0; i < pairs.size(); ++i)
        postings_[size_t(fill[size_t(pairId[i])]++)] = pairSlot[i];
    delta_.clear();
}

void BigramIndex::touch(int slot, const TextOf& textOf) {
    std::u16string text;
    if (!textOf(slot, &text)) return;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        delta_.push_back({keyOf(foldChar(text[i]), foldChar(text[i + 1])), slot});
}

size_t BigramIndex::estimate(char16_t a, char16_t b) const {
    const int id = findId(keyOf(foldChar(a), foldChar(b)));
    size_t n = id < 0 ? 0 : size_t(offsets_[size_t(id) + 1] - offsets_[size_t(id)]);
    return n + delta_.size() / 8; // the delta is scanned too
}

std::vector<int> BigramIndex::candidates(char16_t a, char16_t b) const {
    const uint64_t key = keyOf(foldChar(a), foldChar(b));
    std::vector<int> out;
    const int id = findId(key);
    if (id >= 0)
        out.assign(postings_.begin() + offsets_[size_t(id)],
                   postings_.begin() + offsets_[size_t(id) + 1]);
    bool extra = false;
    for (const auto& [k, s] : delta_)
        if (k == key) {
            out.push_back(s);
            extra = true;
        }
    if (extra) {
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    return out;
}

} // namespace db
