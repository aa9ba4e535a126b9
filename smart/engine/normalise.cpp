#include "smart/engine/normalise.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QVarLengthArray>

#include <opencc/opencc.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

#include <algorithm>

namespace smart {

namespace {

// Han characters and the CJK symbols and punctuation block: no blank belongs next to them.
bool isChinese(char32_t c) {
    if (c >= 0x3000 && c <= 0x303F) return true;
    return QChar::script(c) == QChar::Script_Han;
}

bool isBlank(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || QChar::isSpace(c);
}

QString digitsOf(QStringView text) {
    QString out;
    for (const QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) out += c;
    return out;
}

// One converter per thread (a converter is not shared between threads); null when OpenCC's
// data cannot be found, and then texts keep their characters.
opencc_t converter() {
    thread_local const opencc_t open = [] {
        opencc_t c = opencc_open("t2s.json");
        if (c == reinterpret_cast<opencc_t>(-1)) c = opencc_open("/usr/share/opencc/t2s.json");
        return c;
    }();
    thread_local const struct Closer {
        ~Closer() {
            if (open != reinterpret_cast<opencc_t>(-1)) opencc_close(open);
        }
    } closer;
    return open == reinterpret_cast<opencc_t>(-1) ? nullptr : open;
}

bool allAscii(QStringView text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x80) return false;
    return true;
}

// Characters that compatibility folding leaves as they are: ASCII and the unified ideographs.
bool foldsToItself(QStringView text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80 && (u < 0x4E00 || u > 0x9FFF)) return false;
    }
    return true;
}

// Whether OpenCC changes a character on its own, asked once per character and thread: a text
// whose characters all stay goes without a conversion (most texts of a simplified list).
bool changesAlone(opencc_t c, char16_t ch) {
    thread_local std::vector<quint8> known(0x10000, 0); // 0 not asked, 1 stays, 2 changes
    quint8& k = known[ch];
    if (k == 0) {
        const QByteArray one = QString(QChar(ch)).toUtf8();
        char* out = opencc_convert_utf8(c, one.constData(), size_t(one.size()));
        k = out && one != QByteArray(out) ? 2 : 1;
        if (out) opencc_convert_utf8_free(out);
    }
    return k == 2;
}

} // namespace

QString toSimplified(QStringView text) {
    opencc_t c = allAscii(text) ? nullptr : converter();
    if (!c) return text.toString();
    bool stays = true;
    for (const QChar ch : text)
        if (ch.unicode() >= 0x80 && !ch.isSurrogate() && changesAlone(c, ch.unicode())) {
            stays = false;
            break;
        }
    if (stays && std::none_of(text.begin(), text.end(), [](QChar ch) { return ch.isSurrogate(); }))
        return text.toString();
    const QByteArray utf8 = text.toUtf8();
    char* out = opencc_convert_utf8(c, utf8.constData(), size_t(utf8.size()));
    if (!out) return text.toString();
    const QString simplified = QString::fromUtf8(out);
    opencc_convert_utf8_free(out);
    return simplified;
}

QString normaliseText(QStringView text) {
    const QString folded = toSimplified(
        foldsToItself(text) ? text.toString()
                            : text.toString().normalized(QString::NormalizationForm_KC));
    QString out;
    out.reserve(folded.size());
    bool pendingBlank = false;
    char32_t last = 0;
    const char16_t* p = reinterpret_cast<const char16_t*>(folded.utf16());
    const char16_t* const end = p + folded.size();
    while (p < end) {
        // One code point; an unpaired surrogate is taken as it is.
        char32_t c = *p++;
        if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p))
            c = QChar::surrogateToUcs4(char16_t(c), *p++);
        if (isBlank(c)) {
            pendingBlank = true;
            continue;
        }
        if (QChar::category(c) == QChar::Other_Control) continue;
        const char32_t lower = c >= U'A' && c <= U'Z' ? c + 32 : c;
        if (pendingBlank && !out.isEmpty() && !isChinese(last) && !isChinese(lower))
            out += QLatin1Char(' ');
        pendingBlank = false;
        if (QChar::requiresSurrogates(lower)) {
            out += QChar(QChar::highSurrogate(lower));
            out += QChar(QChar::lowSurrogate(lower));
        } else {
            out += QChar(char16_t(lower));
        }
        last = lower;
    }
    return out;
}

