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
            entry.clsid = QByteArray(p + 0x50, 16);
            entry.stateBits = le32(p + 0x60);
            entry.times = QByteArray(p + 0x64, 16);
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

Status Reader::readEntry(const Entry& e, QByteArray* out) const {
    if (e.size == 0) {
        out->clear();
        return Status::Ok;
    }
    return e.size < miniCutoff_ ? readMini(e.start, e.size, out)
                                : readSectors(e.start, e.size, out);
}

Status Reader::read(const QString& name, QByteArray* out) const {
    for (uint32_t id : rootStreams_) {
        const Entry& e = entries_[id];
        if (e.name.compare(name, Qt::CaseInsensitive) == 0) return readEntry(e, out);
    }
    return Status::NoStream;
}

// The siblings below one storage, in directory order; every entry is visited at most once, so a
// directory whose links loop is refused.
Status Reader::readChildren(uint32_t child, std::vector<bool>* seen, Node* parent) const {
    std::vector<uint32_t> ids;
    std::vector<uint32_t> stack{child};
    while (!stack.empty()) {
        const uint32_t id = stack.back();
        stack.pop_back();
        if (id == kNoEntry) continue;
        if (id >= entries_.size() || (*seen)[id] || id == 0) return Status::Corrupt;
        (*seen)[id] = true;
        ids.push_back(id);
        stack.push_back(entries_[id].left);
        stack.push_back(entries_[id].right);
    }
    std::sort(ids.begin(), ids.end());
    for (uint32_t id : ids) {
        const Entry& e = entries_[id];
        if (e.type != StreamEntry && e.type != Storage) continue;
        Node n;
        n.name = e.name;
        n.storage = e.type == Storage;
        n.clsid = e.clsid;
        n.stateBits = e.stateBits;
        n.times = e.times;
        const Status s = n.storage ? readChildren(e.child, seen, &n) : readEntry(e, &n.data);
        if (s != Status::Ok) return s;
        parent->children.push_back(std::move(n));
    }
    return Status::Ok;
}

Status Reader::readTree(Node* root) const {
    *root = Node();
    if (entries_.empty()) return Status::Corrupt;
    root->name = entries_[0].name;
    root->storage = true;
    root->clsid = entries_[0].clsid;
    root->stateBits = entries_[0].stateBits;
    root->times = entries_[0].times;
    std::vector<bool> seen(entries_.size(), false);
    seen[0] = true;
    return readChildren(entries_[0].child, &seen, root);
}

Node* Node::child(const QString& childName) {
    for (Node& n : children)
        if (n.name.compare(childName, Qt::CaseInsensitive) == 0) return &n;
    return nullptr;
}

QByteArray write(const std::vector<Stream>& streams) {
    Node root;
    root.storage = true;
    for (const Stream& s : streams)
        root.children.push_back({s.name, false, {}, 0, {}, s.data, {}});
    return write(root);
}

