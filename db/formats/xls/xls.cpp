#include "db/formats/xls/xls.h"

#include "db/formats/bytes.h"
#include "db/formats/textcodec.h"
#include "db/formats/xls/cfb.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>

namespace formats::xls {

namespace {

enum RecordType : uint16_t {
    kFormula = 0x0006,
    kEof = 0x000A,
    kExternSheet = 0x0017,
    kName = 0x0018,
    kDateMode = 0x0022,
    kFilePass = 0x002F,
    kContinue = 0x003C,
    kCodePage = 0x0042,
    kBoundSheet = 0x0085,
    kMulRk = 0x00BD,
    kRString = 0x00D6,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kSupBook = 0x01AE,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kString = 0x0207,
    kRk = 0x027E,
    kFormula4 = 0x0406,
    kFormat = 0x041E,
    kBof = 0x0809,
};

double rkValue(uint32_t rk) {
    double v = (rk & 2) ? double(int32_t(rk) >> 2)
                        : std::bit_cast<double>(uint64_t(rk & 0xFFFFFFFCu) << 32);
    return (rk & 1) ? v / 100 : v;
}

// UTF-16LE characters to a QString.
QString utf16Text(const char* p, qsizetype count) {
    QString s(count, Qt::Uninitialized);
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        std::memcpy(s.data(), p, size_t(count) * 2);
    } else {
        for (qsizetype i = 0; i < count; ++i)
            s[i] = QChar(le16(p + 2 * i));
    }
    return s;
}

// One record with the bodies of the CONTINUE records that follow it.
struct Record {
    uint16_t type = 0;
    std::vector<QByteArrayView> parts; // parts[0] is the record's own body
    QByteArrayView body() const { return parts[0]; }
};

class RecordReader {
public:
    RecordReader(const QByteArray& stream, qsizetype pos) : s_(stream), pos_(pos) {}

    // False at the end of the stream; sets *truncated when the last record is cut short.
    bool next(Record* r, bool* truncated) {
        *truncated = false;
        r->parts.clear();
        if (pos_ + 4 > s_.size()) {
            *truncated = pos_ < s_.size();
            return false;
        }
        r->type = le16(s_.constData() + pos_);
        if (!take(r)) {
            *truncated = true;
            return false;
        }
        while (pos_ + 4 <= s_.size() && le16(s_.constData() + pos_) == kContinue) {
            if (!take(r)) {
                *truncated = true;
                return false;
            }
        }
        return true;
    }

private:
    bool take(Record* r) {
        const qsizetype len = le16(s_.constData() + pos_ + 2);
        if (pos_ + 4 + len > s_.size()) return false;
        r->parts.push_back(QByteArrayView(s_.constData() + pos_ + 4, len));
        pos_ += 4 + len;
        return true;
    }

    const QByteArray& s_;
    qsizetype pos_;
};

// Reads across a record and its CONTINUE parts. Character data that runs into a CONTINUE part
// starts there with a fresh option byte (bit 0: two-byte characters), as BIFF8 writes it.
class Cursor {
public:
    explicit Cursor(const Record& r, qsizetype offset = 0) : parts_(r.parts), pos_(offset) {}

    bool u8(uint8_t* v) {
        if (!ensure(1)) return false;
        *v = uint8_t(parts_[part_][pos_++]);
        return true;
    }
    bool u16v(uint16_t* v) {
        uint8_t a, b;
        if (!u8(&a) || !u8(&b)) return false;
        *v = uint16_t(a | (b << 8));
        return true;
    }
    bool u32v(uint32_t* v) {
        uint16_t a, b;
        if (!u16v(&a) || !u16v(&b)) return false;
        *v = a | (uint32_t(b) << 16);
        return true;
    }
    bool skip(uint64_t n) {
        while (n > 0) {
            if (!ensure(1)) return false;
            const uint64_t here = std::min<uint64_t>(n, uint64_t(parts_[part_].size() - pos_));
            pos_ += qsizetype(here);
            n -= here;
        }
        return true;
    }

