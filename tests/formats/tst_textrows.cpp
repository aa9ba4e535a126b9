// The compact cell table of whole-table readers and recordsets against a plain list of the same
// values: nulls and empty values apart, rows over the short form's 32,767 characters, rows whose
// texts do not stand together, rows replaced and removed, and rows moved from a second table.
#include "db/formats/textcell.h"

#include <QRandomGenerator>
#include <QTest>

#include <optional>

using formats::TextCell;
using formats::TextRows;

namespace {

using Row = std::vector<std::optional<std::u16string>>;

class Model {
public:
    explicit Model(int columns) : rows(columns) {}
    TextRows rows;
    std::vector<char16_t> text;
    std::vector<Row> expected;

    // Appends the values' texts one after another, as a reader does, or scattered (other texts
    // between them), as an edited row has them.
    std::vector<TextCell> place(const Row& values, bool scattered) {
        std::vector<TextCell> cells;
        for (const auto& v : values) {
            if (scattered) text.insert(text.end(), {u'#', u'#'});
            if (!v) {
                cells.push_back({});
                continue;
            }
            cells.push_back({uint32_t(text.size()), int32_t(v->size())});
            text.insert(text.end(), v->begin(), v->end());
        }
        return cells;
    }
    void append(const Row& values, bool scattered) {
        rows.append(place(values, scattered).data(), text);
        expected.push_back(values);
    }
    void replace(size_t row, const Row& values, bool scattered) {
        rows.replace(row, place(values, scattered).data(), text);
        expected[row] = values;
    }
    void check(const char* step) const {
        QCOMPARE(rows.size(), expected.size());
        for (size_t r = 0; r < expected.size(); ++r)
            for (int c = 0; c < rows.columns(); ++c) {
                const TextCell cell = rows.cell(r, c);
                const auto& want = expected[r][size_t(c)];
                const QByteArray where = QByteArray(step) + " row " +
                                         QByteArray::number(qint64(r)) + " column " +
                                         QByteArray::number(c);
                QVERIFY2((cell.length < 0) == !want.has_value(), where.constData());
                if (!want) continue;
                QVERIFY2(std::u16string(text.data() + cell.offset, size_t(cell.length)) == *want,
                         where.constData());
            }
    }
};

Row randomRow(QRandomGenerator& random, int columns, int longColumn = -1) {
    Row row;
    for (int c = 0; c < columns; ++c) {
        const quint32 kind = random.bounded(5);
        if (kind == 0) {
            row.emplace_back();
            continue;
        }
        const int length = c == longColumn ? 20000 : kind == 1 ? 0 : int(random.bounded(30));
        std::u16string v;
        for (int i = 0; i < length; ++i)
            v += char16_t(0x4E00 + random.bounded(200));
        row.emplace_back(v);
    }
    return row;
}

} // namespace

class TestTextRows : public QObject {
    Q_OBJECT

private slots:
    void agreesWithPlainCells() {
        QRandomGenerator random(8122026);
        for (const int columns : {1, 3, 11}) {
            Model m(columns);
            for (int i = 0; i < 2000; ++i)
                m.append(randomRow(random, columns, i % 97 == 5 ? i % columns : -1),
                         random.bounded(4) == 0);
            m.check("appended");
            // Two 20,000-character values: over the short form, kept whole.
            Row wide = randomRow(random, columns, 0);
            if (columns > 1) wide[1] = std::u16string(20000, u'长');
            m.append(wide, false);
            for (int i = 0; i < 300; ++i) {
                const size_t row = random.bounded(quint32(m.expected.size()));
                m.replace(row, randomRow(random, columns, i % 50 == 0 ? 0 : -1),
                          random.bounded(2) == 0);
            }
            m.check("replaced");
            // A row taken back after it was added, a long one included.
            m.append(wide, true);
            m.rows.removeLast();
            m.expected.pop_back();
            m.append(randomRow(random, columns), false);
            m.check("removed");
        }
    }

    void rowsMovedFromAnotherTable() {
        QRandomGenerator random(20261208);
        Model first(4), second(4);
        for (int i = 0; i < 500; ++i) {
            first.append(randomRow(random, 4), false);
            second.append(randomRow(random, 4, i == 250 ? 2 : -1), i % 7 == 0);
        }
        const uint32_t base = uint32_t(first.text.size());
        first.text.insert(first.text.end(), second.text.begin(), second.text.end());
        first.rows.appendMoved(second.rows, base);
        first.expected.insert(first.expected.end(), second.expected.begin(), second.expected.end());
        first.check("moved");
    }
};

QTEST_GUILESS_MAIN(TestTextRows)
#include "tst_textrows.moc"