QString houseNumbersAsDigits(QStringView address) {
    static const QString numerals = QStringLiteral("〇零一二两三四五六七八九十百千");
    static const QString units = QStringLiteral("号號栋棟幢座楼樓层層室弄巷");
    auto digit = [](QChar c) {
        static const QString values = QStringLiteral("〇零一二两三四五六七八九");
        static const int value[] = {0, 0, 1, 2, 2, 3, 4, 5, 6, 7, 8, 9};
        const qsizetype i = values.indexOf(c);
        return i < 0 ? -1 : value[i];
    };
    QString out;
    qsizetype i = 0;
    while (i < address.size()) {
        qsizetype end = i;
        while (end < address.size() && numerals.contains(address[end]))
            ++end;
        if (end == i) {
            out += address[i++];
            continue;
        }
        const QStringView run = address.mid(i, end - i);
        if (end >= address.size() ||
            !(units.contains(address[end]) || address.mid(end, 2) == u"单元")) {
            out += run;
            i = end;
            continue;
        }
        bool positional = false;
        for (const QChar c : run)
            positional |= c == u'十' || c == u'百' || c == u'千';
        if (positional) {
            int total = 0, current = 0;
            for (const QChar c : run) {
                const int scale = c == u'十' ? 10 : c == u'百' ? 100 : c == u'千' ? 1000 : 0;
                if (scale == 0) {
                    current = digit(c);
                    continue;
                }
                total += (current == 0 && scale == 10 ? 1 : current) * scale; // 十五 is 15
                current = 0;
            }
            out += QString::number(total + current);
        } else {
            for (const QChar c : run)
                out += QChar(u'0' + digit(c));
        }
        i = end;
    }
    return out;
}

QString normalisePersonName(QStringView text) {
    QString name = normaliseText(text);
    for (const QChar dot :
         {QChar(0x00B7), QChar(0x30FB), QChar(0x2022), QChar(0x2027), QChar(0xFF65)})
        name.remove(dot);
    bool latin = false;
    for (const QChar c : name)
        latin |= (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
    if (latin) {
        QStringList words =
            name.split(QRegularExpression(QStringLiteral("[ ,.]+")), Qt::SkipEmptyParts);
        std::sort(words.begin(), words.end());
        return words.join(QLatin1Char(' '));
    }
    name.remove(QLatin1Char(' '));
    for (const QString& title :
         {QStringLiteral("先生"), QStringLiteral("女士"), QStringLiteral("小姐")})
        if (name.size() > title.size() && name.endsWith(title)) {
            name.chop(title.size());
            break;
        }
    return name;
}

QString pronunciationKey(QStringView name) {
    return pronunciationOfNormalName(normalisePersonName(name));
}

QString pronunciationOfNormalName(QStringView normal) {
    // One transliterator per thread (they keep state while they work).
    thread_local const std::unique_ptr<icu::Transliterator> toPinyin = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
            "Han-Latin; Latin-ASCII; Lower", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(t) : nullptr;
    }();
    if (!toPinyin) return normal.toString();
    // The words one after the other, a blank between: the letters and digits between the Han
    // characters as one word, each Han character's syllable as one.
    QString out;
    out.reserve(normal.size() * 6);
    bool inWord = false; // the last word is letters and digits, still open
    auto separate = [&] {
        if (!out.isEmpty()) out += QLatin1Char(' ');
    };
    const char16_t* p = normal.utf16();
    const char16_t* const end = p + normal.size();
    while (p < end) {
        const char16_t* const start = p;
        char32_t c = *p++;
        if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p))
            c = QChar::surrogateToUcs4(char16_t(c), *p++);
        if (QChar::script(c) != QChar::Script_Han) {
            if (c == U' ') {
                inWord = false;
            } else {
                if (!inWord) separate();
                inWord = true;
                out.append(reinterpret_cast<const QChar*>(start), p - start);
            }
            continue;
        }
        inWord = false;
        // A character sounds the same in every name: each is transliterated once per thread.
        thread_local QHash<char32_t, QString> sounds;
        auto known = sounds.constFind(c);
        if (known == sounds.cend()) {
            icu::UnicodeString u(reinterpret_cast<const UChar*>(start), int32_t(p - start));
            toPinyin->transliterate(u);
            known = sounds.insert(
                c,
                QString::fromUtf16(reinterpret_cast<const char16_t*>(u.getBuffer()), u.length()));
        }
        separate();
        out += known.value();
    }
    return out;
}

