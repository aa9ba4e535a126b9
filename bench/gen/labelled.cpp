// Labelled client lists: the customers, their entries, the look-alikes and the shuffled rows.
//
// Who is in a list. Of the customers, reentryShare are entered more than once: of every twenty
// of them fifteen have two entries, four have three and one has four (exact counts, rounded).
// Another lookalikeShare are made to look like one of the other customers (chosen at random
// among those that are no look-alike themselves); a look-alike may be entered more than once too.
// Common names also come up by chance: surnames are drawn with the frequent ones first, and a
// third of the given names have one character.
//
// A customer's first entry is written the plain way. Each further entry takes one change (55 %
// of them), two (30 %) or three (15 %), drawn without repeating one by the weights below; a change
// that cannot apply to the customer (no company, no X in the ID number...) is drawn again, so a
// kind with conditions ends up somewhat rarer than its weight. Every further entry differs from
// the first. On top of that, one further entry in ten has a genuinely new phone number (half of
// them) or a new address in the same city or province (the other half).
//
// Chinese lists (姓名 电话 地址 身份证号 单位名称 邮编), weights out of 100:
//   15  address head: the province left out (深圳市南山区…, 40 %), left out with the city's 市
//       (深圳南山区…, 20 %), every place name short (广东深圳南山…, 20 %) or the province short
//       (广东深圳市南山区…, 20 %); a municipality loses its 市 (北京朝阳区…) and maybe the 区
//   12  the phone written another way: 138-0013-8000, 138 0013 8000, +86 13800138000,
//       +8613800138000, 0086 13800138000, 008613800138000; a landline as (0755)88881234,
//       075588881234, 0755 88881234 or （0755）88881234; another separator between two numbers
//   10  the address: a one-character typo in the street or estate, a character of the same
//       sound mostly (60 %), or the room number dropped or added (40 %)
//    9  a homophone in the given name (张伟 → 张玮), from the table of same-pinyin characters
//    9  one field left empty, never the name (电话 25, 地址 15, 身份证号 30, 单位名称 15, 邮编 15),
//       and never a field another change of the same entry touched
//    8  the name with a blank inside (张 伟, 张 伟 明) or a title after it (先生, 女士, 小姐)
//    8  the ID number: x in lower case (when it ends in X), the old 15-digit form (births
//       before 2000) or blanks inside (440305 19840307 123X, 440305 1984 0307 123X)
//    7  digits and letters typed full-width (１３８…) in the phone (50 %) or the address
//    7  the organisation: the legal form changed (有限公司 ↔ 有限责任公司 ↔ 公司, 股份有限公司 →
//       股份公司 / 有限公司, 45 %), the city put in brackets (宏远科技（深圳）有限公司, half-width
//       brackets in a third of them, 30 %), the city's 市 added or dropped (15 %), the city left
//       out (10 %)
//    6  the name in traditional characters (张三 → 張三), from the table below
//    5  a second phone number added in the cell (13800138000/0755-88881234), or one of two
//       numbers left out
//    4  the house number in Chinese numerals (88号 → 八十八号)
// Look-alikes: 40 % namesakes in one city (same name and sex, another address, phone, ID number
// and maybe company), 35 % family members (same surname, another given name, the same address
// and the same landline, their own mobile and ID number), 25 % colleagues (the same organisation
// at the same address, maybe another room, often the same switchboard number; another name and
// ID number).
//
// Latin-script lists (name address city birth_date), weights out of 100:
//   30  a typo: two letters swapped, one dropped or one doubled (never the first letter of a
//       word), in the name (65 %), the street (20 %) or the city (15 %)
//   14  a nickname (William → Bill) or an initial (J. Smith, J Smith) for the given name
//   14  the birth date written another way: 07.03.1984 or 7/3/1984 instead of 1984-03-07
//   12  the street kind abbreviated or written out (St ↔ Street, Rd ↔ Road, Ave ↔ Avenue...)
//   10  the word order "Surname, Given"
//    9  one field left empty (address, city or birth date)
//    6  one digit of the birth date wrong (the date stays a real one)
//    5  accents dropped or spelt out (Müller → Muller or Mueller, Hélène → Helene)
// Look-alikes: 55 % namesakes (same name, another birth date and address, half of them in the
// same city), 45 % family members at one address (same surname, another given name and birth
// date).
#include "bench/gen/labelled.h"
#include "bench/gen/genbase.h"
#include "bench/gen/regions.h"

#include <QDate>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <map>

