#include "smart/engine/regions.h"

#include "smart/engine/normalise.h"

#include <QFile>

#include <algorithm>

namespace smart {

namespace {

// Parts of a name that its short form leaves out: the level's word at the end, and for the
// autonomous divisions the peoples' names before it (延边朝鲜族自治州 is 延边).
const QStringList& levelWords() {
    static const QStringList words = {
        QStringLiteral("特别行政区"), QStringLiteral("维吾尔自治区"), QStringLiteral("壮族自治区"),
        QStringLiteral("回族自治区"), QStringLiteral("自治区"),       QStringLiteral("自治州"),
        QStringLiteral("自治县"),     QStringLiteral("自治旗"),       QStringLiteral("地区"),
        QStringLiteral("林区"),       QStringLiteral("省"),           QStringLiteral("市"),
        QStringLiteral("盟"),         QStringLiteral("区"),           QStringLiteral("县"),
        QStringLiteral("旗")};
    return words;
}

const QStringList& peoples() {
    static const QStringList names = {
        QStringLiteral("蒙古"),   QStringLiteral("朝鲜"),     QStringLiteral("满族"),
        QStringLiteral("回族"),   QStringLiteral("藏族"),     QStringLiteral("羌族"),
        QStringLiteral("彝族"),   QStringLiteral("苗族"),     QStringLiteral("侗族"),
        QStringLiteral("土家族"), QStringLiteral("壮族"),     QStringLiteral("布依族"),
        QStringLiteral("傣族"),   QStringLiteral("白族"),     QStringLiteral("哈尼族"),
        QStringLiteral("哈萨克"), QStringLiteral("傈僳族"),   QStringLiteral("景颇族"),
        QStringLiteral("黎族"),   QStringLiteral("瑶族"),     QStringLiteral("畲族"),
        QStringLiteral("仫佬族"), QStringLiteral("毛南族"),   QStringLiteral("仡佬族"),
        QStringLiteral("水族"),   QStringLiteral("拉祜族"),   QStringLiteral("佤族"),
        QStringLiteral("纳西族"), QStringLiteral("普米族"),   QStringLiteral("独龙族"),
        QStringLiteral("怒族"),   QStringLiteral("柯尔克孜"), QStringLiteral("塔吉克"),
        QStringLiteral("锡伯"),   QStringLiteral("达斡尔"),   QStringLiteral("鄂伦春"),
        QStringLiteral("鄂温克"), QStringLiteral("撒拉族"),   QStringLiteral("保安族"),
        QStringLiteral("东乡族"), QStringLiteral("土族"),     QStringLiteral("裕固族"),
        QStringLiteral("各族"),   QStringLiteral("阿昌族"),   QStringLiteral("德昂族"),
        QStringLiteral("基诺族"), QStringLiteral("布朗族"),   QStringLiteral("京族")};
    return names;
}

// A division's name continues into a road, not into the address: 南京路 is no 南京.
bool startsRoad(QStringView text, qsizetype at) {
    if (at >= text.size()) return false;
    static const QString road = QStringLiteral("路街道巷村弄里桥");
    return road.contains(text[at]);
}

qsizetype commonPrefix(QStringView a, QStringView b) {
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

QString readResource() {
    QFile f(QStringLiteral(":/smart/data/regions.csv"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

const Regions& Regions::shipped() {
    static const Regions table(readResource());
    return table;
}

QString Regions::shortForm(const QString& name) {
    QString s = name;
    for (const QString& word : levelWords())
        if (s.endsWith(word) && s.size() > word.size()) {
            s.chop(word.size());
            break;
        }
    qsizetype cut = s.size();
    for (const QString& people : peoples())
        if (const qsizetype at = s.indexOf(people); at >= 2) cut = std::min(cut, at);
    s.truncate(cut);
    return s.size() >= 2 ? s : name;
}

Regions::Regions(const QString& csvText) {
    const QStringList lines = csvText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].trimmed().split(QLatin1Char(','));
        if (cells.size() < 4 || cells[0].isEmpty() || cells[1].isEmpty()) continue;
        rows_.push_back({cells[0], cells[1], cells[2], cells[3]});
    }
    for (int r = 0; r < int(rows_.size()); ++r) {
        const Division& d = rows_[size_t(r)];
        provinceRow_.insert(d.province, r); // keeps the first
        const QString city = d.province + QLatin1Char('|') + d.city;
        if (d.county.isEmpty() || !cityRow_.contains(city)) cityRow_.insert(city, r);
    }
    for (const Division& d : rows_) {
        provinceOf_.push_back(provinceRow_.value(d.province, -1));
        cityOf_.push_back(cityRow_.value(d.province + QLatin1Char('|') + d.city, -1));
        onlyCityOf_.push_back(cityRow_.value(d.province + QLatin1Char('|') + d.province, -1));
    }
    for (int r = 0; r < int(rows_.size()); ++r) {
        const Division& d = rows_[size_t(r)];
        if (provinceRow_.value(d.province) == r) add(ProvinceLevel, d.province, r);
        if (cityRow_.value(d.province + QLatin1Char('|') + d.city) == r) add(CityLevel, d.city, r);
        if (!d.county.isEmpty()) add(CountyLevel, d.county, r);
    }
}

void Regions::add(Level level, const QString& fullName, int row) {
    // Looked up in the form addresses are brought to (乾安县 reads as 干安县 there).
    const QString name = normaliseText(fullName);
    const QString brief = normaliseText(shortForm(fullName));
    for (const auto& [text, full] : {std::pair{name, true}, std::pair{brief, false}}) {
        if (!full && text == name) continue;
        std::vector<Named>& bucket = names_[level][qHash(QStringView(text))];
        auto same = std::find_if(bucket.begin(), bucket.end(),
                                 [&](const Named& n) { return n.text == text; });
        if (same == bucket.end()) same = bucket.insert(bucket.end(), Named{text, {}});
        std::vector<Name>& named = same->rows;
        if (std::none_of(named.begin(), named.end(), [&](const Name& n) { return n.row == row; }))
            named.push_back({row, full});
        if (text.size() >= 2) {
            int& longest = starts_[level][quint32(text[0].unicode()) << 16 | text[1].unicode()];
            longest = std::max(longest, int(text.size()));
        }
    }
}

Regions::Matches Regions::match(Level level, QStringView text, qsizetype from) const {
    Matches found;
    if (text.size() - from < 2) return found;
    const int longest =
        starts_[level].value(quint32(text[from].unicode()) << 16 | text[from + 1].unicode(), 0);
    for (qsizetype n = std::min<qsizetype>(longest, text.size() - from); n >= 2; --n) {
        const QStringView part = text.mid(from, n);
        const auto it = names_[level].constFind(qHash(part));
        if (it == names_[level].cend()) continue;
        for (const Named& named : it.value())
            if (named.text == part) found.push_back({int(n), &named.rows});
    }
    return found;
}

Address Regions::parse(QStringView address, QStringView postcode) const {
    QString text = normaliseText(address);
    for (const QString& country : {QStringLiteral("中华人民共和国"), QStringLiteral("中国")})
        if (text.startsWith(country)) {
            text.remove(0, country.size());
            break;
        }
    const QStringView t(text);

    struct Parse {
        int province = -1, city = -1, county = -1;
        qsizetype end = 0;
        int full = 0;
        bool ambiguous = false;
    };
    Parse best;
    auto consider = [&](const Parse& p) {
        if (p.end > best.end || (p.end == best.end && p.full > best.full)) best = p;
    };
    auto sameProvince = [&](int a, int b) {
        return provinceOf_[size_t(a)] == provinceOf_[size_t(b)];
    };
    auto sameCity = [&](int a, int b) { return cityOf_[size_t(a)] == cityOf_[size_t(b)]; };

    // Each level either named where the last one ended or left out; the reading that names the
    // longest start wins, then the one with more full names.
    struct Option {
        int length;
        Name name;
        bool needsCounty; // a short form before a road's word: only with a county after it
    };
    QVarLengthArray<Option, 8> pOptions = {{0, {-1, false}, false}};
    for (const auto& [length, names] : match(ProvinceLevel, t, 0))
        for (const Name& n : *names)
            if (n.full || !startsRoad(t, length)) pOptions.push_back({length, n, false});
    for (const Option& p : pOptions) {
        // A city's short form before a road's word stands only when a county follows
        // (石家庄桥东区, not 南京路).
        QVarLengthArray<Option, 8> cOptions = {{0, {-1, false}, false}};
        for (const auto& [length, names] : match(CityLevel, t, p.length))
            for (const Name& n : *names) {
                if (p.name.row >= 0 && !sameProvince(n.row, p.name.row)) continue;
                cOptions.push_back({length, n, !n.full && startsRoad(t, p.length + length)});
            }
        for (const Option& c : cOptions) {
            const qsizetype at = p.length + c.length;
            Parse base{p.name.row, c.name.row, -1, at, int(p.name.full) + int(c.name.full), false};
            if (base.end > 0 && !c.needsCounty) consider(base);
            for (const auto& [length, names] : match(CountyLevel, t, at)) {
                QVarLengthArray<int, 8> kRows;
                for (const Name& n : *names) {
                    if (c.name.row >= 0 ? !sameCity(n.row, c.name.row)
                                        : p.name.row >= 0 && !sameProvince(n.row, p.name.row))
                        continue;
                    // A county's short form only after the province or city that holds it.
                    if (!n.full && (c.name.row < 0 && p.name.row < 0)) continue;
                    if (!n.full && startsRoad(t, at + length)) continue;
                    kRows.push_back(n.row);
                }
                if (kRows.empty()) continue;
                Parse k = base;
                k.end = at + length;
                k.full += 1;
                k.county = kRows.front();
                if (kRows.size() > 1) {
                    // One name in several cities: the postcode decides, else the city stays
                    // unknown.
                    qsizetype longest = 0;
                    int chosen = -1;
                    bool tie = false;
                    for (const int r : kRows) {
                        const qsizetype n = commonPrefix(rows_[size_t(r)].zip, postcode);
                        if (n > longest) {
                            longest = n, chosen = r, tie = false;
                        } else if (n == longest) {
                            tie = true;
                        }
                    }
                    if (chosen >= 0 && longest >= 3 && !tie)
                        k.county = chosen;
                    else
                        k.ambiguous = true;
                }
                consider(k);
            }
        }
    }

    Address a;
    a.remainder = houseNumbersAsDigits(t.mid(best.end));
    if (best.end == 0) return a;
    a.county = best.county;
    a.province = best.province;
    a.city = best.city;
    if (!best.ambiguous) {
        const int known = best.county >= 0 ? best.county : best.city;
        if (known >= 0) {
            a.city = cityOf_[size_t(known)];
            a.province = provinceOf_[size_t(known)];
        } else if (best.province >= 0) {
            a.province = best.province;
            // A municipality has one city: it is implied.
            if (const int only = onlyCityOf_[size_t(best.province)]; only >= 0) a.city = only;
        }
    }
    return a;
}

} // namespace smart
