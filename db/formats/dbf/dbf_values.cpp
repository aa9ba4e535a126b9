// Field values of dBase/FoxPro records: bytes to SQL text and back.
//
// Text forms (as the FoxPro ODBC driver showed them):
//   C       trailing blanks trimmed (leading kept); the value ends at the first NUL byte
//   N F     the stored number without padding ("12", "-3.50"); ".5" gains its leading zero
//   D       yyyy-MM-dd; an empty date is NULL
//   L       "True" / "False"; "?" or blank is NULL
//   I       decimal; B shortest text that reads back to the same double
//   Y       decimal with up to 4 decimals, trailing zeros dropped ("18", "18.5", "-0.0001")
//   T       "yyyy-MM-dd HH:mm:ss" always, midnight included, rounded to the nearest second
//   V       the stored characters (FoxPro keeps trailing blanks of varchar values)
#include "db/formats/dbf/dbf_values.h"

#include "db/formats/blanks.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringEncoder>

#include <bit>

#include <charconv>
#include <cmath>
#include <limits>
#include <map>

namespace formats::dbf::detail {

namespace {

bool isBlank(const char* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i] != ' ' && p[i] != '\0') return false;
    return true;
}

// Field bytes up to the first NUL, without trailing blanks.
QByteArray characterBytes(const char* p, int n, bool trimBlanks) {
    int end = 0;
    while (end < n && p[end] != '\0')
        ++end;
    if (trimBlanks)
        while (end > 0 && p[end - 1] == ' ')
            --end;
    return QByteArray(p, end);
}

QString numericText(const char* p, int n) {
    QByteArray b;
    b.reserve(n);
    for (int i = 0; i < n; ++i)
        if (p[i] != '\0') b.append(p[i]);
    QString t = QString::fromLatin1(b.trimmed());
    if (t.startsWith(QLatin1Char('.')))
        t.prepend(QLatin1Char('0'));
    else if (t.startsWith(QLatin1String("-.")))
        t.insert(1, QLatin1Char('0'));
    else if (t.startsWith(QLatin1String("+.")))
        t.insert(1, QLatin1Char('0'));
    return t;
}

QString currencyText(qint64 v) {
    const bool negative = v < 0;
    const quint64 a = negative ? quint64(0) - quint64(v) : quint64(v);
    QString s = QString::number(a / 10000);
    QString frac = QStringLiteral("%1").arg(a % 10000, 4, 10, QLatin1Char('0'));
    while (frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    if (!frac.isEmpty()) s += QLatin1Char('.') + frac;
    return negative ? QLatin1Char('-') + s : s;
}

QString doubleText(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, r.ptr - buf);
}

Value dateTimeValue(const char* p) {
    const qint32 day = qint32(le32(p));
    const qint32 ms = qint32(le32(p + 4));
    if (day == 0 && ms == 0) return Value::null();
    if (day <= 0 || ms < 0 || ms >= 86400000) return Value::null();
    QDate date = QDate::fromJulianDay(day);
    qint64 seconds = (qint64(ms) + 500) / 1000;
    if (seconds >= 86400) {
        date = date.addDays(1);
        seconds -= 86400;
    }
    if (!date.isValid() || date.year() < 1 || date.year() > 9999) return Value::null();
    return Value::fromText(date.toString(QStringLiteral("yyyy-MM-dd")) +
                           QStringLiteral(" %1:%2:%3")
                               .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                               .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

} // namespace

namespace {

// The two-byte characters of a codec (lead 0x81-0xFE, trail 0x40-0xFE but 0x7F) by (lead << 8
// | trail), 0 where the pair is no character of the BMP; read off the codec once.
std::vector<char16_t> readDoubleBytes(const char* codec) {
    std::vector<char16_t> t(65536, 0);
    QStringDecoder dec(codec, QStringConverter::Flag::Stateless);
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const char pair[2] = {char(lead), char(trail)};
            const QString c = dec.decode(QByteArrayView(pair, 2));
            if (!dec.hasError() && c.size() == 1 && c[0] != QChar::ReplacementCharacter)
                t[size_t(lead << 8 | trail)] = c[0].unicode();
            // A decoder that met an error keeps failing after resetState(): a new one.
            if (dec.hasError())
                dec = QStringDecoder(codec, QStringConverter::Flag::Stateless);
            else
                dec.resetState();
        }
    return t;
}

} // namespace