    // BIFF8 characters; wide tells whether they start as two-byte characters.
    bool chars(qsizetype count, bool wide, QString* out) {
        out->clear();
        while (count > 0) {
            if (pos_ >= parts_[part_].size()) {
                if (part_ + 1 >= parts_.size()) return false;
                ++part_;
                pos_ = 0;
                uint8_t flags;
                if (!u8(&flags)) return false;
                wide = flags & 1;
            }
            const char* p = parts_[part_].data() + pos_;
            const qsizetype avail = parts_[part_].size() - pos_;
            const qsizetype n = std::min(count, wide ? avail / 2 : avail);
            if (n == 0) return false; // half a character before the part ends
            out->append(wide ? utf16Text(p, n) : QString::fromLatin1(p, n));
            pos_ += wide ? 2 * n : n;
            count -= n;
        }
        return true;
    }

    // 8-bit characters of a BIFF5 string.
    bool bytes(qsizetype count, QByteArray* out) {
        out->clear();
        while (count > 0) {
            if (!ensure(1)) return false;
            const qsizetype n = std::min(count, parts_[part_].size() - pos_);
            out->append(parts_[part_].data() + pos_, n);
            pos_ += n;
            count -= n;
        }
        return true;
    }

private:
    bool ensure(qsizetype n) {
        while (pos_ + n > parts_[part_].size()) {
            if (pos_ < parts_[part_].size() || part_ + 1 >= parts_.size()) return false;
            ++part_;
            pos_ = 0;
        }
        return true;
    }

    const std::vector<QByteArrayView>& parts_;
    size_t part_ = 0;
    qsizetype pos_;
};

class WorkbookParser {
public:
    WorkbookParser(const QByteArray& stream, int biffHint, Workbook* wb)
        : s_(stream), biffHint_(biffHint), wb_(wb) {}

    ReadError parse();

private:
    struct BoundSheet {
        uint32_t offset;
        uint8_t visibility;
        uint8_t type;
        QString name;
        int worksheet = -1; // index into wb_->sheets
    };
    struct Xti {
        uint16_t supBook, firstTab, lastTab;
    };

    ReadError parseGlobals();
    ReadError parseSheet(const BoundSheet& bs, Sheet* sheet);
    bool readSst(const Record& r);
    bool readString(Cursor& c, bool lengthIs16, QString* out);
    QString decode8(const QByteArray& bytes) const { return formats::decode(bytes, codec_); }
    void readNames();
    bool resolveArea(QByteArrayView rgce, NamedRange* range) const;
    bool xfIsDate(uint16_t xf) const { return xf < xfDate_.size() && xfDate_[xf] != 0; }
    Cell numberCell(double v, uint16_t xf) const {
        return Cell::ofNumber(v, xfIsDate(xf), xfIsDate(xf) && xfDate_[xf] == 2);
    }

