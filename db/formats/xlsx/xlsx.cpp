#include "db/formats/xlsx/xlsx.h"

#include "db/formats/xls/cfb.h"
#include "db/formats/xlsx/xmlscan.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QUrl>
#include <QXmlStreamReader>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace formats::xlsx {

using xls::Cell;
using xls::PlacedCell;
using xls::Workbook;

namespace {

constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxCols = 16384;

struct Failure {
    ReadError error;
};

[[noreturn]] void failWith(ReadError e) {
    throw Failure{e};
}

bool endsWith(const QString& s, const char* suffix) {
    return s.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

// ---------------------------------------------------------------------------------------------
// The zip package.

class Package {
public:
    Package(const QByteArray& file, const Limits& limits) : file_(file), limits_(limits) {
        zip_error_t err;
        zip_error_init(&err);
        zip_source_t* src =
            zip_source_buffer_create(file_.constData(), zip_uint64_t(file_.size()), 0, &err);
        if (!src) {
            zip_error_fini(&err);
            failWith(ReadError::Corrupt);
        }
        za_ = zip_open_from_source(src, ZIP_RDONLY, &err);
        const int code = zip_error_code_zip(&err);
        zip_error_fini(&err);
        if (!za_) {
            zip_source_free(src);
            (void)code;
            failWith(ReadError::Corrupt); // it starts like a zip, so it is a damaged one
        }
    }
    ~Package() {
        if (za_) zip_discard(za_);
    }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    bool has(const QString& name) const { return locate(name) >= 0; }

    // A part as a whole; null when the package has no such part.
    std::optional<QByteArray> read(const QString& name) {
        Reader r(*this, name);
        if (!r.ok()) return std::nullopt;
        QByteArray out;
        char chunk[65536];
        for (;;) {
            const int64_t n = r.read(chunk, sizeof chunk);
            if (n < 0) failWith(r.error());
            if (n == 0) break;
            out.append(chunk, qsizetype(n));
        }
        return out;
    }

    // Inflates one part bit by bit, within the limits.
    class Reader {
    public:
        Reader(Package& p, const QString& name) : p_(p) {
            const zip_int64_t index = p.locate(name);
            if (index < 0) return;
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(p.za_, zip_uint64_t(index), 0, &st) != 0)
                failWith(ReadError::Corrupt);
            if (st.valid & ZIP_STAT_COMP_SIZE) compressed_ = int64_t(st.comp_size);
            if (st.valid & ZIP_STAT_SIZE) stated_ = int64_t(st.size);
            if ((st.valid & ZIP_STAT_SIZE) && int64_t(st.size) > p.limits_.partBytes)
                failWith(ReadError::TooLarge);
            f_ = zip_fopen_index(p.za_, zip_uint64_t(index), 0);
            if (!f_) {
                const int code = zip_error_code_zip(zip_get_error(p.za_));
                failWith(code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD ||
                                 code == ZIP_ER_ENCRNOTSUPP
                             ? ReadError::Encrypted
                             : ReadError::Corrupt);
            }
        }
        ~Reader() {
            if (f_) zip_fclose(f_);
        }
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        bool ok() const { return f_ != nullptr; }
        ReadError error() const { return error_; }
        // The size the zip headers give (not trusted: a hint for reserving memory).
        int64_t statedSize() const { return stated_; }

        // Up to max bytes; 0 at the end, -1 on an error (error() says which).
        int64_t read(char* dst, int64_t max) {
            if (!f_) return 0;
            const zip_int64_t n = zip_fread(f_, dst, zip_uint64_t(max));
            if (n < 0) {
                error_ = ReadError::Corrupt;
                return -1;
            }
            total_ += n;
            const Limits& l = p_.limits_;
            if (total_ > l.partBytes ||
                (total_ > l.ratioFrom && total_ / std::max<int64_t>(compressed_, 1) > l.ratio)) {
                error_ = ReadError::TooLarge;
                return -1;
            }
            return n;
        }

    private:
        Package& p_;
        zip_file_t* f_ = nullptr;
        int64_t compressed_ = 0;
        int64_t stated_ = 0;
        int64_t total_ = 0;
        ReadError error_ = ReadError::Corrupt;
    };

private:
    zip_int64_t locate(const QString& name) const {
        if (name.isEmpty()) return -1;
        const QByteArray n = name.toUtf8();
        return zip_name_locate(za_, n.constData(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
    }

    QByteArray file_;
    Limits limits_;
    zip_t* za_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Small XML parts (relationships, workbook, styles) through QXmlStreamReader.

// The text of a small part in UTF-8 or UTF-16 as QXmlStreamReader wants it. A document type
// declaration is refused: no spreadsheet part has one, and it is how entity bombs come in.
class SmallXml {
public:
    explicit SmallXml(const QByteArray& bytes) : x_(bytes) {}

    // Advances to the next start element; false at the end of the document.
    bool nextStart() {
        while (!x_.atEnd()) {
            const auto t = x_.readNext();
            if (t == QXmlStreamReader::DTD) failWith(ReadError::Corrupt);
            if (t == QXmlStreamReader::StartElement) return true;
        }
        if (x_.hasError()) failWith(ReadError::Corrupt);
        return false;
    }
    QStringView name() const { return x_.name(); }
    QString attr(const char* localName) const {
        for (const QXmlStreamAttribute& a : x_.attributes())
            if (a.name() == QLatin1String(localName)) return a.value().toString();
        return {};
    }
    bool flag(const char* localName) const {
        const QString v = attr(localName).trimmed();
        return v == QLatin1String("1") ||
               v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    QString elementText() {
        const QString t = x_.readElementText(QXmlStreamReader::IncludeChildElements);
        if (x_.hasError()) failWith(ReadError::Corrupt);
        return t;
    }

private:
    QXmlStreamReader x_;
};

struct Relationship {
    QString type; // the last segment of the type URI: "worksheet", "styles", ...
    QString target;
};

// The folder of a part name: "xl/workbook.xml" -> "xl".
QString folderOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

// A relationship target as a part name: relative to the source's folder, or from the package
// root when it starts with "/"; "." and ".." resolved.
QString resolveTarget(const QString& sourceFolder, QString target) {
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    target = QUrl::fromPercentEncoding(target.toUtf8());
    const QString joined = target.startsWith(QLatin1Char('/'))
                               ? target.mid(1)
                               : (sourceFolder.isEmpty() ? target : sourceFolder + u'/' + target);
    QStringList out;
    for (const QString& seg : joined.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (seg == QLatin1String(".")) continue;
        if (seg == QLatin1String("..")) {
            if (!out.isEmpty()) out.removeLast();
            continue;
        }
        out << seg;
    }
    return out.join(QLatin1Char('/'));
}

// The relationships of a part, by id.
QHash<QString, Relationship> readRelationships(Package& pkg, const QString& part) {
    QHash<QString, Relationship> rels;
    const QString folder = folderOf(part);
    const QString name = part.mid(folder.isEmpty() ? 0 : folder.size() + 1);
    const QString relsPart =
        (folder.isEmpty() ? QString() : folder + u'/') + QStringLiteral("_rels/") + name + ".rels";
    const std::optional<QByteArray> bytes = pkg.read(relsPart);
    if (!bytes) return rels;
    SmallXml x(*bytes);
    while (x.nextStart()) {
        if (x.name() != QLatin1String("Relationship")) continue;
        if (x.attr("TargetMode").compare(QLatin1String("External"), Qt::CaseInsensitive) == 0)
            continue;
        QString type = x.attr("Type");
        type = type.mid(type.lastIndexOf(QLatin1Char('/')) + 1);
        rels.insert(x.attr("Id"), {type, resolveTarget(folder, x.attr("Target"))});
    }
    return rels;
}

// ---------------------------------------------------------------------------------------------
// Cell values.

// Excel writes characters that XML cannot hold as _xHHHH_ (a UTF-16 code unit), and a literal
// "_x" that would read as such an escape as _x005F_x...
QString unescapeXstring(QString s) {
    if (!s.contains(QLatin1String("_x"))) return s;
    QString out;
    out.reserve(s.size());
    const auto hex = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    };
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'_' && i + 6 < s.size() && s[i + 1] == u'x' && hex(s[i + 2]) &&
            hex(s[i + 3]) && hex(s[i + 4]) && hex(s[i + 5]) && s[i + 6] == u'_') {
            out += QChar(char16_t(s.mid(i + 2, 4).toUShort(nullptr, 16)));
            i += 6;
        } else {
            out += s[i];
        }
    }
    return out;
}

QString utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::optional<double> parseNumber(std::string_view s) {
    s = trimmed(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
    return v;
}

int errorCode(std::string_view text) {
    static const std::pair<const char*, int> codes[] = {
        {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
        {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
    for (const auto& [name, code] : codes)
        if (text == name) return code;
    return -1;
}

// An ISO 8601 date and time ("2021-01-02", "2021-01-02T10:20:30.5Z", "10:20:30") as a serial
// of the workbook's date system.
std::optional<double> isoSerial(std::string_view s, bool date1904) {
    s = trimmed(s);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    double sec = 0;
    bool haveDate = false;
    const auto num = [&](size_t at, size_t len, int* out) {
        if (at + len > s.size()) return false;
        const auto r = std::from_chars(s.data() + at, s.data() + at + len, *out);
        return r.ec == std::errc() && r.ptr == s.data() + at + len;
    };
    size_t i = 0;
    if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
        if (!num(0, 4, &y) || !num(5, 2, &mo) || !num(8, 2, &d)) return std::nullopt;
        haveDate = true;
        i = 10;
        if (i < s.size() && (s[i] == 'T' || s[i] == ' ')) ++i;
    }
    if (i < s.size() && s.size() - i >= 5 && s[i + 2] == ':') {
        if (!num(i, 2, &h) || !num(i + 3, 2, &mi)) return std::nullopt;
        i += 5;
        if (i < s.size() && s[i] == ':') {
            size_t j = i + 1;
            while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || s[j] == '.'))
                ++j;
            const auto r = std::from_chars(s.data() + i + 1, s.data() + j, sec);
            if (r.ec != std::errc()) return std::nullopt;
            i = j;
        }
        // A zone (Z, +08:00) is left as it is: Excel has no zones.
    } else if (!haveDate) {
        return std::nullopt;
    }
    if (h > 24 || mi > 59 || sec >= 61) return std::nullopt;
    double days = 0;
    if (haveDate) {
        const QDate date(y, mo, d);
        if (!date.isValid()) return std::nullopt;
        if (date1904) {
            days = double(QDate(1904, 1, 1).daysTo(date));
        } else {
            days = double(QDate(1899, 12, 31).daysTo(date));
            if (days >= 60) days += 1; // Excel's 29 February 1900
        }
        if (days < 0) return std::nullopt;
    }
    return days + (h * 3600 + mi * 60 + sec) / 86400.0;
}

// "B12" -> column 1, row 11 (0-based).
bool parseReference(std::string_view ref, uint32_t* col, uint32_t* row) {
    size_t i = 0;
    uint32_t c = 0;
    while (i < ref.size() && i < 4) {
        const char ch = ref[i];
        if (ch >= 'A' && ch <= 'Z')
            c = c * 26 + uint32_t(ch - 'A' + 1);
        else if (ch >= 'a' && ch <= 'z')
            c = c * 26 + uint32_t(ch - 'a' + 1);
        else
            break;
        ++i;
    }
    if (i == 0 || c == 0 || c > kMaxCols) return false;
    uint32_t r = 0;
    const auto res = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
    if (res.ec != std::errc() || res.ptr != ref.data() + ref.size() || r == 0 || r > kMaxRows)
        return false;
    *col = c - 1;
    *row = r - 1;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Streaming parts through XmlScanner.

// Inflates a part on a second thread while the caller parses what came before: inflating is a
// third of the time of reading a large sheet. Only the worker touches the zip file while it
// runs; the caller waits for the chunks in order.
class Prefetch {
public:
    explicit Prefetch(Package::Reader& reader) : reader_(reader), worker_([this] { run(); }) {}
    ~Prefetch() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    Prefetch(const Prefetch&) = delete;
    Prefetch& operator=(const Prefetch&) = delete;

    // As Package::Reader::read; after -1, error() says why.
    int64_t read(char* dst, int64_t max) {
        while (pos_ == current_.size()) {
            std::unique_lock lock(mutex_);
            if (!current_.empty()) spare_.push_back(std::move(current_));
            current_.clear();
            pos_ = 0;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !ready_.empty() || done_; });
            if (ready_.empty()) return failed_ ? -1 : 0;
            current_ = std::move(ready_.front());
            ready_.pop_front();
        }
        const int64_t n = std::min<int64_t>(max, int64_t(current_.size() - pos_));
        std::memcpy(dst, current_.data() + pos_, size_t(n));
        pos_ += size_t(n);
        return n;
    }

private:
    static constexpr size_t kChunk = size_t(4) << 20;
    static constexpr size_t kAhead = 4;

    void run() {
        for (;;) {
            std::vector<char> chunk;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return ready_.size() < kAhead || stop_; });
                if (stop_) return;
                if (!spare_.empty()) {
                    chunk = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            chunk.resize(kChunk);
            size_t got = 0;
            int64_t n = 0;
            while (got < kChunk &&
                   (n = reader_.read(chunk.data() + got, int64_t(kChunk - got))) > 0)
                got += size_t(n);
            chunk.resize(got);
            std::lock_guard lock(mutex_);
            if (got > 0) ready_.push_back(std::move(chunk));
            if (n <= 0) {
                failed_ = n < 0;
                done_ = true;
            }
            changed_.notify_all();
            if (done_) return;
        }
    }

    Package::Reader& reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> ready_;
    std::vector<std::vector<char>> spare_;
    std::vector<char> current_;
    size_t pos_ = 0;
    bool stop_ = false, done_ = false, failed_ = false;
    std::thread worker_; // last: starts once everything above is set up
};

// Feeds a scanner from a part; converts a part in UTF-16 or another declared encoding to UTF-8
// first (Excel writes UTF-8; other encodings are rare and small).
class PartSource {
public:
    PartSource(Package& pkg, const QString& name, bool prefetch = true) : reader_(pkg, name) {
        if (!reader_.ok()) return;
        head_.resize(4096);
        int64_t got = 0;
        while (got < int64_t(head_.size())) {
            const int64_t n = reader_.read(head_.data() + got, int64_t(head_.size()) - got);
            if (n < 0) failWith(reader_.error());
            if (n == 0) break;
            got += n;
        }
        head_.resize(qsizetype(got));
        const QByteArray encoding = declaredEncoding();
        if (!encoding.isEmpty()) {
            QByteArray all = head_;
            char chunk[65536];
            for (;;) {
                const int64_t n = reader_.read(chunk, sizeof chunk);
                if (n < 0) failWith(reader_.error());
                if (n == 0) break;
                all.append(chunk, qsizetype(n));
            }
            QStringDecoder dec(encoding.constData(), QStringDecoder::Flag::Stateless);
            if (!dec.isValid()) failWith(ReadError::Corrupt);
            QString text = dec(all);
            if (dec.hasError()) failWith(ReadError::Corrupt);
            if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
            head_ = text.toUtf8();
            whole_ = true;
        } else if (head_.startsWith("\xEF\xBB\xBF")) {
            head_.remove(0, 3);
        }
        if (prefetch && !whole_ && got == 4096) prefetch_ = std::make_unique<Prefetch>(reader_);
    }

