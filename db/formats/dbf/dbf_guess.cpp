// The code page of a table that declares none, read off the bytes of its text.
//
// Every candidate decodes the samples, and each character that came from bytes above 0x7F is
// weighed for how likely it is in a client list, from -1 (no such text: an undefined byte, a
// private-use or control character, box drawing, a letter of another script inside a word) to
// +1 (one of the Chinese characters names, addresses and company names use most, a letter that
// fits its word). A character weighs as many times as it has bytes; the candidate with the
// highest mean wins, GBK with a small lead (the code page Chinese tables are in when they say
// nothing), the earlier one of two alike otherwise.
//
// What tells the candidates apart:
//   - GBK and Big5 both decode most two-byte pairs, but text in one decoded by the other gives
//     rare characters: few of the common ones, and for Big5 text read as GBK many pairs from
//     GBK's extension area, which GB2312 (the characters of everyday simplified text) leaves
//     out.
//   - UTF-8 has a strict byte structure: other text breaks it within a few characters.
//   - The single-byte pages decode every byte, so the words decide: a Western word has a few
//     accented letters among plain ones, in one case form (Müller, MÜLLER); the same bytes in
//     the wrong page give symbols or box drawing inside words (S¢ren), capitals after small
//     letters (JosÚ), runs of accented letters (Èâàíîâ for Иванов) or Cyrillic letters inside
//     Latin words (cafй).
#include "db/formats/dbf/dbf.h"
#include "db/formats/dbf/dbf_values.h"
#include "db/formats/textcodec.h"

#include <QChar>
#include <QStringDecoder>

#include <array>
#include <bitset>