namespace gen {

namespace {

using base::appendNumber;
using base::idCheck;
using base::kHkMoTw;
using base::makePlaces;
using base::Place;
using base::Random;
using base::Words;

// ---------------------------------------------------------------------------------------------
// What both kinds of list share: who is entered how often, who looks like whom, the draws, the
// shuffled rows.

// A share within [0, 1]; NaN is 0.
double clampShare(double share) {
    return share > 0 ? std::min(share, 1.0) : 0.0;
}

int quota(int n, double share) {
    return int(std::llround(double(n) * clampShare(share)));
}

struct EntryCounts {
    int threes = 0, fours = 0; // customers with three and four entries; the rest of the
                               // re-entered ones have two
};

EntryCounts entryCounts(int reentered) {
    return {int(std::llround(reentered * 0.20)), int(std::llround(reentered * 0.05))};
}

qint64 rowsFor(int customers, double reentryShare) {
    const int reentered = quota(customers, reentryShare);
    const EntryCounts c = entryCounts(reentered);
    return qint64(customers) + reentered + c.threes + 2 * qint64(c.fours);
}

std::vector<int> shuffled(int n, Random& rnd) {
    std::vector<int> v(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = i;
    for (int i = n - 1; i > 0; --i)
        std::swap(v[size_t(i)], v[size_t(rnd.below(i + 1))]);
    return v;
}

// An index drawn by its weight; -1 when every weight is 0.
int weighted(Random& rnd, const std::vector<int>& weights) {
    int total = 0;
    for (int w : weights)
        total += w;
    if (total <= 0) return -1;
    int r = rnd.below(total);
    for (size_t i = 0; i < weights.size(); ++i) {
        if (r < weights[i]) return int(i);
        r -= weights[i];
    }
    return -1;
}

bool exhausted(const std::vector<int>& weights) {
    return std::all_of(weights.begin(), weights.end(), [](int w) { return w <= 0; });
}

// The number of changes of a further entry: one, two or three.
int changeCount(Random& rnd) {
    const int r = rnd.below(100);
    return r < 55 ? 1 : r < 85 ? 2 : 3;
}

struct Plan {
    std::vector<int> entries;       // per customer
    std::vector<int> lookalikeOf;   // per customer, -1 for none
    std::vector<int> lookalikeKind; // per customer: an index into the list's kinds, -1 for none
};

Plan makePlan(const LabelledOptions& o, Random& rnd, const std::vector<int>& kindWeights) {
    const int n = std::max(o.customers, 0);
    Plan p;
    p.entries.assign(size_t(n), 1);
    p.lookalikeOf.assign(size_t(n), -1);
    p.lookalikeKind.assign(size_t(n), -1);
    const int reentered = quota(n, o.reentryShare);
    const EntryCounts counts = entryCounts(reentered);
    std::vector<int> order = shuffled(n, rnd);
    for (int i = 0; i < reentered; ++i)
        p.entries[size_t(order[size_t(i)])] = i < counts.fours                   ? 4
                                              : i < counts.fours + counts.threes ? 3
                                                                                 : 2;
    const int lookalikes = std::min(quota(n, o.lookalikeShare), std::max(n - 1, 0));
    order = shuffled(n, rnd);
    std::vector<char> lookalike(size_t(n), 0);
    for (int i = 0; i < lookalikes; ++i)
        lookalike[size_t(order[size_t(i)])] = 1;
    std::vector<int> sources;
    for (int c = 0; c < n; ++c)
        if (!lookalike[size_t(c)]) sources.push_back(c);
    for (int c = 0; c < n; ++c) {
        if (!lookalike[size_t(c)]) continue;
        p.lookalikeOf[size_t(c)] = sources[size_t(rnd.below(qsizetype(sources.size())))];
        p.lookalikeKind[size_t(c)] = weighted(rnd, kindWeights);
    }
    return p;
}

// The entries of every customer in customer order, first entries first.
struct Entries {
    std::vector<QStringList> rows;
    std::vector<int> entity;
    std::vector<QString> change;
    std::vector<char> first; // a customer's first entry
};

// Each customer's first entry as render(i) writes it, then the further entries of its plan as
// further(i, firstRow, &row) makes them (returning the change).
template <class Render, class Further>
Entries entriesOf(const Plan& plan, Render render, Further further) {
    Entries e;
    for (int i = 0; i < int(plan.entries.size()); ++i) {
        const QStringList first = render(i);
        e.rows.push_back(first);
        e.entity.push_back(i);
        e.change.push_back(QString());
        e.first.push_back(1);
        for (int k = 1; k < plan.entries[size_t(i)]; ++k) {
            QStringList row;
            e.change.push_back(further(i, first, &row));
            e.rows.push_back(std::move(row));
            e.entity.push_back(i);
            e.first.push_back(0);
        }
    }
    return e;
}

// Shuffles the rows and moves apart two entries of one customer that the shuffle left side by
// side, where another place allows it.
LabelledTable assemble(const QStringList& fields, Entries e, const Plan& plan,
                       const std::vector<QString>& kindNames, Random& rnd) {
    const int n = int(e.rows.size());
    std::vector<int> order = shuffled(n, rnd);
    const auto entityAt = [&](int pos) { return e.entity[size_t(order[size_t(pos)])]; };
    const auto alone = [&](int pos) {
        return (pos == 0 || entityAt(pos - 1) != entityAt(pos)) &&
               (pos == n - 1 || entityAt(pos + 1) != entityAt(pos));
    };
    for (int i = 1; i < n; ++i) {
        if (entityAt(i) != entityAt(i - 1)) continue;
        for (int attempt = 0; attempt < 64; ++attempt) {
            const int j = rnd.below(n);
            if (j == i) continue;
            std::swap(order[size_t(i)], order[size_t(j)]);
            if (alone(i) && alone(j)) break;
            std::swap(order[size_t(i)], order[size_t(j)]);
        }
    }

    LabelledTable t;
    t.fields = fields;
    t.rows.reserve(size_t(n));
    t.entity.reserve(size_t(n));
    t.change.reserve(size_t(n));
    t.copyOf.assign(size_t(n), -1);
    std::vector<int> firstRow(plan.entries.size(), -1);
    for (int i = 0; i < n; ++i) {
        const size_t from = size_t(order[size_t(i)]);
        t.rows.push_back(std::move(e.rows[from]));
        t.entity.push_back(e.entity[from]);
        t.change.push_back(std::move(e.change[from]));
        if (e.first[from]) firstRow[size_t(t.entity.back())] = i;
    }
    for (int i = 0; i < n; ++i) {
        if (e.first[size_t(order[size_t(i)])]) continue;
        t.copyOf[size_t(i)] = firstRow[size_t(t.entity[size_t(i)])];
        ++t.nearCopies;
    }
    t.lookalikeOf = plan.lookalikeOf;
    for (int k : plan.lookalikeKind)
        t.lookalikeKind.push_back(k < 0 ? QString() : kindNames[size_t(k)]);
    return t;
}

QString fullWidth(const QString& s) {
    QString out = s;
    for (QChar& c : out) {
        if (c.unicode() > 0x20 && c.unicode() < 0x7F)
            c = QChar(char16_t(c.unicode() + 0xFEE0));
        else if (c == u' ')
            c = QChar(0x3000);
    }
    return out;
}

bool hasAscii(const QString& s) {
    return std::any_of(s.begin(), s.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
}

QString twoDigits(int n) {
    return QString(QChar(u'0' + n / 10)) + QChar(u'0' + n % 10);
}

// ---------------------------------------------------------------------------------------------
// Chinese lists.

// Simplified characters of the surnames and given names used here, and their traditional forms.
const QString kSimplified = QStringLiteral(
    "张刘陈杨黄赵吴孙马罗郑谢许韩冯邓蒋叶苏吕卢钟谭陆贾韦邹闫龙贺顾龚万钱严汤欧阳诸东"
    "伟强军杰涛刚辉国鹏飞凯帅宁泽轩伦静丽艳兰华红颖洁诗悦瑶凤"
    "玮炜铭桦锋纳韬垒钢晖骏岚铃钰苹艺诚择遥亚仪师鹃莹绣");
const QString kTraditional = QStringLiteral(
    "張劉陳楊黃趙吳孫馬羅鄭謝許韓馮鄧蔣葉蘇呂盧鍾譚陸賈韋鄒閆龍賀顧龔萬錢嚴湯歐陽諸東"
    "偉強軍傑濤剛輝國鵬飛凱帥寧澤軒倫靜麗艷蘭華紅穎潔詩悅瑤鳳"
    "瑋煒銘樺鋒納韜壘鋼暉駿嵐鈴鈺蘋藝誠擇遙亞儀師鵑瑩繡");

// Characters of given names that sound the same (pinyin without tones).
const QStringList kNameSounds = {
    "伟玮炜", "明铭",   "静婧",   "丽莉俐", "华桦",   "军君", "杰洁",   "峰锋", "娜纳",   "涛韬",
    "晨辰",   "鑫欣",   "婷亭",   "斌彬",   "磊垒蕾", "勇永", "刚钢",   "辉晖", "鹏朋",   "飞菲",
    "宇雨羽", "浩昊",   "俊骏",   "林琳霖", "泽择",   "睿瑞", "轩萱宣", "亮靓", "成诚",   "志智",
    "东冬",   "翔祥",   "毅艺",   "芳方",   "英瑛",   "兰岚", "玲铃",   "玉钰", "萍苹平", "红虹宏",
    "燕艳",   "慧惠",   "颖影",   "倩茜",   "薇微",   "佳嘉", "梅玫",   "晶京", "怡仪",   "涵寒",
    "悦月",   "彤桐",   "琪琦淇", "璐露",   "瑶遥",   "凯楷", "娟鹃",   "雅亚", "旭煦",   "宁凝",
    "洋阳扬", "建健剑", "文雯",   "波博",   "帆凡",   "龙隆", "兵冰",   "伦仑", "秀绣",   "霞侠",
    "桂贵",   "强蔷",   "子紫",   "然冉",   "诗师"};

// Characters of street and estate names that sound the same, for typos in an address.
const QStringList kAddressSounds = {
    "中忠钟",   "山珊",     "华化花", "新心欣", "光广",     "明名鸣", "安岸",   "康抗",
    "平评",     "和合河荷", "兴星",   "江疆",   "人仁",     "放方",   "建健剑", "设社",
    "胜圣盛",   "利力立丽", "文闻",   "东冬",   "风峰丰枫", "阳杨洋", "幸杏",   "福富府",
    "友有",     "谊义益",   "青清轻", "学雪",   "工公功宫", "迎盈营", "宾滨彬", "结杰洁",
    "园元圆源", "长常",     "望旺",   "金今锦", "桥乔侨",   "育玉御", "才财材", "振震",
    "京经晶荆", "延言",     "天添",   "泰太",   "湖胡",     "城成诚", "路鹿露", "街阶",
    "道到",     "苑院",     "厦夏",   "世市",   "纪记",     "景井",   "翠脆",   "碧壁",
    "绿律",     "洲州舟",   "书舒",   "香乡湘", "谐鞋",     "紫子",   "林临",   "珠朱",
    "宏红"};

// For each character of a table of same-sounding groups, the others of its group.
QHash<QChar, QString> soundMap(const QStringList& groups) {
    QHash<QChar, QString> map;
    for (const QString& g : groups) {
        for (QChar c : g) {
            QString others = g;
            others.remove(c);
            map.insert(c, others);
        }
    }
    return map;
}

const QStringList kEstateNames = {"阳光", "锦绣", "碧水", "翠湖", "金色", "华府", "明珠",
                                  "东方", "世纪", "天成", "海景", "绿洲", "书香", "丽景",
                                  "御景", "和谐", "幸福", "康乐", "紫荆", "枫林"};
const QStringList kHomes = {"花园", "家园", "新村", "小区", "公寓", "苑", "名苑", "华庭"};
const QStringList kOffices = {"大厦", "广场", "中心", "商务楼"};
const QStringList kLegalForms = {"有限公司", "有限责任公司", "股份有限公司", "公司", "股份公司"};
enum LegalForm { Limited, LimitedLiability, JointStock, Plain, JointStockShort };

struct Address {
    int place = 0;
    QString street; // 中山东路
    int number = 1; // the house number
    QString estate; // 阳光花园, 金瑞大厦; may be empty
    QString unit;   // 5栋2单元, 3号楼, A座; may be empty
    int room = 0;   // 1203; 0: none
};

struct Client {
    bool male = true;
    QString surname, given;
    Address address;
    QString mobile;          // eleven digits
    QString areaCode, local; // a landline; empty: none
    enum Show { Mobile, Landline, Both } show = Mobile;
    qint64 birth = 0; // Julian day
    QString id;       // eighteen characters
    bool employed = false;
    QString coPlace, coTrade, coIndustry; // the company: 深圳 宏远 科技
    int coForm = Limited;
    bool coCitySuffix = false; // 深圳市宏远科技有限公司
    bool zip = true;           // the postcode is written
};

// How one entry writes its client.
struct Style {
    bool traditional = false;
    int nameBlanks = 0; // 1: after the surname; 2: between all characters
    QString title;
    bool provinceOmitted = false, provinceShort = false, cityShort = false, countyShort = false;
    bool chineseNumber = false;
    int mobileFormat = 0, landlineFormat = 0;
    QString separator = QStringLiteral("/");
    int idForm = 0;       // 0 as it is, 1 lower-case x, 2 fifteen digits, 3 and 4 with blanks
    int coPlaceStyle = 0; // 0 as the client writes it, 1 （深圳）, 2 (深圳), 3 left out,
                          // 4 the 市 added or dropped
    int coForm = -1;      // -1: the client's
};

enum ChineseColumn { CName, CPhone, CAddress, CId, CCompany, CZip };

enum ChineseKind {
    KHead,
    KPhoneFormat,
    KAddressTypo,
    KHomophone,
    KEmpty,
    KNameSpacing,
    KIdForm,
    KFullWidth,
    KCompany,
    KTraditional,
    KSecondPhone,
    KChineseNumber,
};
const std::vector<int> kChineseWeights = {15, 12, 10, 9, 9, 8, 8, 7, 7, 6, 5, 4};
const std::vector<int> kChineseLookalikeWeights = {40, 35, 25};
const std::vector<QString> kChineseLookalikes = {"namesake", "family", "colleague"};
enum { Namesake, Family, Colleague };

QString chineseNumeral(int n) {
    static const QString d = QStringLiteral("零一二三四五六七八九");
    if (n < 10) return d.at(n);
    if (n < 20) return QStringLiteral("十") + (n % 10 ? QString(d.at(n % 10)) : QString());
    if (n < 100)
        return d.at(n / 10) + QStringLiteral("十") + (n % 10 ? QString(d.at(n % 10)) : QString());
    if (n < 1000) {
        const QString hundreds = d.at(n / 100) + QStringLiteral("百");
        const int rest = n % 100;
        if (rest == 0) return hundreds;
        if (rest < 10) return hundreds + u'零' + d.at(rest);
        return hundreds + d.at(rest / 10) + u'十' +
               (rest % 10 ? QString(d.at(rest % 10)) : QString()); // 一百一十, 一百二十五
    }
    QString s;
    appendNumber(&s, n);
    return s;
}

// The short forms of place names: 广东省 → 广东, 广西壮族自治区 → 广西, 深圳市 → 深圳,
// 南山区 → 南山, 浦东新区 → 浦东. A name without a short form comes back as it is.
QString shortProvince(const QString& name) {
    if (name.endsWith(u"自治区"))
        return name.startsWith(u"内蒙古") ? QStringLiteral("内蒙古") : name.left(2);
    if (name.size() >= 3 && (name.endsWith(u'省') || name.endsWith(u'市'))) return name.chopped(1);
    return name;
}

QString shortCity(const QString& name) {
    return name.size() >= 3 && name.endsWith(u'市') ? name.chopped(1) : name;
}

QString shortCounty(const QString& name) {
    for (const char16_t* keep : {u"自治县", u"自治旗", u"矿区", u"林区", u"特区", u"郊区"})
        if (name.endsWith(QStringView(keep))) return name;
    if (name.size() >= 4 && name.endsWith(u"新区")) return name.chopped(2);
    if (name.size() >= 3 && (name.endsWith(u'区') || name.endsWith(u'县') || name.endsWith(u'市')))
        return name.chopped(1);
    return name;
}

class ChineseList {
public:
    ChineseList(const LabelledOptions& o, std::vector<Place> places)
        : options_(o), rnd_(o.seed), places_(std::move(places)), nameSounds_(soundMap(kNameSounds)),
          addressSounds_(soundMap(kAddressSounds)) {
        birthFirst_ = QDate(1950, 1, 1).toJulianDay();
        birthLast_ = QDate(2004, 12, 31).toJulianDay();
        // The places of each city, for namesakes and moves nearby.
        std::map<QString, int> cities;
        cityOf_.reserve(places_.size());
        for (const Place& p : places_) {
            const QString key = p.province + u'/' + p.city;
            auto it = cities.find(key);
            if (it == cities.end()) {
                it = cities.emplace(key, int(cityPlaces_.size())).first;
                cityPlaces_.emplace_back();
            }
            cityOf_.push_back(it->second);
            cityPlaces_[size_t(it->second)].push_back(int(cityOf_.size()) - 1);
        }
        for (const auto& [key, city] : cities)
            provinceCities_[key.section(u'/', 0, 0)].push_back(city);
    }

    LabelledTable make();

private:
    Client client(int place);
    QString given(bool male);
    Address address(int place);
    QString mobile();
    QString landline();
    QString idNumber(const Place& p, qint64 birth, bool male);
    void company(Client* c);
    int nearPlace(int place, bool sameCity);
    qint64 relativeBirth(qint64 birth);
    void relocateLandline(Client* c);
    void namesake(Client* c, const Client& source);
    void family(Client* c, Client* source);
    void colleague(Client* c, Client* source);

    QStringList render(const Client& c, const Style& s, int* headLength) const;
    QString head(const Place& p, const Style& s) const;
    QString further(const Client& first, const QStringList& firstRow, QStringList* row);
    QString apply(int kind, Client* c, Style* s, unsigned* touched, int* post);

    const LabelledOptions& options_;
    Random rnd_;
    Words w_;
    std::vector<Place> places_;
    std::vector<int> cityOf_;                  // per place
    std::vector<std::vector<int>> cityPlaces_; // per city
    std::map<QString, std::vector<int>> provinceCities_;
    QHash<QChar, QString> nameSounds_, addressSounds_;
    qint64 birthFirst_ = 0, birthLast_ = 0;
};

QString ChineseList::given(bool male) {
    const QString& pool = male ? w_.male : w_.female;
    QString s(rnd_.pick(pool));
    if (!rnd_.percent(33)) s += rnd_.pick(pool);
    return s;
}

Address ChineseList::address(int place) {
    Address a;
    a.place = place;
    a.street = rnd_.pick(w_.road);
    if (rnd_.percent(15)) a.street += rnd_.pick(w_.direction);
    a.street += rnd_.pick(w_.roadKind);
    a.number = 1 + std::min(rnd_.below(400), rnd_.below(400)); // low numbers are commoner
    if (rnd_.percent(60)) {
        const bool office = rnd_.percent(25);
        a.estate = rnd_.pick(kEstateNames) + rnd_.pick(office ? kOffices : kHomes);
        if (office) {
            if (rnd_.percent(30)) a.unit = QString(QChar(u'A' + rnd_.below(3))) + u'座';
        } else if (rnd_.percent(75)) {
            appendNumber(&a.unit, 1 + rnd_.below(20));
            a.unit += u'栋';
            if (rnd_.percent(50)) {
                appendNumber(&a.unit, 1 + rnd_.below(4));
                a.unit += QStringLiteral("单元");
            }
        } else if (rnd_.percent(60)) {
            appendNumber(&a.unit, 1 + rnd_.below(12));
            a.unit += QStringLiteral("号楼");
        }
        if (rnd_.percent(85)) a.room = (1 + rnd_.below(office ? 30 : 18)) * 100 + 1 + rnd_.below(8);
    } else if (rnd_.percent(20)) {
        a.room = (1 + rnd_.below(6)) * 100 + 1 + rnd_.below(4);
    }
    return a;
}

QString ChineseList::mobile() {
    QString s = rnd_.pick(w_.mobile);
    rnd_.digits(&s, 8);
    return s;
}

QString ChineseList::landline() {
    QString s(QChar(u'2' + rnd_.below(7)));
    rnd_.digits(&s, 7);
    return s;
}

QString ChineseList::idNumber(const Place& p, qint64 birth, bool male) {
    QString s = p.idArea;
    int y, m, d;
    QDate::fromJulianDay(birth).getDate(&y, &m, &d);
    appendNumber(&s, y);
    s += twoDigits(m);
    s += twoDigits(d);
    rnd_.digits(&s, 2);
    s += QChar(u'0' + 2 * rnd_.below(5) + (male ? 1 : 0)); // odd for men, even for women
    s += idCheck(s);
    return s;
}

void ChineseList::company(Client* c) {
    const Place& p = places_[size_t(c->address.place)];
    c->employed = true;
    // 昌江黎族自治县 keeps its 县: 昌江黎族自治 is no name.
    c->coPlace = p.companyPlace.endsWith(u"自治") ? p.city : p.companyPlace;
    c->coCitySuffix = p.city == p.companyPlace + u'市' && rnd_.percent(50);
    const QChar first = rnd_.pick(w_.trade);
    QChar second;
    do
        second = rnd_.pick(w_.trade);
    while (second == first);
    c->coTrade = QString(first) + second;
    c->coIndustry = rnd_.pick(w_.industry);
    const int r = rnd_.below(100);
    c->coForm = r < 65 ? Limited : r < 80 ? LimitedLiability : r < 90 ? JointStock : Plain;
}

Client ChineseList::client(int place) {
    Client c;
    c.male = rnd_.below(2) == 0;
    if (rnd_.percent(2)) {
        c.surname = rnd_.pick(w_.compound);
    } else {
        // The smaller of two draws: frequent surnames come up far more often.
        const int n = int(w_.surnames.size());
        c.surname = w_.surnames.at(std::min(rnd_.below(n), rnd_.below(n)));
    }
    c.given = given(c.male);
    c.address = address(place);
    const Place& p = places_[size_t(place)];
    c.mobile = mobile();
    if (!p.areaCode.isEmpty() && rnd_.percent(15)) {
        c.areaCode = p.areaCode;
        c.local = landline();
        c.show = rnd_.percent(55) ? Client::Landline : Client::Both;
    }
    c.birth = birthFirst_ + rnd_.below(int(birthLast_ - birthFirst_ + 1));
    c.id = idNumber(p, c.birth, c.male);
    if (rnd_.percent(60)) company(&c);
    c.zip = !rnd_.percent(15);
    return c;
}

// A place in the same city (sameCity) or the same province as the given one, maybe itself.
int ChineseList::nearPlace(int place, bool sameCity) {
    int city = cityOf_[size_t(place)];
    if (!sameCity) {
        const std::vector<int>& cities = provinceCities_[places_[size_t(place)].province];
        city = cities[size_t(rnd_.below(qsizetype(cities.size())))];
    }
    const std::vector<int>& in = cityPlaces_[size_t(city)];
    return in[size_t(rnd_.below(qsizetype(in.size())))];
}

// A spouse's, child's or parent's birth day, within the range of birth days.
qint64 ChineseList::relativeBirth(qint64 birth) {
    qint64 day = birth;
    switch (rnd_.below(3)) {
    case 0:
        day += rnd_.below(6 * 365 * 2 + 1) - 6 * 365;
        break;
    case 1:
        day += (22 + rnd_.below(14)) * 365 + rnd_.below(365);
        break;
    default:
        day -= (22 + rnd_.below(14)) * 365 + rnd_.below(365);
        break;
    }
    if (day < birthFirst_ || day > birthLast_ || day == birth)
        day = birthFirst_ + rnd_.below(int(birthLast_ - birthFirst_ + 1));
    return day;
}

// A client's own landline moved with the client: a number under the area code of the new place,
// or none where the place has no area code.
void ChineseList::relocateLandline(Client* c) {
    if (c->local.isEmpty()) return;
    const Place& p = places_[size_t(c->address.place)];
    if (p.areaCode.isEmpty()) {
        c->areaCode.clear();
        c->local.clear();
        c->show = Client::Mobile;
    } else if (c->areaCode != p.areaCode) {
        c->areaCode = p.areaCode;
        c->local = landline();
    }
}

// The same name in the same city; everything else the namesake's own.
void ChineseList::namesake(Client* c, const Client& source) {
    const int place = nearPlace(source.address.place, true);
    c->address = address(place);
    c->surname = source.surname;
    c->given = source.given;
    c->male = source.male;
    c->id = idNumber(places_[size_t(place)], c->birth, c->male);
    if (c->employed) company(c);
    relocateLandline(c);
}

// One family at one address with one landline.
void ChineseList::family(Client* c, Client* source) {
    c->surname = source->surname;
    do
        c->given = given(c->male);
    while (c->given == source->given);
    c->address = source->address;
    const Place& p = places_[size_t(source->address.place)];
    if (source->local.isEmpty() && !p.areaCode.isEmpty()) {
        source->areaCode = p.areaCode;
        source->local = landline();
        if (rnd_.percent(50)) source->show = Client::Both;
    }
    c->areaCode = source->areaCode;
    c->local = source->local;
    const int r = rnd_.below(100);
    c->show = c->local.isEmpty() ? Client::Mobile
              : r < 45           ? Client::Landline
              : r < 80           ? Client::Both
                                 : Client::Mobile;
    c->birth = relativeBirth(source->birth);
    c->id = idNumber(p, c->birth, c->male);
    c->zip = source->zip;
    if (c->employed) company(c); // works in the family's city
}

// Another person of the same organisation at the same address, often on its switchboard.
void ChineseList::colleague(Client* c, Client* source) {
    if (!source->employed) company(source);
    c->employed = true;
    c->coPlace = source->coPlace;
    c->coTrade = source->coTrade;
    c->coIndustry = source->coIndustry;
    c->coForm = source->coForm;
    c->coCitySuffix = source->coCitySuffix;
    c->address = source->address;
    if (rnd_.percent(50)) c->address.room = (1 + rnd_.below(30)) * 100 + 1 + rnd_.below(12);
    const Place& p = places_[size_t(source->address.place)];
    if (!p.areaCode.isEmpty() && rnd_.percent(70)) {
        if (source->local.isEmpty()) {
            source->areaCode = p.areaCode;
            source->local = landline();
            if (rnd_.percent(50)) source->show = Client::Both;
        }
        c->areaCode = source->areaCode;
        c->local = source->local;
        c->show = rnd_.percent(60) ? Client::Landline : Client::Both;
    } else {
        relocateLandline(c);
    }
    c->zip = source->zip;
    c->id = idNumber(p, c->birth, c->male);
}

QString ChineseList::head(const Place& p, const Style& s) const {
    QString province = p.province != kHkMoTw ? p.province : QString();
    QString city = p.city != p.province && p.city != kHkMoTw ? p.city : QString();
    QString county = p.county != p.city ? p.county : QString();
    if (city.isEmpty()) {
        // A municipality: its name is province and city at once.
        if (s.provinceShort || s.cityShort) province = shortProvince(province);
    } else {
        if (s.provinceOmitted) province.clear();
        if (s.provinceShort) province = shortProvince(province);
        if (s.cityShort) city = shortCity(city);
    }
    if (s.countyShort) county = shortCounty(county);
    return province + city + county;
}

QStringList ChineseList::render(const Client& c, const Style& s, int* headLength) const {
    QString name = c.surname + c.given;
    if (s.traditional) {
        for (QChar& ch : name) {
            const qsizetype at = kSimplified.indexOf(ch);
            if (at >= 0) ch = kTraditional.at(at);
        }
    }
    if (s.nameBlanks == 1) {
        name.insert(c.surname.size(), u' ');
    } else if (s.nameBlanks == 2) {
        for (qsizetype i = name.size() - 1; i > 0; --i)
            name.insert(i, u' ');
    }
    name += s.title;

    auto mobileText = [&](const QString& m) -> QString {
        switch (s.mobileFormat) {
        case 1:
            return m.left(3) + u'-' + m.mid(3, 4) + u'-' + m.mid(7);
        case 2:
            return m.left(3) + u' ' + m.mid(3, 4) + u' ' + m.mid(7);
        case 3:
            return QStringLiteral("+86 ") + m;
        case 4:
            return QStringLiteral("+86") + m;
        case 5:
            return QStringLiteral("0086 ") + m;
        case 6:
            return QStringLiteral("0086") + m;
        default:
            return m;
        }
    };
    auto landlineText = [&]() -> QString {
        switch (s.landlineFormat) {
        case 1:
            return u'(' + c.areaCode + u')' + c.local;
        case 2:
            return c.areaCode + c.local;
        case 3:
            return c.areaCode + u' ' + c.local;
        case 4:
            return u'（' + c.areaCode + u'）' + c.local;
        default:
            return c.areaCode + u'-' + c.local;
        }
    };
    QString phone;
    switch (c.local.isEmpty() ? Client::Mobile : c.show) {
    case Client::Mobile:
        phone = mobileText(c.mobile);
        break;
    case Client::Landline:
        phone = landlineText();
        break;
    case Client::Both:
        phone = mobileText(c.mobile) + s.separator + landlineText();
        break;
    }

    const Place& p = places_[size_t(c.address.place)];
    QString address = head(p, s);
    *headLength = int(address.size());
    const Address& a = c.address;
    address += a.street;
    if (s.chineseNumber)
        address += chineseNumeral(a.number);
    else
        appendNumber(&address, a.number);
    address += u'号';
    address += a.estate;
    address += a.unit;
    if (a.room > 0) {
        appendNumber(&address, a.room);
        address += u'室';
    }

    QString id = c.id;
    switch (s.idForm) {
    case 1:
        id = id.toLower();
        break;
    case 2:
        id = id.left(6) + id.mid(8, 9);
        break;
    case 3:
        id = id.left(6) + u' ' + id.mid(6, 8) + u' ' + id.mid(14);
        break;
    case 4:
        id = id.left(6) + u' ' + id.mid(6, 4) + u' ' + id.mid(10, 4) + u' ' + id.mid(14);
        break;
    default:
        break;
    }

    QString company;
    if (c.employed) {
        const QString core = c.coTrade + c.coIndustry;
        const QString form = kLegalForms[s.coForm >= 0 ? s.coForm : c.coForm];
        const QString place = c.coCitySuffix ? c.coPlace + u'市' : c.coPlace;
        switch (s.coPlaceStyle) {
        case 1:
            company = core + u'（' + c.coPlace + u'）' + form;
            break;
        case 2:
            company = core + u'(' + c.coPlace + u')' + form;
            break;
        case 3:
            company = core + form;
            break;
        case 4:
            company = (c.coCitySuffix ? c.coPlace : c.coPlace + u'市') + core + form;
            break;
        default:
            company = place + core + form;
            break;
        }
    }
    return {name, phone, address, id, company, c.zip ? p.zip : QString()};
}

// Post-edits of an entry, done on its text once it is written.
enum Post : int {
    PostFullWidthPhone = 1,
    PostFullWidthAddress = 2,
    PostAddressTypo = 4,
    PostEmpty = 8, // the column follows in bits 8 and up
};

// Applies one kind of change to a further entry; its name, empty when it does not apply.
QString ChineseList::apply(int kind, Client* c, Style* s, unsigned* touched, int* post) {
    const Place& p = places_[size_t(c->address.place)];
    switch (kind) {
    case KHead: {
        Style trial = *s;
        const QString plain = head(p, *s);
        const bool municipality = p.city == p.province;
        struct Variant {
            bool omitted, provinceShort, cityShort, countyShort;
            const char* name;
        };
        static const Variant normal[] = {{true, false, false, false, "province-dropped"},
                                         {true, false, true, false, "city-suffix-dropped"},
                                         {false, true, true, true, "place-names-short"},
                                         {false, true, false, false, "province-short"}};
        static const Variant city[] = {{false, true, false, false, "city-suffix-dropped"},
                                       {false, true, false, true, "place-names-short"}};
        const Variant* list = municipality ? city : normal;
        const int count = municipality ? 2 : 4;
        const int r = rnd_.below(100);
        int first = municipality ? (r < 60 ? 0 : 1) : (r < 40 ? 0 : r < 60 ? 1 : r < 80 ? 2 : 3);
        for (int k = 0; k < count; ++k) {
            const Variant& v = list[(first + k) % count];
            trial.provinceOmitted = v.omitted;
            trial.provinceShort = v.provinceShort;
            trial.cityShort = v.cityShort;
            trial.countyShort = v.countyShort;
            if (head(p, trial) != plain) {
                *s = trial;
                *touched |= 1u << CAddress;
                return QString::fromLatin1(v.name);
            }
        }
        return {};
    }
    case KPhoneFormat: {
        const bool mobile = c->local.isEmpty() || c->show != Client::Landline;
        const bool landline = !c->local.isEmpty() && c->show != Client::Mobile;
        const int r = rnd_.below(landline && mobile ? 3 : 2);
        if (mobile && (!landline || r == 0)) {
            s->mobileFormat = 1 + rnd_.below(6);
        } else if (landline && (!mobile || r == 1)) {
            s->landlineFormat = 1 + rnd_.below(4);
        } else {
            static const QStringList separators = {"、", "，", " ", ";", "/ "};
            s->separator = rnd_.pick(separators);
        }
        *touched |= 1u << CPhone;
        return QStringLiteral("phone-format");
    }
    case KAddressTypo:
        *touched |= 1u << CAddress;
        if (rnd_.percent(60)) {
            *post |= PostAddressTypo;
            return QStringLiteral("address-typo");
        }
        if (c->address.room > 0) {
            c->address.room = 0;
            return QStringLiteral("room-dropped");
        }
        c->address.room = (1 + rnd_.below(18)) * 100 + 1 + rnd_.below(8);
        return QStringLiteral("room-added");
    case KHomophone: {
        QList<int> at;
        for (int i = 0; i < c->given.size(); ++i)
            if (nameSounds_.contains(c->given.at(i))) at << i;
        if (at.isEmpty()) return {};
        const int i = at.at(rnd_.below(at.size()));
        c->given[i] = rnd_.pick(nameSounds_.value(c->given.at(i)));
        *touched |= 1u << CName;
        return QStringLiteral("homophone");
    }
    case KEmpty: {
        std::vector<int> weights = {0, 25, 15, 30, 15, 15};
        if (!c->employed) weights[CCompany] = 0;
        if (!c->zip) weights[CZip] = 0;
        for (int col = 0; col < 6; ++col)
            if (*touched & (1u << col)) weights[size_t(col)] = 0;
        const int col = weighted(rnd_, weights);
        if (col < 0) return {};
        *post |= PostEmpty | (col << 8);
        *touched |= 1u << col;
        static const char* const names[] = {"",         "empty-phone",   "empty-address",
                                            "empty-id", "empty-company", "empty-zip"};
        return QString::fromLatin1(names[col]);
    }
    case KNameSpacing:
        *touched |= 1u << CName;
        if (rnd_.percent(50)) {
            s->nameBlanks = rnd_.percent(80) ? 1 : 2;
            return QStringLiteral("name-blank");
        }
        s->title = c->male ? QStringLiteral("先生")
                           : (rnd_.percent(60) ? QStringLiteral("女士") : QStringLiteral("小姐"));
        return QStringLiteral("title");
    case KIdForm: {
        std::vector<int> weights = {0, c->id.endsWith(u'X') ? 3 : 0,
                                    QDate::fromJulianDay(c->birth).year() < 2000 ? 4 : 0, 2, 1};
        const int form = weighted(rnd_, weights);
        s->idForm = form;
        *touched |= 1u << CId;
        return form == 1   ? QStringLiteral("id-lower-x")
               : form == 2 ? QStringLiteral("id-15-digits")
                           : QStringLiteral("id-blanks");
    }
    case KFullWidth: {
        // Into the phone or the address; the other one when the chosen one has no digit or
        // letter (an address with its numbers in Chinese numerals).
        int headLength = 0;
        const QStringList now = render(*c, *s, &headLength);
        bool phone = rnd_.percent(50);
        if (!hasAscii(now.at(phone ? CPhone : CAddress))) phone = !phone;
        if (!hasAscii(now.at(phone ? CPhone : CAddress))) return {};
        if (phone) {
            *post |= PostFullWidthPhone;
            *touched |= 1u << CPhone;
            return QStringLiteral("full-width-phone");
        }
        *post |= PostFullWidthAddress;
        *touched |= 1u << CAddress;
        return QStringLiteral("full-width-address");
    }
    case KCompany: {
        if (!c->employed) return {};
        *touched |= 1u << CCompany;
        const int r = rnd_.below(100);
        if (r < 45) {
            static const int others[][2] = {{LimitedLiability, Plain},
                                            {Limited, Plain},
                                            {JointStockShort, Limited},
                                            {Limited, LimitedLiability},
                                            {JointStock, Limited}};
            s->coForm = others[c->coForm][rnd_.below(2)];
            return QStringLiteral("legal-form");
        }
        if (r < 75) {
            s->coPlaceStyle = rnd_.percent(67) ? 1 : 2;
            return QStringLiteral("bracket-place");
        }
        if (r < 90 && p.city == c->coPlace + u'市') {
            s->coPlaceStyle = 4;
            return QStringLiteral("company-city-suffix");
        }
        s->coPlaceStyle = 3;
        return QStringLiteral("company-no-place");
    }
    case KTraditional: {
        const QString name = c->surname + c->given;
        if (std::none_of(name.begin(), name.end(),
                         [](QChar ch) { return kSimplified.contains(ch); }))
            return {};
        s->traditional = true;
        *touched |= 1u << CName;
        return QStringLiteral("traditional");
    }
    case KSecondPhone:
        *touched |= 1u << CPhone;
        if (c->local.isEmpty()) {
            if (p.areaCode.isEmpty()) return {};
            c->areaCode = p.areaCode;
            c->local = landline();
            c->show = Client::Both;
            return QStringLiteral("second-phone");
        }
        if (c->show != Client::Both) {
            c->show = Client::Both;
            return QStringLiteral("second-phone");
        }
        c->show = rnd_.percent(50) ? Client::Mobile : Client::Landline;
        return QStringLiteral("phone-dropped");
    case KChineseNumber:
        s->chineseNumber = true;
        *touched |= 1u << CAddress;
        return QStringLiteral("chinese-number");
    default:
        return {};
    }
}

// A further entry of the client whose first entry is given; the names of its changes.
QString ChineseList::further(const Client& first, const QStringList& firstRow, QStringList* row) {
    Client c = first;
    Style s;
    QStringList names;
    if (rnd_.percent(10)) {
        if (rnd_.percent(50)) {
            if (c.show == Client::Landline)
                c.local = landline();
            else
                c.mobile = mobile();
            names << QStringLiteral("new-phone");
        } else {
            c.address = address(nearPlace(c.address.place, rnd_.percent(70)));
            names << QStringLiteral("moved");
        }
    }
    std::vector<int> weights = kChineseWeights;
    unsigned touched = 0;
    int post = 0;
    const int harder = int(names.size());
    int wanted = changeCount(rnd_);
    int headLength = 0;
    for (;;) {
        // A field left empty comes last, so that no other change goes into it.
        bool empty = false;
        while (int(names.size()) - harder + (empty ? 1 : 0) < wanted) {
            const int kind = weighted(rnd_, weights);
            if (kind < 0) break;
            weights[size_t(kind)] = 0;
            if (kind == KEmpty) {
                empty = true;
                continue;
            }
            const QString name = apply(kind, &c, &s, &touched, &post);
            if (!name.isEmpty()) names << name;
        }
        if (empty) {
            const QString name = apply(KEmpty, &c, &s, &touched, &post);
            if (!name.isEmpty()) names << name;
        }
        if (exhausted(weights) && int(names.size()) - harder < wanted) {
            // Nothing left to draw: a new mobile number always shows.
            c.mobile = mobile();
            if (c.show == Client::Landline) c.show = Client::Both;
            names << QStringLiteral("new-phone");
        }
        *row = render(c, s, &headLength);
        if (post & PostFullWidthPhone) (*row)[CPhone] = fullWidth(row->at(CPhone));
        if (post & PostFullWidthAddress) (*row)[CAddress] = fullWidth(row->at(CAddress));
        if (post & PostAddressTypo) {
            QString& a = (*row)[CAddress];
            QList<int> sounds, others;
            for (int i = headLength; i < a.size(); ++i) {
                if (addressSounds_.contains(a.at(i)))
                    sounds << i;
                else if (!a.at(i).isDigit() && a.at(i).unicode() >= 0x3400)
                    others << i;
            }
            if (!sounds.isEmpty()) {
                const int i = sounds.at(rnd_.below(sounds.size()));
                a[i] = rnd_.pick(addressSounds_.value(a.at(i)));
            } else if (!others.isEmpty()) {
                const int i = others.at(rnd_.below(others.size()));
                QChar ch;
                do
                    ch = rnd_.pick(w_.addressPool);
                while (ch == a.at(i));
                a[i] = ch;
            }
        }
        if (post & PostEmpty) (*row)[post >> 8].clear();
        if (*row != firstRow) break;
        ++wanted; // nothing showed: one change more
    }
    return names.join(u'+');
}

LabelledTable ChineseList::make() {
    Random planRandom(options_.seed ^ 0x5bd1e995u);
    const Plan plan = makePlan(options_, planRandom, kChineseLookalikeWeights);
    const int n = int(plan.entries.size());
    std::vector<Client> clients;
    clients.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        clients.push_back(client(rnd_.below(qsizetype(places_.size()))));
    for (int i = 0; i < n; ++i) {
        const int source = plan.lookalikeOf[size_t(i)];
        if (source < 0) continue;
        switch (plan.lookalikeKind[size_t(i)]) {
        case Namesake:
            namesake(&clients[size_t(i)], clients[size_t(source)]);
            break;
        case Family:
            family(&clients[size_t(i)], &clients[size_t(source)]);
            break;
        default:
            colleague(&clients[size_t(i)], &clients[size_t(source)]);
            break;
        }
    }
    Entries e = entriesOf(
        plan,
        [&](int i) {
            int headLength = 0;
            return render(clients[size_t(i)], Style(), &headLength);
        },
        [&](int i, const QStringList& first, QStringList* row) {
            return further(clients[size_t(i)], first, row);
        });
    Random order(options_.seed ^ 0x9E3779B9u);
    return assemble({"姓名", "电话", "地址", "身份证号", "单位名称", "邮编"}, std::move(e), plan,
                    kChineseLookalikes, order);
}

// ---------------------------------------------------------------------------------------------
// Latin-script lists.

struct GivenName {
    const char* name;
    bool female;
    const char* nicknames; // separated by '|'; empty: none
};

const GivenName kGivenNames[] = {
    {"James", false, "Jim|Jimmy|Jamie"},
    {"John", false, "Jack|Johnny"},
    {"Robert", false, "Bob|Rob|Bobby"},
    {"Michael", false, "Mike|Mick"},
    {"William", false, "Bill|Will|Billy"},
    {"David", false, "Dave"},
    {"Richard", false, "Rick|Dick"},
    {"Joseph", false, "Joe"},
    {"Thomas", false, "Tom|Tommy"},
    {"Charles", false, "Charlie|Chuck"},
    {"Christopher", false, "Chris"},
    {"Daniel", false, "Dan|Danny"},
    {"Matthew", false, "Matt"},
    {"Anthony", false, "Tony"},
    {"Donald", false, "Don"},
    {"Steven", false, "Steve"},
    {"Andrew", false, "Andy|Drew"},
    {"Kenneth", false, "Ken|Kenny"},
    {"Joshua", false, "Josh"},
    {"Kevin", false, ""},
    {"Brian", false, ""},
    {"George", false, ""},
    {"Edward", false, "Ed|Ted|Eddie"},
    {"Ronald", false, "Ron"},
    {"Timothy", false, "Tim"},
    {"Jeffrey", false, "Jeff"},
    {"Nicholas", false, "Nick"},
    {"Stephen", false, "Steve"},
    {"Jonathan", false, "Jon"},
    {"Peter", false, "Pete"},
    {"Samuel", false, "Sam"},
    {"Benjamin", false, "Ben"},
    {"Patrick", false, "Pat"},
    {"Alexander", false, "Alex"},
    {"Frank", false, ""},
    {"Gregory", false, "Greg"},
    {"Raymond", false, "Ray"},
    {"Henry", false, "Harry|Hank"},
    {"Hans", false, ""},
    {"Jürgen", false, ""},
    {"Klaus", false, ""},
    {"Wolfgang", false, "Wolf"},
    {"Stefan", false, ""},
    {"Andreas", false, "Andi"},
    {"Friedrich", false, "Fritz"},
    {"Johann", false, "Hans"},
    {"Günter", false, ""},
    {"Matthias", false, ""},
    {"Jean", false, ""},
    {"Pierre", false, ""},
    {"Michel", false, ""},
    {"François", false, ""},
    {"Philippe", false, "Phil"},
    {"Louis", false, "Lou"},
    {"Nicolas", false, "Nico"},
    {"René", false, ""},
    {"Jérôme", false, ""},
    {"Mary", true, "Molly|Polly"},
    {"Patricia", true, "Pat|Patty|Trish"},
    {"Jennifer", true, "Jen|Jenny"},
    {"Linda", true, ""},
    {"Elizabeth", true, "Liz|Beth|Betty"},
    {"Barbara", true, "Barb"},
    {"Susan", true, "Sue"},
    {"Jessica", true, "Jess"},
    {"Sarah", true, ""},
    {"Karen", true, ""},
    {"Nancy", true, ""},
    {"Margaret", true, "Maggie|Peggy|Meg"},
    {"Lisa", true, ""},
    {"Dorothy", true, "Dot|Dottie"},
    {"Sandra", true, "Sandy"},
    {"Ashley", true, ""},
    {"Kimberly", true, "Kim"},
    {"Donna", true, ""},
    {"Emily", true, "Em"},
    {"Michelle", true, "Shelly"},
    {"Carol", true, ""},
    {"Amanda", true, "Mandy"},
    {"Melissa", true, "Mel"},
    {"Deborah", true, "Debbie|Deb"},
    {"Stephanie", true, "Steph"},
    {"Rebecca", true, "Becky"},
    {"Laura", true, ""},
    {"Cynthia", true, "Cindy"},
    {"Katherine", true, "Kate|Kathy"},
    {"Catherine", true, "Cathy|Kate"},
    {"Victoria", true, "Vicky"},
    {"Ursula", true, "Uschi"},
    {"Monika", true, ""},
    {"Sabine", true, ""},
    {"Petra", true, ""},
    {"Brigitte", true, "Gitte"},
    {"Marie", true, ""},
    {"Nathalie", true, ""},
    {"Isabelle", true, "Isa"},
    {"Sylvie", true, ""},
    {"Hélène", true, ""},
    {"Émilie", true, ""},
    {"Chloé", true, ""},
    {"Zoë", true, ""},
};

const QStringList kSurnames = {
    "Smith",    "Johnson",  "Williams",  "Brown",    "Jones",    "Miller",     "Davis",
    "Wilson",   "Anderson", "Taylor",    "Thomas",   "Moore",    "Martin",     "Jackson",
    "Thompson", "White",    "Harris",    "Clark",    "Lewis",    "Robinson",   "Walker",
    "Young",    "Allen",    "King",      "Wright",   "Scott",    "Green",      "Baker",
    "Adams",    "Nelson",   "Hill",      "Campbell", "Mitchell", "Roberts",    "Carter",
    "Phillips", "Evans",    "Turner",    "Parker",   "Collins",  "Edwards",    "Stewart",
    "Morris",   "Murphy",   "Cook",      "Rogers",   "Morgan",   "Cooper",     "Peterson",
    "Bailey",   "Reed",     "Kelly",     "Howard",   "Ward",     "Richardson", "Watson",
    "Brooks",   "Wood",     "Bennett",   "Gray",     "Hughes",   "Price",      "Foster",
    "Müller",   "Schmidt",  "Schneider", "Fischer",  "Weber",    "Meyer",      "Wagner",
    "Becker",   "Schulz",   "Hoffmann",  "Schäfer",  "Koch",     "Bauer",      "Richter",
    "Klein",    "Wolf",     "Schröder",  "Neumann",  "Schwarz",  "Zimmermann", "Braun",
    "Krüger",   "Hartmann", "Lange",     "Bernard",  "Dubois",   "Robert",     "Richard",
    "Petit",    "Durand",   "Leroy",     "Moreau",   "Simon",    "Laurent",    "Lefèvre",
    "Michel",   "Garcia",   "Bertrand",  "Roux",     "Fournier", "Girard",     "Mercier"};

const QStringList kStreets = {
    "Oak",      "Maple",   "Pine",     "Cedar",  "Elm",    "Church", "Mill",   "High",
    "Station",  "Park",    "Victoria", "King",   "Queen",  "Market", "Bridge", "Green",
    "Hill",     "Lake",    "River",    "Spring", "North",  "South",  "West",   "Main",
    "Chestnut", "Walnut",  "Willow",   "Birch",  "Meadow", "Forest", "Castle", "School",
    "Garden",   "Orchard", "Windsor",  "Albert", "George", "Grove",  "Sunset", "Harbour"};
const QStringList kStreetKinds = {"Street", "Road", "Avenue", "Lane", "Drive"};
const QStringList kStreetShort = {"St", "Rd", "Ave", "Ln", "Dr"};

const QStringList kCities = {
    "London",    "Manchester", "Birmingham", "Leeds",     "Glasgow",    "Liverpool", "Bristol",
    "Sheffield", "Edinburgh",  "Cardiff",    "Leicester", "Nottingham", "Newcastle", "Brighton",
    "Oxford",    "Cambridge",  "York",       "Bath",      "Boston",     "Chicago",   "Denver",
    "Portland",  "Seattle",    "Dallas",     "Austin",    "Phoenix",    "Toronto",   "Ottawa",
    "Dublin",    "Cork",       "Berlin",     "Hamburg",   "München",    "Köln",      "Frankfurt",
    "Stuttgart", "Düsseldorf", "Dresden",    "Leipzig",   "Bremen",     "Paris",     "Lyon",
    "Marseille", "Toulouse",   "Nice",       "Nantes",    "Strasbourg", "Bordeaux",  "Lille",
    "Zürich",    "Genève",     "Wien"};

struct LatinClient {
    int given = 0; // into kGivenNames
    QString surname;
    int number = 1;
    int street = 0, kind = 0;
    bool abbreviated = false;
    int city = 0;
    QDate birth;
};

struct LatinStyle {
    QString givenAs; // a nickname or an initial; empty: the given name
    bool surnameFirst = false;
    bool abbreviationToggled = false;
    bool period = false; // St. with a period
    int dateFormat = 0;  // 0 1984-03-07, 1 07.03.1984, 2 7/3/1984
};

enum LatinColumn { LName, LAddress, LCity, LBirth };
enum LatinKind {
    LTypo,
    LNickname,
    LDateFormat,
    LAbbreviation,
    LWordOrder,
    LEmpty,
    LDateDigit,
    LAccent
};
const std::vector<int> kLatinWeights = {30, 14, 14, 12, 10, 9, 6, 5};
const std::vector<int> kLatinLookalikeWeights = {55, 45};
const std::vector<QString> kLatinLookalikes = {"namesake", "family"};

bool hasAccent(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() >= 0x80; });
}

// Accented letters written without their accents, umlauts maybe spelt out (ü → ue).
QString withoutAccents(const QString& s, bool spelt) {
    static const QString from = QStringLiteral("äöüÄÖÜéèêëàâçôîïûÉÈßÖ");
    static const QStringList plain = {"a", "o", "u", "A", "O", "U", "e", "e", "e",  "e", "a",
                                      "a", "c", "o", "i", "i", "u", "E", "E", "ss", "O"};
    static const QStringList umlaut = {"ae", "oe", "ue", "Ae", "Oe", "Ue"};
    QString out;
    for (QChar c : s) {
        const qsizetype at = from.indexOf(c);
        if (at < 0)
            out += c;
        else
            out += spelt && at < umlaut.size() ? umlaut[at] : plain[at];
    }
    return out;
}

class LatinList {
public:
    explicit LatinList(const LabelledOptions& o) : options_(o), rnd_(o.seed) {
        first_ = QDate(1940, 1, 1).toJulianDay();
        days_ = int(QDate(2004, 12, 31).toJulianDay() - first_ + 1);
    }
    LabelledTable make();

private:
    LatinClient client();
    int givenName(bool female);
    void newAddress(LatinClient* c);
    QDate birth() { return QDate::fromJulianDay(first_ + rnd_.below(days_)); }
    QStringList render(const LatinClient& c, const LatinStyle& s) const;
    QString typo(const QString& text);
    QString further(const LatinClient& first, const QStringList& firstRow, QStringList* row);

