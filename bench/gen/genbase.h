#pragma once
// What the generators of client lists share: the random numbers, the word lists, the places of
// the province-city-county reference list with their postcodes, ID area and telephone area codes,
// and the check character of ID numbers. Internal to bench/gen.
#include "bench/gen/regions.h"

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <random>
#include <vector>

namespace gen::base {

// std::mt19937 is the same everywhere; the standard distributions are not, so ranges are cut
// here: rejection keeps every value in [0, n) equally likely.
class Random {
public:
    explicit Random(quint32 seed) : engine_(seed) {}
    quint32 below(quint32 n) {
        constexpr quint64 span = quint64(1) << 32;
        const quint64 limit = span - span % n;
        quint64 x;
        do
            x = quint64(engine_() & 0xFFFFFFFFu);
        while (x >= limit);
        return quint32(x % n);
    }
    int below(qsizetype n) { return int(below(quint32(n))); }
    int below(int n) { return int(below(quint32(n))); }
    bool percent(int p) { return below(100) < p; }
    QChar pick(const QString& pool) { return pool.at(below(pool.size())); }
    const QString& pick(const QStringList& pool) { return pool.at(below(pool.size())); }
    void digits(QString* s, int count) {
        for (int i = 0; i < count; ++i)
            s->append(QChar(u'0' + below(10)));
    }

private:
    std::mt19937 engine_;
};

// The word lists. Near copies replace characters only with characters that are neither blanks
// nor the suffixes 省 市 区 县, so every kind of change stays recognisable.
struct Words {
    // About a hundred frequent surnames, most frequent first; then some compound ones.
    QString surnames = QStringLiteral(
        "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程"
        "苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝"
        "龚邵万钱严覃武戴莫孔向汤");
    QStringList compound = {"欧阳", "司马", "诸葛", "上官", "东方",
                            "皇甫", "慕容", "令狐", "司徒", "夏侯"};
    QString male = QStringLiteral("伟强磊军洋勇杰涛明超刚平辉建国文斌鹏飞波宇浩凯健俊帆帅旭宁龙林"
                                  "鑫博昊然泽睿轩子豪峰亮成志海东兵伦翔毅"); // given names
    QString female = QStringLiteral("芳娜秀英敏静丽艳娟霞兰玲桂华玉萍红燕婷慧莉颖倩洁丹蕾薇晨欣佳雪"
                                    "梅琳晶怡涵诗雨嘉悦彤琪雅璐瑶");
    QString trade = QStringLiteral("华泰恒信达兴隆盛鑫源宏伟海天博远金瑞丰安康腾飞创新中辰宇泽盈嘉"
                                   "正祥和顺通宝润德永昌汇联"); // trade names of companies
    QStringList industry = {
        "科技",     "贸易",     "实业",     "建设工程", "电子",       "机械",     "食品",
        "物流",     "商贸",     "医药",     "化工",     "纺织",       "服饰",     "投资",
        "咨询",     "网络科技", "信息技术", "文化传媒", "房地产开发", "餐饮管理", "汽车销售",
        "环保科技", "新能源",   "建材",     "印刷",     "家具",       "农业开发", "教育科技"};
    QStringList road = {"人民", "解放", "中山", "建设", "和平", "胜利", "文化", "新华", "光明",
                        "长江", "黄河", "东风", "朝阳", "幸福", "友谊", "青年", "学府", "工业",
                        "迎宾", "滨江", "建国", "民主", "团结", "花园", "体育", "公园", "长安",
                        "望江", "金桥", "育才", "振兴", "北京", "南京", "延安", "天山", "泰山"};
    QStringList roadKind = {"路", "路", "路", "街", "大道", "大街", "巷"};
    QStringList direction = {"东", "西", "南", "北", "中"};
    // Replacements inside an address: common characters of street and place names.
    QString addressPool =
        QStringLiteral("东西南北中新华光明安康平和兴盛长江河山湖海城乡镇村路街道");
    QStringList mobile = {"130", "131", "132", "133", "134", "135", "136", "137", "138", "139",
                          "147", "150", "151", "152", "153", "155", "156", "157", "158", "159",
                          "166", "173", "175", "176", "177", "178", "180", "181", "182", "183",
                          "184", "185", "186", "187", "188", "189", "191", "198", "199"};
};

// What every row of one county shares, worked out once.
struct Place {
    QString province, city, county, zip;
    QStringList addressParts; // the names the address starts with, none repeated
    QString addressPrefix;
    QString companyPlace; // the city as a company name starts with it
    QString idArea;       // six digits for ID numbers
    QString areaCode;     // telephone area code; empty: mobile numbers only
};

inline const QString kHkMoTw =
    QStringLiteral("港澳台"); // the file's province of Hong Kong, Macao, Taiwan

// Municipalities repeat themselves as city (and the city as county for its centre): an address
// names each place once. The grouping 港澳台 is no place name.
QStringList addressParts(const QString& province, const QString& city, const QString& county);

// The name without the first of the suffixes it ends in, when at least two characters remain.
QString chopSuffix(QString name, std::initializer_list<const char16_t*> suffixes);

// The places of a reference list; a city's own row (咸阳市, 咸阳市) is left out when the city has
// counties.
std::vector<Place> makePlaces(const std::vector<Region>& regions);

// Appends a positive number's digits without a temporary string.
void appendNumber(QString* s, int n);

// ISO 7064 MOD 11-2 check character of the 17 digits of an ID number.
QChar idCheck(QStringView digits17);

} // namespace gen::base
