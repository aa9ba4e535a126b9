#pragma once
// Field values of dBase/FoxPro records: bytes to SQL text and back. Internal to the dbf code.
#include "db/formats/bytes.h"
#include "db/formats/dbf/dbf.h"

#include <QStringDecoder>

#include <cstring>
#include <vector>

namespace formats::dbf::detail {

// The two-byte characters of GB18030 (GBK's) or Big5 by (lead << 8 | trail), 0 where a pair is
// no character of the BMP (then the four-byte forms and anything odd go through the codec).
enum class DoubleByteCodec { Gb18030, Big5 };
const char16_t* doubleByteTable(DoubleByteCodec codec);

// Decodes table text, reusing one decoder (ASCII takes a short cut). Never copied or moved:
// Qt's ICU converters report errors through a pointer to the converter's own state.
class TextDecoder {
public:
    explicit TextDecoder(const QByteArray& codec = {});
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;
    QString decode(const char* data, qsizetype size);
    QString decode(const QByteArray& bytes) { return decode(bytes.constData(), bytes.size()); }
    // The same text appended to out (a reader that keeps all values in one buffer).
    void decodeInto(const char* data, qsizetype size, std::vector<char16_t>* out);

private:
    QByteArray codec_;
    QStringDecoder decoder_;
    const char16_t* doubleByte_ = nullptr; // GB18030's two-byte characters, for the quick way
};

// Everything that decodes a field value without the memo file.
Value decodeField(const Field& field, const char* data, TextDecoder& decoder);

// Bits of the _NullFlags field in a record.
bool testBit(const QByteArray& record, const Field* nullFlags, int bit);
void setBit(QByteArray* record, const Field* nullFlags, int bit, bool on);

// Encodes a value into the field's bytes of a record (not memo fields; their block pointer is
// set by the table). Sets the field's null and length bits. False with a Chinese message when
// the value does not fit; the record is then left as it was.
bool encodeField(const Field& field, const Value& value, const CodePage& codePage,
                 const Field* nullFlags, QByteArray* record, QString* error);

// The bytes of an empty field ("blank"): spaces, or zeros for binary fields.
void blankField(const Field& field, char* dest, bool binaryMemoPointer);

// Memo text or bytes to store; false when the text cannot be encoded.
bool encodeMemo(const Field& field, const Value& value, const CodePage& codePage, QByteArray* bytes,
                QString* error);

// The SQL text of a number in a field of this width and number of decimals, or an error.
bool formatNumber(const Field& field, const QString& text, QByteArray* out, QString* error);

} // namespace formats::dbf::detail