    const QByteArray& s_;
    int biffHint_;
    Workbook* wb_;
    bool biff8_ = true;
    QByteArray codec_ = "windows-1252";
    std::vector<QString> sst_;
    std::vector<uint16_t> xfFormat_;
    std::vector<uint8_t> xfDate_; // per XF: 0 number, 1 date or time, 2 elapsed time
    std::vector<std::pair<uint16_t, QString>> formats_;
    std::vector<BoundSheet> bound_;
    std::vector<QByteArray> nameRecords_;
    std::vector<Xti> xti_;
    int supBooks_ = 0;
    int selfSupBook_ = -1;
};

// A BIFF string: a length (8 or 16 bits), then in BIFF8 an option byte (two-byte characters,
// rich-text runs, phonetic data) before the characters; runs and phonetic data are skipped.
bool WorkbookParser::readString(Cursor& c, bool lengthIs16, QString* out) {
    uint16_t cch = 0;
    if (lengthIs16) {
        if (!c.u16v(&cch)) return false;
    } else {
        uint8_t n;
        if (!c.u8(&n)) return false;
        cch = n;
    }
    if (!biff8_) {
        QByteArray raw;
        if (!c.bytes(cch, &raw)) return false;
        *out = decode8(raw);
        return true;
    }
    uint8_t flags;
    if (!c.u8(&flags)) return false;
    uint16_t runs = 0;
    uint32_t extra = 0;
    if ((flags & 0x08) && !c.u16v(&runs)) return false;
    if ((flags & 0x04) && !c.u32v(&extra)) return false;
    if (!c.chars(cch, flags & 1, out)) return false;
    return c.skip(uint64_t(runs) * 4) && c.skip(extra);
}

bool WorkbookParser::readSst(const Record& r) {
    Cursor c(r);
    uint32_t total, unique;
    if (!c.u32v(&total) || !c.u32v(&unique)) return false;
    const qsizetype bytes =
        std::accumulate(r.parts.begin(), r.parts.end(), qsizetype(0),
                        [](qsizetype sum, QByteArrayView p) { return sum + p.size(); });
    sst_.reserve(std::min<qsizetype>(unique, bytes / 3));
    for (uint32_t i = 0; i < unique; ++i) {
        QString s;
        // Some writers count more strings than they store: keep what is there.
        if (!readString(c, true, &s)) return i > 0 || unique == 0;
        sst_.push_back(std::move(s));
    }
    return true;
}

ReadError WorkbookParser::parse() {
    if (ReadError e = parseGlobals(); e != ReadError::None) return e;
    // Two sheets never start at the same place; a file that says so would be read many times.
    std::vector<uint32_t> offsets;
    for (const BoundSheet& bs : bound_)
        offsets.push_back(bs.offset);
    std::sort(offsets.begin(), offsets.end());
    if (std::adjacent_find(offsets.begin(), offsets.end()) != offsets.end())
        return ReadError::Corrupt;
    for (BoundSheet& bs : bound_) {
        if (bs.type != 0) continue; // macro sheets, charts, VB modules
        Sheet sheet;
        sheet.name = bs.name;
        sheet.visibility = bs.visibility == 1   ? Visibility::Hidden
                           : bs.visibility == 2 ? Visibility::VeryHidden
                                                : Visibility::Visible;
        if (ReadError e = parseSheet(bs, &sheet); e != ReadError::None) {
            if (e == ReadError::NotWorkbook) continue; // a dialog or chart sheet after all
            return e;
        }
        bs.worksheet = int(wb_->sheets.size());
        wb_->sheets.push_back(std::move(sheet));
    }
    readNames();
    return ReadError::None;
}

ReadError WorkbookParser::parseGlobals() {
    if (s_.size() < 2 || le16(s_.constData()) != kBof) {
        const uint16_t first = s_.size() >= 2 ? le16(s_.constData()) : 0;
        return first == 0x0009 || first == 0x0209 || first == 0x0409 ? ReadError::OldFormat
                                                                     : ReadError::NotWorkbook;
    }
    RecordReader rr(s_, 0);
    Record r;
    bool truncated = false;
    if (!rr.next(&r, &truncated)) return ReadError::Truncated;
    if (r.body().size() < 4) return ReadError::NotWorkbook;
    const uint16_t version = le16(r.body().data());
    biff8_ = version == 0x0600 || (version != 0x0500 && biffHint_ == 8);
    if (le16(r.body().data() + 2) != 0x0005) return ReadError::NotWorkbook;
    wb_->biffVersion = biff8_ ? 8 : 5;
    wb_->codePage = biff8_ ? 1200 : 1252;

    for (;;) {
        if (!rr.next(&r, &truncated)) return ReadError::Truncated;
        const QByteArrayView b = r.body();
        const char* p = b.data();
        switch (r.type) {
        case kEof: {
            xfDate_.resize(xfFormat_.size());
            for (size_t i = 0; i < xfFormat_.size(); ++i) {
                const uint16_t id = xfFormat_[i];
                auto f = std::find_if(formats_.rbegin(), formats_.rend(),
                                      [id](const auto& e) { return e.first == id; });
                if (f == formats_.rend())
                    xfDate_[i] = id == 46 ? 2 : isBuiltInDateFormat(id) ? 1 : 0; // 46: [h]:mm:ss
                else if (isDateFormat(f->second))
                    xfDate_[i] = isElapsedFormat(f->second) ? 2 : 1;
            }
            return ReadError::None;
        }
        case kFilePass:
            return ReadError::Encrypted;
        case kCodePage:
            if (b.size() < 2) return ReadError::Corrupt;
            wb_->codePage = le16(p);
            if (!biff8_) {
                const int cp = wb_->codePage;
                const QByteArray c = cp == 32768   ? QByteArray("macintosh")
                                     : cp == 32769 ? QByteArray("windows-1252")
                                     : cp == 367   ? QByteArray("windows-1252")
                                                   : formats::codecForCodePage(cp);
                codec_ = formats::isKnownCodec(c) && cp != 1200 ? c : formats::defaultCodec();
            }
            break;
        case kDateMode:
            if (b.size() < 2) return ReadError::Corrupt;
            wb_->date1904 = le16(p) == 1;
            break;
        case kBoundSheet: {
            if (b.size() < 7) return ReadError::Corrupt;
            BoundSheet bs{le32(p), uint8_t(uint8_t(p[4]) & 3), uint8_t(p[5]), {}};
            Cursor c(r, 6);
            if (!readString(c, false, &bs.name)) return ReadError::Corrupt;
            bound_.push_back(std::move(bs));
            break;
        }
        case kSst:
            if (!readSst(r)) return ReadError::Corrupt;
            break;
        case kFormat: {
            if (b.size() < 3) return ReadError::Corrupt;
            Cursor c(r, 2);
            QString text;
            if (!readString(c, biff8_, &text)) return ReadError::Corrupt;
            formats_.emplace_back(le16(p), text);
            break;
        }
        case kXf:
            if (b.size() < 4) return ReadError::Corrupt;
            xfFormat_.push_back(le16(p + 2));
            break;
        case kName:
            nameRecords_.push_back(b.toByteArray());
            break;
        case kSupBook:
            if (b.size() == 4 && le16(p + 2) == 0x0401) selfSupBook_ = supBooks_;
            ++supBooks_;
            break;
        case kExternSheet:
            if (biff8_ && b.size() >= 2) {
                const qsizetype n = std::min<qsizetype>(le16(p), (b.size() - 2) / 6);
                for (qsizetype i = 0; i < n; ++i) {
                    const char* x = p + 2 + 6 * i;
                    xti_.push_back({le16(x), le16(x + 2), le16(x + 4)});
                }
            }
            break;
        default:
            break;
        }
    }
}

ReadError WorkbookParser::parseSheet(const BoundSheet& bs, Sheet* sheet) {
    if (bs.offset >= uint32_t(s_.size())) return ReadError::Corrupt;
    RecordReader rr(s_, qsizetype(bs.offset));
    Record r;
    bool truncated = false;
    if (!rr.next(&r, &truncated)) return truncated ? ReadError::Truncated : ReadError::Corrupt;
    if (r.type != kBof || r.body().size() < 4) return ReadError::Corrupt;
    if (le16(r.body().data() + 2) != 0x0010) return ReadError::NotWorkbook; // not a worksheet

    std::vector<PlacedCell>& cells = sheet->cells;
    // Room for the cells up to the next sheet at one record of 14 bytes each (LABELSST, RK).
    qsizetype end = s_.size();
    for (const BoundSheet& other : bound_)
        if (other.offset > bs.offset) end = std::min(end, qsizetype(other.offset));
    cells.reserve(size_t((end - qsizetype(bs.offset)) / 14));
    qsizetype pendingString = -1; // a formula cell whose text is in the next STRING record
    int depth = 1;                // embedded charts bring their own BOF ... EOF
    // Columns end at IV (256 columns) in both formats; Excel itself calls more a damaged file.
    constexpr uint16_t kLastColumn = 255;
    bool badColumn = false;
    const auto place = [&](const char* p, Cell cell) {
        badColumn = badColumn || le16(p + 2) > kLastColumn;
        cells.push_back({le16(p), le16(p + 2), std::move(cell)});
        pendingString = -1;
    };
    for (;;) {
        if (!rr.next(&r, &truncated)) return ReadError::Truncated;
        if (r.type == kBof) {
            ++depth;
            continue;
        }
        if (r.type == kEof) {
            if (--depth == 0) break;
            continue;
        }
        if (depth > 1) continue;
        const QByteArrayView b = r.body();
        const char* p = b.data();
        switch (r.type) {
        case kNumber:
            if (b.size() < 14) return ReadError::Corrupt;
            place(p, numberCell(leDouble(p + 6), le16(p + 4)));
            break;
        case kRk:
            if (b.size() < 10) return ReadError::Corrupt;
            place(p, numberCell(rkValue(le32(p + 6)), le16(p + 4)));
            break;
        case kMulRk: {
            if (b.size() < 6) return ReadError::Corrupt;
            const qsizetype n = (b.size() - 6) / 6;
            const uint16_t row = le16(p), col = le16(p + 2);
            if (col + n > kLastColumn + 1) return ReadError::Corrupt;
            for (qsizetype i = 0; i < n; ++i) {
                const char* x = p + 4 + 6 * i;
                cells.push_back(
                    {row, uint16_t(col + i), numberCell(rkValue(le32(x + 2)), le16(x))});
            }
            pendingString = -1;
            break;
        }
        case kLabelSst: {
            if (b.size() < 10) return ReadError::Corrupt;
            const uint32_t i = le32(p + 6);
            if (i >= sst_.size()) return ReadError::Corrupt;
            place(p, Cell::ofText(sst_[i]));
            break;
        }
        case kLabel:
        case kRString: {
            if (b.size() < 8) return ReadError::Corrupt;
            Cursor c(r, 6);
            QString text;
            if (!readString(c, true, &text)) return ReadError::Corrupt;
            place(p, Cell::ofText(text));
            break;
        }
        case kBoolErr:
            if (b.size() < 8) return ReadError::Corrupt;
            place(p, p[7] ? Cell::ofError(uint8_t(p[6])) : Cell::ofBoolean(p[6] != 0));
            break;
        case kFormula:
        case kFormula4: {
            if (b.size() < 14) return ReadError::Corrupt;
            if (le16(p + 12) != 0xFFFF) {
                place(p, numberCell(leDouble(p + 6), le16(p + 4)));
                break;
            }
            switch (uint8_t(p[6])) {
            case 0: // text, in the STRING record that follows
                place(p, Cell::ofText(QString()));
                pendingString = qsizetype(cells.size()) - 1;
                break;
            case 1:
                place(p, Cell::ofBoolean(p[8] != 0));
                break;
            case 2:
                place(p, Cell::ofError(uint8_t(p[8])));
                break;
            case 3:
                place(p, Cell::ofText(QString()));
                break;
            default:
                return ReadError::Corrupt;
            }
            break;
        }
        case kString: {
            if (pendingString < 0) break;
            Cursor c(r);
            QString text;
            if (!readString(c, true, &text)) return ReadError::Corrupt;
            cells[size_t(pendingString)].cell.text = text;
            pendingString = -1;
            break;
        }
        default:
            break;
        }
        if (badColumn) return ReadError::Corrupt;
    }

    // Cells normally come in order; a later record for the same position wins.
    const auto before = [](const PlacedCell& a, const PlacedCell& b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before))
        std::stable_sort(cells.begin(), cells.end(), before);
    size_t out = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (out > 0 && cells[out - 1].row == cells[i].row && cells[out - 1].col == cells[i].col)
            --out;
        if (out != i) cells[out] = std::move(cells[i]);
        ++out;
    }
    cells.resize(out);
    return ReadError::None;
}

