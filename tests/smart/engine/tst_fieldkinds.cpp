// The kinds of check fields 智能查重 infers: from the field's name where it says one, else from
// most of its values.
#include "smart/engine/fieldkinds.h"
#include "tests/support/testsupport.h"

using smart::FieldKind;
Q_DECLARE_METATYPE(FieldKind)

class TestFieldKinds : public QObject {
    Q_OBJECT
private slots:
    void byName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<FieldKind>("kind");
        const std::pair<const char*, FieldKind> rows[] = {
            {"姓名", FieldKind::PersonName},
            {"客户名", FieldKind::PersonName},
            {"联系人", FieldKind::PersonName},
            {"NAME", FieldKind::PersonName},
            {"地址", FieldKind::Address},
            {"通讯地址", FieldKind::Address},
            {"住址", FieldKind::Address},
            {"单位地址", FieldKind::Address},
            {"电话", FieldKind::Phone},
            {"联系电话", FieldKind::Phone},
            {"手机", FieldKind::Phone},
            {"TEL", FieldKind::Phone},
            {"身份证号", FieldKind::IdNumber},
            {"证件号码", FieldKind::IdNumber},
            {"单位名称", FieldKind::Organisation},
            {"工作单位", FieldKind::Organisation},
            {"公司", FieldKind::Organisation},
            {"Company Name", FieldKind::Organisation},
            {"邮编", FieldKind::Postcode},
            {"邮政编码", FieldKind::Postcode},
            {"ZIP", FieldKind::Postcode},
            {"备注", FieldKind::Other},
            {"F3", FieldKind::Other},
            {"ｔｅｌ", FieldKind::Phone},
        };
        for (const auto& [name, kind] : rows)
            QTest::newRow(name) << QString::fromUtf8(name) << kind;
    }
    void byName() {
        QFETCH(QString, name);
        QFETCH(FieldKind, kind);
        QCOMPARE(smart::kindOfName(name), kind);
    }

    void byValues_data() {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<FieldKind>("kind");
        QTest::newRow("mobiles, one empty")
            << QStringList{"13800138000", "139-0013-9000", "", "+86 137 0013 7000"}
            << FieldKind::Phone;
        QTest::newRow("ID numbers")
            << QStringList{"11010519491231002X", "440301199003071230", "110105491231002"}
            << FieldKind::IdNumber;
        QTest::newRow("postcodes")
            << QStringList{"518000", "100010", "２００００１"} << FieldKind::Postcode;
        QTest::newRow("half are phones") << QStringList{"13800138000", "张三"} << FieldKind::Other;
        QTest::newRow("names") << QStringList{"张三", "李四"} << FieldKind::Other;
        QTest::newRow("invalid ID numbers")
            << QStringList{"110105194912310021", "123456789012345678"} << FieldKind::Other;
        QTest::newRow("nothing") << QStringList{"", " "} << FieldKind::Other;
    }
    void byValues() {
        QFETCH(QStringList, values);
        QFETCH(FieldKind, kind);
        QCOMPARE(smart::kindOfValues(values), kind);
    }

    void nameFirstThenValues() {
        QCOMPARE(smart::inferKind("手机", {"张三"}), FieldKind::Phone);
        QCOMPARE(smart::inferKind("F2", {"13800138000", "13900139000"}), FieldKind::Phone);
        QCOMPARE(smart::kindLabel(FieldKind::IdNumber), QString("身份证号"));
        QCOMPARE(smart::kindLabel(FieldKind::Other), QString("其他"));
    }
};

CHACHONG_TEST_MAIN(TestFieldKinds)
#include "tst_fieldkinds.moc"
