#include "db/formats/csv/csv.h"

#include "db/formats/blanks.h"

#include "db/formats/textcodec.h"
#include "db/formats/threads.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace formats::csv {

namespace {

constexpr std::array<char16_t, 4> kDelimiters = {u',', u'\t', u';', u'|'};

// The UTF-16 length of the UTF-8 text [p, end); -1 when it is not valid UTF-8 (an overlong
// form, a surrogate, a sequence cut short, a byte that begins none).
qsizetype utf8Units(const unsigned char* p, const unsigned char* end) {
    qsizetype units = 0;
    while (p < end) {
        // Eight ASCII bytes at a time.
        if (end - p >= 8) {
            quint64 eight;
            std::memcpy(&eight, p, 8);
            if ((eight & 0x8080808080808080ull) == 0) {
                p += 8;
                units += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            ++units;
            continue;
        }
        int more;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
        } else {
            return -1;
        }
        if (end - p <= more) return -1;
        for (int k = 1; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80) return -1;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
        p += more + 1;
        units += more == 3 ? 2 : 1;
    }
    return units;
}

// UTF-8 text cut into parts for the threads, at the start of a character: where each begins
// (and, last, the end) and the UTF-16 length of each; valid only when all of it is UTF-8.
struct Utf8Parts {
    std::vector<qsizetype> begin;
    std::vector<qsizetype> units;
    bool valid = false;
};

Utf8Parts scanUtf8(QByteArrayView bytes) {
    Utf8Parts parts;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    // A megabyte a part at least: threads for small files cost more than they give.
    const int n = int(std::clamp<qsizetype>(size >> 20, 1, workerThreads()));
    parts.begin.push_back(0);
    for (int i = 1; i < n; ++i) {
        qsizetype at = std::max(parts.begin.back(), size * i / n);
        // A character's continuation bytes (at most three) stay with its first byte; four in a
        // row are not UTF-8, whichever part sees them.
        for (int k = 0; k < 3 && at < size && (data[at] & 0xC0) == 0x80; ++k)
            ++at;
        parts.begin.push_back(at);
    }
    parts.begin.push_back(size);
    parts.units.assign(size_t(n), 0);
    onThreads(n, [&](int i) {
        parts.units[size_t(i)] =
            utf8Units(data + parts.begin[size_t(i)], data + parts.begin[size_t(i) + 1]);
    });
    parts.valid =
        std::all_of(parts.units.begin(), parts.units.end(), [](qsizetype u) { return u >= 0; });
    return parts;
}

// Valid UTF-8 (scanned into parts) as text, the parts decoded side by side into their places;
// a null text when a decoder finds fault with its part.
QString decodeUtf8(QByteArrayView bytes, const Utf8Parts& parts) {
    qsizetype total = 0;
    std::vector<qsizetype> at;
    for (qsizetype u : parts.units) {
        at.push_back(total);
        total += u;
    }
    QString text(total, Qt::Uninitialized);
    QChar* out = text.data();
    std::vector<char> bad(parts.units.size(), 0);
    onThreads(int(parts.units.size()), [&](int i) {
        // A byte order mark inside the text is a character: no part drops one.
        QStringDecoder decoder(QStringConverter::Utf8, QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom);
        const qsizetype from = parts.begin[size_t(i)];
        QChar* end = decoder.appendToBuffer(out + at[size_t(i)],
                                            bytes.sliced(from, parts.begin[size_t(i) + 1] - from));
        bad[size_t(i)] =
            decoder.hasError() || end - (out + at[size_t(i)]) != parts.units[size_t(i)];
    });
    if (std::any_of(bad.begin(), bad.end(), [](char b) { return b != 0; })) return {};
    return text;
}

// detectEncoding, with the parts of the UTF-8 scan when it made one.
QByteArray detect(const QByteArray& bytes, bool* bom, Utf8Parts* parts) {
    if (bom) *bom = true;
    if (bytes.startsWith("\xEF\xBB\xBF")) return "UTF-8";
    if (bytes.startsWith("\xFF\xFE")) return "UTF-16LE";
    if (bytes.startsWith("\xFE\xFF")) return "UTF-16BE";
    if (bom) *bom = false;
    // UTF-16 without a mark: ASCII characters leave every other byte zero.
    const qsizetype n = std::min<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    if (n >= 4) {
        qsizetype evenZero = 0, oddZero = 0;
        for (qsizetype i = 0; i < n; i += 2) {
            evenZero += bytes[i] == '\0';
            oddZero += bytes[i + 1] == '\0';
        }
        if (oddZero > n / 4 && evenZero == 0) return "UTF-16LE";
        if (evenZero > n / 4 && oddZero == 0) return "UTF-16BE";
    }
    *parts = scanUtf8(bytes);
    return parts->valid ? "UTF-8" : "GB18030";
}

// Fields of the records of a text that start at from or after it and before limit (from being
// where a record starts); calls record(fields, line) for each, line being the 1-based line where
// the record starts, counted from from. Returns where the record after the last one starts, or
// -1 (with *openLine) for a quoted field left open.
template <typename Fn>
qsizetype forEachRecord(QStringView text, qsizetype from, qsizetype limit, QChar delimiter,
                        Fn&& record, qsizetype* openLine) {
    const char16_t d = delimiter.unicode();
    const char16_t* const begin = reinterpret_cast<const char16_t*>(text.data());
    const char16_t* p = begin + from;
    const char16_t* const end = begin + text.size();
    const char16_t* const stop = begin + std::min(limit, text.size());
    std::vector<QStringView> fields;
    std::deque<QString> stored; // quoted fields with doubled quotes or a tail, joined
    qsizetype line = 1;
    while (p < stop) {
        fields.clear();
        stored.clear();
        const qsizetype startLine = line;
        for (;;) { // one field
            if (p < end && *p == u'"') {
                const char16_t* start = ++p;
                QString joined;
                bool doubled = false;
                for (;;) {
                    while (p < end && *p != u'"') {
                        if (*p == u'\n' || (*p == u'\r' && (p + 1 == end || p[1] != u'\n'))) ++line;
                        ++p;
                    }
                    if (p == end) {
                        *openLine = startLine;
                        return -1;
                    }
                    if (p + 1 < end && p[1] == u'"') { // a doubled quote
                        joined.append(QStringView(start, p + 1));
                        p += 2;
                        start = p;
                        doubled = true;
                        continue;
                    }
                    break;
                }
                // After the closing quote, anything up to the delimiter belongs to the field.
                const char16_t* const close = p++;
                const char16_t* tail = p;
                while (p < end && *p != d && *p != u'\n' && *p != u'\r')
                    ++p;
                if (doubled || tail != p) {
                    joined.append(QStringView(start, close));
                    joined.append(QStringView(tail, p));
                    stored.push_back(std::move(joined));
                    fields.push_back(QStringView(stored.back()));
                } else {
                    fields.push_back(QStringView(start, close));
                }
            } else {
                const char16_t* start = p;
                while (p < end && *p != d && *p != u'\n' && *p != u'\r')
                    ++p;
                fields.push_back(QStringView(start, p));
            }
            if (p < end && *p == d) {
                ++p;
                continue;
            }
            break;
        }
        if (p < end) { // the line end: CR LF, LF or CR
            if (*p == u'\r' && p + 1 < end && p[1] == u'\n') ++p;
            ++p;
            ++line;
        }
        record(fields, startLine);
    }
    return p - begin;
}

} // namespace

