#pragma once
// A small pull reader of the XML in a workbook's worksheets and shared-string table.
//
// Those two parts hold nearly all of a workbook's bytes (a million-row sheet is several hundred
// megabytes of XML), and QXmlStreamReader reads them at about 35 MB/s on the machines we run
// on: too slow to open such a sheet in reasonable time. This reader does only what those parts
// need, at several hundred MB/s: elements with their attributes, text with the five named
// entities and character references, CDATA sections; comments and processing instructions are
// skipped. Names are compared without their namespace prefix. A document type declaration, a
// stray "<" or "&", an end tag that does not match its start tag or a document cut short is an
// error, as for any XML parser. The text is expected in UTF-8 (the caller converts other
// encodings first). Line ends in text and attribute values are normalised as XML requires.
//
// The bytes come from a read function in chunks; the views the reader hands out stay valid
// until the next call of next().
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace formats::xlsx {

// Whether s holds any of the characters of set: a pass over s per character of the set, which
// for a few characters is far quicker than std::string_view::find_first_of (one search of the
// set per character of s).
inline bool containsAnyOf(std::string_view s, std::string_view set) {
    for (const char c : set)
        if (s.find(c) != std::string_view::npos) return true;
    return false;
}

class XmlScanner {
public:
    // Fills dst with up to max bytes; returns the count, 0 at the end, -1 on a read error.
    using ReadFn = std::function<int64_t(char* dst, int64_t max)>;

    enum Token { StartElement, EndElement, Text, Done, Error };

    explicit XmlScanner(ReadFn read);

    Token next();

    // StartElement and EndElement: the element's name without its prefix.
    std::string_view name() const { return name_; }
    // StartElement: an attribute's value by its name without prefix ("" when missing); found
    // tells whether it is there.
    std::string_view attribute(std::string_view localName, bool* found = nullptr);
    // Text: the characters, entities resolved.
    std::string_view text();
    // Right after a StartElement: when the element holds nothing but plain text (no entity,
    // no CR, no child) and its end tag is at hand, sets *out to that text, moves past the end
    // tag (as if EndElement had been read) and returns true; otherwise changes nothing. The
    // fast way through <v>1234</v>.
    bool plainElementText(std::string_view* out);
    // The bytes at hand from the current place on, for a caller that recognises what comes
    // there itself and takes it with skip(): empty after an error, outside the root element and
    // while a self-closing tag owes its EndElement.
    std::string_view ahead() const;
    // Moves past the first n bytes of ahead(), which must be whole elements (the open elements
    // stay as they are) holding nothing that next() would refuse.
    void skip(size_t n) { pos_ += std::min(n, end_ - pos_); }
    // Whether the last error came from the read function rather than from the XML.
    bool readFailed() const { return readFailed_; }
    // Bytes taken from the read function so far.
    int64_t bytesRead() const { return total_; }

private:
    struct Attr {
        std::string_view name; // without prefix
        std::string_view raw;  // between the quotes
        bool plain;            // no entity, no tab or line end: raw is the value
    };

    Token fail();
    bool fill(); // false when no more bytes came
    enum class Parse { Ok, NeedMore, Bad };
    Parse parseTag(size_t* consumed);
    Parse skipUntil(size_t from, std::string_view terminator, size_t* consumed);
    bool decode(std::string_view raw, bool attribute, std::string* out);

    ReadFn read_;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool readFailed_ = false;
    bool failed_ = false;
    bool started_ = false;    // the root element was seen
    bool pendingEnd_ = false; // a self-closing tag still owes its EndElement
    bool done_ = false;       // the root element has ended
    int64_t total_ = 0;
    Token token_ = Done;
    std::string_view name_;
    std::vector<Attr> attrs_;
    std::vector<std::string> attrScratch_;
    std::string_view rawText_;
    bool textPlain_ = true;
    bool textIsCdata_ = false;
    std::string textScratch_;
    std::vector<std::string> open_; // names of the open elements, with prefixes
    size_t depth_ = 0;              // how many of open_ are open
};

} // namespace formats::xlsx