const char16_t* doubleByteTable(DoubleByteCodec codec) {
    if (codec == DoubleByteCodec::Big5) {
        static const std::vector<char16_t> big5 = readDoubleBytes("Big5");
        return big5.data();
    }
    static const std::vector<char16_t> gb = readDoubleBytes("GB18030");
    return gb.data();
}

namespace {

bool isGb18030(const QByteArray& codec) {
    return codec.compare("GB18030", Qt::CaseInsensitive) == 0;
}

} // namespace

TextDecoder::TextDecoder(const QByteArray& codec)
    : codec_(codec.isEmpty() ? QByteArray("ISO-8859-1") : codec),
      decoder_(codec_.constData(), QStringConverter::Flag::Stateless),
      doubleByte_(isGb18030(codec_) ? doubleByteTable(DoubleByteCodec::Gb18030) : nullptr) {}

QString TextDecoder::decode(const char* data, qsizetype size) {
    bool ascii = true;
    for (qsizetype i = 0; i < size && ascii; ++i)
        ascii = quint8(data[i]) < 0x80;
    if (ascii || !decoder_.isValid()) return QString::fromLatin1(data, size);
    return decoder_.decode(QByteArrayView(data, size)); // stateless: nothing carries over
}

void TextDecoder::decodeInto(const char* data, qsizetype size, std::vector<char16_t>* out) {
    const size_t start = out->size();
    const auto* p = reinterpret_cast<const quint8*>(data);
    qsizetype i = 0;
    // ASCII, and GB18030's two-byte characters by table; anything else by the codec.
    for (; i < size; ++i) {
        const quint8 c = p[i];
        if (c < 0x80) {
            out->push_back(c);
            continue;
        }
        if (!doubleByte_ || i + 1 >= size) break;
        const char16_t u = doubleByte_[size_t(c) << 8 | p[i + 1]];
        if (u == 0) break;
        out->push_back(u);
        ++i;
    }
    if (i == size) return;
    out->resize(start);
    const QString text = decode(data, size);
    out->insert(out->end(), reinterpret_cast<const char16_t*>(text.utf16()),
                reinterpret_cast<const char16_t*>(text.utf16()) + text.size());
}

bool testBit(const QByteArray& record, const Field* nullFlags, int bit) {
    if (!nullFlags || bit < 0 || bit / 8 >= nullFlags->length) return false;
    const int at = nullFlags->offset + bit / 8;
    if (at >= record.size()) return false;
    return (quint8(record[at]) >> (bit % 8)) & 1;
}

void setBit(QByteArray* record, const Field* nullFlags, int bit, bool on) {
    if (!nullFlags || bit < 0 || bit / 8 >= nullFlags->length) return;
    const int at = nullFlags->offset + bit / 8;
    if (at >= record->size()) return;
    const quint8 mask = quint8(1u << (bit % 8));
    (*record)[at] = char(on ? quint8((*record)[at]) | mask : quint8((*record)[at]) & ~mask);
}