    const LabelledOptions& options_;
    Random rnd_;
    qint64 first_ = 0;
    int days_ = 1;
};

int LatinList::givenName(bool female) {
    const int n = int(std::size(kGivenNames));
    int g;
    do
        g = rnd_.below(n);
    while (kGivenNames[g].female != female);
    return g;
}

void LatinList::newAddress(LatinClient* c) {
    c->number = 1 + std::min(rnd_.below(300), rnd_.below(300));
    c->street = rnd_.below(kStreets.size());
    c->kind = rnd_.below(kStreetKinds.size());
    c->abbreviated = rnd_.percent(50);
}

LatinClient LatinList::client() {
    LatinClient c;
    c.given = givenName(rnd_.below(2) == 0);
    const int n = int(kSurnames.size());
    c.surname = kSurnames[std::min(rnd_.below(n), rnd_.below(n))];
    newAddress(&c);
    c.city = rnd_.below(kCities.size());
    c.birth = birth();
    return c;
}

QStringList LatinList::render(const LatinClient& c, const LatinStyle& s) const {
    const QString given =
        s.givenAs.isEmpty() ? QString::fromUtf8(kGivenNames[c.given].name) : s.givenAs;
    const QString name =
        s.surnameFirst ? c.surname + QStringLiteral(", ") + given : given + u' ' + c.surname;
    const bool shortKind = c.abbreviated != s.abbreviationToggled;
    QString address = QString::number(c.number) + u' ' + kStreets[c.street] + u' ' +
                      (shortKind ? kStreetShort[c.kind] : kStreetKinds[c.kind]);
    if (shortKind && s.period) address += u'.';
    QString date;
    switch (s.dateFormat) {
    case 1:
        date = c.birth.toString(QStringLiteral("dd.MM.yyyy"));
        break;
    case 2:
        date = c.birth.toString(QStringLiteral("d/M/yyyy"));
        break;
    default:
        date = c.birth.toString(QStringLiteral("yyyy-MM-dd"));
        break;
    }
    return {name, address, kCities[c.city], date};
}

// Two letters swapped, one dropped or one doubled, in one word of at least four letters.
QString LatinList::typo(const QString& text) {
    QList<QPair<int, int>> words; // start, length
    for (int i = 0; i < text.size();) {
        int j = i;
        while (j < text.size() && text.at(j).isLetter())
            ++j;
        if (j - i >= 4) words << qMakePair(i, j - i);
        i = std::max(j, i + 1);
    }
    if (words.isEmpty()) return text;
    const auto [start, length] = words.at(rnd_.below(words.size()));
    QString s = text;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int at = start + 1 + rnd_.below(length - 1); // not the first letter
        switch (rnd_.below(3)) {
        case 0:
            if (at + 1 < start + length && s.at(at) != s.at(at + 1)) {
                std::swap(s[at], s[at + 1]);
                return s;
            }
            break;
        case 1:
            s.remove(at, 1);
            return s;
        default:
            s.insert(at, s.at(at));
            return s;
        }
    }
    s.remove(start + length - 1, 1);
    return s;
}

QString LatinList::further(const LatinClient& first, const QStringList& firstRow,
                           QStringList* row) {
    LatinClient c = first;
    LatinStyle s;
    QStringList names;
    bool moved = false;
    if (rnd_.percent(10)) {
        newAddress(&c);
        if (!rnd_.percent(60)) c.city = rnd_.below(kCities.size());
        names << QStringLiteral("moved");
        moved = true;
    }
    std::vector<int> weights = kLatinWeights;
    unsigned touched = 0;
    int typoColumn = -1, emptyColumn = -1;
    bool accent = false, spelt = false;
    int wanted = changeCount(rnd_);
    const int harder = moved ? 1 : 0;
    const GivenName& g = kGivenNames[c.given];
    for (;;) {
        // A field left empty comes last, so that no other change goes into it.
        bool empty = false;
        for (;;) {
            int kind = -1;
            if (int(names.size()) - harder + (empty ? 1 : 0) < wanted) {
                kind = weighted(rnd_, weights);
                if (kind >= 0) weights[size_t(kind)] = 0;
                if (kind == LEmpty) {
                    empty = true;
                    continue;
                }
            }
            if (kind < 0 && empty) {
                kind = LEmpty;
                empty = false;
            }
            if (kind < 0) break;
            QString name;
            switch (kind) {
            case LTypo: {
                const int r = rnd_.below(100);
                typoColumn = r < 65 ? LName : r < 85 ? LAddress : LCity;
                touched |= 1u << typoColumn;
                name = QStringLiteral("typo");
                break;
            }
            case LNickname: {
                const QStringList nicks =
                    QString::fromUtf8(g.nicknames).split(u'|', Qt::SkipEmptyParts);
                const QString initial = QString::fromUtf8(g.name).left(1);
                if (!nicks.isEmpty() && rnd_.percent(70)) {
                    s.givenAs = rnd_.pick(nicks);
                    name = QStringLiteral("nickname");
                } else {
                    s.givenAs = rnd_.percent(60) ? initial + u'.' : initial;
                    name = QStringLiteral("initial");
                }
                touched |= 1u << LName;
                break;
            }
            case LDateFormat:
                s.dateFormat = 1 + rnd_.below(2);
                touched |= 1u << LBirth;
                name = QStringLiteral("date-format");
                break;
            case LAbbreviation:
                s.abbreviationToggled = true;
                s.period = rnd_.percent(30);
                touched |= 1u << LAddress;
                name = QStringLiteral("street-abbreviation");
                break;
            case LWordOrder:
                s.surnameFirst = true;
                touched |= 1u << LName;
                name = QStringLiteral("surname-first");
                break;
            case LEmpty: {
                std::vector<int> w = {0, 35, 25, 40};
                for (int col = 0; col < 4; ++col)
                    if (touched & (1u << col)) w[size_t(col)] = 0;
                emptyColumn = weighted(rnd_, w);
                if (emptyColumn < 0) break;
                touched |= 1u << emptyColumn;
                static const char* const empty[] = {"", "empty-address", "empty-city",
                                                    "empty-birth-date"};
                name = QString::fromLatin1(empty[emptyColumn]);
                break;
            }
            case LDateDigit: {
                const QString iso = c.birth.toString(QStringLiteral("yyyy-MM-dd"));
                static const int positions[] = {2, 3, 5, 6, 8, 9};
                for (int attempt = 0; attempt < 32; ++attempt) {
                    QString t = iso;
                    const int at = positions[rnd_.below(6)];
                    t[at] = QChar(u'0' + (t.at(at).unicode() - u'0' + 1 + rnd_.below(9)) % 10);
                    const QDate d = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
                    if (d.isValid() && d.year() >= 1900 && d.year() <= 2010) {
                        c.birth = d;
                        touched |= 1u << LBirth;
                        name = QStringLiteral("date-digit");
                        break;
                    }
                }
                break;
            }
            case LAccent: {
                const bool inName = hasAccent(c.surname) || hasAccent(QString::fromUtf8(g.name));
                const bool inCity = hasAccent(kCities[c.city]);
                if (!inName && !inCity) break;
                accent = true;
                spelt = rnd_.percent(40);
                touched |= (inName ? 1u << LName : 0u) | (inCity ? 1u << LCity : 0u);
                name = QStringLiteral("accents");
                break;
            }
            default:
                break;
            }
            if (!name.isEmpty()) names << name;
        }
        if (exhausted(weights) && int(names.size()) - harder < wanted) {
            // Nothing left to draw: a new address always shows.
            newAddress(&c);
            c.number += 300;
            names << QStringLiteral("moved");
        }
        *row = render(c, s);
        if (accent) {
            (*row)[LName] = withoutAccents(row->at(LName), spelt);
            (*row)[LCity] = withoutAccents(row->at(LCity), spelt);
        }
        if (typoColumn >= 0) (*row)[typoColumn] = typo(row->at(typoColumn));
        if (emptyColumn >= 0) (*row)[emptyColumn].clear();
        if (*row != firstRow) break;
        ++wanted;
    }
    return names.join(u'+');
}

LabelledTable LatinList::make() {
    Random planRandom(options_.seed ^ 0x5bd1e995u);
    const Plan plan = makePlan(options_, planRandom, kLatinLookalikeWeights);
    const int n = int(plan.entries.size());
    std::vector<LatinClient> clients;
    clients.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        clients.push_back(client());
    for (int i = 0; i < n; ++i) {
        const int source = plan.lookalikeOf[size_t(i)];
        if (source < 0) continue;
        LatinClient& c = clients[size_t(i)];
        const LatinClient& from = clients[size_t(source)];
        c.surname = from.surname;
        if (plan.lookalikeKind[size_t(i)] == 0) {
            // A namesake: another birth date and address, maybe in the same city.
            c.given = from.given;
            if (rnd_.percent(50)) c.city = from.city;
            while (c.birth == from.birth)
                c.birth = birth();
        } else {
            // Family at one address: another given name, another birth date.
            while (c.given == from.given)
                c.given = givenName(rnd_.below(2) == 0);
            c.number = from.number;
            c.street = from.street;
            c.kind = from.kind;
            c.abbreviated = from.abbreviated;
            c.city = from.city;
            while (c.birth == from.birth)
                c.birth = birth();
        }
    }
    Entries e = entriesOf(
        plan, [&](int i) { return render(clients[size_t(i)], LatinStyle()); },
        [&](int i, const QStringList& first, QStringList* row) {
            return further(clients[size_t(i)], first, row);
        });
    Random order(options_.seed ^ 0x9E3779B9u);
    return assemble({"name", "address", "city", "birth_date"}, std::move(e), plan, kLatinLookalikes,
                    order);
}

} // namespace

