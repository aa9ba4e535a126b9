#pragma once
// Delimited text files (.csv, .txt): one table per file, the way users export client lists from
// other programs.
//
// Encoding: a byte order mark says UTF-8, UTF-16 LE or UTF-16 BE; without one, text that is
// valid UTF-8 is UTF-8 and anything else GB18030 (the superset of GBK that Chinese Windows
// writes). A code page given by the caller wins ("GBK", "936", "UTF-8", "Big5", ...). Bytes the
// encoding cannot decode are an error, never replaced silently.
//
// Delimiter: comma, tab, semicolon or "|", whichever splits the first lines most consistently
// (outside quotes); a comma when none does.
//
// Records follow RFC 4180: fields in double quotes may hold delimiters, line breaks and doubled
// quotes; a quote inside an unquoted field is an ordinary character, as is anything after a
// closing quote. Lines end in CR LF, LF or CR (so the odd CR CR LF of some exports is one line
// end and an empty line, not a record). Lines without any character, and records whose every
// field is empty, hold no data and are left out. A quoted field still open at the end of the
// file is an error naming its line.
//
// Table: the first record gives the field names, without the blanks (U+0020) at their ends
// ("rec_id, given_name" names given_name); an empty one is F<n> and a repeated one, also one
// that equals another once trimmed, is numbered, as for Excel sheets. A record with more fields
// than that adds fields named F<n>, a shorter one has NULLs at its end. Values are the text as
// written (leading zeros and blanks kept); an empty field is NULL.
#include "db/formats/xls/xlstable.h"

#include <QByteArray>
#include <QString>

namespace formats::csv {

struct Format {
    QByteArray encoding; // the decoder's name: "UTF-8", "UTF-16LE", "GB18030", ...
    bool byteOrderMark = false;
    QChar delimiter = u',';
};

// The encoding the bytes of a file are in (see above); sets *bom when a byte order mark says it.
QByteArray detectEncoding(const QByteArray& bytes, bool* bom = nullptr);

// The delimiter that splits the first lines of the text most consistently.
QChar detectDelimiter(QStringView text);

// The decoder name for a code page the user gave ("GBK", "cp936", "936", "utf8", ...); empty
// when it names nothing known.
QByteArray encodingForCodePage(const QString& codePage);

// Splits decoded text into the table; false with a Chinese error text (without the file name)
// for a quoted field left open.
bool parse(const QString& text, QChar delimiter, xls::Table* out, QString* error);

// Reads a file: decodes it (codePage empty: detected), finds the delimiter and parses it. False
// with a Chinese error text naming the file.
bool readFile(const QString& path, const QString& codePage, xls::Table* out, Format* format,
              QString* error);
// The same for a file's bytes; shownName is the file's name in the error texts. The bytes are
// let go once decoded (a caller that moves them in has them freed before the text is parsed).
bool readBytes(QByteArray bytes, const QString& codePage, const QString& shownName, xls::Table* out,
               Format* format, QString* error);

} // namespace formats::csv
