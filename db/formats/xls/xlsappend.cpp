#include "db/formats/xls/xlsappend.h"

#include "db/formats/xls/biffwrite.h"
#include "db/formats/xls/cfb.h"

#include <QDir>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace formats::xls {

using namespace biff;

namespace {

// One record of the workbook globals as it stands in the old stream.
struct OldRecord {
    uint16_t type;
    qsizetype pos;  // of the record header
    qsizetype size; // of the body
};

// Where a shared string starts: its part of the table (the SST record, then each CONTINUE) and
// the offset in that part's body.
struct StringStart {
    uint32_t part;
    uint32_t offset;
};

struct NewSheet {
    QString name;
    QByteArray cells;
    uint32_t rows = 0;
    uint16_t columns = 0;
    std::vector<int> widths; // per column, in characters (a CJK character counts two)
};

QString refusal(const QString& path, const QString& why) {
    return QStringLiteral("不能向Excel文件“%1”添加工作表：%2文件未作改动。")
        .arg(QDir::toNativeSeparators(path), why);
}

QString readRefusal(ReadError e, const QString& path) {
    switch (e) {
    case ReadError::NewFormat:
        return refusal(path, QStringLiteral("它的内容是Excel 2007及以上版本的工作簿（.xlsx），"
                                            "与文件名的.xls不符。"));
    case ReadError::OldFormat:
        return refusal(path, QStringLiteral("它是Excel 95或更早版本的工作簿，请先在Excel中"
                                            "另存为“Excel 97-2003工作簿（.xls）”。"));
    case ReadError::Encrypted:
        return refusal(path, QStringLiteral("它已加密（设有打开密码）。"));
    case ReadError::Truncated:
        return refusal(path, QStringLiteral("它不完整（可能已被截断）。"));
    case ReadError::Corrupt:
        return refusal(path, QStringLiteral("它已损坏。"));
    case ReadError::Unreadable:
        return refusal(path, QStringLiteral("无法读取它。"));
    case ReadError::NotWorkbook:
    case ReadError::NoWorkbookStream:
    case ReadError::None:
        break;
    }
    return refusal(path, QStringLiteral("它不是Excel 97-2003工作簿（.xls）。"));
}

// Display width of a text in characters, a wide (CJK) character counting two.
int textWidth(const QString& s) {
    int w = 0;
    for (QChar c : s)
        w += c.unicode() >= 0x1100 ? 2 : 1;
    return w;
}

// Reads bytes across the parts of a record and its CONTINUE records.
class PartReader {
public:
    explicit PartReader(const std::vector<QByteArray>& parts) : parts_(parts) {}
    uint32_t part = 0;
    qsizetype offset = 0;

    bool atEnd() const { return part >= parts_.size() || (offset == size() && isLast()); }
    bool isLast() const { return part + 1 >= parts_.size(); }
    qsizetype size() const { return parts_[part].size(); }
    // Moves to the next part when this one is used up; false when there is none.
    bool advance() {
        while (offset >= size()) {
            if (isLast()) return false;
            ++part;
            offset = 0;
        }
        return true;
    }
    bool byte(uint8_t* v) {
        if (!advance()) return false;
        *v = uint8_t(parts_[part][offset++]);
        return true;
    }
    bool word(uint16_t* v) {
        uint8_t a, b;
        if (!byte(&a) || !byte(&b)) return false;
        *v = uint16_t(a | (b << 8));
        return true;
    }
    bool skip(uint64_t n) {
        while (n > 0) {
            if (!advance()) return false;
            const uint64_t here = std::min<uint64_t>(n, uint64_t(size() - offset));
            offset += qsizetype(here);
            n -= here;
        }
        return true;
    }
    // Characters of a string: where they run into the next part, it starts with an option
    // byte that says whether they go on as one or two bytes each.
    bool chars(uint32_t count, bool wide) {
        while (count > 0) {
            if (offset >= size()) {
                if (isLast()) return false;
                ++part;
                offset = 0;
                uint8_t flags;
                if (!byte(&flags)) return false;
                wide = flags & 1;
            }
            const qsizetype avail = size() - offset;
            const qsizetype n = std::min<qsizetype>(count, wide ? avail / 2 : avail);
            if (n == 0) return false; // half a character before the part ends
            offset += wide ? 2 * n : n;
            count -= uint32_t(n);
        }
        return true;
    }

private:
    const std::vector<QByteArray>& parts_;
};

} // namespace

