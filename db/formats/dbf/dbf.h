#pragma once
// dBase III/IV and Visual FoxPro tables (.dbf) with their memo files (.dbt, .fpt).
//
// Reads every record value as the FoxPro ODBC driver showed it (text, or bytes for binary
// fields), writes records in place (append, update, deletion flag), and creates new tables.
// Writes never cut a value: a value that does not fit its field is refused with a Chinese
// message and nothing is written. Changes can be journalled (savepoints) so a failed SQL
// statement leaves the files as they were. Plain C++ over QIODevice, no SQLite.
#include "db/formats/textcell.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace formats::dbf {

namespace detail {
class TextDecoder;
}

// The code page of a table's text (field names, character and memo values).
struct CodePage {
    int number = 0;        // Windows code page number (936, 1252, 65001...); 0 if named only
    QByteArray readCodec;  // codec that decodes the text (GB18030 for GBK text)
    QByteArray writeCodec; // codec that encodes new text (GBK for 936, so other programs read it)
    bool isValid() const { return !readCodec.isEmpty(); }
    QString name() const; // for messages: "936", "UTF-8"
};

// The code page a language-driver byte (header byte 29) names; invalid for 0 and unknown bytes.
CodePage codePageForLanguageDriver(quint8 ldid);
// The language-driver byte for a code page number (for new tables); 0 when there is none.
quint8 languageDriverForCodePage(int number);
// A code page as users and .cpg files name it: "936", "cp936", "GBK", "UTF-8", "65001",
// "windows-1252", "ANSI 1251", "8859_1"...; invalid when unknown.
CodePage parseCodePage(const QString& text);
// GBK, decoded as GB18030: the code page of tables that declare none and hold no text above
// ASCII, or give no clear sign of another one.
CodePage defaultCodePage();

// The code pages a table that declares none is guessed to be in, in the order that decides
// between two that read its text alike: GBK, Big5, UTF-8, the Windows pages 1252, then the DOS
// pages 850, 437, 866, then the Windows pages 1251 and 1250.
std::vector<CodePage> guessCandidates();
// The code page of raw text (a table's field names and values as stored, see
// Table::textSamples) by how plausible each candidate's reading of it is (dbf_guess.cpp);
// GBK for text without a byte above 0x7F. The same samples always give the same answer.
CodePage guessCodePage(const std::vector<QByteArray>& samples);

// Where a table's code page came from.
enum class CodePageOrigin {
    LanguageDriver, // header byte 29
    CpgFile,        // the .cpg file beside the table
    Caller,         // OpenOptions::fallbackCodePage
    Guessed,        // guessCodePage over the table's text
};

enum class Flavour {
    DBase3,       // 0x03, memo 0x83 with a dBase III .dbt
    DBase4,       // 0x03, memo 0x8B with a dBase IV .dbt
    FoxPro2,      // 0x03, memo 0xF5 with an .fpt
    VisualFoxPro, // 0x30/0x31/0x32: I, B, Y, T, V, Q fields, nullable fields, .fpt
};

struct Field {
    QString name;          // decoded with the table's code page
    char type = 'C';       // C N F D L M I B Y T V Q G P W, '0' for _NullFlags
    int length = 0;        // bytes in the record
    int decimals = 0;      // N and F
    int offset = 0;        // in the record; byte 0 is the deletion flag
    quint8 flags = 0;      // 0x01 system, 0x02 nullable, 0x04 binary, 0x08 autoincrement
    int nullBit = -1;      // bit in _NullFlags set for NULL; -1 when the field is not nullable
    int varLengthBit = -1; // V/Q: bit set when the value is shorter than the field

    bool isHidden() const { return type == '0'; }
    bool isNullable() const { return nullBit >= 0; }
    bool isMemo() const;   // M G P W: a block number into the memo file
    bool isBinary() const; // Q G P W: values are bytes, not text
    bool isAutoIncrement() const { return (flags & 0x08) != 0; }
    // Declared SQL type: VARCHAR(len), NUMERIC(len,dec), DATE, BOOLEAN, TEXT, INTEGER, DOUBLE,
    // CURRENCY, DATETIME, VARBINARY(len), BLOB.
    QString sqlType() const;
};

// A field value as SQL sees it: NULL, text, or bytes (binary fields).
struct Value {
    enum class Kind { Null, Text, Bytes };
    Kind kind = Kind::Null;
    QString text;
    QByteArray bytes;

    static Value null() { return {}; }
    static Value fromText(const QString& t) { return {Kind::Text, t, {}}; }
    static Value fromBytes(const QByteArray& b) { return {Kind::Bytes, {}, b}; }
    bool isNull() const { return kind == Kind::Null; }
    bool operator==(const Value& o) const = default;
};

struct FieldSpec {
    QString name;
    char type = 'C';
    int length = 0; // ignored for D L M I B Y T G P W (fixed by the flavour)
    int decimals = 0;
    bool nullable = false; // Visual FoxPro only
};

