// Column widths in the settings store: application "GridColWidth", one section per database path
// (never split into groups by its separators or "="), one key per column heading, the last width
// winning; nothing at all while the grid's database is unknown.
#include "core/appstate.h"
#include "tests/support/testsupport.h"
#include "ui/gridwidths.h"

#include <QSettings>

using ui::GridSection;

class TestGridWidths : public QObject {
    Q_OBJECT
    core::AppState st;

    // An entry as anyone reads it from the store.
    static QString stored(const QString& group, const QString& key) {
        QSettings s(QStringLiteral("GridColWidth"));
        s.beginGroup(group);
        return s.value(key).toString();
    }

private slots:
    void init() {
        QSettings(QStringLiteral("GridColWidth")).clear();
        st = core::AppState{};
    }

    void nothingWrittenWithoutASource() {
        QVERIFY(!ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("姓名"), 120));
        QVERIFY(st.SourceGridSection.isEmpty());
        QVERIFY(QSettings(QStringLiteral("GridColWidth")).allKeys().isEmpty());
    }

    void sectionIsTheWholePath() {
        st.SourcePath = QStringLiteral("/home/用户/数据=2024/客户.dbf");
        QVERIFY(ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("姓名"), 150));
        QCOMPARE(st.SourceGridSection, st.SourcePath);
        QSettings s(QStringLiteral("GridColWidth"));
        QCOMPARE(s.childGroups(), QStringList{"%2Fhome%2F用户%2F数据%3D2024%2F客户.dbf"});
        QCOMPARE(stored("%2Fhome%2F用户%2F数据%3D2024%2F客户.dbf", "姓名"), QString("150"));

        // A path as the user's other platform writes it, and a heading with a slash.
        st.SourcePath = QStringLiteral("C:\\客户\\a%b.xls");
        QVERIFY(ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("电话/传真"), 88));
        QCOMPARE(stored("C:%5C客户%5Ca%25b.xls", "电话%2F传真"), QString("88"));
        QCOMPARE(QSettings(QStringLiteral("GridColWidth")).allKeys().size(), 2);
    }

    void widthsKeptPerDatabaseLastOneWins() {
        st.SourcePath = QStringLiteral("/data/一.dbf");
        QVERIFY(ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("地址"), 200));
        st.SourcePath = QStringLiteral("/data/二.dbf");
        QVERIFY(ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("地址"), 90));
        QVERIFY(ui::saveColumnWidth(st, GridSection::Source, QStringLiteral("地址"), 310));
        QCOMPARE(stored("%2Fdata%2F一.dbf", "地址"), QString("200"));
        QCOMPARE(stored("%2Fdata%2F二.dbf", "地址"), QString("310"));
        QCOMPARE(QSettings(QStringLiteral("GridColWidth")).allKeys().size(), 2);
    }

    void duplicateGridUsesTheWorkingDatabase() {
        st.SourcePath = QStringLiteral("/data/客户.dbf");
        QVERIFY(!ui::saveColumnWidth(st, GridSection::Work, QStringLiteral("No"), 40));
        QVERIFY(QSettings(QStringLiteral("GridColWidth")).allKeys().isEmpty());
        st.WorkDbPath = QStringLiteral("/opt/chachong/MorlayBankCC.mdb");
        QVERIFY(ui::saveColumnWidth(st, GridSection::Work, QStringLiteral("No"), 40));
        QCOMPARE(st.WorkGridSection, st.WorkDbPath);
        QVERIFY(st.SourceGridSection.isEmpty());
        QCOMPARE(stored("%2Fopt%2Fchachong%2FMorlayBankCC.mdb", "No"), QString("40"));
    }
};

CHACHONG_TEST_MAIN(TestGridWidths)
#include "tst_gridwidths.moc"
