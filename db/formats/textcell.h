#pragma once
// Where the values of a table's rows stand in one buffer of texts: the readers that load whole
// tables and the recordsets that keep them share this form, so the rows pass from one to the
// other unchanged.
#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace formats {

// One value: where it begins in the buffer and its length.
struct TextCell {
    uint32_t offset = 0;
    int32_t length = -1; // -1: null
};

// The cells of many rows in six bytes a row and two a value instead of eight a value: a row's
// texts stand one after another in the buffer, so a row keeps where its texts begin and each
// value where it ends within the row. A row whose texts do not stand so (an edited row until it
// is stored again) is copied to the end of the buffer; a row of more than 32,767 characters keeps
// its cells whole.
class TextRows {
public:
    TextRows() = default;
    explicit TextRows(int columns) : columns_(columns) {}
    int columns() const { return columns_; }
    size_t size() const { return start_.size(); }
    void reserve(size_t rows) {
        start_.reserve(rows);
        ends_.reserve(rows * size_t(columns_));
    }

    TextCell cell(size_t row, int column) const {
        const uint32_t start = start_[row];
        if (start == kLong) return long_.at(row)[size_t(column)];
        const uint16_t* ends = &ends_[row * size_t(columns_)];
        const uint16_t end = ends[column];
        if (end & kNull) return {};
        const uint16_t begin = column > 0 ? ends[column - 1] & ~kNull : 0;
        return {start + begin, int32_t(end - begin)};
    }

    // A new last row of these cells (one per column) of text.
    void append(const TextCell* cells, std::vector<char16_t>& text) {
        start_.push_back(0);
        ends_.resize(ends_.size() + size_t(columns_));
        set(size() - 1, cells, text);
    }
    // The row's cells become these.
    void replace(size_t row, const TextCell* cells, std::vector<char16_t>& text) {
        long_.erase(row);
        set(row, cells, text);
    }
    void removeLast() {
        long_.erase(size() - 1);
        start_.pop_back();
        ends_.resize(ends_.size() - size_t(columns_));
    }
    // The rows of another table whose texts were appended to this one's buffer at base.
    void appendMoved(const TextRows& other, uint32_t base) {
        for (size_t r = 0; r < other.size(); ++r) {
            const uint32_t start = other.start_[r];
            start_.push_back(start == kLong ? kLong : start + base);
            if (start == kLong) {
                std::vector<TextCell> cells = other.long_.at(r);
                for (TextCell& c : cells)
                    if (c.length >= 0) c.offset += base;
                long_[size() - 1] = std::move(cells);
            }
        }
        ends_.insert(ends_.end(), other.ends_.begin(), other.ends_.end());
    }

private:
    static constexpr uint32_t kLong = 0xFFFFFFFFu;
    static constexpr uint16_t kNull = 0x8000;

    void set(size_t row, const TextCell* cells, std::vector<char16_t>& text) {
        // Do the texts stand one after another (where an empty one stands does not matter), and
        // is the row short enough?
        int64_t total = 0;
        bool together = true;
        int64_t start = -1;
        for (int c = 0; c < columns_; ++c) {
            if (cells[c].length <= 0) continue;
            if (start < 0) start = cells[c].offset;
            together = together && cells[c].offset == start + total;
            total += cells[c].length;
        }
        if (total > int64_t(kNull - 1)) {
            start_[row] = kLong;
            long_[row] = std::vector<TextCell>(cells, cells + columns_);
            return;
        }
        if (!together) {
            // Copied together to the end of the buffer (the old texts stay where they were).
            start = int64_t(text.size());
            text.resize(text.size() + size_t(total));
            char16_t* to = text.data() + start;
            for (int c = 0; c < columns_; ++c)
                if (cells[c].length > 0) {
                    std::copy_n(text.data() + cells[c].offset, cells[c].length, to);
                    to += cells[c].length;
                }
        }
        start_[row] = uint32_t(std::max<int64_t>(start, 0));
        uint16_t* ends = &ends_[row * size_t(columns_)];
        uint16_t at = 0;
        for (int c = 0; c < columns_; ++c) {
            if (cells[c].length > 0) at = uint16_t(at + cells[c].length);
            ends[c] = cells[c].length < 0 ? uint16_t(at | kNull) : at;
        }
    }

    int columns_ = 0;
    std::vector<uint32_t> start_;
    std::vector<uint16_t> ends_;
    std::unordered_map<size_t, std::vector<TextCell>> long_;
};

} // namespace formats
