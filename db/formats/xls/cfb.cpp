#include "db/formats/xls/cfb.h"

#include "db/formats/bytes.h"

#include <algorithm>
#include <cstring>

namespace formats::cfb {

namespace {

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kMaxRegular = 0xFFFFFFFA;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr int kEntrySize = 128;
constexpr int kHeaderDifat = 109;
const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

enum EntryType { Unused = 0, Storage = 1, StreamEntry = 2, Root = 5 };

} // namespace

Status Reader::open(const QByteArray& data) {
    *this = Reader();
    data_ = data;
    if (data.size() < 8 || std::memcmp(data.constData(), kSignature, 8) != 0)
        return Status::NotCompound;
    if (data.size() < 512) return Status::Truncated;
    const char* h = data.constData();
    sectorShift_ = le16(h + 0x1E);
    miniShift_ = le16(h + 0x20);
    if (sectorShift_ != 9 && sectorShift_ != 12) return Status::Corrupt;
    if (miniShift_ < 2 || miniShift_ >= sectorShift_) return Status::Corrupt;
    const qsizetype sectorSize = qsizetype(1) << sectorShift_;
    if (data.size() < sectorSize) return Status::Truncated;
    const bool version3 = le16(h + 0x1A) == 3 || sectorShift_ == 9;
    const uint32_t fatCount = le32(h + 0x2C);
    const uint32_t firstDir = le32(h + 0x30);
    miniCutoff_ = le32(h + 0x38);
    const uint32_t firstMiniFat = le32(h + 0x3C);
    const uint32_t miniFatCount = le32(h + 0x40);
    uint32_t difat = le32(h + 0x44);
    const uint32_t difatCount = le32(h + 0x48);

    // Sectors that start inside the file; the last one may be cut short.
    const qsizetype sectorsInFile = (data.size() - 1) / sectorSize;
    const uint32_t perSector = uint32_t(sectorSize / 4);
    if (fatCount > uint64_t(sectorsInFile)) return Status::Truncated;

    // The FAT's own sectors: 109 listed in the header, the rest in the DIFAT chain.
    std::vector<uint32_t> fatSectors;
    for (int i = 0; i < kHeaderDifat && fatSectors.size() < fatCount; ++i) {
        const uint32_t id = le32(h + 0x4C + 4 * i);
        if (id <= kMaxRegular) fatSectors.push_back(id);
    }
    std::vector<bool> seenDifat;
    for (uint32_t n = 0; n < difatCount && fatSectors.size() < fatCount; ++n) {
        if (difat > kMaxRegular) break;
        if (difat >= sectorsInFile) return Status::Truncated;
        if (seenDifat.empty()) seenDifat.resize(size_t(sectorsInFile), false);
        if (seenDifat[difat]) return Status::Corrupt;
        seenDifat[difat] = true;
        const qsizetype off = (qsizetype(difat) + 1) * sectorSize;
        if (off + sectorSize > data.size()) return Status::Truncated;
        for (uint32_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i) {
            const uint32_t id = le32(h + off + 4 * i);
            if (id <= kMaxRegular) fatSectors.push_back(id);
        }
        difat = le32(h + off + 4 * (perSector - 1));
    }
    if (fatSectors.empty()) return Status::Corrupt;

    fat_.reserve(fatSectors.size() * perSector);
    for (uint32_t id : fatSectors) {
        const qsizetype off = (qsizetype(id) + 1) * sectorSize;
        if (id >= sectorsInFile || off + sectorSize > data.size()) return Status::Truncated;
        for (uint32_t i = 0; i < perSector; ++i)
            fat_.push_back(le32(h + off + 4 * i));
    }

    // The directory: a chain of sectors of 128-byte entries.
    std::vector<uint32_t> dirChain;
    if (Status s = chain(fat_, firstDir, fat_.size(), &dirChain); s != Status::Ok) return s;
    for (uint32_t id : dirChain) {
        const qsizetype off = (qsizetype(id) + 1) * sectorSize;
        if (off + sectorSize > data.size()) return Status::Truncated;
        for (qsizetype e = 0; e < sectorSize / kEntrySize; ++e) {
            const char* p = h + off + e * kEntrySize;
            Entry entry;
            const int nameBytes = std::min<int>(le16(p + 0x40), 64);
            for (int i = 0; i + 1 < nameBytes; i += 2) {
                const char16_t c = le16(p + i);
                if (c == 0) break;
                entry.name.append(QChar(c));
            }
            entry.type = static_cast<unsigned char>(p[0x42]);
            entry.left = le32(p + 0x44);
            entry.right = le32(p + 0x48);
            entry.child = le32(p + 0x4C);
            entry.start = le32(p + 0x74);
            entry.size = version3 ? le32(p + 0x78) : le64(p + 0x78);
            entries_.push_back(entry);
        }
    }
    if (entries_.empty() || entries_[0].type != Root) return Status::Corrupt;

    // The mini FAT and the mini stream (kept by the root entry).
    if (miniFatCount > 0 && firstMiniFat <= kMaxRegular) {
        std::vector<uint32_t> miniChain;
        if (Status s = chain(fat_, firstMiniFat, fat_.size(), &miniChain); s != Status::Ok)
            return s;
        for (uint32_t id : miniChain) {
            const qsizetype off = (qsizetype(id) + 1) * sectorSize;
            if (off + sectorSize > data.size()) return Status::Truncated;
            for (uint32_t i = 0; i < perSector; ++i)
                miniFat_.push_back(le32(h + off + 4 * i));
        }
    }
    if (entries_[0].size > 0) {
        if (Status s = readSectors(entries_[0].start, entries_[0].size, &miniStream_);
            s != Status::Ok)
            return s;
    }

    // Streams directly below the root: walk the sibling tree of the root's child once.
    std::vector<bool> seen(entries_.size(), false);
    std::vector<uint32_t> stack{entries_[0].child};
    while (!stack.empty()) {
        const uint32_t id = stack.back();
        stack.pop_back();
        if (id == kNoEntry) continue;
        if (id >= entries_.size() || seen[id] || id == 0) return Status::Corrupt;
        seen[id] = true;
        const Entry& e = entries_[id];
        if (e.type == StreamEntry) rootStreams_.push_back(id);
        stack.push_back(e.left);
        stack.push_back(e.right);
    }
    std::sort(rootStreams_.begin(), rootStreams_.end());
    return Status::Ok;
}

Status Reader::chain(const std::vector<uint32_t>& table, uint32_t start, size_t maxLength,
                     std::vector<uint32_t>* out) const {
    out->clear();
    std::vector<bool> seen(table.size(), false);
    uint32_t id = start;
    while (id != kEndOfChain && out->size() < maxLength) {
        if (id >= table.size() || seen[id]) return Status::Corrupt;
        seen[id] = true;
        out->push_back(id);
        id = table[id];
    }
    return Status::Ok;
}

Status Reader::readSectors(uint32_t start, uint64_t size, QByteArray* out) const {
    out->clear();
    if (size > uint64_t(data_.size())) return Status::Corrupt;
    const qsizetype sectorSize = qsizetype(1) << sectorShift_;
    const size_t need = size_t((size + sectorSize - 1) / sectorSize);
    std::vector<uint32_t> ids;
    if (Status s = chain(fat_, start, need, &ids); s != Status::Ok) return s;
    if (ids.size() < need) return Status::Corrupt;
    out->reserve(qsizetype(size));
    qsizetype left = qsizetype(size);
    for (uint32_t id : ids) {
        const qsizetype off = (qsizetype(id) + 1) * sectorSize;
        const qsizetype take = std::min(left, sectorSize);
        if (off >= data_.size() || data_.size() - off < take) return Status::Truncated;
        out->append(data_.constData() + off, take);
        left -= take;
    }
    return Status::Ok;
}

Status Reader::readMini(uint32_t start, uint64_t size, QByteArray* out) const {
    out->clear();
    if (size > uint64_t(miniStream_.size())) return Status::Corrupt;
    const qsizetype miniSize = qsizetype(1) << miniShift_;
    const size_t need = size_t((size + miniSize - 1) / miniSize);
    std::vector<uint32_t> ids;
    if (Status s = chain(miniFat_, start, need, &ids); s != Status::Ok) return s;
    if (ids.size() < need) return Status::Corrupt;
    qsizetype left = qsizetype(size);
    for (uint32_t id : ids) {
        const qsizetype off = qsizetype(id) * miniSize;
        const qsizetype take = std::min(left, miniSize);
        if (off >= miniStream_.size() || miniStream_.size() - off < take) return Status::Corrupt;
        out->append(miniStream_.constData() + off, take);
        left -= take;
    }
    return Status::Ok;
}

QStringList Reader::streamNames() const {
    QStringList names;
    for (uint32_t id : rootStreams_)
        names << entries_[id].name;
    return names;
}

Status Reader::read(const QString& name, QByteArray* out) const {
    for (uint32_t id : rootStreams_) {
        const Entry& e = entries_[id];
        if (e.name.compare(name, Qt::CaseInsensitive) != 0) continue;
        if (e.size == 0) {
            out->clear();
            return Status::Ok;
        }
        return e.size < miniCutoff_ ? readMini(e.start, e.size, out)
                                    : readSectors(e.start, e.size, out);
    }
    return Status::NoStream;
}

QByteArray write(const std::vector<Stream>& streams) {
    constexpr qsizetype kSector = 512;
    constexpr qsizetype kMini = 64;
    constexpr uint32_t kCutoff = 4096;
    const auto sectorsFor = [](qsizetype bytes, qsizetype unit) {
        return uint32_t((bytes + unit - 1) / unit);
    };

    // Small streams live in the mini stream, in 64-byte mini sectors.
    QByteArray mini;
    std::vector<uint32_t> miniFat;
    std::vector<uint32_t> starts(streams.size(), kEndOfChain);
    uint32_t bigSectors = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
        const QByteArray& d = streams[i].data;
        if (d.isEmpty()) continue;
        if (d.size() >= kCutoff) {
            bigSectors += sectorsFor(d.size(), kSector);
            continue;
        }
        const uint32_t first = uint32_t(miniFat.size());
        const uint32_t n = sectorsFor(d.size(), kMini);
        for (uint32_t k = 0; k < n; ++k)
            miniFat.push_back(k + 1 < n ? first + k + 1 : kEndOfChain);
        starts[i] = first;
        mini.append(d);
        mini.append(QByteArray(n * kMini - d.size(), '\0'));
    }