QByteArray detectEncoding(const QByteArray& bytes, bool* bom) {
    Utf8Parts parts;
    return detect(bytes, bom, &parts);
}

QChar detectDelimiter(QStringView text) {
    // Per record of the first lines (blank lines left out): how often each candidate occurs
    // outside quotes.
    using Counts = std::array<qsizetype, kDelimiters.size()>;
    std::vector<Counts> counts;
    Counts c{};
    bool inQuotes = false, blank = true;
    const qsizetype n = std::min<qsizetype>(text.size(), 65536);
    for (qsizetype i = 0; i <= n && counts.size() < 30; ++i) {
        const QChar ch = i < n ? text[i] : QChar(u'\n');
        if (ch == u'"') inQuotes = !inQuotes;
        if (inQuotes) {
            blank = false;
            continue;
        }
        if (ch == u'\n' || ch == u'\r') {
            if (!blank) counts.push_back(c);
            c = {};
            blank = true;
            continue;
        }
        if (!ch.isSpace()) blank = false;
        for (size_t k = 0; k < kDelimiters.size(); ++k)
            if (ch == kDelimiters[k]) ++c[k];
    }
    // The candidate the first record holds and most other records hold as often.
    QChar best = u',';
    qsizetype bestScore = 0, bestCount = 0;
    for (size_t k = 0; k < kDelimiters.size(); ++k) {
        if (counts.empty() || counts.front()[k] == 0) continue;
        const qsizetype header = counts.front()[k];
        qsizetype score = 0;
        for (const Counts& r : counts)
            score += r[k] == header;
        if (score > bestScore || (score == bestScore && header > bestCount)) {
            best = kDelimiters[k];
            bestScore = score;
            bestCount = header;
        }
    }
    return best;
}