struct SheetAppender::Impl {
    cfb::Node root;
    QByteArray stream; // the old Workbook stream
    std::vector<OldRecord> globals;
    qsizetype globalsEnd = 0;
    qsizetype tailEnd = 0;                // end of the old sheets' substreams
    std::vector<qsizetype> indexPointers; // stream positions of INDEX stream pointers
    QStringList names;
    int oldSheets = 0;
    int lastBound = -1, sst = -1, extSst = -1, selfSupBook = -1, tabId = -1, lastXf = -1;
    int xfCount = 0, firstPlainXf = -1;
    uint16_t cellXf = kXfGeneral;
    bool addXf = false;
    bool fresh = false;

    // The shared-string table: the old parts (the last one cut after its last string), then
    // the new strings, split as BIFF8 splits them.
    std::vector<QByteArray> sstParts;
    std::vector<StringStart> starts;
    uint32_t oldTotal = 0;
    QHash<QString, uint32_t> newStrings;
    uint32_t newRefs = 0;

    std::vector<NewSheet> sheets;

    bool parseGlobals(const QString& path, QString* error);
    bool readSst(const QString& path, QString* error);
    bool walkSubstream(qsizetype at, qsizetype* end);
    uint32_t addString(const QString& s);
    QByteArray sheetStream(const NewSheet& s, bool selected) const;
};

SheetAppender::SheetAppender() : d(std::make_unique<Impl>()) {}
SheetAppender::~SheetAppender() = default;

bool SheetAppender::Impl::walkSubstream(qsizetype at, qsizetype* end) {
    int depth = 0;
    qsizetype pos = at;
    while (pos + 4 <= stream.size()) {
        const uint16_t type = le16(stream.constData() + pos);
        const qsizetype size = le16(stream.constData() + pos + 2);
        if (pos + 4 + size > stream.size()) return false;
        if (type == kBof) ++depth;
        if (type == kIndex && depth == 1)
            for (qsizetype k = 12; k + 4 <= size; k += 4)
                indexPointers.push_back(pos + 4 + k);
        pos += 4 + size;
        if (type == kEof && --depth == 0) break;
    }
    *end = pos;
    return true;
}