QByteArray write(const Node& root) {
    constexpr qsizetype kSector = 512;
    constexpr qsizetype kMini = 64;
    constexpr uint32_t kCutoff = 4096;
    const auto sectorsFor = [](qsizetype bytes, qsizetype unit) {
        return uint32_t((bytes + unit - 1) / unit);
    };

    // Directory entries in tree order: the root first, then each storage's children.
    struct Flat {
        const Node* node;
        uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry;
        bool red = false;
        uint32_t start = kEndOfChain;
    };
    std::vector<Flat> flat{{&root}};
    // The names compare shorter first, then by upper-case text.
    const auto key = [](const Node* n) { return n->name.left(31); };
    const auto before = [&](const Node* a, const Node* b) {
        const QString ka = key(a), kb = key(b);
        if (ka.size() != kb.size()) return ka.size() < kb.size();
        return ka.toUpper() < kb.toUpper();
    };
    for (size_t parent = 0; parent < flat.size(); ++parent) {
        const Node* p = flat[parent].node;
        if (!p->storage || p->children.empty()) continue;
        std::vector<const Node*> sorted;
        for (const Node& n : p->children)
            sorted.push_back(&n);
        std::sort(sorted.begin(), sorted.end(), before);
        const uint32_t first = uint32_t(flat.size());
        for (const Node* n : sorted)
            flat.push_back({n});
        // A balanced tree from the sorted siblings: the middle one at the top. Its leaves lie
        // on two levels at most; painting the nodes of the deepest level red when that level is
        // not full keeps the same number of black nodes on every path.
        const size_t count = sorted.size();
        int height = 0;
        while ((size_t(2) << height) - 1 < count)
            ++height;
        const bool full = (size_t(2) << height) - 1 == count;
        const auto build = [&](auto&& self, size_t lo, size_t hi, int depth) -> uint32_t {
            if (lo >= hi) return kNoEntry;
            const size_t mid = lo + (hi - lo) / 2;
            Flat& f = flat[first + mid];
            f.red = !full && depth == height;
            f.left = self(self, lo, mid, depth + 1);
            f.right = self(self, mid + 1, hi, depth + 1);
            return first + uint32_t(mid);
        };
        flat[parent].child = build(build, 0, count, 0);
    }

    // Small streams live in the mini stream, in 64-byte mini sectors.
    QByteArray mini;
    std::vector<uint32_t> miniFat;
    uint32_t bigSectors = 0;
    for (Flat& f : flat) {
        const QByteArray& d = f.node->data;
        if (f.node->storage || d.isEmpty()) continue;
        if (d.size() >= kCutoff) {
            bigSectors += sectorsFor(d.size(), kSector);
            continue;
        }
        const uint32_t first = uint32_t(miniFat.size());
        const uint32_t n = sectorsFor(d.size(), kMini);
        for (uint32_t k = 0; k < n; ++k)
            miniFat.push_back(k + 1 < n ? first + k + 1 : kEndOfChain);
        f.start = first;
        mini.append(d);
        mini.append(QByteArray(n * kMini - d.size(), '\0'));
    }

    const uint32_t dirSectors = sectorsFor(qsizetype(flat.size()) * kEntrySize, kSector);
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
    for (Flat& f : flat)
        if (!f.node->storage && f.node->data.size() >= kCutoff)
            f.start = allocate(sectorsFor(f.node->data.size(), kSector), 0);

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
    for (const Flat& f : flat) {
        const QByteArray& d = f.node->data;
        if (f.node->storage || d.size() < kCutoff) continue;
        for (uint32_t k = 0; k * kSector < d.size(); ++k)
            std::memcpy(out.data() + sectorAt(f.start + k), d.constData() + k * kSector,
                        std::min(kSector, d.size() - k * kSector));
    }

    for (uint32_t i = 0; i < dirSectors * 4; ++i) {
        const qsizetype off = sectorAt(dirStart + i / 4) + (i % 4) * kEntrySize;
        putLe32(out.data() + off + 0x44, kNoEntry);
        putLe32(out.data() + off + 0x48, kNoEntry);
        putLe32(out.data() + off + 0x4C, kNoEntry);
    }
    for (size_t i = 0; i < flat.size(); ++i) {
        const Flat& f = flat[i];
        const Node& n = *f.node;
        const qsizetype off = sectorAt(dirStart + uint32_t(i / 4)) + (i % 4) * kEntrySize;
        const QString name = i == 0 ? QStringLiteral("Root Entry") : key(&n);
        for (qsizetype c = 0; c < name.size(); ++c)
            putLe16(out.data() + off + 2 * c, name[c].unicode());
        putLe16(out.data() + off + 0x40, uint16_t((name.size() + 1) * 2));
        out[off + 0x42] = char(i == 0 ? Root : n.storage ? Storage : StreamEntry);
        out[off + 0x43] = f.red ? 0 : 1;
        putLe32(out.data() + off + 0x44, f.left);
        putLe32(out.data() + off + 0x48, f.right);
        putLe32(out.data() + off + 0x4C, f.child);
        if (n.clsid.size() == 16) std::memcpy(out.data() + off + 0x50, n.clsid.constData(), 16);
        putLe32(out.data() + off + 0x60, n.stateBits);
        if (n.times.size() == 16) std::memcpy(out.data() + off + 0x64, n.times.constData(), 16);
        if (i == 0) {
            putLe32(out.data() + off + 0x74, miniSectors > 0 ? miniStart : kEndOfChain);
            putLe32(out.data() + off + 0x78, uint32_t(mini.size()));
        } else if (!n.storage) {
            putLe32(out.data() + off + 0x74, f.start);
            putLe32(out.data() + off + 0x78, uint32_t(n.data.size()));
        }
    }
    return out;
}

} // namespace formats::cfb