QByteArray encodingForCodePage(const QString& codePage) {
    const QString cp = codePage.trimmed();
    if (cp.isEmpty()) return {};
    bool numeric = false;
    const int number = cp.toInt(&numeric);
    if (numeric) return formats::codecForCodePage(number);
    const QString u = cp.toUpper().remove(QLatin1Char('-')).remove(QLatin1Char('_'));
    if (u == QLatin1String("GBK") || u == QLatin1String("GB2312") || u == QLatin1String("CP936") ||
        u == QLatin1String("GB18030") || u == QLatin1String("ANSI"))
        return "GB18030";
    if (u == QLatin1String("UTF8")) return "UTF-8";
    if (u == QLatin1String("UTF16") || u == QLatin1String("UTF16LE") ||
        u == QLatin1String("UNICODE"))
        return "UTF-16LE";
    if (u == QLatin1String("UTF16BE")) return "UTF-16BE";
    if (u.startsWith(QLatin1String("CP"))) {
        const int n = u.mid(2).toInt(&numeric);
        if (numeric) return formats::codecForCodePage(n);
    }
    const QByteArray name = cp.toLatin1();
    return formats::isKnownCodec(name) ? name : QByteArray();
}

namespace {

// The records of a stretch of a text, read on a thread of its own and joined to the others in
// order. Values of the text stand where they are written; the others (quoted with doubled
// quotes, or with a tail) in more.
struct Stretch {
    qsizetype from = 0, limit = 0; // its records start in [from, limit)
    qsizetype end = -1;            // where the record after its last one starts; -1: quote open
    std::vector<xls::Table::Value> own;
    std::vector<xls::Table::Value>* values = &own;
    std::vector<size_t> rowEnd; // per record, where its values end
    std::vector<size_t> joined; // the values that stand in more
    QString more;
    std::vector<qsizetype> longest;
    size_t width = 0;

    void read(QStringView text, QChar delimiter) {
        values->clear();
        rowEnd.clear();
        joined.clear();
        more.clear();
        longest.clear();
        width = 0;
        const char16_t* const textBegin = reinterpret_cast<const char16_t*>(text.data());
        const char16_t* const textEnd = textBegin + text.size();
        qsizetype openLine = 0;
        end = forEachRecord(
            text, from, limit, delimiter,
            [&](const std::vector<QStringView>& fields, qsizetype) {
                if (std::all_of(fields.begin(), fields.end(),
                                [](QStringView f) { return f.isEmpty(); }))
                    return; // a blank line, or a record without any value
                if (fields.size() > width) {
                    width = fields.size();
                    longest.resize(width, 0);
                }
                for (size_t c = 0; c < fields.size(); ++c) {
                    const QStringView f = fields[c];
                    if (f.isEmpty()) continue;
                    longest[c] = std::max(longest[c], f.size());
                    const char16_t* at = reinterpret_cast<const char16_t*>(f.data());
                    if (at >= textBegin && at + f.size() <= textEnd) {
                        values->push_back(
                            {uint32_t(at - textBegin), uint32_t(f.size()), uint16_t(c)});
                        continue;
                    }
                    if (uint64_t(more.size()) + uint64_t(f.size()) > 0xFFFFFFFFu)
                        throw std::length_error("table text too long");
                    joined.push_back(values->size());
                    values->push_back({uint32_t(more.size()), uint32_t(f.size()), uint16_t(c)});
                    more.append(f);
                }
                rowEnd.push_back(values->size());
            },
            &openLine);
    }
};

// Stretches of at least this many characters are read side by side.
constexpr qsizetype kStretch = qsizetype(1) << 19;

} // namespace

