// 智能查重's matching on small lists: which spellings of one customer are grouped, which
// look-alikes stay apart, and the guards (the blocking cap, conflicts, chaining, determinism).
#include "smart/engine/matcher.h"
#include "tests/support/testsupport.h"

using smart::FieldKind;

namespace {

// Groups as text: "0,2 1,3" (members by index, groups by first member).
QString groupsOf(const smart::MatchResult& r) {
    QStringList groups;
    for (const auto& g : r.groups) {
        QStringList m;
        for (const int i : g)
            m << QString::number(i);
        groups << m.join(u',');
    }
    return groups.join(u' ');
}

smart::MatchResult match(const std::vector<FieldKind>& kinds, const QList<QStringList>& rows,
                         smart::Level level = smart::Level::Normal, int cap = 200, int threads = 1,
                         int recordsPerKeyPart = 250000) {
    smart::MatchSettings s;
    s.kinds = kinds;
    s.level = level;
    s.blockCap = cap;
    s.threads = threads;
    s.recordsPerKeyPart = recordsPerKeyPart;
    smart::Matcher m(s);
    for (const QStringList& row : rows) {
        std::vector<QStringView> values;
        for (const QString& v : row)
            values.push_back(v);
        m.add(values);
    }
    return m.run();
}

const std::vector<FieldKind> nameAddress = {FieldKind::PersonName, FieldKind::Address};
const std::vector<FieldKind> namePhone = {FieldKind::PersonName, FieldKind::Phone};
const std::vector<FieldKind> five = {FieldKind::PersonName, FieldKind::Address, FieldKind::Phone,
                                     FieldKind::IdNumber, FieldKind::Organisation};

} // namespace