    bool ok() const { return reader_.ok(); }
    ReadError error() const { return reader_.error(); }
    int64_t statedSize() const { return reader_.statedSize(); }

    int64_t read(char* dst, int64_t max) {
        if (headPos_ < head_.size()) {
            const int64_t n = std::min<int64_t>(max, head_.size() - headPos_);
            std::memcpy(dst, head_.constData() + headPos_, size_t(n));
            headPos_ += qsizetype(n);
            return n;
        }
        if (whole_) return 0;
        return prefetch_ ? prefetch_->read(dst, max) : reader_.read(dst, max);
    }

private:
    // The encoding a part needs converting from; empty for UTF-8.
    QByteArray declaredEncoding() const {
        if (head_.startsWith("\xFF\xFE") || head_.startsWith(QByteArray("<\0?\0", 4)))
            return "UTF-16LE";
        if (head_.startsWith("\xFE\xFF") || head_.startsWith(QByteArray("\0<\0?", 4)))
            return "UTF-16BE";
        if (!head_.startsWith("<?xml")) return {};
        const qsizetype end = head_.indexOf("?>");
        const QByteArray decl = head_.left(end < 0 ? 0 : end);
        const qsizetype at = decl.indexOf("encoding");
        if (at < 0) return {};
        qsizetype q = at + 8;
        while (q < decl.size() && (decl[q] == ' ' || decl[q] == '='))
            ++q;
        if (q >= decl.size() || (decl[q] != '"' && decl[q] != '\'')) return {};
        const qsizetype close = decl.indexOf(decl[q], q + 1);
        if (close < 0) return {};
        const QByteArray name = decl.mid(q + 1, close - q - 1).trimmed();
        const QByteArray lower = name.toLower();
        if (lower == "utf-8" || lower == "utf8") return {};
        return name;
    }

