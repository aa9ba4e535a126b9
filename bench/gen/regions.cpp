// Reading the province-city-county reference file.
#include "bench/gen/regions.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringDecoder>

namespace gen {

namespace {

// The reference file is about 180 KB; anything far larger is not one.
constexpr qint64 kMaxRegionFileSize = 64 * 1024 * 1024;

} // namespace

bool readRegionCsv(const QString& path, std::vector<Region>* out, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    const QString shown = QDir::toNativeSeparators(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法打开地区文件 %1：%2").arg(shown, f.errorString());
        return false;
    }
    if (f.size() > kMaxRegionFileSize) {
        *error = QStringLiteral("地区文件 %1 太大，不像省市区县列表").arg(shown);
        return false;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("读取地区文件 %1 失败：%2").arg(shown, f.errorString());
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0')) {
        *error = QStringLiteral("地区文件 %1 不是 UTF-8 文本").arg(shown);
        return false;
    }

    // Lines end in CR CR LF in the reference file: any run of CR and LF ends one line.
    int province = -1, city = -1, county = -1, zip = -1, columns = 0;
    bool header = true;
    QSet<QString> seen;
    std::vector<Region> regions;
    const QStringView all(text);
    qsizetype start = 0;
    for (qsizetype end = 0; end <= all.size(); ++end) {
        if (end < all.size() && all[end] != u'\r' && all[end] != u'\n') continue;
        QStringView line = all.mid(start, end - start);
        start = end + 1;
        if (line.startsWith(QChar(0xFEFF))) line = line.mid(1); // a byte-order mark
        line = line.trimmed();
        if (line.isEmpty()) continue;
        const QList<QStringView> cells = line.split(u',');
        if (header) {
            header = false;
            for (int i = 0; i < cells.size(); ++i) {
                const QStringView name = cells[i].trimmed();
                if (name == u"province") province = i;
                if (name == u"city") city = i;
                if (name == u"county") county = i;
                if (name == u"zipCode") zip = i;
            }
            if (province < 0 || city < 0 || county < 0 || zip < 0) {
                *error =
                    QStringLiteral("地区文件 %1 的标题行应含 province、city、county、zipCode 列")
                        .arg(shown);
                return false;
            }
            columns = 1 + std::max({province, city, county, zip});
            continue;
        }
        if (cells.size() < columns) continue;
        Region r{cells[province].trimmed().toString(), cells[city].trimmed().toString(),
                 cells[county].trimmed().toString(), cells[zip].trimmed().toString()};
        if (r.province.isEmpty() || r.city.isEmpty() || r.county.isEmpty()) continue;
        const QString key = r.province + QChar(0x1F) + r.city + QChar(0x1F) + r.county;
        if (seen.contains(key)) continue;
        seen.insert(key);
        regions.push_back(std::move(r));
    }
    if (regions.empty()) {
        *error = QStringLiteral("地区文件 %1 中没有可用的省市区县行").arg(shown);
        return false;
    }
    *out = std::move(regions);
    return true;
}

std::vector<Region> builtInRegions() {
    // province, city, two counties with their postcodes
    static const char* const list[][6] = {
        {"北京市", "北京市", "朝阳区", "100020", "海淀区", "100089"},
        {"上海市", "上海市", "浦东新区", "200120", "徐汇区", "200030"},
        {"河北省", "石家庄市", "长安区", "050011", "桥西区", "050051"},
        {"河北省", "保定市", "竞秀区", "071052", "涿州市", "072750"},
        {"山西省", "太原市", "小店区", "030032", "迎泽区", "030002"},
        {"山西省", "大同市", "平城区", "037008", "云冈区", "037001"},
        {"内蒙古自治区", "呼和浩特市", "新城区", "010050", "回民区", "010030"},
        {"内蒙古自治区", "包头市", "昆都仑区", "014010", "青山区", "014030"},
        {"辽宁省", "沈阳市", "和平区", "110001", "沈河区", "110011"},
        {"辽宁省", "大连市", "中山区", "116001", "甘井子区", "116033"},
        {"江苏省", "南京市", "玄武区", "210018", "鼓楼区", "210009"},
        {"江苏省", "苏州市", "姑苏区", "215008", "昆山市", "215300"},
        {"浙江省", "杭州市", "西湖区", "310013", "余杭区", "311100"},
        {"浙江省", "宁波市", "海曙区", "315000", "慈溪市", "315300"},
        {"安徽省", "合肥市", "蜀山区", "230031", "包河区", "230041"},
        {"安徽省", "芜湖市", "镜湖区", "241000", "无为市", "238300"},
        {"福建省", "福州市", "鼓楼区", "350001", "仓山区", "350007"},
        {"福建省", "厦门市", "思明区", "361001", "湖里区", "361006"},
        {"山东省", "济南市", "历下区", "250014", "市中区", "250001"},
        {"山东省", "青岛市", "市南区", "266001", "黄岛区", "266500"},
        {"河南省", "郑州市", "金水区", "450003", "中原区", "450007"},
        {"河南省", "洛阳市", "涧西区", "471003", "偃师区", "471900"},
        {"湖北省", "武汉市", "武昌区", "430061", "洪山区", "430070"},
        {"湖北省", "宜昌市", "西陵区", "443000", "夷陵区", "443100"},
        {"广东省", "广州市", "天河区", "510630", "越秀区", "510030"},
        {"广东省", "深圳市", "南山区", "518052", "福田区", "518048"},
        {"四川省", "成都市", "锦江区", "610021", "武侯区", "610041"},
        {"四川省", "绵阳市", "涪城区", "621000", "游仙区", "621022"},
    };
    std::vector<Region> regions;
    for (const auto& e : list) {
        for (int i = 2; i < 6; i += 2)
            regions.push_back({QString::fromUtf8(e[0]), QString::fromUtf8(e[1]),
                               QString::fromUtf8(e[i]), QString::fromUtf8(e[i + 1])});
    }
    return regions;
}

} // namespace gen