namespace formats::dbf {

namespace {

// Characters Chinese client lists use most (names, addresses, companies), simplified and
// traditional.
const char kCommonSimplified[] =
    "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下"
    "过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都"
    "两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重"
    "新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想"
    "已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知"
    "较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造"
    "百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白"
    "教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集"
    "温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿"
    "千周委素技备半办青省列习响约支般史感劳便团往历市克何除消构府称太准精值号率族维划选标写存候"
    "毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁"
    "价严龙飞李刘陈杨黄赵吴徐孙朱胡郭罗郑梁谢宋唐韩冯邓曹彭曾肖田董袁潘蒋蔡余杜叶苏魏吕丁沈姚"
    "卢姜崔钟谭陆汪范廖贾夏韦付邹孟熊秦邱尹薛段雷侯陶黎贺顾郝龚邵钱覃武戴莫孔汤伟芳娜秀英敏静"
    "丽磊洋勇艳杰娟涛超兰霞刚桂玲宁峰辉鹏燕斌波宇浩婷雪梅琳晶欣慧佳怡俊嘉鑫镇乡村街栋巷弄园楼"
    "室厦庄州阳湖河桥城台港湾津庆辽吉黑浙徽福建赣豫鄂湘粤桂琼川贵云陕甘青藏疆蒙深杭汉沈济岛厦"
    "锡佛莞淀丰司限责股份贸易投咨询筑房网络酒店餐饮银险券医校协乐兴延寿宿迁松溪仙游喜闻泉宝"
    "昌盛荣祥瑞福禄仁礼智忠孝贤良康泰顺隆昆鸿鹤翔凤凰春夏秋冬兰竹菊柏柳桃杏荷莲芝旺富贵吉"
    "永久淑贞惠珍珠玉琴瑶莉萍蓉芬芸岭岗坡坪坝塘滨郡屯寨营堡卡站铺栈阁亭馆苑";
const char kCommonTraditional[] =
    "這為個國們時來對會發動過說產種後經進著電裡現實兩體機當點從業應開還義與關間樣線內數"
    "麼質氣變條沒結問無軍總設長頭資邊級圖統較將組見計別論運農幾區強決幹戰則據處隊給門"
    "規熱領東導壓爭濟階術極聯認權證轉單風帶場車務萬達積議聲報鬥類離華確張馬節話況溫傳許"
    "廣記織裝眾書復兒須際驗連斷難礦週備辦習響約勞團歷構稱準劃選標寫親養層專狀廠識適屬圓"
    "調滿縣參紅細聽該鐵價嚴龍飛劉陳楊黃趙吳孫羅鄭謝韓馮鄧蕭董蔣葉蘇呂盧鍾譚陸賈韋鄒薛"
    "閆雷陶賀顧龔錢湯偉麗艷傑濤蘭剛寧輝鵬嬌鎮鄉棟樓廈莊臺灣雄竹義隆蘭蓮澳門龍仔責貿"
    "諮詢築網絡飲銀險醫協會員學職號碼電話廳號誌";

const std::bitset<65536>& commonCharacters() {
    static const std::bitset<65536> set = [] {
        std::bitset<65536> s;
        for (const char* text : {kCommonSimplified, kCommonTraditional})
            for (const QChar c : QString::fromUtf8(text))
                s.set(c.unicode());
        return s;
    }();
    return set;
}

enum class Family { DoubleByte, Utf8, SingleByte };

struct Candidate {
    int number;
    Family family;
};

// In the order ties are decided.
constexpr Candidate kCandidates[] = {
    {936, Family::DoubleByte},  {950, Family::DoubleByte},  {65001, Family::Utf8},
    {1252, Family::SingleByte}, {850, Family::SingleByte},  {437, Family::SingleByte},
    {866, Family::SingleByte},  {1251, Family::SingleByte}, {1250, Family::SingleByte},
};

// GBK's lead over the others: it wins unless another reads the text clearly better.
constexpr double kGbkLead = 0.1;

// One decoded character and the bytes it came from.
struct Unit {
    char32_t c = 0;
    quint8 bytes = 1;
    quint8 tier = 0;      // two-byte characters: 1 the common area, 2 the second one, 0 other
    bool invalid = false; // bytes the candidate cannot decode
};

// The 128 characters a single-byte page gives bytes 0x80-0xFF, 0 where a byte is undefined.
std::array<char16_t, 128> singleBytes(int number) {
    std::array<char16_t, 128> t{};
    const QByteArray codec = formats::codecForCodePage(number);
    for (int b = 0x80; b <= 0xFF; ++b) {
        // A decoder of its own per byte: one that met an error keeps failing.
        QStringDecoder dec(codec.constData(), QStringConverter::Flag::Stateless);
        const char byte = char(b);
        const QString c = dec.decode(QByteArrayView(&byte, 1));
        if (!dec.hasError() && c.size() == 1 && c[0] != QChar::ReplacementCharacter)
            t[size_t(b - 0x80)] = c[0].unicode();
    }
    return t;
}

const std::array<char16_t, 128>& singleByteTable(int number) {
    static const std::array<char16_t, 128> t1252 = singleBytes(1252), t850 = singleBytes(850),
                                           t437 = singleBytes(437), t866 = singleBytes(866),
                                           t1251 = singleBytes(1251), t1250 = singleBytes(1250);
    switch (number) {
    case 850:
        return t850;
    case 437:
        return t437;
    case 866:
        return t866;
    case 1251:
        return t1251;
    case 1250:
        return t1250;
    default:
        return t1252;
    }
}

void decodeDoubleByte(const QByteArray& s, int number, std::vector<Unit>* out) {
    const char16_t* table = detail::doubleByteTable(
        number == 950 ? detail::DoubleByteCodec::Big5 : detail::DoubleByteCodec::Gb18030);
    const auto* p = reinterpret_cast<const quint8*>(s.constData());
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n;) {
        Unit u;
        const quint8 lead = p[i];
        if (lead < 0x80) {
            u.c = lead;
            ++i;
        } else if (i + 1 < n && table[size_t(lead) << 8 | p[i + 1]] != 0) {
            const quint8 trail = p[i + 1];
            u.c = table[size_t(lead) << 8 | trail];
            u.bytes = 2;
            if (number == 950) {
                const int code = lead << 8 | trail;
                u.tier = code >= 0xA440 && code <= 0xC67E   ? 1
                         : code >= 0xC940 && code <= 0xF9D5 ? 2
                                                            : 0;
            } else if (trail >= 0xA1) {
                u.tier = lead >= 0xB0 && lead <= 0xD7 ? 1 : lead >= 0xD8 && lead <= 0xF7 ? 2 : 0;
            }
            i += 2;
        } else if (number == 936 && i + 3 < n && p[i + 1] >= 0x30 && p[i + 1] <= 0x39 &&
                   p[i + 2] >= 0x81 && p[i + 2] <= 0xFE && p[i + 3] >= 0x30 && p[i + 3] <= 0x39) {
            u.c = 0x3400; // a four-byte GB18030 character: rare, but text
            u.bytes = 4;
            i += 4;
        } else {
            u.invalid = true;
            ++i;
        }
        out->push_back(u);
    }
}

void decodeUtf8(const QByteArray& s, std::vector<Unit>* out) {
    const auto* p = reinterpret_cast<const quint8*>(s.constData());
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n;) {
        Unit u;
        const quint8 b = p[i];
        int len = b < 0x80                 ? 1
                  : b >= 0xC2 && b <= 0xDF ? 2
                  : b >= 0xE0 && b <= 0xEF ? 3
                  : b >= 0xF0 && b <= 0xF4 ? 4
                                           : 0;
        char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        for (int k = 1; k < len; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                len = 0;
                break;
            }
            c = c << 6 | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF))
            len = 0;
        if (len == 0) {
            u.invalid = true;
            ++i;
        } else {
            u.c = c;
            u.bytes = quint8(len);
            i += len;
        }
        out->push_back(u);
    }
}