    Package::Reader reader_;
    QByteArray head_;
    qsizetype headPos_ = 0;
    bool whole_ = false;
    std::unique_ptr<Prefetch> prefetch_; // for parts longer than the head
};

// The text of a <t> without xml:space="preserve": without the white space at its ends, unless
// it is nothing else.
std::string_view xmlTrimmed(std::string_view s) {
    const auto isXmlSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t first = 0, last = s.size();
    while (first < last && isXmlSpace(s[first]))
        ++first;
    if (first == last) return s; // white space only: kept
    while (isXmlSpace(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

class Scan {
public:
    explicit Scan(PartSource& src)
        : x_([&src](char* dst, int64_t max) { return src.read(dst, max); }), src_(src) {}

    XmlScanner::Token next() {
        const XmlScanner::Token t = x_.next();
        if (t == XmlScanner::Error) failWith(x_.readFailed() ? src_.error() : ReadError::Corrupt);
        return t;
    }
    XmlScanner& x() { return x_; }

    // The text inside the current element (entered at its start tag), children's text
    // included; the scanner ends after its end tag.
    void elementText(std::string* out) {
        for (int depth = 1; depth > 0;) {
            switch (next()) {
            case XmlScanner::StartElement:
                ++depth;
                break;
            case XmlScanner::EndElement:
                --depth;
                break;
            case XmlScanner::Text:
                out->append(x_.text());
                break;
            default:
                failWith(ReadError::Corrupt);
            }
        }
    }

    // Whether xml:space="preserve" holds at the current start tag: its own attribute, else what
    // holds for its parent (inherited).
    bool spacePreserved(bool inherited) {
        bool found = false;
        const std::string_view v = x_.attribute("space", &found);
        return found ? v == "preserve" : inherited;
    }

    // The text of a string item, <si> or <is> (entered at its start tag): its <t> elements and
    // those of its rich-text runs <r>, joined; the scanner ends after its end tag. Nothing else
    // is text: neither the blanks and line breaks a pretty-printed part puts between elements
    // nor the phonetic runs <rPh>. A <t> loses the white space at its ends unless
    // xml:space="preserve" holds for it; one of white space only keeps it, as the blank between
    // two runs that a writer did not mark.
    void stringItem(std::string* out, bool preserve) {
        preserve = spacePreserved(preserve);
        bool runPreserve = preserve;
        for (int depth = 1; depth > 0;) {
            switch (next()) {
            case XmlScanner::StartElement: {
                const std::string_view n = x_.name();
                if (n == "t") {
                    textElement(out, spacePreserved(depth == 1 ? preserve : runPreserve));
                } else if (depth == 1 && n == "r") {
                    runPreserve = spacePreserved(preserve);
                    ++depth;
                } else {
                    skipElement(); // <rPr>, <rPh>, <phoneticPr>, anything unknown
                }
                break;
            }
            case XmlScanner::EndElement:
                --depth;
                break;
            case XmlScanner::Text:
                break; // between elements
            default:
                failWith(ReadError::Corrupt);
            }
        }
    }

    // Skips the rest of the current element.
    void skipElement() {
        for (int depth = 1; depth > 0;) {
            const XmlScanner::Token t = next();
            if (t == XmlScanner::StartElement) ++depth;
            if (t == XmlScanner::EndElement) --depth;
            if (t == XmlScanner::Done) failWith(ReadError::Corrupt);
        }
    }

private:
    // One <t> (entered at its start tag), appended to out.
    void textElement(std::string* out, bool preserve) {
        const size_t from = out->size();
        if (std::string_view plain; x_.plainElementText(&plain))
            out->append(plain);
        else
            elementText(out);
        if (preserve) return;
        const std::string_view all = std::string_view(*out).substr(from);
        const std::string_view kept = xmlTrimmed(all);
        out->erase(from + size_t(kept.data() - all.data()) + kept.size());
        out->erase(from, size_t(kept.data() - all.data()));
    }

    XmlScanner x_;
    PartSource& src_;
};

// The forms nearly every writer gives the cells and the shared strings, read straight from the
// scanner's bytes: the scanner takes a few hundred nanoseconds over each element of a cell, and
// a large sheet is millions of cells. Anything else, or an element cut off at the end of the
// bytes at hand, is left to the scanner (the functions return 0), so the two ways agree.

// A cell <c r="B2" s="1" t="s"><v>12</v></c>, <c r="B2"></c> or <c r="B2"/>: attributes in
// double quotes after one blank each, holding no entity, tab or line end; the value plain text.
struct QuickCell {
    std::string_view r, s, t, v;
    bool hasR = false, hasS = false, hasT = false, hasV = false;
};

size_t quickCell(std::string_view in, QuickCell* q) {
    const char* const begin = in.data();
    const char* p = begin;
    const char* const e = begin + in.size();
    if (in.size() < 4 || p[0] != '<' || p[1] != 'c') return 0;
    p += 2;
    *q = {};
    while (p < e && *p == ' ') {
        const char* name = ++p;
        while (p < e && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || *p == ':'))
            ++p;
        if (p == name || e - p < 2 || p[0] != '=' || p[1] != '"') return 0;
        std::string_view local(name, size_t(p - name));
        if (const size_t colon = local.rfind(':'); colon != std::string_view::npos)
            local.remove_prefix(colon + 1);
        p += 2;
        const char* value = p;
        for (; p < e && *p != '"'; ++p)
            if (*p == '&' || *p == '<' || *p == '\t' || *p == '\n' || *p == '\r') return 0;
        if (p == e) return 0;
        const std::string_view v(value, size_t(p - value));
        ++p;
        if (local == "r" && !q->hasR) {
            q->r = v;
            q->hasR = true;
        } else if (local == "s" && !q->hasS) {
            q->s = v;
            q->hasS = true;
        } else if (local == "t" && !q->hasT) {
            q->t = v;
            q->hasT = true;
        }
    }
    if (e - p >= 2 && p[0] == '/' && p[1] == '>') return size_t(p + 2 - begin);
    if (p == e || *p != '>') return 0;
    ++p;
    if (e - p >= 4 && std::memcmp(p, "</c>", 4) == 0) return size_t(p + 4 - begin);
    if (q->t == "inlineStr" || e - p < 3 || std::memcmp(p, "<v>", 3) != 0) return 0;
    p += 3;
    const char* value = p;
    for (; p < e && *p != '<'; ++p)
        if (*p == '&' || *p == '\r') return 0;
    if (e - p < 8 || std::memcmp(p, "</v></c>", 8) != 0) return 0;
    q->v = std::string_view(value, size_t(p - value));
    q->hasV = true;
    return size_t(p + 8 - begin);
}

// A string item <si><t>text</t></si> with plain text (no entity, no CR, no markup).
size_t quickItem(std::string_view in, std::string_view* text) {
    constexpr std::string_view open = "<si><t>", close = "</t></si>";
    if (in.substr(0, open.size()) != open) return 0;
    const size_t lt = in.find('<', open.size());
    if (lt == std::string_view::npos || in.substr(lt, close.size()) != close) return 0;
    *text = in.substr(open.size(), lt - open.size());
    if (containsAnyOf(*text, "&\r")) return 0;
    return lt + close.size();
}

// ---------------------------------------------------------------------------------------------
// A worksheet's table made as its cells are read: what xls::worksheetTable makes of the sheet,
// without holding its cells. Until the shared strings are read, a value of shared text holds the
// string's index, any other value its place in the table's own texts, and each value its column
// as written (the used range is known at the end).

class TableMaker {
public:
    struct OutOfOrder {}; // a cell at or before the one before it: the sheet needs its cells

    explicit TableMaker(bool date1904) : date1904_(date1904) {}

    void reserve(size_t cells) { t_.values.reserve(cells); }

    void add(uint32_t row, uint32_t col, const Cell& cell) {
        if (int64_t(row) < lastRow_ || (int64_t(row) == lastRow_ && int64_t(col) <= lastCol_))
            throw OutOfOrder{};
        if (lastRow_ < 0) {
            firstRow_ = row;
            t_.rowStart.push_back(0); // the heading row
        }
        for (int64_t r = std::max<int64_t>(lastRow_, firstRow_); r < int64_t(row); ++r)
            t_.rowStart.push_back(t_.values.size());
        lastRow_ = row;
        lastCol_ = col;
        firstCol_ = std::min(firstCol_, uint16_t(col));
        lastUsedCol_ = std::max(lastUsedCol_, uint16_t(col));
        if (cell.kind == xls::CellKind::Text && cell.elapsed) { // shared text, not read yet
            if (cell.number > double(0xFFFFFFFFu)) failWith(ReadError::Corrupt);
            t_.values.push_back({uint32_t(cell.number), 0, uint16_t(col | kShared)});
            return;
        }
        const std::optional<QString> text = xls::displayText(cell, date1904_);
        if (!text) return;
        if (uint64_t(t_.more.size()) + uint64_t(text->size()) > 0xFFFFFFFFu)
            throw std::length_error("table text too long");
        t_.values.push_back({uint32_t(t_.more.size()), uint32_t(text->size()), uint16_t(col)});
        t_.more.append(*text);
    }

    // The table, its shared texts standing in pool (the strings one after another, sst the
    // offset and length of each). Throws Failure for a string index past the table, and
    // std::length_error past what a value can point at.
    xls::Table finish(const QString& pool,
                      const std::vector<std::pair<qsizetype, qsizetype>>& sst) && {
        xls::Table t = std::move(t_);
        if (lastRow_ < 0) {
            t.fields = QStringList{QStringLiteral("F1")};
            t.longest = {0};
            t.rowStart = {0};
            return t;
        }
        t.rowStart.push_back(t.values.size());
        t.more.squeeze();
        if (uint64_t(pool.size()) + uint64_t(t.more.size()) > 0xFFFFFFFFu)
            throw std::length_error("table text too long");
        t.text = pool;
        for (xls::Table::Value& v : t.values) {
            if (v.col & kShared) {
                if (v.at >= sst.size()) failWith(ReadError::Corrupt); // past the string table
                const auto [offset, length] = sst[v.at];
                v.at = uint32_t(offset);
                v.size = uint32_t(length);
            } else {
                v.at += uint32_t(pool.size());
            }
            v.col = uint16_t((v.col & ~kShared) - firstCol_);
        }
        // The first row gives the field names; the records are the rows below it.
        const size_t headingEnd = t.rowStart[1];
        std::vector<std::optional<QString>> headings(size_t(lastUsedCol_ - firstCol_) + 1);
        for (size_t i = 0; i < headingEnd; ++i)
            headings[t.values[i].col] = t.textOf(t.values[i]).toString();
        t.fields = xls::fieldNames(headings);
        t.values.erase(t.values.begin(), t.values.begin() + qsizetype(headingEnd));
        t.rowStart.erase(t.rowStart.begin());
        for (size_t& start : t.rowStart)
            start -= headingEnd;
        t.longest.assign(headings.size(), 0);
        for (const xls::Table::Value& v : t.values)
            t.longest[v.col] = std::max(t.longest[v.col], qsizetype(v.size));
        return t;
    }

private:
    static constexpr uint16_t kShared = 0x8000; // above any column (at most 16,384)

    bool date1904_;
    xls::Table t_;
    int64_t lastRow_ = -1, lastCol_ = -1;
    uint32_t firstRow_ = 0;
    uint16_t firstCol_ = 0xFFFF, lastUsedCol_ = 0;
};

// ---------------------------------------------------------------------------------------------

class BookReader {
public:
    // With tables, each worksheet's table is made as its cells are read (see readWorkbookTables).
    BookReader(const QByteArray& file, const Limits& limits, Workbook* out,
               std::vector<std::optional<xls::Table>>* tables = nullptr)
        : file_(file), limits_(limits), pkg_(file, limits), wb_(out), tables_(tables) {}

    void read();

private:
    struct SheetEntry {
        QString name;
        QString rid;
        xls::Visibility visibility = xls::Visibility::Visible;
        int worksheet = -1; // index into wb_->sheets
    };
    struct DefinedName {
        QString name;
        QString formula;
        int localSheet = -1;
    };

    QString mainPart();
    void readWorkbookPart(const QString& part);
    void readStyles(const QString& part);
    void readSharedStrings(Package& pkg, const QString& part);
    void readSheet(const QString& part, xls::Sheet* sheet, TableMaker* maker);
    void finishSheet(xls::Sheet* sheet) const;
    void readNames();
    bool resolveArea(const QString& formula, xls::NamedRange* range) const;
    Cell makeCell(std::string_view type, std::string_view value, bool haveValue,
                  uint32_t style) const;

    QByteArray file_;
    Limits limits_;
    Package pkg_;
    Workbook* wb_;
    std::vector<std::optional<xls::Table>>* tables_;
    std::vector<SheetEntry> sheets_;
    std::vector<DefinedName> names_;
    std::vector<uint8_t> xfDate_; // per cell style: 0 number, 1 date or time, 2 elapsed time
    // The shared strings, one after the other. Each cell gets a copy of its own: sharing one
    // QString between many cells costs more (its reference count is touched all over memory)
    // than the copy.
    QString sstChars_;
    std::vector<std::pair<qsizetype, qsizetype>> sst_; // offset and length in sstChars_
};

QString BookReader::mainPart() {
    const QHash<QString, Relationship> rels = readRelationships(pkg_, QString()); // the package's
    for (const Relationship& r : rels)
        if (r.type == QLatin1String("officeDocument")) return r.target;
    return QStringLiteral("xl/workbook.xml");
}

void BookReader::read() {
    const QString main = mainPart();
    if (endsWith(main, ".bin")) failWith(ReadError::Binary);
    if (!pkg_.has(main)) {
        failWith(pkg_.has(QStringLiteral("xl/workbook.bin")) ? ReadError::Binary
                                                             : ReadError::NotWorkbook);
    }
    readWorkbookPart(main);
    const QHash<QString, Relationship> rels = readRelationships(pkg_, main);
    QString styles, strings;
    for (const Relationship& r : rels) {
        if (r.type == QLatin1String("styles")) styles = r.target;
        if (r.type == QLatin1String("sharedStrings")) strings = r.target;
    }
    if (!styles.isEmpty()) readStyles(styles);
    // The shared strings are read on a thread of their own (through a zip handle of its own)
    // while the sheets are read here: a cell of shared text keeps the string's index until
    // both are done (see makeCell).
    std::optional<ReadError> stringsError;
    std::thread stringsReader;
    if (!strings.isEmpty()) {
        stringsReader = std::thread([this, &strings, &stringsError] {
            try {
                Package own(file_, limits_);
                readSharedStrings(own, strings);
            } catch (const Failure& f) {
                stringsError = f.error;
            } catch (const std::bad_alloc&) {
                stringsError = ReadError::TooLarge;
            }
        });
    }
    struct Joiner {
        std::thread& thread;
        ~Joiner() {
            if (thread.joinable()) thread.join();
        }
    } joiner{stringsReader};
    // A named range reads the cells of its sheet again: with names, every sheet keeps its cells.
    const bool direct = tables_ && std::none_of(names_.begin(), names_.end(), [](const auto& d) {
                            return !d.name.isEmpty() &&
                                   !d.name.startsWith(QLatin1String("_xl"), Qt::CaseInsensitive);
                        });
    std::vector<std::optional<TableMaker>> makers;
    for (SheetEntry& e : sheets_) {
        const auto rel = rels.constFind(e.rid);
        if (rel == rels.constEnd()) failWith(ReadError::Corrupt); // a sheet without its part
        if (rel->type != QLatin1String("worksheet")) continue;    // charts, dialogs, macros
        xls::Sheet sheet;
        sheet.name = e.name;
        sheet.visibility = e.visibility;
        std::optional<TableMaker> maker;
        if (direct) {
            try {
                maker.emplace(wb_->date1904);
                readSheet(rel->target, &sheet, &*maker);
            } catch (const TableMaker::OutOfOrder&) {
                maker.reset();
                readSheet(rel->target, &sheet, nullptr);
            }
        } else {
            readSheet(rel->target, &sheet, nullptr);
        }
        makers.push_back(std::move(maker));
        e.worksheet = int(wb_->sheets.size());
        wb_->sheets.push_back(std::move(sheet));
    }
    if (stringsReader.joinable()) stringsReader.join();
    if (stringsError) failWith(*stringsError);
    if (tables_) tables_->clear();
    for (size_t i = 0; i < wb_->sheets.size(); ++i) {
        finishSheet(&wb_->sheets[i]);
        if (!tables_) continue;
        tables_->push_back(std::nullopt);
        if (makers[i]) tables_->back() = std::move(*makers[i]).finish(sstChars_, sst_);
        makers[i].reset();
    }
    sst_.clear();
    sstChars_.clear();
    readNames();
}

void BookReader::readWorkbookPart(const QString& part) {
    const std::optional<QByteArray> bytes = pkg_.read(part);
    if (!bytes) failWith(ReadError::NotWorkbook);
    SmallXml x(*bytes);
    if (!x.nextStart() || x.name() != QLatin1String("workbook")) failWith(ReadError::NotWorkbook);
    while (x.nextStart()) {
        const QStringView n = x.name();
        if (n == QLatin1String("workbookPr")) {
            wb_->date1904 = x.flag("date1904");
        } else if (n == QLatin1String("sheet")) {
            SheetEntry e;
            e.name = x.attr("name");
            e.rid = x.attr("id");
            const QString state = x.attr("state");
            if (state == QLatin1String("hidden")) e.visibility = xls::Visibility::Hidden;
            if (state == QLatin1String("veryHidden")) e.visibility = xls::Visibility::VeryHidden;
            sheets_.push_back(std::move(e));
        } else if (n == QLatin1String("definedName")) {
            DefinedName d;
            d.name = x.attr("name");
            const bool skip =
                x.flag("hidden") || x.flag("function") || x.flag("vbProcedure") || x.flag("xlm");
            bool ok = false;
            const int local = x.attr("localSheetId").toInt(&ok);
            d.localSheet = ok ? local : -1;
            d.formula = x.elementText();
            if (!skip) names_.push_back(std::move(d));
        }
    }
}

void BookReader::readStyles(const QString& part) {
    const std::optional<QByteArray> bytes = pkg_.read(part);
    if (!bytes) return;
    SmallXml x(*bytes);
    QHash<int, QString> formats;
    std::vector<int> xfFormat;
    bool inCellXfs = false;
    while (x.nextStart()) {
        const QStringView n = x.name();
        if (n == QLatin1String("numFmt")) {
            bool ok = false;
            const int id = x.attr("numFmtId").toInt(&ok);
            if (ok) formats.insert(id, x.attr("formatCode"));
        } else if (n == QLatin1String("cellXfs")) {
            inCellXfs = true;
        } else if (n == QLatin1String("cellStyleXfs") || n == QLatin1String("dxfs") ||
                   n == QLatin1String("cellStyles")) {
            inCellXfs = false;
        } else if (n == QLatin1String("xf") && inCellXfs) {
            xfFormat.push_back(x.attr("numFmtId").toInt());
        }
    }
    xfDate_.assign(xfFormat.size(), 0);
    for (size_t i = 0; i < xfFormat.size(); ++i) {
        const int id = xfFormat[i];
        const auto f = formats.constFind(id);
        if (f == formats.constEnd())
            xfDate_[i] = id == 46 ? 2 : xls::isBuiltInDateFormat(id) ? 1 : 0; // 46: [h]:mm:ss
        else if (xls::isDateFormat(*f))
            xfDate_[i] = xls::isElapsedFormat(*f) ? 2 : 1;
    }
}

void BookReader::readSharedStrings(Package& pkg, const QString& part) {
    PartSource src(pkg, part, false); // on a thread of its own already
    if (!src.ok()) return;
    Scan s(src);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // Each string goes straight into the pool (as QString::fromUtf8 reads it), unless it holds
    // an escape.
    const auto add = [&](std::string_view text) {
        const qsizetype at = sstChars_.size();
        if (text.find("_x") != std::string_view::npos) {
            sstChars_.append(unescapeXstring(utf8(text)));
        } else {
            sstChars_.resize(at + qsizetype(text.size()));
            const QChar* end = decoder.appendToBuffer(sstChars_.data() + at, text);
            sstChars_.resize(end - sstChars_.constData());
        }
        sst_.emplace_back(at, sstChars_.size() - at);
    };
    std::string text;
    bool preserve = false; // xml:space of the table itself, inherited by its items
    for (;;) {
        std::string_view plain;
        for (size_t n; (n = quickItem(s.x().ahead(), &plain)) != 0;) {
            add(preserve ? plain : xmlTrimmed(plain));
            s.x().skip(n);
        }
        const XmlScanner::Token t = s.next();
        if (t == XmlScanner::Done) break;
        if (t != XmlScanner::StartElement) continue;
        if (s.x().name() == "sst") {
            preserve = s.spacePreserved(false);
            // Room for the strings the table says it holds, as far as its size can hold so
            // many (an item takes at least five bytes).
            const std::string_view count = trimmed(s.x().attribute("uniqueCount"));
            uint64_t n = 0;
            std::from_chars(count.data(), count.data() + count.size(), n);
            sst_.reserve(size_t(std::min<uint64_t>(n, uint64_t(src.statedSize()) / 5)));
        }
        if (s.x().name() != "si") continue;
        text.clear();
        s.stringItem(&text, preserve);
        add(text);
    }
}

Cell BookReader::makeCell(std::string_view type, std::string_view value, bool haveValue,
                          uint32_t style) const {
    if (type.empty() || type == "n") {
        if (!haveValue || trimmed(value).empty()) return {};
        if (const auto v = parseNumber(value)) {
            const uint8_t kind = style < xfDate_.size() ? xfDate_[style] : 0;
            return Cell::ofNumber(*v, kind != 0, kind == 2);
        }
        return Cell::ofText(utf8(value)); // not a number after all: keep what is written
    }
    if (type == "s") {
        if (!haveValue || trimmed(value).empty()) return {};
        uint64_t index = 0;
        const std::string_view t = trimmed(value);
        const auto r = std::from_chars(t.data(), t.data() + t.size(), index);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size() || index > uint64_t(1) << 40)
            failWith(ReadError::Corrupt);
        // The text comes once the shared strings are read (finishSheet): until then the cell
        // holds the string's index, marked by the elapsed flag that only numbers use.
        Cell pending = Cell::ofText(QString());
        pending.number = double(index);
        pending.elapsed = true;
        return pending;
    }
    if (type == "str" || type == "inlineStr") {
        if (!haveValue) return {};
        return Cell::ofText(unescapeXstring(utf8(value)));
    }
    if (type == "b") {
        const std::string_view t = trimmed(value);
        if (!haveValue || t.empty()) return {};
        if (t == "1" || t == "true") return Cell::ofBoolean(true);
        if (t == "0" || t == "false") return Cell::ofBoolean(false);
        return Cell::ofText(utf8(value));
    }
    if (type == "e") {
        if (!haveValue) return {};
        const int code = errorCode(trimmed(value));
        return code >= 0 ? Cell::ofError(code) : Cell::ofText(utf8(trimmed(value)));
    }
    if (type == "d") {
        if (!haveValue || trimmed(value).empty()) return {};
        if (const auto serial = isoSerial(value, wb_->date1904)) {
            const uint8_t kind = style < xfDate_.size() ? xfDate_[style] : 0;
            return Cell::ofNumber(*serial, true, kind == 2);
        }
        return Cell::ofText(utf8(value));
    }
    if (!haveValue) return {};
    return Cell::ofText(utf8(value));
}

void BookReader::readSheet(const QString& part, xls::Sheet* sheet, TableMaker* maker) {
    PartSource src(pkg_, part);
    if (!src.ok()) failWith(ReadError::Corrupt);
    Scan s(src);
    XmlScanner& x = s.x();
    std::vector<PlacedCell>& cells = sheet->cells;
    bool inData = false;
    int64_t row = -1; // the current row, 0-based
    int64_t col = -1; // the column of the last cell of the row
    std::string type, value;
    // Where a cell goes: its reference, else the place after the cell before it.
    const auto place = [&](bool hasRef, std::string_view ref, uint32_t* cellRow,
                           uint32_t* cellCol) {
        if (hasRef && !trimmed(ref).empty()) {
            if (!parseReference(trimmed(ref), cellCol, cellRow)) failWith(ReadError::Corrupt);
        } else {
            *cellRow = uint32_t(std::max<int64_t>(row, 0));
            *cellCol = uint32_t(col + 1);
            if (*cellCol >= kMaxCols) failWith(ReadError::Corrupt);
        }
        if (row < 0) row = *cellRow; // a cell outside any row element
        col = *cellCol;
    };
    const auto styleOf = [](std::string_view text) {
        const std::string_view sv = trimmed(text);
        uint32_t style = 0;
        std::from_chars(sv.data(), sv.data() + sv.size(), style);
        return style;
    };
    const auto keep = [&](uint32_t cellRow, uint32_t cellCol, Cell&& cell) {
        if (cell.kind == xls::CellKind::Empty) return;
        if (maker)
            maker->add(cellRow, cellCol, cell);
        else
            cells.push_back({cellRow, uint16_t(cellCol), std::move(cell)});
    };
    for (;;) {
        if (inData) {
            QuickCell q;
            for (size_t n; (n = quickCell(x.ahead(), &q)) != 0;) {
                uint32_t cellRow, cellCol;
                place(q.hasR, q.r, &cellRow, &cellCol);
                Cell cell;
                if (q.hasV) cell = makeCell(q.t, q.v, true, styleOf(q.s));
                x.skip(n);
                keep(cellRow, cellCol, std::move(cell));
            }
        }
        const XmlScanner::Token t = s.next();
        if (t == XmlScanner::Done) break;
        if (t == XmlScanner::EndElement && x.name() == "sheetData") inData = false;
        if (t != XmlScanner::StartElement) continue;
        const std::string_view name = x.name();
        if (name == "sheetData") {
            inData = true;
        } else if (name == "dimension" && !inData) {
            // The used range Excel writes ahead of the cells ("A1:J200001"): room for them, as
            // far as the part's size can hold so many (a cell takes at least 12 bytes).
            const std::string_view ref = x.attribute("ref");
            const size_t colon = ref.find(':');
            uint32_t c1, r1, c2, r2;
            if (colon != std::string_view::npos && parseReference(ref.substr(0, colon), &c1, &r1) &&
                parseReference(ref.substr(colon + 1), &c2, &r2) && c2 >= c1 && r2 >= r1) {
                const uint64_t area = uint64_t(c2 - c1 + 1) * (r2 - r1 + 1);
                const auto room = size_t(std::min<uint64_t>(area, uint64_t(src.statedSize()) / 12));
                if (maker)
                    maker->reserve(room);
                else
                    cells.reserve(room);
            }
        } else if (!inData) {
            continue;
        } else if (name == "row") {
            bool has = false;
            const std::string_view r = trimmed(x.attribute("r", &has));
            if (has) {
                uint32_t n = 0;
                const auto res = std::from_chars(r.data(), r.data() + r.size(), n);
                if (res.ec != std::errc() || res.ptr != r.data() + r.size() || n == 0 ||
                    n > kMaxRows)
                    failWith(ReadError::Corrupt);
                row = int64_t(n) - 1;
            } else {
                ++row;
            }
            if (row >= int64_t(kMaxRows)) failWith(ReadError::Corrupt);
            col = -1;
        } else if (name == "c") {
            bool has = false;
            const std::string_view r = x.attribute("r", &has);
            uint32_t cellRow, cellCol;
            place(has, r, &cellRow, &cellCol);
            type.assign(x.attribute("t"));
            const uint32_t style = styleOf(x.attribute("s"));
            // The cell's children: the value <v>, an inline string <is>, a formula <f>. The
            // cell is made when its value is read (the last one wins).
            Cell cell;
            for (int depth = 1; depth > 0;) {
                const XmlScanner::Token ct = s.next();
                if (ct == XmlScanner::EndElement) {
                    --depth;
                } else if (ct == XmlScanner::StartElement) {
                    const std::string_view child = x.name();
                    if (depth == 1 && child == "v" && type != "inlineStr") {
                        std::string_view plain;
                        if (x.plainElementText(&plain)) {
                            cell = makeCell(type, plain, true, style);
                        } else {
                            value.clear();
                            s.elementText(&value);
                            cell = makeCell(type, value, true, style);
                        }
                    } else if (depth == 1 && child == "is") {
                        value.clear();
                        s.stringItem(&value, false);
                        if (type.empty()) type = "inlineStr";
                        cell = makeCell(type, value, true, style);
                    } else {
                        ++depth; // <f>, <extLst>: not values
                    }
                } else if (ct == XmlScanner::Done) {
                    failWith(ReadError::Corrupt);
                }
            }
            keep(cellRow, cellCol, std::move(cell));
        }
    }
}

// Gives the cells of shared text their strings, puts the cells in order and keeps the last of
// two cells at one position.
void BookReader::finishSheet(xls::Sheet* sheet) const {
    std::vector<PlacedCell>& cells = sheet->cells;
    for (PlacedCell& c : cells) {
        if (c.cell.kind != xls::CellKind::Text || !c.cell.elapsed) continue;
        const auto index = size_t(c.cell.number);
        if (index >= sst_.size()) failWith(ReadError::Corrupt); // past the string table
        const auto [offset, length] = sst_[index];
        c.cell = Cell::ofText(QString(sstChars_.constData() + offset, length));
    }
    // Cells normally come in order; a later cell for the same position wins.
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
}

// "Sheet1!$A$1:$C$9", "'O''Brien'!$B$2", "Sheet1!$A:$C", "Sheet1!$2:$5": one absolute area
// of one worksheet of this workbook. Anything else (constants, formulas, several areas, other
// workbooks, relative references, #REF!) is no table.
bool BookReader::resolveArea(const QString& formula, xls::NamedRange* range) const {
    QString f = formula.trimmed();
    if (f.startsWith(QLatin1Char('='))) f.remove(0, 1);
    QString sheetName;
    qsizetype i = 0;
    if (f.startsWith(QLatin1Char('\''))) {
        for (i = 1; i < f.size(); ++i) {
            if (f[i] != u'\'') {
                sheetName += f[i];
            } else if (i + 1 < f.size() && f[i + 1] == u'\'') {
                sheetName += u'\'';
                ++i;
            } else {
                break;
            }
        }
        if (i >= f.size() || i + 1 >= f.size() || f[i + 1] != u'!') return false;
        i += 2;
    } else {
        const qsizetype bang = f.indexOf(QLatin1Char('!'));
        if (bang <= 0) return false;
        sheetName = f.left(bang);
        if (sheetName.contains(QLatin1Char('[')) || sheetName.contains(QLatin1Char(':')))
            return false;
        i = bang + 1;
    }
    const QString area = f.mid(i);
    const QStringList ends = area.split(QLatin1Char(':'));
    if (ends.size() > 2) return false;
    // One end: "$A$1", "$A" or "$1"; every part absolute.
    struct End {
        int64_t col = -1, row = -1;
    };
    const auto letter = [](QChar ch) {
        return (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z');
    };
    const auto digit = [](QChar ch) { return ch >= u'0' && ch <= u'9'; };
    const auto parseEnd = [&](const QString& s, End* e) {
        qsizetype k = 0;
        if (k >= s.size() || s[k] != u'$') return false;
        ++k;
        int64_t c = 0;
        qsizetype start = k;
        for (; k < s.size() && letter(s[k]); ++k) {
            c = c * 26 + (s[k].toUpper().unicode() - 'A' + 1);
            if (c > kMaxCols) return false;
        }
        if (k > start) {
            e->col = c - 1;
            if (k == s.size()) return true;
            if (s[k] != u'$') return false;
            ++k;
        }
        int64_t r = 0;
        start = k;
        for (; k < s.size() && digit(s[k]); ++k) {
            r = r * 10 + (s[k].unicode() - '0');
            if (r > kMaxRows) return false;
        }
        if (k == start || k != s.size() || r == 0) return false;
        e->row = r - 1;
        return true;
    };
    End a, b;
    if (!parseEnd(ends[0], &a)) return false;
    b = a;
    if (ends.size() == 2 && !parseEnd(ends[1], &b)) return false;
    const bool cellArea = a.col >= 0 && a.row >= 0 && b.col >= 0 && b.row >= 0;
    const bool columns = a.row < 0 && b.row < 0 && a.col >= 0 && b.col >= 0 && ends.size() == 2;
    const bool rows = a.col < 0 && b.col < 0 && a.row >= 0 && b.row >= 0 && ends.size() == 2;
    if (!cellArea && !columns && !rows) return false;
    const int64_t c1 = columns || cellArea ? std::min(a.col, b.col) : 0;
    const int64_t c2 = columns || cellArea ? std::max(a.col, b.col) : kMaxCols - 1;
    const int64_t r1 = rows || cellArea ? std::min(a.row, b.row) : 0;
    const int64_t r2 = rows || cellArea ? std::max(a.row, b.row) : kMaxRows - 1;
    for (const SheetEntry& e : sheets_) {
        if (e.worksheet < 0 || e.name.compare(sheetName, Qt::CaseInsensitive) != 0) continue;
        range->sheet = e.worksheet;
        range->firstRow = uint32_t(r1);
        range->lastRow = uint32_t(r2);
        range->firstCol = uint16_t(c1);
        range->lastCol = uint16_t(c2);
        return true;
    }
    return false;
}

// Names of one area of one worksheet become named ranges; built-in names (_xlnm.Print_Area,
// filter ranges), hidden names and macro names are left out (see readWorkbookPart).
void BookReader::readNames() {
    for (const DefinedName& d : names_) {
        if (d.name.isEmpty() || d.name.startsWith(QLatin1String("_xl"), Qt::CaseInsensitive))
            continue;
        xls::NamedRange range;
        range.name = d.name;
        if (!resolveArea(d.formula, &range)) continue;
        if (d.localSheet >= 0) {
            if (size_t(d.localSheet) >= sheets_.size() ||
                sheets_[size_t(d.localSheet)].worksheet < 0)
                continue;
            range.scope = sheets_[size_t(d.localSheet)].worksheet;
        }
        wb_->names.push_back(std::move(range));
    }
}

} // namespace

bool isZip(const QByteArray& head) {
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

namespace {

ReadError readBook(const QByteArray& file, Workbook* out,
                   std::vector<std::optional<xls::Table>>* tables, const Limits& limits) {
    *out = Workbook();
    if (tables) tables->clear();
    if (file.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        cfb::Reader cf;
        if (cf.open(file) == cfb::Status::Ok &&
            cf.streamNames().contains(QLatin1String("EncryptedPackage"), Qt::CaseInsensitive))
            return ReadError::Encrypted;
        return ReadError::OldFormat;
    }
    if (!isZip(file)) return ReadError::NotWorkbook;
    try {
        BookReader reader(file, limits, out, tables);
        reader.read();
    } catch (const Failure& f) {
        *out = Workbook();
        if (tables) tables->clear();
        return f.error;
    } catch (const std::bad_alloc&) {
        *out = Workbook();
        if (tables) tables->clear();
        return ReadError::TooLarge;
    }
    return ReadError::None;
}

bool readFile(const QString& path, Workbook* out, std::vector<std::optional<xls::Table>>* tables,
              QString* error) {
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
    const ReadError e = readBook(bytes, out, tables, {});
    if (e == ReadError::OldFormat) {
        const xls::ReadError old = xls::readWorkbook(bytes, out);
        if (old != xls::ReadError::None && error) *error = xls::errorText(old, path);
        return old == xls::ReadError::None;
    }
    if (e != ReadError::None && error) *error = errorText(e, path);
    return e == ReadError::None;
}

} // namespace

ReadError readWorkbook(const QByteArray& file, Workbook* out, const Limits& limits) {
    return readBook(file, out, nullptr, limits);
}

ReadError readWorkbookTables(const QByteArray& file, Workbook* out,
                             std::vector<std::optional<xls::Table>>* tables, const Limits& limits) {
    return readBook(file, out, tables, limits);
}

bool readWorkbookFile(const QString& path, Workbook* out, QString* error) {
    return readFile(path, out, nullptr, error);
}

bool readWorkbookTablesFile(const QString& path, Workbook* out,
                            std::vector<std::optional<xls::Table>>* tables, QString* error) {
    return readFile(path, out, tables, error);
}

QString errorText(ReadError error, const QString& path) {
    const QString p = QDir::toNativeSeparators(path);
    switch (error) {
    case ReadError::None:
        return {};
    case ReadError::Unreadable:
        return QStringLiteral("找不到Excel文件或无法打开：%1").arg(p);
    case ReadError::NotWorkbook:
        return QStringLiteral("该文件不是Excel工作簿（.xlsx），无法读取：%1").arg(p);
    case ReadError::OldFormat:
        return QStringLiteral("该文件是Excel 97-2003工作簿（.xls），请用.xls扩展名打开：%1").arg(p);
    case ReadError::Binary:
        return QStringLiteral("该文件是Excel二进制工作簿（.xlsb），无法读取，请在Excel中另存为"
                              "“Excel工作簿（.xlsx）”后再试：%1")
            .arg(p);
    case ReadError::Encrypted:
        return QStringLiteral("该Excel文件已加密，无法打开，请在Excel中取消密码后再试：%1").arg(p);
    case ReadError::Corrupt:
        return QStringLiteral("该Excel文件已损坏，无法读取：%1").arg(p);
    case ReadError::TooLarge:
        return QStringLiteral("该Excel文件中的数据解压后过大（可能是恶意构造的压缩文件），"
                              "已停止读取：%1")
            .arg(p);
    }
    return {};
}

} // namespace formats::xlsx