Value decodeField(const Field& f, const char* p, TextDecoder& decoder) {
    const int n = f.length;
    switch (f.type) {
    case 'C':
        return Value::fromText(decoder.decode(characterBytes(p, n, true)));
    case 'N':
    case 'F': {
        const QString t = numericText(p, n);
        // An empty field, or FoxPro's row of stars for a number too wide to store.
        if (t.isEmpty() || t.startsWith(QLatin1Char('*'))) return Value::null();
        return Value::fromText(t);
    }
    case 'D': {
        if (isBlank(p, n)) return Value::null();
        const QString t = QString::fromLatin1(characterBytes(p, n, true)).trimmed();
        if (t == QLatin1String("00000000") || t.isEmpty()) return Value::null();
        if (t.size() == 8) {
            bool ok = true;
            for (QChar c : t)
                ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            if (ok && QDate(t.left(4).toInt(), t.mid(4, 2).toInt(), t.mid(6).toInt()).isValid())
                return Value::fromText(t.left(4) + QLatin1Char('-') + t.mid(4, 2) +
                                       QLatin1Char('-') + t.mid(6));
        }
        return Value::fromText(t); // not a date: shown as stored, nothing hidden
    }
    case 'L':
        if (n < 1) return Value::null();
        switch (p[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y':
            return Value::fromText(QStringLiteral("True"));
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            return Value::fromText(QStringLiteral("False"));
        default:
            return Value::null();
        }
    case 'I':
        if (n == 4) return Value::fromText(QString::number(qint32(le32(p))));
        break;
    case 'B':
        if (n == 8) {
            return Value::fromText(doubleText(leDouble(p)));
        }
        break;
    case 'Y':
        if (n == 8) {
            const qint64 v = qint64(le64(p));
            return Value::fromText(currencyText(v));
        }
        break;
    case 'T':
        if (n == 8) {
            if (isBlank(p, n)) return Value::null();
            return dateTimeValue(p);
        }
        break;
    case 'V':
        return Value::fromText(decoder.decode(QByteArray(p, n)));
    case 'Q':
        return Value::fromBytes(QByteArray(p, n));
    default:
        break;
    }
    // A type this program does not know, or a field of an odd size: the bytes as text.
    return Value::fromText(trimBlanks(decoder.decode(characterBytes(p, n, true))));
}

void blankField(const Field& f, char* dest, bool binaryMemoPointer) {
    char fill = ' ';
    switch (f.type) {
    case 'I':
    case 'Y':
    case 'T':
    case '0':
        fill = '\0';
        break;
    case 'B':
        fill = f.length == 8 ? '\0' : ' ';
        break;
    case 'M':
    case 'G':
    case 'P':
    case 'W':
        fill = binaryMemoPointer ? '\0' : ' ';
        break;
    default:
        break;
    }
    std::memset(dest, fill, size_t(f.length));
}

namespace {

// A decimal number as digits: no leading zeros before the point, none trailing after it.
struct Decimal {
    bool negative = false;
    QByteArray whole;
    QByteArray fraction;
    bool isZero() const { return whole.isEmpty() && fraction.isEmpty(); }
};

std::optional<Decimal> parseDecimal(const QString& text) {
    const QByteArray t = text.trimmed().toLatin1();
    qsizetype i = 0;
    Decimal d;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
    QByteArray digits;
    qsizetype point = -1;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            digits.append(t[i]);
        else if (t[i] == '.' && point < 0)
            point = digits.size();
        else
            break;
    }
    if (digits.isEmpty()) return std::nullopt;
    if (point < 0) point = digits.size();
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) negExp = t[i++] == '-';
        int exp = 0, expDigits = 0;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++expDigits)
            if (exp < 100000) exp = exp * 10 + (t[i] - '0');
        if (expDigits == 0 || exp > 1000) return std::nullopt;
        point += negExp ? -exp : exp;
    }
    if (i != t.size()) return std::nullopt;
    if (point <= 0) {
        d.fraction = QByteArray(-point, '0') + digits;
    } else if (point >= digits.size()) {
        d.whole = digits + QByteArray(point - digits.size(), '0');
    } else {
        d.whole = digits.left(point);
        d.fraction = digits.mid(point);
    }
    qsizetype lead = 0;
    while (lead < d.whole.size() && d.whole[lead] == '0')
        ++lead;
    d.whole.remove(0, lead);
    while (!d.fraction.isEmpty() && d.fraction.endsWith('0'))
        d.fraction.chop(1);
    if (d.isZero()) d.negative = false;
    return d;
}

QString notNumber(const Field& f, const QString& text) {
    return QStringLiteral("字段 %1 的值“%2”不是数字").arg(f.name, text.trimmed());
}

bool parseInteger(const Field& f, const QString& text, qint64 lo, qint64 hi, qint64* out,
                  QString* error) {
    const auto d = parseDecimal(text);
    if (!d) {
        *error = notNumber(f, text);
        return false;
    }
    if (!d->fraction.isEmpty()) {
        *error =
            QStringLiteral("字段 %1 是整数字段，不能保存带小数的值 %2").arg(f.name, text.trimmed());
        return false;
    }
    bool ok = d->whole.size() <= 18;
    qint64 v = ok && !d->whole.isEmpty() ? d->whole.toLongLong(&ok) : 0;
    if (d->negative) v = -v;
    if (!ok || v < lo || v > hi) {
        *error = QStringLiteral("字段 %1 的值 %2 超出字段的取值范围（%3 至 %4）")
                     .arg(f.name, text.trimmed())
                     .arg(lo)
                     .arg(hi);
        return false;
    }
    *out = v;
    return true;
}