// Names that refer to one area of one worksheet become named ranges. Built-in names (print
// areas, filter ranges), hidden names, macro names, relative references, several areas and
// constants are left out. Excel 95 names are not read.
void WorkbookParser::readNames() {
    if (!biff8_) return;
    for (const QByteArray& rec : nameRecords_) {
        if (rec.size() < 15) continue;
        const char* p = rec.constData();
        const uint16_t flags = le16(p);
        if (flags & (0x0001 | 0x0002 | 0x0008 | 0x0020)) continue;
        const int cch = uint8_t(p[3]);
        const int cce = le16(p + 4);
        const int itab = le16(p + 8);
        const bool wide = p[14] & 1;
        const qsizetype nameEnd = 15 + qsizetype(cch) * (wide ? 2 : 1);
        if (cch == 0 || nameEnd + cce > rec.size()) continue;
        NamedRange range;
        range.name = wide ? utf16Text(p + 15, cch) : QString::fromLatin1(p + 15, cch);
        if (range.name.startsWith(QLatin1String("_xl"), Qt::CaseInsensitive)) continue;
        if (!resolveArea(QByteArrayView(p + nameEnd, cce), &range)) continue;
        if (itab > 0) {
            if (size_t(itab) > bound_.size() || bound_[size_t(itab - 1)].worksheet < 0) continue;
            range.scope = bound_[size_t(itab - 1)].worksheet;
        }
        wb_->names.push_back(std::move(range));
    }
}

