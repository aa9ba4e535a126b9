// The labelled client lists: pairwise scores against hand-counted pairs, and lists that come out
// the same for the same options, with the customers, entries and look-alikes they were planned
// with and no two entries of a customer side by side.
#include "bench/gen/labelled.h"
#include "tests/support/testsupport.h"

#include <QSet>

#include <cmath>
#include <map>

namespace {

std::vector<int> vectorOf(const QList<int>& list) {
    return std::vector<int>(list.begin(), list.end());
}

gen::LabelledTable make(bool latin, int customers, quint32 seed, double reentry = 0.35) {
    gen::LabelledOptions o;
    o.customers = customers;
    o.seed = seed;
    o.reentryShare = reentry;
    o.regionCsv = testsupport::sample("reference/china-region/region.csv");
    return latin ? gen::generateLatinLabelled(o) : gen::generateLabelled(o);
}

} // namespace

class TestLabelled : public QObject {
    Q_OBJECT

private slots:
    void pairScores_data() {
        QTest::addColumn<QList<int>>("entity");
        QTest::addColumn<QList<int>>("groups");
        QTest::addColumn<qint64>("truePairs");
        QTest::addColumn<qint64>("foundPairs");
        QTest::addColumn<qint64>("correctPairs");
        QTest::addColumn<double>("precision");
        QTest::addColumn<double>("recall");
        QTest::addColumn<double>("f1");
        using L = QList<int>;
        QTest::newRow("empty input") << L{} << L{} << 0ll << 0ll << 0ll << 1.0 << 1.0 << 1.0;
        QTest::newRow("all singletons")
            << L{0, 1, 2, 3} << L{-1, -1, -1, -1} << 0ll << 0ll << 0ll << 1.0 << 1.0 << 1.0;
        QTest::newRow("one perfect group")
            << L{0, 0, 0, 1} << L{5, 5, 5, -1} << 3ll << 3ll << 3ll << 1.0 << 1.0 << 1.0;
        // Rows 0-1 and 2-3 are two customers; one group of four finds their 2 pairs among 6.
        QTest::newRow("a group merging two entities")
            << L{0, 0, 1, 1, 2} << L{0, 0, 0, 0, -1} << 2ll << 6ll << 2ll << 1.0 / 3 << 1.0 << 0.5;
        // One customer of four rows (6 pairs) found as two groups of two (2 pairs).
        QTest::newRow("a split entity")
            << L{0, 0, 0, 0, 1} << L{0, 0, 1, 1, -1} << 6ll << 2ll << 2ll << 1.0 << 1.0 / 3 << 0.5;
        QTest::newRow("a true pair not found")
            << L{0, 0} << L{-1, -1} << 1ll << 0ll << 0ll << 1.0 << 0.0 << 0.0;
        QTest::newRow("only a wrong pair")
            << L{0, 1, 0} << L{0, 0, -1} << 1ll << 1ll << 0ll << 0.0 << 0.0 << 0.0;
        // Group 1 holds rows of customers 0 and 1: one of its three pairs is right.
        QTest::newRow("merged and split at once") << L{0, 0, 0, 1, 1, 2} << L{0, 0, 1, 1, 1, -1}
                                                  << 4ll << 4ll << 2ll << 0.5 << 0.5 << 0.5;
        QTest::newRow("group numbers missing for the last row")
            << L{0, 0, 0} << L{0, 0} << 3ll << 1ll << 1ll << 1.0 << 1.0 / 3 << 0.5;
    }

    void pairScores() {
        QFETCH(QList<int>, entity);
        QFETCH(QList<int>, groups);
        const gen::PairScores s = gen::pairScores(vectorOf(entity), vectorOf(groups));
        QTEST(s.truePairs, "truePairs");
        QTEST(s.foundPairs, "foundPairs");
        QTEST(s.correctPairs, "correctPairs");
        QFETCH(double, precision);
        QFETCH(double, recall);
        QFETCH(double, f1);
        QVERIFY2(std::abs(s.precision - precision) < 1e-12,
                 qPrintable(QString::number(s.precision)));
        QVERIFY2(std::abs(s.recall - recall) < 1e-12, qPrintable(QString::number(s.recall)));
        QVERIFY2(std::abs(s.f1 - f1) < 1e-12, qPrintable(QString::number(s.f1)));
    }