// "yyyy-MM-dd", "yyyy/M/d", "yyyy.MM.dd" or "yyyyMMdd", optionally followed by a time
// "HH:mm[:ss[.zzz]]".
bool parseDateTime(const QString& text, QDate* date, qint64* msOfDay) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4})(?:([-/.])(\\d{1,2})\\2(\\d{1,2})|(\\d{2})(\\d{2}))"
                       "(?:[ T]+(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d{1,3}))?)?)?$"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch()) return false;
    const int y = m.captured(1).toInt();
    const int mo = (m.capturedLength(3) ? m.captured(3) : m.captured(5)).toInt();
    const int d = (m.capturedLength(4) ? m.captured(4) : m.captured(6)).toInt();
    *date = QDate(y, mo, d);
    if (!date->isValid() || y < 1) return false;
    *msOfDay = 0;
    if (m.capturedLength(7)) {
        const int h = m.captured(7).toInt(), mi = m.captured(8).toInt();
        const int s = m.capturedLength(9) ? m.captured(9).toInt() : 0;
        const int ms =
            m.capturedLength(10) ? m.captured(10).leftJustified(3, QLatin1Char('0')).toInt() : 0;
        if (h > 23 || mi > 59 || s > 59) return false;
        *msOfDay = ((qint64(h) * 60 + mi) * 60 + s) * 1000 + ms;
    }
    return true;
}

// Encodes with one encoder per codec (opening an ICU converter per value is slow); ASCII text
// is the same in every code page a table can have.
QByteArray encodeWith(const QString& text, const QByteArray& codec, bool* ok) {
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii && codec != "UTF-16LE" && codec != "UTF-16BE" && codec != "UTF-16") {
        *ok = true;
        return text.toLatin1();
    }
    static thread_local std::map<QByteArray, QStringEncoder> encoders;
    // Built in place: Qt's ICU converters keep a pointer to their own state, so an encoder
    // must never be moved once made.
    auto it =
        encoders.try_emplace(codec, codec.constData(), QStringConverter::Flag::Stateless).first;
    QStringEncoder& encoder = it->second;
    if (!encoder.isValid()) {
        *ok = false;
        return {};
    }
    // Stateless: nothing carries over between calls but the error count, so an encoder that
    // met an error is replaced (resetState() would drop ICU's error reporting).
    QByteArray bytes = encoder.encode(text);
    *ok = !encoder.hasError();
    if (!*ok) encoders.erase(it);
    return bytes;
}

// The first character of text the codec cannot encode, for the message.
QString firstUnencodable(const QString& text, const QByteArray& codec) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString ch = text.mid(i, len);
        bool ok = true;
        encodeWith(ch, codec, &ok);
        if (!ok) return ch;
        i += len - 1;
    }
    return {};
}

bool encodeText(const Field& f, const QString& text, const CodePage& cp, QByteArray* out,
                QString* error) {
    bool ok = true;
    *out = encodeWith(text, cp.writeCodec, &ok);
    if (!ok) {
        *error = QStringLiteral("字段 %1 的值含有代码页 %2 无法表示的字符“%3”")
                     .arg(f.name, cp.name(), firstUnencodable(text, cp.writeCodec));
        return false;
    }
    return true;
}

QString widthError(const Field& f) {
    return QStringLiteral("字段 %1 的值超出字段宽度（%2 字节）").arg(f.name).arg(f.length);
}