bool WorkbookParser::resolveArea(QByteArrayView rgce, NamedRange* range) const {
    if (rgce.isEmpty()) return false;
    const uint8_t token = uint8_t(rgce[0]);
    if (token < 0x20) return false;
    const uint8_t base = uint8_t((token & 0x9F) | 0x20);
    const char* p = rgce.data() + 1;
    uint16_t ixti, r1, r2, c1, c2;
    if (base == 0x3A && rgce.size() == 7) { // one cell
        ixti = le16(p);
        r1 = r2 = le16(p + 2);
        c1 = c2 = le16(p + 4);
    } else if (base == 0x3B && rgce.size() == 11) { // an area
        ixti = le16(p);
        r1 = le16(p + 2);
        r2 = le16(p + 4);
        c1 = le16(p + 6);
        c2 = le16(p + 8);
    } else {
        return false;
    }
    if ((c1 | c2) & 0xC000) return false; // relative to the cell where the name is used
    c1 &= 0x3FFF;
    c2 &= 0x3FFF;
    if (ixti >= xti_.size() || r1 > r2 || c1 > c2) return false;
    const Xti& x = xti_[ixti];
    if (x.firstTab != x.lastTab || x.firstTab >= bound_.size()) return false;
    if (selfSupBook_ >= 0 ? x.supBook != selfSupBook_ : supBooks_ > 0) return false;
    const int sheet = bound_[x.firstTab].worksheet;
    if (sheet < 0) return false;
    range->sheet = sheet;
    range->firstRow = r1;
    range->lastRow = r2;
    range->firstCol = c1;
    range->lastCol = c2;
    return true;
}