    void listsAsPlanned_data() {
        QTest::addColumn<bool>("latin");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("chinese") << false << QStringList{"姓名",     "电话",     "地址",
                                                         "身份证号", "单位名称", "邮编"};
        QTest::newRow("latin") << true << QStringList{"name", "address", "city", "birth_date"};
    }

    // The same options give the same rows; the rows hold the planned customers and entries.
    void listsAsPlanned() {
        QFETCH(bool, latin);
        const int customers = 2000;
        const gen::LabelledTable a = make(latin, customers, 9), b = make(latin, customers, 9),
                                 c = make(latin, customers, 10);
        QCOMPARE(a.rows, b.rows);
        QCOMPARE(a.entity, b.entity);
        QCOMPARE(a.change, b.change);
        QVERIFY(a.rows != c.rows);
        QTEST(a.fields, "fields");

        const int n = int(a.rows.size());
        QCOMPARE(int(a.entity.size()), n);
        QCOMPARE(int(a.copyOf.size()), n);
        std::map<int, int> entries; // per customer
        for (int i = 0; i < n; ++i) {
            QCOMPARE(a.rows[size_t(i)].size(), a.fields.size());
            ++entries[a.entity[size_t(i)]];
            const int first = a.copyOf[size_t(i)];
            if (first < 0) {
                QVERIFY(a.change[size_t(i)].isEmpty());
                continue;
            }
            // A further entry points at its customer's first entry and differs from it.
            QCOMPARE(a.entity[size_t(first)], a.entity[size_t(i)]);
            QCOMPARE(a.copyOf[size_t(first)], -1);
            QVERIFY(!a.change[size_t(i)].isEmpty());
            QVERIFY(a.rows[size_t(i)] != a.rows[size_t(first)]);
            QVERIFY(!a.rows[size_t(i)].at(0).isEmpty()); // the name is never left out
        }
        QCOMPARE(int(entries.size()), customers);
        QCOMPARE(entries.begin()->first, 0);
        QCOMPARE(entries.rbegin()->first, customers - 1);
        int reentered = 0, sum = 0;
        for (const auto& [customer, count] : entries) {
            QVERIFY2(count >= 1 && count <= 4, qPrintable(QString::number(count)));
            reentered += count > 1;
            sum += count;
        }
        QCOMPARE(sum, n);
        QCOMPARE(a.nearCopies, n - customers);
        QCOMPARE(reentered, int(std::lround(customers * gen::LabelledOptions().reentryShare)));
        int lookalikes = 0;
        QCOMPARE(int(a.lookalikeOf.size()), customers);
        for (int k = 0; k < customers; ++k) {
            const int source = a.lookalikeOf[size_t(k)];
            QCOMPARE(source < 0, a.lookalikeKind[size_t(k)].isEmpty());
            if (source < 0) continue;
            ++lookalikes;
            QVERIFY(source != k && source < customers);
            QCOMPARE(a.lookalikeOf[size_t(source)], -1);
        }
        QCOMPARE(lookalikes, int(std::lround(customers * gen::LabelledOptions().lookalikeShare)));
        // No two entries of a customer side by side: lists where every customer has several,
        // on which a plain shuffle leaves one or two such neighbours each.
        for (quint32 seed = 1; seed <= 10; ++seed) {
            const gen::LabelledTable t = make(latin, 100, seed, 1.0);
            for (size_t i = 1; i < t.entity.size(); ++i)
                QVERIFY2(t.entity[i] != t.entity[i - 1], qPrintable(QString::number(seed)));
        }
        // bench_gen sizes its lists by rows: the rows of this list lead back to its customers.
        QCOMPARE(gen::customersForRows(n, gen::LabelledOptions().reentryShare), customers);
    }
};

CHACHONG_TEST_MAIN(TestLabelled)
#include "tst_labelled.moc"