bool parseLogical(const QString& text, char* out) {
    const QString t = text.trimmed().toLower();
    static const QStringList yes{
        QStringLiteral("true"), QStringLiteral("t"),     QStringLiteral("yes"),
        QStringLiteral("y"),    QStringLiteral("1"),     QStringLiteral(".t."),
        QStringLiteral("-1"),   QString::fromUtf8("是"), QString::fromUtf8("真")};
    static const QStringList no{QStringLiteral("false"), QStringLiteral("f"),
                                QStringLiteral("no"),    QStringLiteral("n"),
                                QStringLiteral("0"),     QStringLiteral(".f."),
                                QString::fromUtf8("否"), QString::fromUtf8("假")};
    if (yes.contains(t))
        *out = 'T';
    else if (no.contains(t))
        *out = 'F';
    else if (t == QLatin1String("?"))
        *out = ' ';
    else
        return false;
    return true;
}

} // namespace

bool formatNumber(const Field& f, const QString& text, QByteArray* out, QString* error) {
    const auto d = parseDecimal(text);
    if (!d) {
        *error = notNumber(f, text);
        return false;
    }
    if (d->fraction.size() > f.decimals) {
        *error = QStringLiteral("字段 %1 的值 %2 的小数位数超过字段的 %3 位")
                     .arg(f.name, text.trimmed())
                     .arg(f.decimals);
        return false;
    }
    QByteArray whole = d->whole.isEmpty() ? QByteArray("0") : d->whole;
    QByteArray s = (d->negative ? "-" : "") + whole;
    if (f.decimals > 0) s += '.' + d->fraction.leftJustified(f.decimals, '0');
    if (s.size() > f.length && d->whole.isEmpty() && f.decimals > 0)
        s.remove(d->negative ? 1 : 0, 1); // ".50" where "0.50" does not fit
    if (s.size() > f.length) {
        *error = QStringLiteral("字段 %1 的值 %2 超出字段宽度（%3 位）")
                     .arg(f.name, text.trimmed())
                     .arg(f.length);
        return false;
    }
    *out = s.rightJustified(f.length, ' ');
    return true;
}

bool encodeMemo(const Field& f, const Value& value, const CodePage& cp, QByteArray* bytes,
                QString* error) {
    if (value.kind == Value::Kind::Bytes) {
        *bytes = value.bytes;
        return true;
    }
    if (f.isBinary()) {
        *bytes = value.text.toUtf8();
        return true;
    }
    return encodeText(f, value.text, cp, bytes, error);
}