    const uint32_t dirSectors = sectorsFor((1 + qsizetype(streams.size())) * kEntrySize, kSector);
    const uint32_t miniFatSectors = sectorsFor(qsizetype(miniFat.size()) * 4, kSector);
    const uint32_t miniSectors = sectorsFor(mini.size(), kSector);
    const uint32_t content = dirSectors + miniFatSectors + miniSectors + bigSectors;
    uint32_t fatSectors = 1, difatSectors = 0;
    for (;; ++fatSectors) {
        difatSectors = fatSectors > kHeaderDifat ? (fatSectors - kHeaderDifat + 126) / 127 : 0;
        if (uint64_t(fatSectors) * 128 >= uint64_t(content) + fatSectors + difatSectors) break;
    }

    std::vector<uint32_t> fat(size_t(fatSectors) * 128, kFree);
    uint32_t next = 0;
    const auto allocate = [&](uint32_t count, uint32_t mark) {
        const uint32_t first = next;
        for (uint32_t k = 0; k < count; ++k, ++next)
            fat[next] = mark != 0 ? mark : (k + 1 < count ? next + 1 : kEndOfChain);
        return count > 0 ? first : kEndOfChain;
    };
    const uint32_t fatStart = allocate(fatSectors, kFatSector);
    const uint32_t difatStart = allocate(difatSectors, kDifatSector);
    const uint32_t dirStart = allocate(dirSectors, 0);
    const uint32_t miniFatStart = allocate(miniFatSectors, 0);
    const uint32_t miniStart = allocate(miniSectors, 0);
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].data.size() >= kCutoff)
            starts[i] = allocate(sectorsFor(streams[i].data.size(), kSector), 0);

    QByteArray out(kSector * (1 + qsizetype(next)), '\0');
    const auto sectorAt = [&](uint32_t id) { return (qsizetype(id) + 1) * kSector; };

    std::memcpy(out.data(), kSignature, 8);
    putLe16(out.data() + 0x18, 0x003E);
    putLe16(out.data() + 0x1A, 3);
    putLe16(out.data() + 0x1C, 0xFFFE);
    putLe16(out.data() + 0x1E, 9);
    putLe16(out.data() + 0x20, 6);
    putLe32(out.data() + 0x2C, fatSectors);
    putLe32(out.data() + 0x30, dirStart);
    putLe32(out.data() + 0x38, kCutoff);
    putLe32(out.data() + 0x3C, miniFatStart);
    putLe32(out.data() + 0x40, miniFatSectors);
    putLe32(out.data() + 0x44, difatStart);
    putLe32(out.data() + 0x48, difatSectors);
    for (uint32_t i = 0; i < kHeaderDifat; ++i)
        putLe32(out.data() + 0x4C + 4 * i, i < fatSectors ? fatStart + i : kFree);
    for (uint32_t d = 0; d < difatSectors; ++d) {
        const qsizetype off = sectorAt(difatStart + d);
        for (uint32_t i = 0; i < 127; ++i) {
            const uint32_t n = kHeaderDifat + d * 127 + i;
            putLe32(out.data() + off + 4 * i, n < fatSectors ? fatStart + n : kFree);
        }
        putLe32(out.data() + off + 4 * 127,
                d + 1 < difatSectors ? difatStart + d + 1 : kEndOfChain);
    }
    for (size_t i = 0; i < fat.size(); ++i)
        putLe32(out.data() + sectorAt(fatStart + uint32_t(i / 128)) + 4 * qsizetype(i % 128),
                fat[i]);
    for (size_t i = 0; i < miniFat.size(); ++i)
        putLe32(out.data() + sectorAt(miniFatStart + uint32_t(i / 128)) + 4 * qsizetype(i % 128),
                miniFat[i]);
    for (size_t k = size_t(miniFat.size()); k < size_t(miniFatSectors) * 128; ++k)
        putLe32(out.data() + sectorAt(miniFatStart + uint32_t(k / 128)) + 4 * qsizetype(k % 128),
                kFree);
    for (uint32_t k = 0; k < miniSectors; ++k) {
        const qsizetype n = std::min(kSector, mini.size() - k * kSector);
        std::memcpy(out.data() + sectorAt(miniStart + k), mini.constData() + k * kSector, n);
    }
    for (size_t i = 0; i < streams.size(); ++i) {
        const QByteArray& d = streams[i].data;
        if (d.size() < kCutoff) continue;
        for (uint32_t k = 0; k * kSector < d.size(); ++k)
            std::memcpy(out.data() + sectorAt(starts[i] + k), d.constData() + k * kSector,
                        std::min(kSector, d.size() - k * kSector));
    }

    // Directory: the root, then the streams as a chain of right siblings in the order the
    // format sorts names (shorter first, then by upper-case text), which is a valid search tree.
    std::vector<size_t> order(streams.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto key = [&](size_t i) { return streams[i].name.left(31); };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const QString ka = key(a), kb = key(b);
        if (ka.size() != kb.size()) return ka.size() < kb.size();
        return ka.toUpper() < kb.toUpper();
    });
    const auto writeEntry = [&](uint32_t index, const QString& name, int type, uint32_t right,
                                uint32_t child, uint32_t start, uint32_t size) {
        const qsizetype off = sectorAt(dirStart + index / 4) + (index % 4) * kEntrySize;
        for (qsizetype c = 0; c < name.size(); ++c)
            putLe16(out.data() + off + 2 * c, name[c].unicode());
        putLe16(out.data() + off + 0x40, uint16_t((name.size() + 1) * 2));
        out[off + 0x42] = char(type);
        out[off + 0x43] = 1; // black
        putLe32(out.data() + off + 0x44, kNoEntry);
        putLe32(out.data() + off + 0x48, right);
        putLe32(out.data() + off + 0x4C, child);
        putLe32(out.data() + off + 0x74, start);
        putLe32(out.data() + off + 0x78, size);
    };
    for (uint32_t i = 0; i < dirSectors * 4; ++i) {
        const qsizetype off = sectorAt(dirStart + i / 4) + (i % 4) * kEntrySize;
        putLe32(out.data() + off + 0x44, kNoEntry);
        putLe32(out.data() + off + 0x48, kNoEntry);
        putLe32(out.data() + off + 0x4C, kNoEntry);
    }
    writeEntry(0, QStringLiteral("Root Entry"), Root, kNoEntry,
               order.empty() ? kNoEntry : uint32_t(order[0] + 1), miniStart, uint32_t(mini.size()));
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t i = order[k];
        writeEntry(uint32_t(i + 1), key(i), StreamEntry,
                   k + 1 < order.size() ? uint32_t(order[k + 1] + 1) : kNoEntry, kNoEntry,
                   starts[i], uint32_t(streams[i].data.size()));
    }
    return out;
}

} // namespace formats::cfb
