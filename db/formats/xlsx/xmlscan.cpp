#include "db/formats/xlsx/xmlscan.h"

#include <algorithm>
#include <cstring>

namespace formats::xlsx {

namespace {

constexpr size_t kInitialBuffer = size_t(1) << 20;
// One tag or one run of text longer than this is not a spreadsheet part.
constexpr size_t kLongestToken = size_t(256) << 20;

bool isNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.' || c >= 0x80;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view localName(std::string_view qualified) {
    const size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

void appendUtf8(std::string* out, uint32_t cp) {
    if (cp < 0x80) {
        out->push_back(char(cp));
    } else if (cp < 0x800) {
        out->push_back(char(0xC0 | (cp >> 6)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(char(0xE0 | (cp >> 12)));
        out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (cp >> 18)));
        out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    }
}

// One entity or character reference after "&", up to and including ";".
bool entity(std::string_view ref, std::string* out) {
    if (ref == "lt")
        out->push_back('<');
    else if (ref == "gt")
        out->push_back('>');
    else if (ref == "amp")
        out->push_back('&');
    else if (ref == "quot")
        out->push_back('"');
    else if (ref == "apos")
        out->push_back('\'');
    else if (ref.size() >= 2 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t cp = 0;
        for (char c : digits) {
            uint32_t d;
            if (c >= '0' && c <= '9')
                d = uint32_t(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                d = uint32_t(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                d = uint32_t(c - 'A' + 10);
            else
                return false;
            cp = cp * (hex ? 16 : 10) + d;
        }
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        appendUtf8(out, cp);
    } else {
        return false;
    }
    return true;
}

} // namespace

XmlScanner::XmlScanner(ReadFn read) : read_(std::move(read)), buf_(kInitialBuffer) {}

XmlScanner::Token XmlScanner::fail() {
    failed_ = true;
    token_ = Error;
    return Error;
}

bool XmlScanner::fill() {
    if (eof_ || readFailed_) return false;
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ == buf_.size()) {
        if (buf_.size() >= kLongestToken) return false;
        buf_.resize(buf_.size() * 2);
    }
    const int64_t n = read_(buf_.data() + end_, int64_t(buf_.size() - end_));
    if (n < 0) {
        readFailed_ = true;
        return false;
    }
    if (n == 0) {
        eof_ = true;
        return false;
    }
    end_ += size_t(n);
    total_ += n;
    return true;
}

bool XmlScanner::decode(std::string_view raw, bool attribute, std::string* out) {
    out->clear();
    out->reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '&') {
            const size_t semi = raw.find(';', i + 1);
            if (semi == std::string_view::npos || semi - i > 12) return false;
            if (!entity(raw.substr(i + 1, semi - i - 1), out)) return false;
            i = semi;
        } else if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            out->push_back(attribute ? ' ' : '\n');
        } else if (attribute && (c == '\n' || c == '\t')) {
            out->push_back(' ');
        } else {
            out->push_back(c);
        }
    }
    return true;
}

std::string_view XmlScanner::attribute(std::string_view wanted, bool* found) {
    for (size_t i = 0; i < attrs_.size(); ++i) {
        const Attr& a = attrs_[i];
        if (a.name != wanted) continue;
        if (found) *found = true;
        if (a.plain) return a.raw;
        if (attrScratch_.size() <= i) attrScratch_.resize(i + 1);
        if (!decode(a.raw, true, &attrScratch_[i])) {
            failed_ = true;
            return {};
        }
        return attrScratch_[i];
    }
    if (found) *found = false;
    return {};
}

std::string_view XmlScanner::text() {
    if (token_ != Text) return {};
    if (textPlain_) return rawText_;
    if (textIsCdata_) {
        textScratch_.clear();
        for (size_t i = 0; i < rawText_.size(); ++i) {
            if (rawText_[i] == '\r') {
                if (i + 1 < rawText_.size() && rawText_[i + 1] == '\n') ++i;
                textScratch_.push_back('\n');
            } else {
                textScratch_.push_back(rawText_[i]);
            }
        }
        return textScratch_;
    }
    if (!decode(rawText_, false, &textScratch_)) {
        failed_ = true;
        return {};
    }
    return textScratch_;
}

