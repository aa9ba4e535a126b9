#pragma once
// Code pages of the users' files, decoded and encoded through Qt's ICU-backed codecs.
#include <QByteArray>
#include <QString>

namespace formats {

// Codec name for a Windows code page number (936, 1252, 65001, ...); empty if unknown.
QByteArray codecForCodePage(int codePage);

// The codec used for text that declares no code page: GBK, decoded as GB18030 (a superset).
QByteArray defaultCodec();

// True when Qt can decode with this codec name.
bool isKnownCodec(const QByteArray& name);

// Decodes bytes; a byte sequence the codec cannot decode sets *ok to false (the text still
// comes back, with replacement characters).
QString decode(const QByteArray& bytes, const QByteArray& codec, bool* ok = nullptr);

// Encodes text; a character the codec cannot represent sets *ok to false.
QByteArray encode(const QString& text, const QByteArray& codec, bool* ok = nullptr);

} // namespace formats