bool SheetAppender::Impl::parseGlobals(const QString& path, QString* error) {
    const auto corrupt = [&] {
        *error = readRefusal(ReadError::Corrupt, path);
        return false;
    };
    qsizetype pos = 0;
    std::vector<uint32_t> offsets;
    for (;;) {
        if (pos + 4 > stream.size()) return corrupt();
        const OldRecord r{le16(stream.constData() + pos), pos, le16(stream.constData() + pos + 2)};
        if (pos + 4 + r.size > stream.size()) return corrupt();
        const char* b = stream.constData() + pos + 4;
        const int index = int(globals.size());
        globals.push_back(r);
        pos += 4 + r.size;
        switch (r.type) {
        case kBoundSheet: {
            if (r.size < 8) return corrupt();
            const int cch = uint8_t(b[6]);
            const bool wide = b[7] & 1;
            if (8 + qsizetype(cch) * (wide ? 2 : 1) > r.size) return corrupt();
            QString name;
            for (int i = 0; i < cch; ++i)
                name += wide ? QChar(le16(b + 8 + 2 * i)) : QChar(uint8_t(b[8 + i]));
            names << name;
            offsets.push_back(le32(b));
            lastBound = index;
            break;
        }
        case kSst:
            if (sst < 0) sst = index;
            break;
        case kExtSst:
            extSst = index;
            break;
        case kSupBook:
            if (r.size == 4 && le16(b + 2) == 0x0401) selfSupBook = index;
            break;
        case kTabId:
            tabId = index;
            break;
        case kXf: {
            if (r.size < 6) return corrupt();
            const bool style = le16(b + 4) & 0x0004;
            const bool general = le16(b + 2) == 0;
            if (!style && general && (firstPlainXf < 0 || xfCount == kXfGeneral))
                firstPlainXf = xfCount; // XF 15, Excel's own, above any other
            lastXf = index;
            ++xfCount;
            break;
        }
        case kProtect:
            if (r.size >= 2 && le16(b) != 0) {
                *error = refusal(path, QStringLiteral("它的工作簿结构受保护，请先在Excel中撤销"
                                                      "对工作簿的保护。"));
                return false;
            }
            break;
        default:
            break;
        }
        if (r.type == kEof) break;
    }
    globalsEnd = pos;
    oldSheets = int(names.size());
    // Cells go in a plain cell format (General); a workbook without one gets one more.
    addXf = firstPlainXf < 0;
    cellXf = uint16_t(addXf ? xfCount : firstPlainXf);
    tailEnd = globalsEnd;
    for (uint32_t at : offsets) {
        if (at < globalsEnd || qsizetype(at) + 4 > stream.size() ||
            le16(stream.constData() + at) != kBof)
            return corrupt();
        qsizetype end = 0;
        if (!walkSubstream(at, &end)) return corrupt();
        tailEnd = std::max(tailEnd, end);
    }
    // Zeros after the last sheet are padding; anything else stays where it was.
    const bool padding = std::all_of(stream.constBegin() + tailEnd, stream.constEnd(),
                                     [](char c) { return c == 0; });
    if (!padding) tailEnd = stream.size();
    return true;
}

bool SheetAppender::Impl::readSst(const QString& path, QString* error) {
    if (sst < 0) {
        sstParts.push_back(QByteArray(8, '\0')); // the counts, set when the file is finished
        return true;
    }
    for (size_t i = size_t(sst); i < globals.size(); ++i) {
        const OldRecord& r = globals[i];
        if (i > size_t(sst) && r.type != kContinue) break;
        sstParts.push_back(stream.mid(r.pos + 4, r.size));
    }
    if (sstParts[0].size() < 8) {
        *error = readRefusal(ReadError::Corrupt, path);
        return false;
    }
    oldTotal = le32(sstParts[0].constData());
    const uint32_t unique = le32(sstParts[0].constData() + 4);
    PartReader rd(sstParts);
    rd.offset = 8;
    for (uint32_t i = 0; i < unique; ++i) {
        if (rd.offset >= rd.size()) {
            if (rd.isLast()) break; // fewer strings than counted: the ones there count
            ++rd.part;
            rd.offset = 0;
        }
        const StringStart at{rd.part, uint32_t(rd.offset)};
        uint16_t cch = 0, runs = 0;
        uint8_t flags = 0;
        bool ok = rd.word(&cch) && rd.byte(&flags);
        if (ok && (flags & 0x08)) ok = rd.word(&runs);
        uint16_t extLo = 0, extHi = 0;
        if (ok && (flags & 0x04)) ok = rd.word(&extLo) && rd.word(&extHi);
        ok = ok && rd.chars(cch, flags & 1) &&
             rd.skip(uint64_t(runs) * 4 + (uint64_t(extHi) << 16 | extLo));
        if (!ok) {
            *error = readRefusal(ReadError::Corrupt, path);
            return false;
        }
        starts.push_back(at);
    }
    // Whatever follows the last string is unreachable; new strings go right after it.
    sstParts.resize(rd.part + 1);
    sstParts.back().truncate(rd.offset);
    return true;
}