struct OpenOptions {
    // Code page for tables that declare none (no language-driver byte, no .cpg file); when it
    // is not valid (the default), the code page is guessed from the table's text.
    CodePage fallbackCodePage;
    bool readOnly = false; // never write, even where the file allows it
};

class Table {
public:
    Table();
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Opens a .dbf file read-only (it is reopened for writing on the first change) and its memo
    // file, found beside it without regard to case. A missing memo file is no error: its values
    // read as NULL and memo writes are refused. False with a Chinese message for a missing,
    // unreadable, foreign or corrupt file.
    bool open(const QString& path, const OpenOptions& options, QString* error);
    // Opens a table held in devices (tests, fuzzing); memo may be null. Devices must be open;
    // writes need them open for writing.
    bool open(std::unique_ptr<QIODevice> dbf, std::unique_ptr<QIODevice> memo,
              const OpenOptions& options, QString* error);
    void close();

    QString path() const;
    const std::vector<Field>& fields() const;
    std::vector<int> visibleFields() const; // indexes of every field but _NullFlags
    CodePage codePage() const;
    CodePageOrigin codePageOrigin() const;
    // Raw bytes of the table's text that hold a byte above 0x7F: the field names, then the
    // values of its character fields from the first record on (deleted ones too), trailing
    // blanks cut, until about maxBytes are taken or some megabytes of records are read.
    std::vector<QByteArray> textSamples(qsizetype maxBytes = 32768);
    quint8 version() const;
    bool hasMemoFields() const;
    bool hasMemoFile() const;
    bool isReadOnly() const;     // opened read-only by request, or the file refused writing
    quint32 recordCount() const; // physical records, deleted ones included

    // Re-reads the record count from the header when nothing is pending, so records other
    // programs appended are seen. False when the header became unreadable.
    bool refresh(QString* error);

    // Raw bytes of record recno (1-based). False past the end or on a read error.
    bool readRecord(quint32 recno, QByteArray* record, QString* error = nullptr);
    // Up to count records from first on, back to back (scans read ahead with it); returns how
    // many whole records were read.
    quint32 readRecords(quint32 first, quint32 count, QByteArray* records, QString* error);
    int recordLength() const;
    static bool isDeleted(const QByteArray& record);
    // The value of field (an index into fields()) in a raw record.
    Value value(const QByteArray& record, int field);

    // Every live record's visible fields as value() gives them, for a reader that loads the
    // whole table: read in one pass, texts one after another in one buffer.
    struct TextColumns {
        std::vector<quint32> records; // record numbers of the live records, in order
        std::vector<char16_t> text;
        // Per record and visible field, where its value stands in text (null for a null or
        // binary value).
        TextRows cells;
    };
    bool readAllText(TextColumns* out, QString* error);

    // Writing. values holds one entry per field (hidden fields ignored); for updates, nullopt
    // keeps the stored bytes. False with a Chinese message, nothing written, when a value does
    // not fit its field or the file cannot be written.
    bool appendRecord(const std::vector<std::optional<Value>>& values, quint32* recno,
                      QString* error);
    bool updateRecord(quint32 recno, const std::vector<std::optional<Value>>& values,
                      QString* error);
    bool deleteRecord(quint32 recno, QString* error);
    // Whether a value would be accepted in field (an index into fields()): its width in the
    // table's code page, its characters, a number's digits. Nothing is written. False with the
    // message a write would give.
    bool checkValue(int field, const Value& value, QString* error) const;
    // Writes the header (record count, date of last update, autoincrement counters), the
    // end-of-file marker and the memo header after changes; other programs see them after it.
    bool flush(QString* error);

    // Journal of changes: within a transaction every change can be undone, flushed or not.
    // Savepoint ids follow SQLite's numbering (xSavepoint/xRelease/xRollbackTo).
    // beginTransaction is false when another program restructured the table: nothing may be
    // written then.
    bool beginTransaction(QString* error);
    void savepoint(int id);
    void release(int id);
    bool rollbackTo(int id, QString* error);
    bool commit(QString* error);   // flushes and forgets the journal
    bool rollback(QString* error); // undoes every change since beginTransaction
    bool inTransaction() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
    // value() and the whole-table read of records first to last with a given decoder (a
    // decoder keeps state: each thread has its own).
    Value valueWith(const QByteArray& record, int field, detail::TextDecoder& decoder);
    bool readTextRange(quint32 first, quint32 last, const std::vector<int>& visible,
                       detail::TextDecoder& decoder, TextColumns* out, QString* error);
};

// Creates an empty table (and its memo file when a field needs one). Refuses to overwrite an
// existing file. False with a Chinese message on a bad field list or a write error.
bool createTable(const QString& path, Flavour flavour, const std::vector<FieldSpec>& fields,
                 const CodePage& codePage, QString* error);

// A file beside a table with the same base name and one of the extensions (in order of
// preference), names compared without case: the memo file (.fpt, .dbt) or the .cpg file.
// Empty when there is none.
QString findCompanionFile(const QString& dbfPath, const QStringList& extensions);

} // namespace formats::dbf