bool encodeField(const Field& f, const Value& value, const CodePage& cp, const Field* nullFlags,
                 QByteArray* record, QString* error) {
    if (f.isHidden()) return true;
    if (f.offset + f.length > record->size()) {
        *error = QStringLiteral("字段 %1 超出记录长度").arg(f.name);
        return false;
    }
    QByteArray bytes(f.length, ' ');
    blankField(f, bytes.data(), f.length == 4);
    const QString text =
        value.kind == Value::Kind::Bytes ? QString::fromUtf8(value.bytes) : value.text;
    const bool numeric = QByteArrayView("NFIBYDLT").contains(f.type);
    bool isNull = value.isNull() || (numeric && text.trimmed().isEmpty());
    int varLength = -1; // V/Q: stored length when shorter than the field

    if (!isNull) {
        switch (f.type) {
        case 'C': {
            QByteArray b;
            if (!encodeText(f, text, cp, &b, error)) return false;
            if (b.size() > f.length) {
                *error = widthError(f);
                return false;
            }
            std::memcpy(bytes.data(), b.constData(), size_t(b.size()));
            break;
        }
        case 'V':
        case 'Q': {
            QByteArray b;
            if (f.type == 'Q' && value.kind == Value::Kind::Bytes)
                b = value.bytes;
            else if (!encodeText(f, text, cp, &b, error))
                return false;
            if (b.size() > f.length) {
                *error = widthError(f);
                return false;
            }
            std::memcpy(bytes.data(), b.constData(), size_t(b.size()));
            if (f.varLengthBit >= 0 && b.size() < f.length) {
                varLength = int(b.size());
                bytes[f.length - 1] = char(varLength);
            }
            break;
        }
        case 'N':
        case 'F':
            if (!formatNumber(f, text, &bytes, error)) return false;
            break;
        case 'I': {
            if (f.length != 4) break;
            qint64 v = 0;
            if (!parseInteger(f, text, std::numeric_limits<qint32>::min(),
                              std::numeric_limits<qint32>::max(), &v, error))
                return false;
            putLe32(bytes.data(), quint32(qint32(v)));
            break;
        }
        case 'B': {
            if (f.length != 8) break;
            const QByteArray t = text.trimmed().toLatin1();
            double v = 0;
            const auto r = std::from_chars(t.constData(), t.constData() + t.size(), v);
            if (!parseDecimal(text) || r.ec != std::errc() || r.ptr != t.constData() + t.size() ||
                !std::isfinite(v)) {
                *error = notNumber(f, text);
                return false;
            }
            putLe64(bytes.data(), std::bit_cast<quint64>(v));
            break;
        }
        case 'Y': {
            if (f.length != 8) break;
            const auto d = parseDecimal(text);
            if (!d) {
                *error = notNumber(f, text);
                return false;
            }
            if (d->fraction.size() > 4) {
                *error = QStringLiteral("字段 %1 的值 %2 的小数位数超过货币字段的 4 位")
                             .arg(f.name, text.trimmed());
                return false;
            }
            const QByteArray digits = d->whole + d->fraction.leftJustified(4, '0');
            bool ok = digits.size() <= 19;
            const quint64 a = ok ? digits.toULongLong(&ok) : 0;
            const quint64 limit = d->negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
            if (!ok || a > limit) {
                *error = QStringLiteral("字段 %1 的值 %2 超出货币字段的范围")
                             .arg(f.name, text.trimmed());
                return false;
            }
            const quint64 v = d->negative ? quint64(0) - a : a;
            putLe64(bytes.data(), v);
            break;
        }
        case 'D': {
            QDate date;
            qint64 ms = 0;
            if (!parseDateTime(text, &date, &ms) || date.year() > 9999) {
                *error = QStringLiteral("字段 %1 的值“%2”不是有效日期（应为 yyyy-MM-dd）")
                             .arg(f.name, text.trimmed());
                return false;
            }
            if (ms != 0) {
                *error = QStringLiteral("字段 %1 是日期字段，不能保存时间：%2")
                             .arg(f.name, text.trimmed());
                return false;
            }
            if (f.length < 8) {
                *error = widthError(f);
                return false;
            }
            const QByteArray s = date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
            std::memcpy(bytes.data(), s.constData(), 8);
            break;
        }
        case 'T': {
            if (f.length != 8) break;
            QDate date;
            qint64 ms = 0;
            if (!parseDateTime(text, &date, &ms)) {
                *error =
                    QStringLiteral("字段 %1 的值“%2”不是有效的日期时间（应为 yyyy-MM-dd HH:mm:ss）")
                        .arg(f.name, text.trimmed());
                return false;
            }
            putLe32(bytes.data(), quint32(date.toJulianDay()));
            putLe32(bytes.data() + 4, quint32(ms));
            break;
        }
        case 'L': {
            char c = ' ';
            if (!parseLogical(text, &c)) {
                *error = QStringLiteral("字段 %1 的值“%2”不是逻辑值（应为 True 或 False）")
                             .arg(f.name, text.trimmed());
                return false;
            }
            if (c == ' ') isNull = true;
            if (f.length > 0) bytes[0] = c;
            break;
        }
        default:
            *error = QStringLiteral("不支持写入字段 %1（类型 %2）")
                         .arg(f.name, QChar::fromLatin1(f.type));
            return false;
        }
        if (!isNull && QByteArrayView("IBYT").contains(f.type) &&
            f.length != (f.type == 'I' ? 4 : 8)) {
            *error = QStringLiteral("不支持写入字段 %1（类型 %2，长度 %3）")
                         .arg(f.name, QChar::fromLatin1(f.type))
                         .arg(f.length);
            return false;
        }
    } else if (f.type == 'V' || f.type == 'Q') {
        if (f.varLengthBit >= 0 && f.length > 0) {
            varLength = 0;
            bytes[f.length - 1] = '\0';
        }
    }

    std::memcpy(record->data() + f.offset, bytes.constData(), size_t(f.length));
    setBit(record, nullFlags, f.nullBit, isNull && f.isNullable());
    if (f.varLengthBit >= 0) setBit(record, nullFlags, f.varLengthBit, varLength >= 0);
    return true;
}

} // namespace formats::dbf::detail