OrganisationName normaliseOrganisation(QStringView text) {
    // Longest first: the legal form is the longest that ends the name.
    static const QStringList forms = {QStringLiteral("集团股份有限公司"),
                                      QStringLiteral("集团有限责任公司"),
                                      QStringLiteral("股份有限公司"),
                                      QStringLiteral("有限责任公司"),
                                      QStringLiteral("集团有限公司"),
                                      QStringLiteral("有限公司"),
                                      QStringLiteral("股份公司"),
                                      QStringLiteral("集团公司"),
                                      QStringLiteral("分公司"),
                                      QStringLiteral("公司"),
                                      QStringLiteral("集团"),
                                      QStringLiteral("厂")};
    static const QRegularExpression bracket(QStringLiteral("\\(([^()]*)\\)"));
    OrganisationName o;
    QString name = normaliseText(text);
    // A place in brackets, wherever it stands.
    if (const QRegularExpressionMatch m = bracket.match(name); m.hasMatch()) {
        o.place = m.captured(1).trimmed();
        name.remove(m.capturedStart(), m.capturedLength());
    }
    name.remove(QLatin1Char(' '));
    // The longest form that ends the name; a name that is nothing but a form stays whole.
    for (const QString& form : forms) {
        if (!name.endsWith(form)) continue;
        if (name.size() > form.size()) {
            o.legalForm = form;
            name.chop(form.size());
        }
        break;
    }
    o.core = name;
    return o;
}