// Whole numbers below 10^15 as digits; others with the fewest significant digits that read
// back as the same double, in fixed notation unless the exponent is below -4 or at least the
// number of digits (printf's %g rule): 6190718.68, 0.0001, 1e-05, 1e+20.
QString numberText(double v) {
    if (!std::isfinite(v)) return QStringLiteral("#NUM!");
    if (v == std::trunc(v) && std::fabs(v) < 1e15) return QString::number(qint64(v));
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const std::string_view sci(buf, size_t(res.ptr - buf)); // -d.ddde+XX, shortest digits
    const size_t e = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    const bool negative = sci.front() == '-';
    std::string digits;
    for (char c : sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.') digits += c;
    const int count = int(digits.size());
    if (exponent < -4 || exponent >= count) return QString::fromLatin1(sci.data(), sci.size());
    std::string fixed = negative ? "-" : "";
    if (exponent < 0)
        fixed += "0." + std::string(size_t(-exponent - 1), '0') + digits;
    else
        fixed += digits.substr(0, size_t(exponent) + 1) +
                 (count > exponent + 1 ? "." + digits.substr(size_t(exponent) + 1) : "");
    return QString::fromLatin1(fixed.data(), qsizetype(fixed.size()));
}

// A date serial as text; nullopt outside the years Excel can show.
std::optional<QString> dateText(double serial, bool date1904) {
    const qint64 lastDay = date1904 ? 2957003 : 2958465; // 9999-12-31
    if (!(serial >= 0) || serial >= double(lastDay + 1)) return std::nullopt;
    qint64 days = qint64(serial);
    qint64 seconds = std::llround((serial - double(days)) * 86400.0);
    if (seconds >= 86400) {
        ++days;
        seconds = 0;
    }
    if (days > lastDay) return std::nullopt;
    char buf[32];
    const int h = int(seconds / 3600), m = int(seconds / 60 % 60), s = int(seconds % 60);
    if (days == 0) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
        return QString::fromLatin1(buf);
    }
    int y, mo, d;
    if (!date1904 && days == 60) { // Excel's 29 February 1900, a day that never was
        y = 1900, mo = 2, d = 29;
    } else {
        const QDate base = date1904    ? QDate(1904, 1, 1)
                           : days < 60 ? QDate(1899, 12, 31)
                                       : QDate(1899, 12, 30);
        base.addDays(days).getDate(&y, &mo, &d);
    }
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
    if (seconds != 0) std::snprintf(buf + n, sizeof buf - n, " %02d:%02d:%02d", h, m, s);
    return QString::fromLatin1(buf);
}