bool SheetAppender::openExisting(const QByteArray& file, const QString& path, QString* error) {
    d = std::make_unique<Impl>();
    Workbook check;
    if (const ReadError e = readWorkbook(file, &check); e != ReadError::None) {
        *error = readRefusal(e, path);
        return false;
    }
    if (check.biffVersion != 8) {
        *error = readRefusal(ReadError::OldFormat, path);
        return false;
    }
    cfb::Reader reader;
    if (reader.open(file) != cfb::Status::Ok || reader.readTree(&d->root) != cfb::Status::Ok) {
        *error = readRefusal(ReadError::Corrupt, path);
        return false;
    }
    const cfb::Node* wb = d->root.child(QStringLiteral("Workbook"));
    if (!wb || wb->storage) {
        *error = readRefusal(ReadError::NoWorkbookStream, path);
        return false;
    }
    d->stream = wb->data;
    return d->parseGlobals(path, error) && d->readSst(path, error);
}

void SheetAppender::openNew() {
    d = std::make_unique<Impl>();
    d->fresh = true;
    d->root.storage = true;
    // Excel's class id for a workbook.
    d->root.clsid = QByteArray::fromHex("2008020000000000c000000000000046");
    QByteArray g = newGlobalsHead();
    record(g, kEof, {});
    d->stream = g;
    QString ignored;
    d->parseGlobals(QString(), &ignored);
    d->readSst(QString(), &ignored);
    d->root.children.push_back({QStringLiteral("Workbook"), false, {}, 0, {}, {}, {}});
}

QStringList SheetAppender::sheetNames() const {
    return d->names;
}