bool parse(const QString& text, QChar delimiter, xls::Table* out, QString* error) {
    *out = xls::Table();
    // The values point into the text where they are written out in it (not quoted with doubled
    // quotes): one copy of the text, kept by the table, rather than one string per value.
    const auto tooLarge = [&] {
        *out = xls::Table();
        if (error) *error = QStringLiteral("文件太大（超过40亿个字符），无法读入");
        return false;
    };
    if (uint64_t(text.size()) >= 0xFFFFFFFFu) return tooLarge();
    // A quoted field left open: the whole text read once more, to name the line it starts on.
    const auto openQuote = [&] {
        qsizetype openLine = 0;
        forEachRecord(
            text, 0, text.size(), delimiter, [](const std::vector<QStringView>&, qsizetype) {},
            &openLine);
        *out = xls::Table();
        if (error)
            *error = QStringLiteral("第%1行开始的引号没有配对（缺少结尾的双引号），文件可能不完整")
                         .arg(openLine);
        return false;
    };
    out->text = text;
    out->rowStart.push_back(0);
    // The first record with a value gives the headings.
    std::vector<std::optional<QString>> headings;
    bool haveHeadings = false;
    qsizetype body = 0;
    qsizetype openLine = 0;
    while (!haveHeadings && body < text.size()) {
        body = forEachRecord(
            text, body, body + 1, delimiter,
            [&](const std::vector<QStringView>& fields, qsizetype) {
                if (std::all_of(fields.begin(), fields.end(),
                                [](QStringView f) { return f.isEmpty(); }))
                    return;
                // "rec_id, given_name": the blanks after the delimiters are no part of a name.
                for (QStringView f : fields)
                    headings.push_back(
                        f.isEmpty() ? std::nullopt
                                    : std::optional<QString>(formats::trimBlanks(f).toString()));
                haveHeadings = true;
            },
            &openLine);
        if (body < 0) return openQuote();
    }
    size_t width = headings.size();
    if (haveHeadings) {
        // Room for a value in every field of every line (memory not written to costs nothing):
        // the values are not moved again and again as they grow. (No more than a value for
        // every four characters, and a reservation that the system refuses is none: the vector
        // grows as it would have.)
        const size_t lines = size_t(std::count(text.begin() + body, text.end(), QChar(u'\n')));
        try {
            out->values.reserve(std::min(width * (lines + 1), size_t(text.size()) / 4 + 16));
            out->rowStart.reserve(lines + 2);
        } catch (const std::bad_alloc&) {
        }
        // The records below them in stretches side by side, each guessed to start after a line
        // end; a guess that a quoted field spans is read again from where the stretch before
        // it ended (a record starts there for sure).
        const qsizetype rest = text.size() - body;
        const int n = int(std::clamp<qsizetype>(rest / kStretch, 1, formats::workerThreads()));
        std::vector<Stretch> stretch(static_cast<size_t>(n));
        stretch[0].values = &out->values;
        stretch[0].from = body;
        for (int i = 1; i < n; ++i) {
            const qsizetype guess = text.indexOf(u'\n', body + rest * i / n);
            stretch[size_t(i)].from = guess < 0 ? text.size() : guess + 1;
        }
        for (int i = 0; i < n; ++i)
            stretch[size_t(i)].limit = i + 1 < n ? stretch[size_t(i) + 1].from : text.size();
        try {
            formats::onThreads(n, [&](int i) { stretch[size_t(i)].read(text, delimiter); });
            for (int i = 1; i < n; ++i) {
                Stretch& before = stretch[size_t(i) - 1];
                if (before.end < 0) break;
                if (before.end == stretch[size_t(i)].from) continue;
                stretch[size_t(i)].from = before.end;
                stretch[size_t(i)].read(text, delimiter);
            }
        } catch (const std::length_error&) { // the quoted values' own texts past 4 G characters
            return tooLarge();
        }
        if (std::any_of(stretch.begin(), stretch.end(), [](const Stretch& s) { return s.end < 0; }))
            return openQuote();
        uint64_t moreAt = uint64_t(text.size());
        for (Stretch& s : stretch) {
            const size_t base = s.values == &out->values ? 0 : out->values.size();
            if (moreAt + uint64_t(s.more.size()) > 0xFFFFFFFFu) return tooLarge();
            for (const size_t j : s.joined)
                (*s.values)[j].at += uint32_t(moreAt);
            moreAt += uint64_t(s.more.size());
            if (s.values != &out->values) {
                out->values.insert(out->values.end(), s.own.begin(), s.own.end());
                std::vector<xls::Table::Value>().swap(s.own);
            }
            for (const size_t e : s.rowEnd)
                out->rowStart.push_back(base + e);
            out->more.append(s.more);
            s.more = QString();
            width = std::max(width, s.width);
            if (out->longest.size() < width) out->longest.resize(width, 0);
            for (size_t c = 0; c < s.longest.size(); ++c)
                out->longest[c] = std::max(out->longest[c], s.longest[c]);
        }
    }
    if (width > 0xFFFF) {
        *out = xls::Table();
        if (error) *error = QStringLiteral("文件中的一行有%1个字段，过多").arg(width);
        return false;
    }
    headings.resize(std::max<size_t>(width, 1));
    out->longest.resize(headings.size(), 0);
    out->fields = xls::fieldNames(headings);
    return true;
}