std::string_view XmlScanner::ahead() const {
    if (failed_ || pendingEnd_ || depth_ == 0) return {};
    return {buf_.data() + pos_, end_ - pos_};
}

bool XmlScanner::plainElementText(std::string_view* out) {
    if (token_ != StartElement || pendingEnd_ || failed_ || depth_ == 0) return false;
    const char* b = buf_.data();
    const void* lt = std::memchr(b + pos_, '<', end_ - pos_);
    if (!lt) return false;
    const size_t at = size_t(static_cast<const char*>(lt) - b);
    const std::string& open = open_[depth_ - 1];
    if (at + 3 + open.size() > end_ || b[at + 1] != '/' ||
        std::memcmp(b + at + 2, open.data(), open.size()) != 0 || b[at + 2 + open.size()] != '>')
        return false;
    const std::string_view raw(b + pos_, at - pos_);
    if (containsAnyOf(raw, "&\r")) return false;
    *out = raw;
    pos_ = at + 3 + open.size();
    --depth_;
    if (depth_ == 0) done_ = true;
    name_ = localName(open);
    token_ = EndElement;
    return true;
}

XmlScanner::Parse XmlScanner::skipUntil(size_t from, std::string_view terminator,
                                        size_t* consumed) {
    const std::string_view rest(buf_.data() + from, end_ - from);
    const size_t at = rest.find(terminator);
    if (at == std::string_view::npos) return Parse::NeedMore;
    *consumed = from + at + terminator.size();
    return Parse::Ok;
}

// A start tag at pos_: its name and attributes.
XmlScanner::Parse XmlScanner::parseTag(size_t* consumed) {
    const char* b = buf_.data();
    size_t i = pos_ + 1;
    while (i < end_ && isNameChar(uint8_t(b[i])))
        ++i;
    if (i == end_) return Parse::NeedMore;
    if (i == pos_ + 1) return Parse::Bad;
    const std::string_view qualified(b + pos_ + 1, i - pos_ - 1);
    attrs_.clear();
    for (;;) {
        const size_t before = i;
        while (i < end_ && isSpace(b[i]))
            ++i;
        if (i == end_) return Parse::NeedMore;
        if (b[i] == '>' || b[i] == '/') {
            bool selfClosing = b[i] == '/';
            if (selfClosing) {
                if (i + 1 == end_) return Parse::NeedMore;
                if (b[i + 1] != '>') return Parse::Bad;
                ++i;
            }
            *consumed = i + 1;
            name_ = localName(qualified);
            if (selfClosing) {
                pendingEnd_ = true;
            } else {
                if (depth_ == open_.size()) open_.emplace_back();
                open_[depth_++].assign(qualified);
            }
            return Parse::Ok;
        }
        if (i == before) return Parse::Bad; // attributes are separated by blanks
        const size_t nameStart = i;
        while (i < end_ && isNameChar(uint8_t(b[i])))
            ++i;
        if (i == end_) return Parse::NeedMore;
        if (i == nameStart) return Parse::Bad;
        const std::string_view attrName(b + nameStart, i - nameStart);
        while (i < end_ && isSpace(b[i]))
            ++i;
        if (i == end_) return Parse::NeedMore;
        if (b[i] != '=') return Parse::Bad;
        ++i;
        while (i < end_ && isSpace(b[i]))
            ++i;
        if (i == end_) return Parse::NeedMore;
        const char quote = b[i];
        if (quote != '"' && quote != '\'') return Parse::Bad;
        const void* close = std::memchr(b + i + 1, quote, end_ - i - 1);
        if (!close) return Parse::NeedMore;
        const size_t closeAt = size_t(static_cast<const char*>(close) - b);
        const std::string_view raw(b + i + 1, closeAt - i - 1);
        if (raw.find('<') != std::string_view::npos) return Parse::Bad;
        const bool plain = !containsAnyOf(raw, "&\t\n\r");
        attrs_.push_back({localName(attrName), raw, plain});
        i = closeAt + 1;
    }
}