bool SheetAppender::beginSheet(const QString& name, QString* error) {
    if (const QString problem = sheetNameProblem(name); !problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (d->names.contains(name, Qt::CaseInsensitive)) {
        *error = QStringLiteral("工作簿中已有名为“%1”的工作表（Excel不区分大小写），"
                                "请换一个名称。")
                     .arg(name);
        return false;
    }
    d->names << name;
    d->sheets.push_back({name, {}, 0, 0, {}});
    return true;
}

int SheetAppender::rowCount() const {
    return d->sheets.empty() ? 0 : int(d->sheets.back().rows);
}

uint32_t SheetAppender::Impl::addString(const QString& s) {
    const auto found = newStrings.constFind(s);
    if (found != newStrings.constEnd()) return *found;
    const uint32_t index = uint32_t(starts.size());
    newStrings.insert(s, index);
    const bool wide = needsWide(s);
    const qsizetype width = wide ? 2 : 1;
    if (sstParts.back().size() + 3 + width > kMaxBody) sstParts.emplace_back();
    starts.push_back({uint32_t(sstParts.size() - 1), uint32_t(sstParts.back().size())});
    Bytes head;
    head.u16(uint16_t(s.size())).u8(wide ? 1 : 0);
    sstParts.back().append(head.d);
    qsizetype done = 0;
    while (done < s.size()) {
        qsizetype room = std::max<qsizetype>(0, kMaxBody - sstParts.back().size()) / width;
        if (room == 0) {
            sstParts.emplace_back();
            sstParts.back().append(char(wide ? 1 : 0)); // the option byte of continued text
            room = (kMaxBody - 1) / width;
        }
        const qsizetype n = std::min(room, s.size() - done);
        Bytes chars;
        chars.chars(s.mid(done, n), wide);
        sstParts.back().append(chars.d);
        done += n;
    }
    return index;
}

bool SheetAppender::addRow(const std::vector<Cell>& row, QString* error) {
    if (d->sheets.empty()) {
        *error = QStringLiteral("还没有开始新的工作表。");
        return false;
    }
    NewSheet& s = d->sheets.back();
    *error = rowRefusal(s.name, s.rows, kMaxRows, kMaxColumns, row,
                        QStringLiteral("Excel 97-2003的工作表"));
    if (!error->isEmpty()) return false;
    if (s.widths.size() < row.size()) s.widths.resize(row.size(), 0);
    char rec[18];
    const auto put = [&](int at, uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            rec[at + k] = char((v >> (8 * k)) & 0xFF);
    };
    for (size_t c = 0; c < row.size(); ++c) {
        const Cell& cell = row[c];
        put(4, s.rows, 2);
        put(6, c, 2);
        put(8, d->cellXf, 2);
        int len = 0;
        switch (cell.kind) {
        case CellKind::Empty:
            continue;
        case CellKind::Text:
            put(0, kLabelSst, 2);
            put(10, d->addString(cell.text), 4);
            ++d->newRefs;
            s.widths[c] = std::max(s.widths[c], textWidth(cell.text));
            len = 10;
            break;
        case CellKind::Number:
            put(0, kNumber, 2);
            put(10, std::bit_cast<uint64_t>(cell.number), 8);
            s.widths[c] = std::max(s.widths[c], int(QString::number(cell.number, 'g', 15).size()));
            len = 14;
            break;
        case CellKind::Boolean:
        case CellKind::Error:
            put(0, 0x0205, 2); // BOOLERR
            put(10, uint8_t(int(cell.number)), 1);
            put(11, cell.kind == CellKind::Error ? 1 : 0, 1);
            len = 8;
            break;
        }
        put(2, uint64_t(len), 2);
        s.cells.append(rec, 4 + len);
    }
    s.columns = std::max(s.columns, uint16_t(row.size()));
    ++s.rows;
    return true;
}

QByteArray SheetAppender::Impl::sheetStream(const NewSheet& s, bool selected) const {
    QByteArray w;
    w.reserve(s.cells.size() + 256 + 16 * qsizetype(s.widths.size()));
    record(w, kBof, bof(0x0010));
    for (size_t c = 0; c < s.widths.size(); ++c) {
        // Wide enough for the longest value, within reason; Excel counts 1/256 of a character.
        const int chars = std::clamp(s.widths[c] + 2, 10, 60);
        record(w, kColInfo,
               Bytes()
                   .u16(uint16_t(c))
                   .u16(uint16_t(c))
                   .u16(uint16_t(chars * 256))
                   .u16(cellXf)
                   .u16(0x0002)
                   .u16(0)
                   .d);
    }
    record(w, kDimensions, Bytes().u32(0).u32(s.rows).u16(0).u16(s.columns).u16(0).d);
    w.append(s.cells);
    const uint16_t active = selected ? 0x0600 : 0;
    record(w, kWindow2, Bytes().u16(0x00B6 | active).u16(0).u16(0).u32(64).u16(0).u16(0).u32(0).d);
    record(w, kEof, {});
    return w;
}

bool SheetAppender::finish(QByteArray* out, QString* error) {
    Impl& m = *d;
    if (m.sheets.empty()) {
        *error = QStringLiteral("没有要添加的工作表。");
        return false;
    }
    const uint32_t unique = uint32_t(m.starts.size());
    const bool writeSst = m.sst >= 0 || unique > 0;
    const int added = int(m.sheets.size());

    QByteArray g;
    g.reserve(m.globalsEnd + 1024 + qsizetype(m.sstParts.size()) * (kMaxBody + 4));
    std::vector<qsizetype> oldBounds, newBounds; // positions of BOUNDSHEET stream pointers
    const auto boundSheets = [&] {
        for (const NewSheet& s : m.sheets) {
            newBounds.push_back(g.size() + 4);
            record(g, kBoundSheet, Bytes().u32(0).u8(0).u8(0).d + shortString(s.name));
        }
    };
    const auto sharedStrings = [&] {
        putLe32(m.sstParts[0].data(), m.oldTotal + m.newRefs);
        putLe32(m.sstParts[0].data() + 4, unique);
        std::vector<qsizetype> partAt;
        for (size_t i = 0; i < m.sstParts.size(); ++i) {
            partAt.push_back(g.size());
            record(g, i == 0 ? kSst : kContinue, m.sstParts[i]);
        }
        // The index: where every n-th string starts, in the stream and in its record.
        const uint32_t perBucket = std::max<uint32_t>(8, unique / 128 + 1);
        Bytes ext;
        ext.u16(uint16_t(perBucket));
        for (uint32_t i = 0; i < unique; i += perBucket) {
            const StringStart& at = m.starts[i];
            ext.u32(uint32_t(partAt[at.part] + 4 + at.offset)).u16(uint16_t(4 + at.offset)).u16(0);
        }
        record(g, kExtSst, ext.d);
    };

    const auto plainXf = [&] {
        record(g, kXf,
               Bytes()
                   .u16(0)
                   .u16(0)
                   .u16(0x0001)
                   .u8(0x20)
                   .u8(0)
                   .u8(0)
                   .u8(0)
                   .u32(0)
                   .u32(0)
                   .u16(0x20C0)
                   .d);
    };

    for (size_t i = 0; i < m.globals.size(); ++i) {
        const OldRecord& r = m.globals[i];
        const int index = int(i);
        if (r.type == kEof) {
            if (m.lastXf < 0 && m.addXf) plainXf();
            if (m.lastBound < 0) boundSheets();
            if (m.sst < 0 && writeSst) sharedStrings();
        }
        if (index == m.sst) {
            sharedStrings();
            while (i + 1 < m.globals.size() && m.globals[i + 1].type == kContinue)
                ++i;
            continue;
        }
        if (index == m.extSst && m.sst >= 0) continue; // written again after the table
        const qsizetype at = g.size();
        g.append(m.stream.constData() + r.pos, 4 + r.size);
        char* body = g.data() + at + 4;
        if (r.type == kBoundSheet) oldBounds.push_back(at + 4);
        if (index == m.selfSupBook) putLe16(body, uint16_t(le16(body) + added));
        if (index == m.tabId && r.size == 2 * qsizetype(m.oldSheets)) {
            uint16_t next = 0;
            for (qsizetype k = 0; k < r.size; k += 2)
                next = std::max(next, le16(body + k));
            QByteArray ids;
            for (int k = 0; k < added; ++k)
                ids.append(Bytes().u16(uint16_t(next + 1 + k)).d);
            g.append(ids);
            putLe16(g.data() + at + 2, uint16_t(r.size + ids.size()));
        }
        if (index == m.lastBound) boundSheets();
        if (index == m.lastXf && m.addXf) plainXf();
    }
    // The old sheets move by the change in the globals' size; the new ones come last.
    const qsizetype delta = g.size() - m.globalsEnd;
    for (qsizetype at : oldBounds)
        putLe32(g.data() + at, uint32_t(qsizetype(le32(g.constData() + at)) + delta));
    QByteArray tail = m.stream.mid(m.globalsEnd, m.tailEnd - m.globalsEnd);
    for (qsizetype p : m.indexPointers) {
        char* v = tail.data() + (p - m.globalsEnd);
        if (const uint32_t old = le32(v); old != 0) putLe32(v, uint32_t(qsizetype(old) + delta));
    }
    QByteArray stream = g + tail;
    for (size_t k = 0; k < m.sheets.size(); ++k) {
        putLe32(stream.data() + newBounds[k], uint32_t(stream.size()));
        stream.append(m.sheetStream(m.sheets[k], m.fresh && k == 0));
        m.sheets[k].cells.clear();
    }
    // Excel expects the workbook stream outside the mini stream.
    if (stream.size() < 4096) stream.append(QByteArray(4096 - stream.size(), '\0'));
    cfb::Node* wb = m.root.child(QStringLiteral("Workbook"));
    wb->data = stream;
    *out = cfb::write(m.root);
    return true;
}

} // namespace formats::xls