// Elapsed time: hours past 24 are not days.
std::optional<QString> elapsedText(double serial) {
    if (!(serial >= 0) || serial > 1e9) return std::nullopt;
    const qint64 seconds = std::llround(serial * 86400.0);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  int(seconds / 60 % 60), int(seconds % 60));
    return QString::fromLatin1(buf);
}

QString errorCodeText(int code) {
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    case 0x2A:
        return QStringLiteral("#N/A");
    case 0x2B:
        return QStringLiteral("#GETTING_DATA");
    default:
        return QStringLiteral("#ERR%1!").arg(code);
    }
}

} // namespace

const Cell* Sheet::at(uint32_t row, uint16_t col) const {
    auto it = std::lower_bound(cells.begin(), cells.end(), std::make_pair(row, col),
                               [](const PlacedCell& c, const std::pair<uint32_t, uint16_t>& k) {
                                   return c.row != k.first ? c.row < k.first : c.col < k.second;
                               });
    return it != cells.end() && it->row == row && it->col == col ? &it->cell : nullptr;
}

ReadError readWorkbook(const QByteArray& file, Workbook* out) {
    *out = Workbook();
    if (file.startsWith("PK\x03\x04")) return ReadError::NewFormat;
    if (file.size() >= 4) {
        const uint16_t first = le16(file.constData());
        const bool oldBof = first == 0x0009 || first == 0x0209 || first == 0x0409;
        if (oldBof && le16(file.constData() + 2) <= 20) return ReadError::OldFormat;
    }
    cfb::Reader cf;
    switch (cf.open(file)) {
    case cfb::Status::Ok:
        break;
    case cfb::Status::NotCompound:
        return ReadError::NotWorkbook;
    case cfb::Status::Truncated:
        return ReadError::Truncated;
    default:
        return ReadError::Corrupt;
    }
    const QStringList streams = cf.streamNames();
    const auto has = [&](const char* name) {
        return streams.contains(QLatin1String(name), Qt::CaseInsensitive);
    };
    if (has("EncryptedPackage")) return ReadError::Encrypted;
    const bool book8 = has("Workbook");
    if (!book8 && !has("Book")) return ReadError::NoWorkbookStream;
    QByteArray stream;
    switch (cf.read(book8 ? QStringLiteral("Workbook") : QStringLiteral("Book"), &stream)) {
    case cfb::Status::Ok:
        break;
    case cfb::Status::Truncated:
        return ReadError::Truncated;
    default:
        return ReadError::Corrupt;
    }
    WorkbookParser parser(stream, book8 ? 8 : 5, out);
    const ReadError e = parser.parse();
    if (e != ReadError::None) *out = Workbook();
    return e;
}

