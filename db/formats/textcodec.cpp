#include "db/formats/textcodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace formats {

QByteArray codecForCodePage(int codePage) {
    switch (codePage) {
    case 936:
        return "GB18030";
    case 54936:
        return "GB18030";
    case 950:
        return "Big5";
    case 932:
        return "Shift_JIS";
    case 949:
        return "EUC-KR";
    case 65001:
        return "UTF-8";
    case 1200:
        return "UTF-16LE";
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 852:
        return "IBM852";
    case 866:
        return "IBM866";
    case 874:
        return "windows-874";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1252:
        return "windows-1252";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 10000:
        return "macintosh";
    case 28591:
        return "ISO-8859-1";
    default:
        return {};
    }
}

QByteArray defaultCodec() {
    return "GB18030";
}

bool isKnownCodec(const QByteArray& name) {
    if (name.isEmpty()) return false;
    QStringDecoder dec(name.constData());
    return dec.isValid();
}

QString decode(const QByteArray& bytes, const QByteArray& codec, bool* ok) {
    QStringDecoder dec(codec.constData(), QStringConverter::Flag::Stateless);
    if (!dec.isValid()) {
        if (ok) *ok = false;
        return QString::fromLatin1(bytes);
    }
    QString text = dec.decode(bytes);
    if (ok) *ok = !dec.hasError();
    return text;
}

QByteArray encode(const QString& text, const QByteArray& codec, bool* ok) {
    QStringEncoder enc(codec.constData(), QStringConverter::Flag::Stateless);
    if (!enc.isValid()) {
        if (ok) *ok = false;
        return {};
    }
    QByteArray bytes = enc.encode(text);
    if (ok) *ok = !enc.hasError();
    return bytes;
}

} // namespace formats
