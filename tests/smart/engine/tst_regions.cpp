// Addresses taken apart against the division table built into the program: every division read
// back in its full and short forms, and the spellings clerks use.
#include "smart/engine/regions.h"
#include "tests/support/testsupport.h"

namespace {

// "广东省深圳市南山区" for what the address names: the province, city and county found.
QString placeOf(const smart::Regions& regions, const smart::Address& a) {
    const auto& rows = regions.divisions();
    return QStringList{a.province < 0 ? QString() : rows[size_t(a.province)].province,
                       a.city < 0 ? QString() : rows[size_t(a.city)].city,
                       a.county < 0 ? QString() : rows[size_t(a.county)].county}
        .join(QLatin1Char('/'));
}

} // namespace

class TestRegions : public QObject {
    Q_OBJECT
private slots:
    // Each county of the table, written in full, short, and without its province: read back as
    // that county of that city, the rest of the address left over.
    void everyDivisionReadBack() {
        const smart::Regions& regions = smart::Regions::shipped();
        const auto& rows = regions.divisions();
        QVERIFY2(rows.size() > 3000, qPrintable(QString::number(rows.size())));
        using smart::Regions;
        // Short forms that two counties of one city share (宣化区, 宣化县) name neither.
        QHash<QString, int> shortNames;
        for (const smart::Division& d : rows)
            ++shortNames[d.province + d.city + Regions::shortForm(d.county)];
        int checked = 0;
        QStringList wrong;
        for (const smart::Division& d : rows) {
            if (d.county.isEmpty()) continue;
            const QString expected = d.province + u'/' + d.city + u'/' + d.county;
            const bool municipality = d.city == d.province;
            const QString city = municipality ? QString() : d.city;
            const QString shortCity = municipality ? QString() : Regions::shortForm(d.city);
            QStringList spellings = {
                d.province + city + d.county,
                Regions::shortForm(d.province) + shortCity + d.county,
                municipality ? d.province + d.county : city + d.county,
            };
            if (shortNames.value(d.province + d.city + Regions::shortForm(d.county)) == 1)
                spellings << Regions::shortForm(d.province) + shortCity +
                                 Regions::shortForm(d.county);
            for (const QString& s : spellings) {
                const smart::Address a = regions.parse(s + QStringLiteral("人民路1号"), d.zip);
                ++checked;
                if (placeOf(regions, a) != expected || a.remainder != QStringLiteral("人民路1号"))
                    wrong << s + QStringLiteral(" → ") + placeOf(regions, a) + u' ' + a.remainder;
            }
        }
        QVERIFY2(checked > 10000, qPrintable(QString::number(checked)));
        QVERIFY2(wrong.isEmpty(), qPrintable(QString::number(wrong.size()) + u' ' +
                                             wrong.mid(0, 30).join(QStringLiteral("；"))));
    }

    void spellings_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("postcode");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("remainder");
        QTest::newRow("full") << "广东省深圳市南山区科技园路1号"
                              << ""
                              << "广东省/深圳市/南山区"
                              << "科技园路1号";
        QTest::newRow("short, no suffixes") << "广东深圳南山科技园路1号"
                                            << ""
                                            << "广东省/深圳市/南山区"
                                            << "科技园路1号";
        QTest::newRow("province left out") << "深圳市南山区科技园路1号"
                                           << ""
                                           << "广东省/深圳市/南山区"
                                           << "科技园路1号";
        QTest::newRow("city and province left out") << "宝安区新安路1号"
                                                    << ""
                                                    << "广东省/深圳市/宝安区"
                                                    << "新安路1号";
        QTest::newRow("county of two cities, postcode") << "南山区科技园路1号"
                                                        << "518057"
                                                        << "广东省/深圳市/南山区"
                                                        << "科技园路1号";
        QTest::newRow("county starting like a road") << "河北石家庄桥东区胜利路1号"
                                                     << ""
                                                     << "河北省/石家庄市/桥东区"
                                                     << "胜利路1号";
        QTest::newRow("municipality") << "北京市朝阳区建国路88号"
                                      << ""
                                      << "北京市/北京市/朝阳区"
                                      << "建国路88号";
        QTest::newRow("municipality short") << "北京朝阳建国路88号"
                                            << ""
                                            << "北京市/北京市/朝阳区"
                                            << "建国路88号";
        QTest::newRow("shared county, no context") << "朝阳区建国路88号"
                                                   << ""
                                                   << "//朝阳区"
                                                   << "建国路88号";
        QTest::newRow("shared county, postcode") << "朝阳区人民大街1号"
                                                 << "130012"
                                                 << "吉林省/长春市/朝阳区"
                                                 << "人民大街1号";
        QTest::newRow("shared county, city") << "长春朝阳区人民大街1号"
                                             << ""
                                             << "吉林省/长春市/朝阳区"
                                             << "人民大街1号";
        QTest::newRow("shared county in one province") << "江苏鼓楼区中山北路1号"
                                                       << ""
                                                       << "江苏省//鼓楼区"
                                                       << "中山北路1号";
        QTest::newRow("city named like its province") << "吉林市昌邑区解放路1号"
                                                      << ""
                                                      << "吉林省/吉林市/昌邑区"
                                                      << "解放路1号";
        QTest::newRow("county-level city") << "江苏昆山市前进路1号"
                                           << ""
                                           << "江苏省/苏州市/昆山市"
                                           << "前进路1号";
        QTest::newRow("autonomous prefecture short") << "延边延吉市光明街1号"
                                                     << ""
                                                     << "吉林省/延边朝鲜族自治州/延吉市"
                                                     << "光明街1号";
        QTest::newRow("road named after a city") << "上海市黄浦区南京路100号"
                                                 << ""
                                                 << "上海市/上海市/黄浦区"
                                                 << "南京路100号";
        QTest::newRow("a city's name as a road") << "南京路100号"
                                                 << ""
                                                 << "//"
                                                 << "南京路100号";
        QTest::newRow("traditional, full-width, blanks") << "廣東省 深圳市 南山區 ８８號"
                                                         << ""
                                                         << "广东省/深圳市/南山区"
                                                         << "88号";
        QTest::newRow("Chinese numerals") << "深圳南山区深南大道八十八号"
                                          << ""
                                          << "广东省/深圳市/南山区"
                                          << "深南大道88号";
        QTest::newRow("country first") << "中国广东省广州市天河区体育西路1号"
                                       << ""
                                       << "广东省/广州市/天河区"
                                       << "体育西路1号";
        QTest::newRow("nothing recognised") << "科技园路1号"
                                            << ""
                                            << "//"
                                            << "科技园路1号";
        QTest::newRow("empty") << ""
                               << ""
                               << "//"
                               << "";
    }
    void spellings() {
        QFETCH(QString, address);
        QFETCH(QString, postcode);
        QFETCH(QString, place);
        QFETCH(QString, remainder);
        const smart::Regions& regions = smart::Regions::shipped();
        const smart::Address a = regions.parse(address, postcode);
        QCOMPARE(placeOf(regions, a), place);
        QCOMPARE(a.remainder, remainder);
    }
};

QTEST_GUILESS_MAIN(TestRegions)
#include "tst_regions.moc"