XmlScanner::Token XmlScanner::next() {
    if (failed_) return fail();
    if (pendingEnd_) {
        pendingEnd_ = false;
        token_ = EndElement;
        if (depth_ == 0) done_ = true;
        return EndElement;
    }
    attrs_.clear();
    for (;;) {
        if (done_) {
            token_ = Done;
            return Done;
        }
        if (pos_ >= end_ && !fill()) {
            // The document ends: fine after the root element, cut short before.
            if (readFailed_ || !started_ || depth_ > 0) return fail();
            token_ = Done;
            return Done;
        }
        const char* b = buf_.data();
        if (b[pos_] != '<') {
            const void* lt = std::memchr(b + pos_, '<', end_ - pos_);
            if (!lt) {
                if (fill()) continue;
                if (readFailed_) return fail();
                // Text at the very end: only blanks after the root element.
                for (size_t i = pos_; i < end_; ++i)
                    if (!isSpace(buf_[i]) || depth_ > 0 || !started_) return fail();
                pos_ = end_;
                continue;
            }
            const size_t at = size_t(static_cast<const char*>(lt) - b);
            rawText_ = std::string_view(b + pos_, at - pos_);
            pos_ = at;
            if (depth_ == 0) { // outside the root element: only blanks
                for (char c : rawText_)
                    if (!isSpace(c)) return fail();
                continue;
            }
            textPlain_ = !containsAnyOf(rawText_, "&\r");
            textIsCdata_ = false;
            token_ = Text;
            return Text;
        }
        if (end_ - pos_ < 9 && !eof_ && fill()) continue; // room to tell "<!--" from "<![CDATA["
        if (end_ - pos_ < 2) return fail();
        const char second = b[pos_ + 1];
        size_t consumed = 0;
        Parse p;
        if (second == '?') {
            p = skipUntil(pos_ + 2, "?>", &consumed);
        } else if (second == '!') {
            const std::string_view head(b + pos_, std::min<size_t>(end_ - pos_, 9));
            if (head.substr(0, 4) == "<!--") {
                p = skipUntil(pos_ + 4, "-->", &consumed);
            } else if (head == "<![CDATA[") {
                if (depth_ == 0) return fail();
                p = skipUntil(pos_ + 9, "]]>", &consumed);
                if (p == Parse::Ok) {
                    rawText_ = std::string_view(b + pos_ + 9, consumed - pos_ - 12);
                    pos_ = consumed;
                    textPlain_ = rawText_.find('\r') == std::string_view::npos;
                    textIsCdata_ = true;
                    token_ = Text;
                    return Text;
                }
            } else {
                return fail(); // a document type declaration: none in a spreadsheet part
            }
        } else if (second == '/') {
            const void* gt = std::memchr(b + pos_, '>', end_ - pos_);
            if (gt) {
                const size_t at = size_t(static_cast<const char*>(gt) - b);
                std::string_view qualified(b + pos_ + 2, at - pos_ - 2);
                while (!qualified.empty() && isSpace(qualified.back()))
                    qualified.remove_suffix(1);
                if (depth_ == 0 || open_[depth_ - 1] != qualified) return fail();
                --depth_;
                name_ = localName(qualified);
                pos_ = at + 1;
                if (depth_ == 0) done_ = true;
                token_ = EndElement;
                return EndElement;
            }
            p = Parse::NeedMore;
        } else {
            if (done_) return fail();
            p = parseTag(&consumed);
            if (p == Parse::Ok) {
                pos_ = consumed;
                started_ = true;
                token_ = StartElement;
                return StartElement;
            }
        }
        if (p == Parse::Bad) return fail();
        if (p == Parse::NeedMore) {
            if (!fill()) return fail();
            continue;
        }
        pos_ = consumed; // a comment or processing instruction
    }
}

} // namespace formats::xlsx