void decodeSingleByte(const QByteArray& s, int number, std::vector<Unit>* out) {
    const std::array<char16_t, 128>& table = singleByteTable(number);
    for (const char ch : s) {
        Unit u;
        const quint8 b = quint8(ch);
        if (b < 0x80) {
            u.c = b;
        } else {
            u.c = table[b - 0x80];
            u.invalid = u.c == 0;
        }
        out->push_back(u);
    }
}

bool isIdeograph(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

bool isLetter(char32_t c) {
    return c < 0x80 ? (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
                    : QChar::isLetter(c) && !isIdeograph(c);
}

bool isAsciiLetter(const Unit& u) {
    return !u.invalid && u.c < 0x80 && isLetter(u.c);
}

enum class Script { Latin, Greek, Cyrillic, Other };

Script scriptOf(char32_t c) {
    switch (QChar::script(c)) {
    case QChar::Script_Latin:
        return Script::Latin;
    case QChar::Script_Greek:
        return Script::Greek;
    case QChar::Script_Cyrillic:
        return Script::Cyrillic;
    default:
        return Script::Other;
    }
}

bool letterAt(const std::vector<Unit>& units, size_t i) {
    return i < units.size() && !units[i].invalid && isLetter(units[i].c);
}

// Whether the letters first..last (ASCII ones only, if asciiOnly) are all small, all capitals,
// or a capital and small ones. Letters without case (ß) fit any form.
bool wordFormHolds(const std::vector<Unit>& units, size_t first, size_t last, bool asciiOnly) {
    bool any = false, firstUpper = false, laterUpper = false, laterLower = false;
    for (size_t k = first; k <= last; ++k) {
        const char32_t c = units[k].c;
        if (asciiOnly && c >= 0x80) continue;
        const bool upper = QChar::isUpper(c), lower = QChar::isLower(c) && c != 0xDF;
        if (!upper && !lower) continue;
        if (!any) {
            any = true;
            firstUpper = upper;
            continue;
        }
        laterUpper = laterUpper || upper;
        laterLower = laterLower || lower;
    }
    return !(laterUpper && laterLower) && !(laterUpper && !firstUpper);
}

// How likely a letter is where it stands, by its word (the letters on either side of it).
double letterWeight(const std::vector<Unit>& units, size_t i) {
    const char32_t c = units[i].c;
    const Script script = scriptOf(c);
    size_t first = i, last = i;
    while (first > 0 && letterAt(units, first - 1))
        --first;
    while (letterAt(units, last + 1))
        ++last;
    for (size_t k = first; k <= last; ++k)
        if (k != i && scriptOf(units[k].c) != script) return -1; // cafй
    // A word is in small letters, in capitals or capitalised: JosÚ, SÆo and ЦЕнт are not.
    // When the plain letters alone keep the form, the others broke it.
    if (!wordFormHolds(units, first, last, false))
        return wordFormHolds(units, first, last, true) ? -1 : 0;
    if (script == Script::Cyrillic) {
        // Four letters and no vowel (ВШПШ): no word.
        static const QString vowels = QString::fromUtf8("аеёиоуыэюяіїєАЕЁИОУЫЭЮЯІЇЄ");
        bool vowel = false;
        for (size_t k = first; k <= last && !vowel; ++k)
            vowel = units[k].c <= 0xFFFF && vowels.contains(QChar(char16_t(units[k].c)));
        if (!vowel && last - first >= 3) return -1;
        // Random bytes read as Cyrillic take every letter alike; words mostly take a few.
        static const QString frequent = QString::fromUtf8("оеаинтсрвлкмдпуіОЕАИНТСРВЛКМДПУІ");
        if (c <= 0xFFFF && frequent.contains(QChar(char16_t(c)))) return 1;
        return (c >= 0x410 && c <= 0x44F) || c == 0x401 || c == 0x451 ? 0.5 : 0.25;
    }
    if (script == Script::Latin) {
        // The third accented letter in a row: Èâàíîâ.
        size_t run = 0;
        for (size_t k = i; k >= first && units[k].c >= 0x80; --k) {
            ++run;
            if (k == 0) break;
        }
        if (run >= 3) return -1;
        // Letters of Icelandic, Turkish and old spellings, seldom in a client list.
        static const QString rare = QString::fromUtf8("ðÐþÞýÝÿŸıƒªº");
        if (c <= 0xFFFF && rare.contains(QChar(char16_t(c)))) return 0;
    }
    return 1;
}

double weight(const std::vector<Unit>& units, size_t i, Family family) {
    const Unit& u = units[i];
    if (u.invalid) return -1;
    const char32_t c = u.c;
    if (isIdeograph(c) || (c >= 0xF900 && c <= 0xFAFF)) {
        double w = c >= 0xF900 && c <= 0xFAFF                          ? -0.5
                   : c <= 0xFFFF && commonCharacters().test(size_t(c)) ? 1
                   : family == Family::Utf8 ? (c >= 0x4E00 && c <= 0x9FFF ? 0.5 : 0)
                   : u.tier == 1            ? 0.5
                   : u.tier == 2            ? 0.25
                                            : 0;
        // A Chinese character between two Latin letters: the bytes of a Western word.
        if (i > 0 && isAsciiLetter(units[i - 1]) && i + 1 < units.size() &&
            isAsciiLetter(units[i + 1]))
            w -= 0.5;
        return w;
    }
    if ((c >= 0xE000 && c <= 0xF8FF) || c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFD ||
        (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE)
        return -1;                             // private use, controls, noncharacters
    if (c >= 0x2500 && c <= 0x25FF) return -1; // box drawing, blocks, shapes
    if (family == Family::DoubleByte) {
        // Chinese punctuation and full-width forms belong to Chinese text; the kana, Greek,
        // Cyrillic and pinyin rows of the two-byte sets seldom do.
        if ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF) ||
            (c >= 0x2010 && c <= 0x206F))
            return 0.5;
        return 0;
    }
    if (family == Family::Utf8 && ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF00 && c <= 0xFFEF)))
        return 0.5;
    if (isLetter(c)) return letterWeight(units, i);
    if (c == 0xA0 || c == 0xAD) return -0.5; // no-break space, soft hyphen
    // Other symbols and punctuation: fine beside blanks and digits, not inside a word.
    if (i > 0 && letterAt(units, i - 1) && letterAt(units, i + 1)) return -1;
    return 0;
}

