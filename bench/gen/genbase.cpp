// The pieces the generators of client lists share.
#include "bench/gen/genbase.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace gen::base {

QStringList addressParts(const QString& province, const QString& city, const QString& county) {
    QStringList parts;
    if (province != kHkMoTw) parts << province;
    if (city != province && city != kHkMoTw) parts << city;
    if (county != city) parts << county;
    return parts;
}

QString chopSuffix(QString name, std::initializer_list<const char16_t*> suffixes) {
    for (const char16_t* s : suffixes) {
        const QStringView v(s);
        if (name.size() > v.size() + 1 && name.endsWith(v)) {
            name.chop(v.size());
            break;
        }
    }
    return name;
}

// Province codes of ID numbers and the area codes of the provincial capitals.
struct ProvinceCodes {
    const char* prefix; // first characters of the province name
    const char* id;
    const char* area;
};
constexpr ProvinceCodes kProvinceCodes[] = {
    {"北京", "11", "010"},  {"天津", "12", "022"},  {"河北", "13", "0311"}, {"山西", "14", "0351"},
    {"内蒙", "15", "0471"}, {"辽宁", "21", "024"},  {"吉林", "22", "0431"}, {"黑龙", "23", "0451"},
    {"上海", "31", "021"},  {"江苏", "32", "025"},  {"浙江", "33", "0571"}, {"安徽", "34", "0551"},
    {"福建", "35", "0591"}, {"江西", "36", "0791"}, {"山东", "37", "0531"}, {"河南", "41", "0371"},
    {"湖北", "42", "027"},  {"湖南", "43", "0731"}, {"广东", "44", "020"},  {"广西", "45", "0771"},
    {"海南", "46", "0898"}, {"重庆", "50", "023"},  {"四川", "51", "028"},  {"贵州", "52", "0851"},
    {"云南", "53", "0871"}, {"西藏", "54", "0891"}, {"陕西", "61", "029"},  {"甘肃", "62", "0931"},
    {"青海", "63", "0971"}, {"宁夏", "64", "0951"}, {"新疆", "65", "0991"},
};

std::vector<Place> makePlaces(const std::vector<Region>& regions) {
    // The reference file lists every city once more as its own county (咸阳市, 咸阳市): that
    // row stands for the city as a whole, and clients live in its districts and counties.
    QSet<QString> withCounties;
    for (const Region& r : regions)
        if (r.county != r.city) withCounties.insert(r.province + u'/' + r.city);
    std::vector<Place> places;
    places.reserve(regions.size());
    // ID area codes: province code, then the city's and the county's number within it.
    QHash<QString, int> cityNumber, countyNumber, citiesIn, countiesIn;
    for (const Region& r : regions) {
        if (r.county == r.city && withCounties.contains(r.province + u'/' + r.city)) continue;
        Place p{r.province, r.city, r.county, r.zip, {}, {}, {}, {}, {}};
        p.addressParts = addressParts(r.province, r.city, r.county);
        p.addressPrefix = p.addressParts.join(QString());
        const bool hkMoTw = r.province == kHkMoTw;
        p.companyPlace = chopSuffix(hkMoTw ? r.county : r.city, {u"地区", u"盟", u"市", u"县"});

        QString id = hkMoTw ? (r.county.startsWith(u"香港")   ? QStringLiteral("81")
                               : r.county.startsWith(u"澳门") ? QStringLiteral("82")
                                                              : QStringLiteral("71"))
                            : QStringLiteral("99");
        for (const ProvinceCodes& c : kProvinceCodes) {
            if (r.province.startsWith(QString::fromUtf8(c.prefix))) {
                id = QString::fromLatin1(c.id);
                p.areaCode = QString::fromLatin1(c.area);
            }
        }
        const QString cityKey = r.province + u'/' + r.city;
        if (!cityNumber.contains(cityKey)) cityNumber.insert(cityKey, ++citiesIn[r.province]);
        const QString countyKey = cityKey + u'/' + r.county;
        if (!countyNumber.contains(countyKey))
            countyNumber.insert(countyKey, ++countiesIn[cityKey]);
        p.idArea = id + QStringLiteral("%1%2")
                            .arg(std::min(cityNumber[cityKey], 99), 2, 10, QLatin1Char('0'))
                            .arg(std::min(countyNumber[countyKey], 99), 2, 10, QLatin1Char('0'));
        places.push_back(std::move(p));
    }
    return places;
}

void appendNumber(QString* s, int n) {
    char16_t digits[10];
    int k = 0;
    do {
        digits[k++] = char16_t(u'0' + n % 10);
        n /= 10;
    } while (n > 0);
    while (k > 0)
        s->append(QChar(digits[--k]));
}

QChar idCheck(QStringView digits17) {
    static const int weight[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int i = 0; i < 17; ++i)
        sum += (digits17[i].unicode() - u'0') * weight[i];
    return QChar(u"10X98765432"[sum % 11]);
}

} // namespace gen::base
