// The normal forms 智能查重 compares: spellings of one value that clerks type differently agree,
// different values stay apart.
#include "smart/engine/normalise.h"
#include "tests/support/testsupport.h"

class TestNormalise : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        QTest::newRow("blank inside a name") << "张 三"
                                             << "张三";
        QTest::newRow("ideographic space") << "张\u3000三"
                                           << "张三";
        QTest::newRow("full-width letters, digits and space") << "ＡＢＣ　贸易１２３号"
                                                              << "abc贸易123号";
        QTest::newRow("blanks around and between words") << "  Zhang   San  "
                                                         << "zhang san";
        QTest::newRow("blank between Latin and Chinese") << "IBM 中国"
                                                         << "ibm中国";
        QTest::newRow("tab and line break") << "北京\t朝阳\n区"
                                            << "北京朝阳区";
        QTest::newRow("full-width brackets") << "科技（深圳）有限公司"
                                             << "科技(深圳)有限公司";
        QTest::newRow("control character") << QString("张\u0007三") << "张三";
        QTest::newRow("non-ASCII letters keep their case") << "Ärzte"
                                                           << "Ärzte";
        QTest::newRow("nothing but blanks") << " \u3000 "
                                            << "";
        QTest::newRow("traditional name") << "張 三"
                                          << "张三";
        QTest::newRow("traditional address") << "廣東省深圳市南山區"
                                             << "广东省深圳市南山区";
        QTest::newRow("traditional company") << "臺灣電腦股份有限公司"
                                             << "台湾电脑股份有限公司";
        QTest::newRow("simplified stays") << "张三丰"
                                          << "张三丰";
    }
    void text() {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(smart::normaliseText(typed), normal);
    }

    void houseNumbers_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        QTest::newRow("八十八号") << "深南大道八十八号"
                                  << "深南大道88号";
        QTest::newRow("一百零三号") << "人民路一百零三号"
                                    << "人民路103号";
        QTest::newRow("十号") << "中山路十号"
                              << "中山路10号";
        QTest::newRow("十五号") << "中山路十五号"
                                << "中山路15号";
        QTest::newRow("two thousand") << "两千零一号"
                                      << "2001号";
        QTest::newRow("digit by digit") << "B座二〇三室"
                                        << "B座203室";
        QTest::newRow("floor and room") << "三楼五室"
                                        << "3楼5室";
        QTest::newRow("a place name stays") << "三里屯路十九号"
                                            << "三里屯路19号";
        QTest::newRow("numerals at the end stay") << "第一中学"
                                                  << "第一中学";
        QTest::newRow("digits stay") << "88号"
                                     << "88号";
        QTest::newRow("a district named with a numeral") << "三元区人民路一号"
                                                         << "三元区人民路1号";
        QTest::newRow("unit") << "三单元五室"
                              << "3单元5室";
    }
    void houseNumbers() {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(smart::houseNumbersAsDigits(typed), normal);
    }

    void personNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        QTest::newRow("blank inside") << "张 伟"
                                      << "张伟";
        QTest::newRow("middle dot") << "阿卜杜拉·买买提"
                                    << "阿卜杜拉买买提";
        QTest::newRow("katakana middle dot") << "阿卜杜拉・买买提"
                                             << "阿卜杜拉买买提";
        QTest::newRow("title") << "王先生"
                               << "王";
        QTest::newRow("traditional, blank and title") << "陳 偉先生"
                                                      << "陈伟";
        QTest::newRow("title after a full name") << "李秀英女士"
                                                 << "李秀英";
        QTest::newRow("a title alone stays") << "先生"
                                             << "先生";
        QTest::newRow("Latin, either order") << "SAN  Zhang"
                                             << "san zhang";
        QTest::newRow("Latin with a comma") << "Zhang, San"
                                            << "san zhang";
        QTest::newRow("full-width Latin") << "Ｚｈａｎｇ　Ｓａｎ"
                                          << "san zhang";
    }
    void personNames() {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(smart::normalisePersonName(typed), normal);
    }

    void pronunciation_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("same");
        QTest::newRow("张伟 / 张玮") << "张伟"
                                     << "张玮" << true;
        QTest::newRow("王芳 / 汪芳") << "王芳"
                                     << "汪芳" << true;
        QTest::newRow("刘洋 / 刘阳, traditional") << "劉洋"
                                                  << "刘阳" << true;
        QTest::newRow("blank and title") << "李 娜女士"
                                         << "李娜" << true;
        QTest::newRow("another name") << "张伟"
                                      << "张华" << false;
        QTest::newRow("another surname") << "张伟"
                                         << "李伟" << false;
        QTest::newRow("Latin names") << "Zhang Wei"
                                     << "WEI zhang" << true;
    }
    void pronunciation() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, same);
        const QString a = smart::pronunciationKey(first), b = smart::pronunciationKey(second);
        QVERIFY2((a == b) == same, qPrintable(a + " / " + b));
        QVERIFY(!a.isEmpty());
    }
    void pronunciationKeyReadsPinyin() {
        QCOMPARE(smart::pronunciationKey(u"张伟"), QString("zhang wei"));
        QCOMPARE(smart::pronunciationKey(u"欧阳娜娜"), QString("ou yang na na"));
    }

    void organisations_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("core");
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("place");
        QTest::newRow("有限公司") << "北京宏远贸易有限公司"
                                  << "北京宏远贸易"
                                  << "有限公司"
                                  << "";
        QTest::newRow("有限责任公司") << "北京宏远贸易有限责任公司"
                                      << "北京宏远贸易"
                                      << "有限责任公司"
                                      << "";
        QTest::newRow("股份有限公司") << "宏远科技股份有限公司"
                                      << "宏远科技"
                                      << "股份有限公司"
                                      << "";
        QTest::newRow("集团有限公司") << "宏远集团有限公司"
                                      << "宏远"
                                      << "集团有限公司"
                                      << "";
        QTest::newRow("bracketed place") << "宏远科技（深圳）有限公司"
                                         << "宏远科技"
                                         << "有限公司"
                                         << "深圳";
        QTest::newRow("厂") << "红星机械厂"
                            << "红星机械"
                            << "厂"
                            << "";
        QTest::newRow("no legal form") << "宏远商行"
                                       << "宏远商行"
                                       << ""
                                       << "";
        QTest::newRow("a form alone stays") << "有限公司"
                                            << "有限公司"
                                            << ""
                                            << "";
        QTest::newRow("blanks and full width") << "ＡＢＣ 贸易 有限公司"
                                               << "abc贸易"
                                               << "有限公司"
                                               << "";
    }
    void organisations() {
        QFETCH(QString, typed);
        QFETCH(QString, core);
        QFETCH(QString, form);
        QFETCH(QString, place);
        const smart::OrganisationName o = smart::normaliseOrganisation(typed);
        QCOMPARE(o.core, core);
        QCOMPARE(o.legalForm, form);
        QCOMPARE(o.place, place);
    }

    void phones_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("mobile with hyphens") << "138-0013-8000" << QStringList{"13800138000"};
        QTest::newRow("mobile with +86") << "+86 138 0013 8000" << QStringList{"13800138000"};
        QTest::newRow("mobile with 0086") << "0086-13800138000" << QStringList{"13800138000"};
        QTest::newRow("mobile with bare 86") << "8613800138000" << QStringList{"13800138000"};
        QTest::newRow("full-width digits")
            << "１３８００１３８０００" << QStringList{"13800138000"};
        QTest::newRow("landline with area code")
            << "(0755)8888-1234" << QStringList{"075588881234"};
        QTest::newRow("landline from abroad") << "+86 755 8888 1234" << QStringList{"075588881234"};
        QTest::newRow("local number starting with 86") << "86123456" << QStringList{"86123456"};
        QTest::newRow("two numbers")
            << "13800138000/0755-88881234" << QStringList{"13800138000", "075588881234"};
        QTest::newRow("Chinese separators")
            << "13800138000，13900139000、或010-66668888"
            << QStringList{"13800138000", "13900139000", "01066668888"};
        QTest::newRow("two numbers with a blank between")
            << "15574085492 029-65004636" << QStringList{"15574085492", "02965004636"};
        QTest::newRow("extension left out") << "0755-88881234转806" << QStringList{"075588881234"};
        QTest::newRow("extensions in other words") << "0755-88881234分机806；021-66668888 EXT. 12"
                                                   << QStringList{"075588881234", "02166668888"};
        QTest::newRow("two numbers from abroad with blanks")
            << "+86 138 0013 8000 +86 755 8888 1234" << QStringList{"13800138000", "075588881234"};
        QTest::newRow("fax is no extension") << "fax 0755-88881234" << QStringList{"075588881234"};
        QTest::newRow("too short") << "110" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void phones() {
        QFETCH(QString, typed);
        QFETCH(QStringList, numbers);
        QCOMPARE(smart::normalisePhones(typed), numbers);
    }

    void idNumbers_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        QTest::newRow("valid, check X") << "11010519491231002X"
                                        << "11010519491231002X";
        QTest::newRow("lower-case x") << "11010519491231002x"
                                      << "11010519491231002X";
        QTest::newRow("full-width and blanks") << "１１０１０５ 19491231 002ｘ"
                                               << "11010519491231002X";
        QTest::newRow("born in 1880") << "440524188001010014"
                                      << "440524188001010014";
        QTest::newRow("15 digits") << "110105491231002"
                                   << "11010519491231002X";
        QTest::newRow("15 digits, check 0") << "440301900307123"
                                            << "440301199003071230";
        QTest::newRow("wrong check character") << "110105194912310021"
                                               << "";
        QTest::newRow("no such date") << "110105194902301234"
                                      << "";
        QTest::newRow("15 digits, no such date") << "110105490230002"
                                                 << "";
        QTest::newRow("X inside") << "1101051949X231002X"
                                  << "";
        QTest::newRow("too long") << "11010519491231002X1"
                                  << "";
        QTest::newRow("letters") << "身份证11010519491231002X"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void idNumbers() {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(smart::normaliseIdNumber(typed), normal);
    }

    void others_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("normal");
        for (const char* date : {"1984-03-07", "1984/3/7", "07.03.1984", "7/3/1984", "19840307",
                                 "1984年3月7日", "１９８４－０３－０７"})
            QTest::newRow(date) << QString::fromUtf8(date) << "1984-03-07";
        QTest::newRow("no such date") << "1984-02-30"
                                      << "1984-02-30";
        QTest::newRow("text") << "ＡＢＣ 公司"
                              << "abc公司";
    }
    void others() {
        QFETCH(QString, typed);
        QFETCH(QString, normal);
        QCOMPARE(smart::normaliseOther(typed), normal);
    }
};

CHACHONG_TEST_MAIN(TestNormalise)
#include "tst_normalise.moc"
