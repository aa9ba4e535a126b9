// Code pages of dBase/FoxPro tables: the language-driver byte, .cpg names, the GBK default.
#include "db/formats/dbf/dbf.h"
#include "db/formats/textcodec.h"

#include <QRegularExpression>

namespace formats::dbf {

namespace {

struct Driver {
    quint8 ldid;
    int codePage;
};

// Language-driver bytes as dBase and FoxPro write them (byte 29 of the header).
constexpr Driver kDrivers[] = {
    {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x04, 10000}, {0x08, 865},   {0x09, 437},
    {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},   {0x0F, 437},   {0x10, 850},
    {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},   {0x15, 437},   {0x16, 850},
    {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},   {0x1B, 437},   {0x1C, 863},
    {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},   {0x24, 860},   {0x25, 850},
    {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936},   {0x4E, 949},   {0x4F, 950},
    {0x50, 874},  {0x57, 1252}, {0x58, 1252}, {0x59, 1252},  {0x64, 852},   {0x65, 866},
    {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},   {0x6C, 863},   {0x78, 950},
    {0x79, 949},  {0x7A, 936},  {0x7B, 932},  {0x7C, 874},   {0x7D, 1255},  {0x7E, 1256},
    {0x86, 737},  {0x87, 852},  {0x88, 857},  {0x96, 10007}, {0x97, 10029}, {0x98, 10006},
    {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253},  {0xCC, 1257},
};

// The preferred byte for new tables with a code page (Windows drivers first).
constexpr Driver kPreferred[] = {
    {0x7A, 936},  {0x78, 950},  {0x79, 949},  {0x7B, 932},  {0x03, 1252}, {0xC8, 1250},
    {0xC9, 1251}, {0xCB, 1253}, {0xCA, 1254}, {0x7D, 1255}, {0x7E, 1256}, {0xCC, 1257},
    {0x7C, 874},  {0x01, 437},  {0x02, 850},  {0x64, 852},  {0x65, 866},
};

QByteArray codecForNumber(int number) {
    QByteArray codec = formats::codecForCodePage(number);
    if (!codec.isEmpty()) return codec;
    switch (number) {
    case 737:
        return "IBM737";
    case 857:
        return "IBM857";
    case 860:
        return "IBM860";
    case 861:
        return "IBM861";
    case 863:
        return "IBM863";
    case 865:
        return "IBM865";
    case 10006:
        return "x-mac-greek";
    case 10007:
        return "x-mac-cyrillic";
    case 10029:
        return "x-mac-centraleurroman";
    case 20936:
        return "GB2312";
    default:
        return {};
    }
}

CodePage fromNumber(int number) {
    CodePage cp;
    const QByteArray codec = codecForNumber(number);
    if (codec.isEmpty() || !formats::isKnownCodec(codec)) return cp;
    cp.number = number;
    cp.readCodec = codec;
    cp.writeCodec = codec;
    // GBK text is read as GB18030 (a superset), but new text is written as GBK so that every
    // program reading the table as GBK gets it back; a character outside GBK is refused.
    if (number == 936 && formats::isKnownCodec("GBK")) cp.writeCodec = "GBK";
    return cp;
}

} // namespace

QString CodePage::name() const {
    if (number == 65001) return QStringLiteral("UTF-8");
    if (number > 0) return QString::number(number);
    return QString::fromLatin1(readCodec);
}

CodePage codePageForLanguageDriver(quint8 ldid) {
    for (const Driver& d : kDrivers)
        if (d.ldid == ldid) return fromNumber(d.codePage);
    return {};
}

quint8 languageDriverForCodePage(int number) {
    for (const Driver& d : kPreferred)
        if (d.codePage == number) return d.ldid;
    for (const Driver& d : kDrivers)
        if (d.codePage == number) return d.ldid;
    return 0;
}

CodePage parseCodePage(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return {};
    const QString lower = t.toLower();

    static const QRegularExpression iso(QStringLiteral("^(?:iso[ _-]?)?8859[ _-]?(\\d{1,2})$"));
    const QRegularExpressionMatch mi = iso.match(lower);
    if (mi.hasMatch()) {
        const QByteArray codec = "ISO-8859-" + mi.captured(1).toLatin1();
        if (!formats::isKnownCodec(codec)) return {};
        CodePage cp;
        cp.number = mi.captured(1) == QLatin1String("1") ? 28591 : 0;
        cp.readCodec = cp.writeCodec = codec;
        return cp;
    }
    // Numbers, with the prefixes .cpg files and users put before them.
    static const QRegularExpression numbered(
        QStringLiteral("^(?:cp|ansi|oem|windows|win|ibm|ms|code ?page)?[ _-]?(\\d{3,5})$"));
    const QRegularExpressionMatch m = numbered.match(lower);
    if (m.hasMatch()) return fromNumber(m.captured(1).toInt());
    if (lower == QLatin1String("utf8") || lower == QLatin1String("utf-8")) return fromNumber(65001);
    if (lower == QLatin1String("gbk") || lower == QLatin1String("gb2312") ||
        lower == QLatin1String("chinese"))
        return fromNumber(936);
    if (lower == QLatin1String("gb18030")) return fromNumber(54936);
    if (lower == QLatin1String("big5")) return fromNumber(950);

    // Any other name the codecs know ("KOI8-R", "Shift_JIS"...).
    const QByteArray codec = t.toLatin1();
    if (!formats::isKnownCodec(codec)) return {};
    CodePage cp;
    cp.readCodec = cp.writeCodec = codec;
    return cp;
}

CodePage defaultCodePage() {
    return fromNumber(936);
}

} // namespace formats::dbf