class TestMatcher : public QObject {
    Q_OBJECT
private slots:
    // Two records: grouped at 标准 or not, and why.
    void pairs_data() {
        QTest::addColumn<int>("kinds"); // 0 name+address, 1 name+phone, 2 five fields
        QTest::addColumn<QStringList>("a");
        QTest::addColumn<QStringList>("b");
        QTest::addColumn<bool>("grouped");
        QTest::addColumn<QString>("basis");
        QTest::newRow("traditional, blanks, province short")
            << 0 << QStringList{"張 三", "广东深圳南山科技园路1号"}
            << QStringList{"张三", "广东省深圳市南山区科技园路1号"} << true << "姓名相同；地址相同";
        QTest::newRow("province left out, Chinese numerals")
            << 0 << QStringList{"李四", "深圳市南山区深南大道八十八号"}
            << QStringList{"李四", "广东省深圳市南山区深南大道88号"} << true
            << "姓名相同；地址相同";
        QTest::newRow("homophone typo")
            << 0 << QStringList{"张伟", "北京市朝阳区建国路88号"}
            << QStringList{"张玮", "北京朝阳区建国路88号"} << true << "姓名同音；地址相同";
        QTest::newRow("road typed with a homophone")
            << 0 << QStringList{"苏帅", "安徽省宿州市萧县振兴街63号"}
            << QStringList{"苏帅", "安徽省宿州市萧县震兴街63号"} << true << "姓名相同；地址相近";
        QTest::newRow("one house number apart")
            << 0 << QStringList{"苏帅", "安徽省宿州市萧县振兴街63号"}
            << QStringList{"苏帅", "安徽省宿州市萧县振兴街68号"} << false << "";
        QTest::newRow("a district the table does not know, its city left out")
            << 0 << QStringList{"黄晓明", "深圳市坪山区深汕路1号"}
            << QStringList{"黄晓明", "坪山区深汕路1号"} << true << "姓名相同；地址相同";
        QTest::newRow("room added") << 0 << QStringList{"王芳", "上海市黄浦区南京东路100号"}
                                    << QStringList{"王芳", "上海市黄浦区南京东路100号301室"} << true
                                    << "姓名相同；地址相近";
        QTest::newRow("title after the name")
            << 1 << QStringList{"刘洋先生", "13800138000"} << QStringList{"刘洋", "138-0013-8000"}
            << true << "姓名相同；电话相同";
        QTest::newRow("phone formats")
            << 1 << QStringList{"赵敏", "+86 138 0013 8000"}
            << QStringList{"赵敏", "0755-88881234/13800138000"} << true << "姓名相同；电话相同";
        QTest::newRow("namesakes in one city")
            << 0 << QStringList{"张伟", "广东省深圳市南山区科技园路1号"}
            << QStringList{"张伟", "广东省深圳市福田区华强北路20号"} << false << "";
        QTest::newRow("same road in two cities")
            << 0 << QStringList{"陈静", "江苏省南京市鼓楼区中山路1号"}
            << QStringList{"陈静", "福建省福州市鼓楼区中山路1号"} << false << "";
        QTest::newRow("family at one address")
            << 0 << QStringList{"王小明", "广东省深圳市南山区科技园路1号"}
            << QStringList{"王小红", "广东省深圳市南山区科技园路1号"} << false << "";
        QTest::newRow("family at one landline")
            << 1 << QStringList{"王建国", "0755-88881234"} << QStringList{"王建军", "075588881234"}
            << false << "";
        QTest::newRow("namesakes, different mobiles")
            << 1 << QStringList{"李娜", "13800138000"} << QStringList{"李娜", "13900139000"}
            << false << "";
        QTest::newRow("15- and 18-character ID, legal form changed")
            << 2
            << QStringList{"周杰", "浙江省杭州市西湖区文三路1号", "", "110105491231002",
                           "宏远贸易有限公司"}
            << QStringList{"周杰", "", "13800138000", "11010519491231002X", "宏远贸易有限责任公司"}
            << true << "姓名相同；身份证号相同；单位名称相同";
        QTest::newRow("two valid ID numbers are two people")
            << 2
            << QStringList{"周杰", "浙江省杭州市西湖区文三路1号", "13800138000",
                           "11010519491231002X", "宏远贸易有限公司"}
            << QStringList{"周杰", "浙江省杭州市西湖区文三路1号", "13800138000",
                           "110105194912310038", "宏远贸易有限公司"}
            << false << "";
        QTest::newRow("colleagues of one company")
            << 2
            << QStringList{"孙丽", "广东省广州市天河区体育西路1号", "020-38881234", "",
                           "宏远科技（广州）有限公司"}
            << QStringList{"吴刚", "广东省广州市天河区体育西路1号", "020-38881234", "",
                           "宏远科技有限公司"}
            << false << "";
        QTest::newRow("Latin name order and short form")
            << 0 << QStringList{"Smith, Robert", "12 Main Street"}
            << QStringList{"Bob Smith", "12 main st."} << true << "姓名相近；地址相同";
        QTest::newRow("Latin initial, either order")
            << 0 << QStringList{"M. Miller", "248 Green Street"}
            << QStringList{"Monika Miller", "248 Green St"} << true << "姓名相近；地址相同";
        QTest::newRow("Latin short form of a spelling variant")
            << 0 << QStringList{"Stephen Allen", "28 River Lane"}
            << QStringList{"Allen, Steve", "28 River Ln"} << true << "姓名相近；地址相同";
        QTest::newRow("Latin spellings of one name")
            << 0 << QStringList{"Catherine Wilson", "21 Maple Avenue"}
            << QStringList{"Kate Wilson", "21 Maple Avenue"} << true << "姓名相近；地址相同";
        QTest::newRow("Latin family at one address")
            << 0 << QStringList{"John Miller", "248 Green Street"}
            << QStringList{"Mary Miller", "248 Green Street"} << false << "";
    }
    void pairs() {
        QFETCH(int, kinds);
        QFETCH(QStringList, a);
        QFETCH(QStringList, b);
        QFETCH(bool, grouped);
        QFETCH(QString, basis);
        const auto& k = kinds == 0 ? nameAddress : kinds == 1 ? namePhone : five;
        const smart::MatchResult r = match(k, {a, b});
        QCOMPARE(groupsOf(r), grouped ? QStringLiteral("0,1") : QString());
        if (!grouped) return;
        QCOMPARE(r.reasons[0][0].partner, 1);
        QCOMPARE(r.reasons[0][1].partner, 0);
        QVERIFY(r.reasons[0][0].score >= smart::threshold(smart::Level::Normal));
        QCOMPARE(r.reasons[0][0].basis, basis);
    }

    // The levels: a weaker agreement is a match at 宽松, not at 严格.
    void levels() {
        const QList<QStringList> rows = {{"王芳", "上海市黄浦区南京东路100号"},
                                         {"王芳", "上海市黄浦区南京东路100号301室"}};
        QCOMPARE(groupsOf(match(nameAddress, rows, smart::Level::Loose)), QStringLiteral("0,1"));
        QCOMPARE(groupsOf(match(nameAddress, rows, smart::Level::Normal)), QStringLiteral("0,1"));
        QCOMPARE(groupsOf(match(nameAddress, rows, smart::Level::Strict)), QString());
    }