QStringList normalisePhones(QStringView text) {
    // Written without regular expressions: a phone field is read for every record.
    const QString folded = allAscii(text)
                               ? text.toString()
                               : text.toString().normalized(QString::NormalizationForm_KC);
    auto separator = [](QChar c) {
        return c == u'/' || c == u',' || c == u';' || c == u'、' || c == u'或' || c == u'\n';
    };
    // What follows an extension's word (转, 分机, ext) is no part of the number.
    auto withoutExtension = [](QStringView part) {
        qsizetype cut = part.size();
        for (const QStringView word :
             {QStringView(u"转"), QStringView(u"分机"), QStringView(u"ext")})
            if (const qsizetype at = part.indexOf(word, 0, Qt::CaseInsensitive); at >= 0)
                cut = std::min(cut, at);
        return part.left(cut);
    };
    auto digitCount = [](QStringView v) {
        return std::count_if(v.begin(), v.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    // Numbers written one after the other with a blank between them: a new number starts with a
    // 0, a 1, "(" or "+" once the words before it hold ten digits or more.
    QVarLengthArray<QStringView, 4> parts;
    const QStringView all(folded);
    for (qsizetype i = 0; i < all.size();) {
        qsizetype end = i;
        while (end < all.size() && !separator(all[end]))
            ++end;
        const QStringView cell = all.mid(i, end - i);
        i = end + 1;
        if (cell.isEmpty()) continue;
        const QList<QStringView> words = cell.split(u' ', Qt::SkipEmptyParts);
        if (digitCount(cell) <= 13 || words.size() < 2) {
            parts << cell;
            continue;
        }
        // The words of one number, as the span of the cell from its first word to its last.
        const QChar* from = nullptr;
        const QChar* to = nullptr;
        qsizetype digits = 0;
        for (const QStringView w : words) {
            const QChar first = w.front();
            if (digits >= 10 &&
                (first == u'0' || first == u'1' || first == u'(' || first == u'+')) {
                parts << QStringView(from, to);
                from = nullptr;
                digits = 0;
            }
            if (!from) from = w.data();
            to = w.data() + w.size();
            digits += digitCount(w);
        }
        if (from) parts << QStringView(from, to);
    }
    QStringList numbers;
    for (const QStringView whole : parts) {
        const QStringView part = withoutExtension(whole);
        qsizetype firstDigit = 0;
        while (firstDigit < part.size() && !(part[firstDigit] >= u'0' && part[firstDigit] <= u'9'))
            ++firstDigit;
        const bool plus = firstDigit < part.size() && firstDigit > 0 &&
                          part.left(firstDigit).contains(QLatin1Char('+'));
        QString digits = digitsOf(part);
        bool international = false;
        if (digits.startsWith(QLatin1String("0086"))) {
            digits.remove(0, 4);
            international = true;
        } else if (digits.startsWith(QLatin1String("86")) &&
                   (plus || (digits.size() == 13 && digits.at(2) == QLatin1Char('1')))) {
            digits.remove(0, 2);
            international = true;
        }
        const bool mobile = digits.size() == 11 && digits.startsWith(QLatin1Char('1'));
        // Written from abroad, a landline's area code loses its trunk 0.
        if (international && !mobile && !digits.startsWith(QLatin1Char('0')) && digits.size() >= 9)
            digits.prepend(QLatin1Char('0'));
        if (digits.size() >= 7) numbers << digits;
    }
    return numbers;
}

QString normaliseIdNumber(QStringView text) {
    QString id;
    for (const QChar c : text.toString().normalized(QString::NormalizationForm_KC)) {
        if (c.isDigit() && c.unicode() < 128)
            id += c;
        else if (c == QLatin1Char('x') || c == QLatin1Char('X'))
            id += QLatin1Char('X');
        else if (!isBlank(c.unicode()) && c != QLatin1Char('-'))
            return {};
    }
    auto validDate = [](QStringView yyyymmdd) {
        const QDate d = QDate::fromString(yyyymmdd.toString(), QStringLiteral("yyyyMMdd"));
        return d.isValid();
    };
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    auto checkCharacter = [](QStringView first17) {
        int sum = 0;
        for (int i = 0; i < 17; ++i)
            sum += (first17[i].unicode() - u'0') * weights[i];
        return QLatin1Char("10X98765432"[sum % 11]);
    };
    if (id.size() == 15) {
        if (id.contains(QLatin1Char('X'))) return {};
        QString full = id.left(6) + QStringLiteral("19") + id.mid(6);
        if (!validDate(QStringView(full).mid(6, 8))) return {};
        return full + checkCharacter(full);
    }
    if (id.size() != 18 || id.left(17).contains(QLatin1Char('X'))) return {};
    if (!validDate(QStringView(id).mid(6, 8))) return {};
    if (checkCharacter(QStringView(id).left(17)) != id.at(17)) return {};
    return id;
}

QString normaliseOther(QStringView text) {
    const QString normal = normaliseText(text);
    static const QRegularExpression yearFirst(
        QStringLiteral("^(\\d{4})[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?$"));
    static const QRegularExpression dayFirst(
        QStringLiteral("^(\\d{1,2})[-/.](\\d{1,2})[-/.](\\d{4})$"));
    static const QRegularExpression compact(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    int y = 0, m = 0, d = 0;
    if (const auto a = yearFirst.match(normal); a.hasMatch()) {
        y = a.captured(1).toInt(), m = a.captured(2).toInt(), d = a.captured(3).toInt();
    } else if (const auto b = dayFirst.match(normal); b.hasMatch()) {
        d = b.captured(1).toInt(), m = b.captured(2).toInt(), y = b.captured(3).toInt();
    } else if (const auto c = compact.match(normal); c.hasMatch()) {
        y = c.captured(1).toInt(), m = c.captured(2).toInt(), d = c.captured(3).toInt();
    }
    const QDate date(y, m, d);
    if (y >= 1800 && date.isValid()) return date.toString(Qt::ISODate);
    return normal;
}

} // namespace smart