// The mean weight of the text's characters above 0x7F when read in this code page.
double score(const std::vector<QByteArray>& samples, const Candidate& cp) {
    double sum = 0;
    qint64 bytes = 0;
    std::vector<Unit> units;
    for (const QByteArray& s : samples) {
        units.clear();
        if (cp.family == Family::DoubleByte)
            decodeDoubleByte(s, cp.number, &units);
        else if (cp.family == Family::Utf8)
            decodeUtf8(s, &units);
        else
            decodeSingleByte(s, cp.number, &units);
        for (size_t i = 0; i < units.size(); ++i) {
            if (!units[i].invalid && units[i].c < 0x80 && units[i].bytes == 1) continue;
            sum += weight(units, i, cp.family) * units[i].bytes;
            bytes += units[i].bytes;
        }
    }
    return bytes == 0 ? 0 : sum / double(bytes);
}

} // namespace

std::vector<CodePage> guessCandidates() {
    std::vector<CodePage> out;
    for (const Candidate& c : kCandidates)
        out.push_back(parseCodePage(QString::number(c.number)));
    return out;
}

CodePage guessCodePage(const std::vector<QByteArray>& samples) {
    bool high = false;
    for (const QByteArray& s : samples)
        for (const char ch : s)
            high = high || quint8(ch) >= 0x80;
    if (!high) return defaultCodePage();
    int best = kCandidates[0].number;
    double bestScore = -2;
    for (const Candidate& c : kCandidates) {
        const double v = score(samples, c) + (c.number == 936 ? kGbkLead : 0);
        if (v > bestScore) {
            bestScore = v;
            best = c.number;
        }
    }
    return parseCodePage(QString::number(best));
}

} // namespace formats::dbf