bool readFile(const QString& path, const QString& codePage, xls::Table* out, Format* format,
              QString* error) {
    const QString shown = QDir::toNativeSeparators(path);
    QFile f(path);
    if (QFileInfo(path).isDir() || !f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("找不到文本文件或无法打开：%1").arg(shown);
        *out = xls::Table();
        return false;
    }
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = QStringLiteral("读取文本文件时出错：%1").arg(shown);
        *out = xls::Table();
        return false;
    }
    f.close();
    return readBytes(std::move(bytes), codePage, shown, out, format, error);
}

bool readBytes(QByteArray bytes, const QString& codePage, const QString& shown, xls::Table* out,
               Format* format, QString* error) {
    const auto fail = [&](const QString& message) {
        if (error) *error = message;
        *out = xls::Table();
        return false;
    };
    Format fmt;
    bool bom = false;
    Utf8Parts parts;
    const QByteArray detected = detect(bytes, &bom, &parts);
    if (!codePage.trimmed().isEmpty()) {
        fmt.encoding = encodingForCodePage(codePage);
        if (fmt.encoding.isEmpty())
            return fail(
                QStringLiteral("不认识的编码“%1”，无法读取文本文件：%2").arg(codePage, shown));
        // A byte order mark of the same encoding is not text.
        bom = bom && detected == fmt.encoding;
    } else {
        fmt.encoding = detected;
    }
    fmt.byteOrderMark = bom;
    if (!fmt.encoding.startsWith("UTF-16") && bytes.left(65536).contains('\0'))
        return fail(QStringLiteral("该文件含有二进制数据，不是文本文件，无法读取：%1").arg(shown));
    // Qt's own decoders for the Unicode encodings (much faster than going through ICU).
    const auto decoderFor = [](const QByteArray& name) {
        const auto flags = QStringDecoder::Flag::Stateless;
        if (name == "UTF-8") return QStringDecoder(QStringConverter::Utf8, flags);
        if (name == "UTF-16LE") return QStringDecoder(QStringConverter::Utf16LE, flags);
        if (name == "UTF-16BE") return QStringDecoder(QStringConverter::Utf16BE, flags);
        return QStringDecoder(name.constData(), flags);
    };
    QStringDecoder decoder = decoderFor(fmt.encoding);
    if (!decoder.isValid())
        return fail(QStringLiteral("不认识的编码“%1”，无法读取文本文件：%2")
                        .arg(QString::fromLatin1(fmt.encoding), shown));
    // UTF-8 (the common case) is checked and decoded in parts side by side, a byte order mark at
    // its start left out as the decoder leaves it out; anything the parts cannot take (text that
    // is not UTF-8 after all) goes through the decoder whole, which says what is wrong.
    QString text;
    if (fmt.encoding == "UTF-8") {
        const qsizetype skip = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        const QByteArrayView body = QByteArrayView(bytes).sliced(skip);
        if (skip > 0 || parts.begin.empty()) parts = scanUtf8(body);
        if (parts.valid) text = decodeUtf8(body, parts);
    }
    if (text.isNull()) text = decoder(bytes);
    if (decoder.hasError())
        return fail(
            QStringLiteral("该文本文件中有不能按%1编码读取的字节，请指定正确的编码后再试：%2")
                .arg(QString::fromLatin1(fmt.encoding), shown));
    bytes = QByteArray(); // the text alone from here on
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    fmt.delimiter = detectDelimiter(text);
    QString message;
    if (!parse(text, fmt.delimiter, out, &message))
        return fail(QStringLiteral("%1：%2").arg(message, shown));
    if (format) *format = fmt;
    return true;
}

} // namespace formats::csv