bool readWorkbookFile(const QString& path, Workbook* out, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = errorText(ReadError::Unreadable, path);
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = errorText(ReadError::Unreadable, path);
        return false;
    }
    const ReadError e = readWorkbook(bytes, out);
    if (e != ReadError::None && error) *error = errorText(e, path);
    return e == ReadError::None;
}

QString errorText(ReadError error, const QString& path) {
    const QString p = QDir::toNativeSeparators(path);
    switch (error) {
    case ReadError::None:
        return {};
    case ReadError::Unreadable:
        return QStringLiteral("找不到Excel文件或无法打开：%1").arg(p);
    case ReadError::NotWorkbook:
        return QStringLiteral("该文件不是Excel 97-2003工作簿（.xls），无法读取：%1").arg(p);
    case ReadError::NewFormat:
        return QStringLiteral("该文件是Excel 2007及以上版本的工作簿（.xlsx），请在Excel中另存为"
                              "“Excel 97-2003工作簿（.xls）”后再试：%1")
            .arg(p);
    case ReadError::OldFormat:
        return QStringLiteral("该文件是Excel 5.0以前的旧版工作簿，无法读取，请在Excel中另存为"
                              "“Excel 97-2003工作簿（.xls）”后再试：%1")
            .arg(p);
    case ReadError::Encrypted:
        return QStringLiteral("该Excel文件已加密，无法读取：%1").arg(p);
    case ReadError::Truncated:
        return QStringLiteral("该Excel文件不完整（可能已被截断），无法读取：%1").arg(p);
    case ReadError::Corrupt:
        return QStringLiteral("该Excel文件已损坏，无法读取：%1").arg(p);
    case ReadError::NoWorkbookStream:
        return QStringLiteral("该文件中没有Excel工作簿数据，无法读取：%1").arg(p);
    }
    return {};
}

std::optional<QString> displayText(const Cell& cell, bool date1904) {
    switch (cell.kind) {
    case CellKind::Empty:
        return std::nullopt;
    case CellKind::Text:
        return cell.text;
    case CellKind::Boolean:
        return cell.number != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case CellKind::Error:
        return errorCodeText(int(cell.number));
    case CellKind::Number:
        if (cell.date) {
            if (auto d = cell.elapsed ? elapsedText(cell.number) : dateText(cell.number, date1904))
                return d;
        }
        return numberText(cell.number);
    }
    return std::nullopt;
}

bool isBuiltInDateFormat(int id) {
    return (id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) ||
           (id >= 50 && id <= 58);
}

bool isElapsedFormat(const QString& format) {
    for (qsizetype open = format.indexOf(QLatin1Char('[')); open >= 0;
         open = format.indexOf(QLatin1Char('['), open + 1)) {
        const qsizetype close = format.indexOf(QLatin1Char(']'), open + 1);
        if (close < 0) break;
        const QString inner = format.mid(open + 1, close - open - 1).toLower();
        if (!inner.isEmpty() && (inner.count(QLatin1Char('h')) == inner.size() ||
                                 inner.count(QLatin1Char('m')) == inner.size() ||
                                 inner.count(QLatin1Char('s')) == inner.size()))
            return true;
    }
    return false;
}

bool isDateFormat(const QString& format) {
    bool dateChar = false, digitChar = false;
    bool afterSeconds = false; // inside the fraction of seconds ("ss.000")
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        const char16_t u = c.toLower().unicode();
        if (u == '"') {
            const qsizetype close = format.indexOf(QLatin1Char('"'), i + 1);
            if (close < 0) break;
            i = close;
            continue;
        }
        if (u == '[') {
            const qsizetype close = format.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0) break;
            i = close;
            continue;
        }
        if (u == '\\' || u == '_' || u == '*') {
            ++i;
            continue;
        }
        if (u == 'y' || u == 'm' || u == 'd' || u == 'h' || u == 's') {
            dateChar = true;
            afterSeconds = u == 's';
            continue;
        }
        if (u == '.' && afterSeconds) continue;
        if (u == '0' && afterSeconds) continue;
        afterSeconds = false;
        if (u == '#' || u == '?' || u == '0') digitChar = true;
    }
    return dateChar && !digitChar;
}

} // namespace formats::xls