LabelledTable generateLabelled(const LabelledOptions& options) {
    std::vector<Region> regions;
    const QString path = options.regionCsv.isEmpty() ? defaultRegionCsv() : options.regionCsv;
    if (!readRegionCsv(path, &regions, nullptr)) regions = builtInRegions();
    ChineseList list(options, makePlaces(regions));
    return list.make();
}

LabelledTable generateLatinLabelled(const LabelledOptions& options) {
    LatinList list(options);
    return list.make();
}

int customersForRows(int rows, double reentryShare) {
    if (rows <= 0) return 0;
    // The rows grow with the customers: the fewest customers that reach the rows, or one less
    // when that comes closer.
    int low = 0, high = rows;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (rowsFor(mid, reentryShare) >= rows)
            high = mid;
        else
            low = mid + 1;
    }
    if (low > 1 && rows - rowsFor(low - 1, reentryShare) < rowsFor(low, reentryShare) - rows)
        return low - 1;
    return low;
}

PairScores pairScores(const std::vector<int>& entity, const std::vector<int>& groupOfRow) {
    const auto pairs = [](qint64 n) { return n * (n - 1) / 2; };
    // Pairs within runs of equal values of a sorted list.
    const auto runPairs = [&](auto& values) {
        std::sort(values.begin(), values.end());
        qint64 total = 0;
        for (size_t i = 0; i < values.size();) {
            size_t j = i;
            while (j < values.size() && values[j] == values[i])
                ++j;
            total += pairs(qint64(j - i));
            i = j;
        }
        return total;
    };
    std::vector<int> entities = entity, groups;
    std::vector<std::pair<int, int>> cells; // (group, entity) of the rows in a group
    for (size_t i = 0; i < entity.size(); ++i) {
        const int g = i < groupOfRow.size() ? groupOfRow[i] : -1;
        if (g < 0) continue;
        groups.push_back(g);
        cells.emplace_back(g, entity[i]);
    }
    PairScores s;
    s.truePairs = runPairs(entities);
    s.foundPairs = runPairs(groups);
    s.correctPairs = runPairs(cells);
    s.precision = s.foundPairs == 0 ? 1.0 : double(s.correctPairs) / double(s.foundPairs);
    s.recall = s.truePairs == 0 ? 1.0 : double(s.correctPairs) / double(s.truePairs);
    s.f1 = s.precision + s.recall > 0 ? 2 * s.precision * s.recall / (s.precision + s.recall) : 0;
    return s;
}

} // namespace gen