    // A value shared by more records than the cap is not expanded, and is reported; the records
    // still meet through their other values.
    void blockCap() {
        QList<QStringList> rows;
        for (const char* name : {"赵一", "钱二", "孙三", "李四", "周五", "吴六", "郑七", "王八",
                                 "冯九", "陈十", "褚明", "卫东"})
            rows << QStringList{QString::fromUtf8(name), "4008123123"};
        rows << QStringList{"张三", "13800138000"} << QStringList{"张三", "138 0013 8000"};
        const smart::MatchResult capped = match(namePhone, rows, smart::Level::Normal, 10);
        QCOMPARE(groupsOf(capped), QStringLiteral("12,13"));
        QCOMPARE(int(capped.capped.size()), 1);
        QCOMPARE(capped.capped[0].records, 12);
        QVERIFY2(capped.capped[0].key.contains(u"4008123123"), qPrintable(capped.capped[0].key));
        QCOMPARE(match(namePhone, rows, smart::Level::Normal, 200).capped.size(), size_t(0));
    }

    // A run of weak links does not chain three records into one group: A~B and B~C are weak
    // matches, A and C do not match.
    void chaining() {
        const QList<QStringList> rows = {{"王芳", "上海市黄浦区南京东路100号301室"},
                                         {"王芳", "上海市黄浦区南京东路100号"},
                                         {"王芳", "上海市黄浦区南京东路100号5栋"},
                                         {"王芳", "上海市黄浦区南京东路100号5栋"}};
        // 2 and 3 agree exactly (a strong match); 0~1 and 1~2 are weaker (a room or building
        // added), and 0 and 2 do not match: 1 joins one of the groups, not both.
        QCOMPARE(groupsOf(match(nameAddress, rows)), QStringLiteral("0,1 2,3"));
    }

    // The same records give the same groups, scores and reasons with one thread or two, and a
    // record is in one group at most.
    void deterministic() {
        QList<QStringList> rows;
        const QStringList names = {"张伟", "张玮", "李娜", "王芳", "刘洋", "張偉"};
        for (int i = 0; i < 300; ++i)
            rows << QStringList{names[i % names.size()],
                                QStringLiteral("广东省深圳市南山区科技园路%1号").arg(i % 37)};
        // One thread and the keys sorted at once; two threads and the keys in seven parts. A
        // block cap that some names' blocks exceed.
        const smart::MatchResult one = match(nameAddress, rows, smart::Level::Normal, 40, 1);
        const smart::MatchResult two = match(nameAddress, rows, smart::Level::Normal, 40, 2, 40);
        QVERIFY(!one.groups.empty());
        QVERIFY(!one.capped.empty());
        QCOMPARE(groupsOf(one), groupsOf(two));
        // Each record with one key: every block counts.
        QList<QStringList> phones;
        for (int i = 0; i < 300; ++i)
            phones << QStringList{QStringLiteral("1380013%1").arg(i % 60, 4, 10, QLatin1Char('0'))};
        const std::vector<FieldKind> phone = {FieldKind::Phone};
        QCOMPARE(groupsOf(match(phone, phones, smart::Level::Loose, 200, 2, 40)),
                 groupsOf(match(phone, phones, smart::Level::Loose)));
        QCOMPARE(one.capped.size(), two.capped.size());
        for (size_t c = 0; c < one.capped.size(); ++c) {
            QCOMPARE(one.capped[c].key, two.capped[c].key);
            QCOMPARE(one.capped[c].records, two.capped[c].records);
        }
        QSet<int> seen;
        for (size_t g = 0; g < one.groups.size(); ++g)
            for (size_t m = 0; m < one.groups[g].size(); ++m) {
                QVERIFY(!seen.contains(one.groups[g][m]));
                seen.insert(one.groups[g][m]);
                QCOMPARE(one.reasons[g][m].score, two.reasons[g][m].score);
                QCOMPARE(one.reasons[g][m].basis, two.reasons[g][m].basis);
            }
    }
};

QTEST_GUILESS_MAIN(TestMatcher)
#include "tst_matcher.moc"
