// The fuzzy check engine without any window, compared with a plain and slow reading of its rules
// (tests/fuzzy/fuzzy_reference.py: every candidate query a scan of the whole table, every filter
// a scan of the candidates): the duplicate table row by row, yb_table, the scratch tables and the
// group count, on generated Chinese client lists, on hand-made edge cases and on real files.
#include "bench/gen/clientgen.h"
#include "check/engine/checkjob.h"
#include "check/engine/exactcheck.h"
#include "core/workdb.h"
#include "db/sqltext.h"
#include "fuzzy/engine/fuzzycheck.h"
#include "import/engine/importrows.h"
#include "import/engine/sources.h"
#include "tests/support/checkfixture.h"
#include "tests/support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using testsupport::tableRows;

namespace {

struct Sink : core::ProgressSink {
    int stopAt = -1, calls = 0, groupsSeen = 0;
    bool progress(int, int) override { return stopAt < 0 || ++calls < stopAt; }
    void groups(int count) override { groupsSeen = count; }
};

QJsonValue cell(QStringView v) {
    return v.isNull() ? QJsonValue() : QJsonValue(v.toString());
}

QJsonArray rowsOf(const db::Recordset& rs) {
    QJsonArray rows;
    for (int r = 0; r < rs.recordCount(); ++r) {
        QJsonArray row;
        for (int c = 0; c < rs.fieldCount(); ++c)
            row.append(cell(rs.viewAt(r, c)));
        rows.append(row);
    }
    return rows;
}

QList<QStringList> listOf(const QJsonValue& v) {
    QList<QStringList> out;
    for (const QJsonValue& row : v.toArray()) {
        QStringList r;
        for (const QJsonValue& x : row.toArray())
            r << (x.isNull() ? QString() : x.toString());
        out << r;
    }
    return out;
}

// The first place two lists of rows differ, for the failure message.
QString firstDifference(const QList<QStringList>& got, const QList<QStringList>& want) {
    for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
        if (got[i] != want[i])
            return QStringLiteral("row %1: %2 | expected %3")
                .arg(i)
                .arg(got[i].join(QLatin1Char('|')), want[i].join(QLatin1Char('|')));
    return QStringLiteral("%1 rows, expected %2").arg(got.size()).arg(want.size());
}

} // namespace

class TestFuzzyCheck : public QObject {
    Q_OBJECT
    testsupport::CheckFixture f;
    QTemporaryDir tmp_;
    core::AppState& st = core::appState();

    // The expectation: the reference reading the check table as the database layer gives it;
    // *records gets the bookmark of each of its rows.
    QJsonObject expected(const core::RunOptions& o, std::vector<db::Bookmark>* records) {
        db::Recordset check;
        if (!check.open(st.RsSource->source(), st.RsSource->connection())) return {};
        records->clear();
        for (int r = 0; r < check.recordCount(); ++r)
            records->push_back(check.bookmarkAt(r));
        QJsonObject in;
        in["check"] = rowsOf(check);
        in["key"] = check.fieldIndex(o.fields[0]);
        QJsonArray further;
        for (int k = 1; k < o.fields.size(); ++k)
            further.append(check.fieldIndex(o.fields[k]));
        in["further"] = further;
        const bool postcode = o.postcode == core::PostcodeMode::Field;
        in["postcode"] = postcode ? check.fieldIndex(o.postcodeField) : -1;
        in["digits"] = o.postcodeDigits;
        in["seedColumns"] =
            std::min(check.fieldCount(), int(st.WorkConn.columnNames("ClienttableCC").size()) - 2);
        in["start"] = o.start;
        in["end"] = o.end;
        const QString input = tmp_.filePath("reference.json");
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly)) return {};
        file.write(QJsonDocument(in).toJson(QJsonDocument::Compact));
        file.close();
        bool ok = false;
        QByteArray err;
        const QByteArray out = testsupport::runPython(
            QStringLiteral(CHACHONG_SOURCE_DIR "/tests/fuzzy/fuzzy_reference.py"), {input}, &ok,
            &err);
        if (!ok) qWarning() << err;
        return QJsonDocument::fromJson(out).object();
    }

    core::RunOptions options(const QStringList& fields, const QString& postcode = {},
                             int digits = 0, int start = 1, int end = -1) {
        core::setCheckFields(st, fields);
        st.PostcodeField = postcode;
        core::setPostcodeMode(st, postcode.isEmpty() ? core::PostcodeMode::Off
                                                     : core::PostcodeMode::Field);
        st.PostcodeDigits = qint16(digits);
        if (!core::prepareCheck(st, core::CheckMode::Fuzzy).ok()) return {};
        return core::runOptionsOf(st, start, end < 0 ? st.RsSource->recordCount() : end);
    }

    // Runs the engine and compares everything it leaves with the reference.
    void compare(const core::RunOptions& o, int atLeastGroups = 1) {
        std::vector<db::Bookmark> records;
        const QJsonObject want = expected(o, &records);
        QVERIFY2(!want.isEmpty(), "the reference gave no answer");
        Sink sink;
        check::CheckJob job(st, o);
        const core::RunResult r = job.scan(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(job.backupDuplicates().error, QString());
        QVERIFY2(r.failedRecords == 0, qPrintable(r.firstFailure));
        const QList<QStringList> cc = tableRows(st.WorkConn, "ClienttableCC");
        const QList<QStringList> wantCc = listOf(want["cc"]);
        QVERIFY2(cc == wantCc, qPrintable(firstDifference(cc, wantCc)));
        QCOMPARE(r.groups, want["groups"].toInt());
        QCOMPARE(sink.groupsSeen, r.groups);
        QVERIFY2(r.groups >= atLeastGroups,
                 qPrintable(QStringLiteral("%1 groups on %2 records (key %3)")
                                .arg(r.groups)
                                .arg(st.RsSource->recordCount())
                                .arg(o.fields.join(","))));
        QCOMPARE(r.duplicateRows, cc.size());
        // Each duplicate row knows the record it was copied from.
        std::vector<db::Bookmark> wantFrom;
        for (const QJsonValue& v : want["copiedFrom"].toArray())
            wantFrom.push_back(records[size_t(v.toInt())]);
        QVERIFY(r.copiedFrom == wantFrom);
        const QList<QStringList> yb = tableRows(st.WorkConn, "yb_table");
        QVERIFY2(yb == listOf(want["yb"]), qPrintable(firstDifference(yb, listOf(want["yb"]))));
        for (const char* t : {"temp1", "temp2"}) {
            if (want[t].isNull()) continue; // no pass reached the scratch tables
            const QString name = t == QByteArray("temp1") ? "tempTable1" : "tempTable2";
            const QList<QStringList> rows = tableRows(st.WorkConn, name);
            QVERIFY2(rows == listOf(want[t]),
                     qPrintable(name + ": " + firstDifference(rows, listOf(want[t]))));
        }
        // The backup of the duplicates was taken at the end of the run.
        QCOMPARE(tableRows(st.WorkConn, "ClienttableDD"), cc);
    }

    // A generated Chinese client list as a dBase table of the user's, opened as "打开DBF数据"
    // (written afresh: a check before may have separated records from it).
    void openGenerated(int rows, quint32 seed) {
        gen::Options o;
        o.rows = rows;
        o.seed = seed;
        const QString dir = tmp_.filePath(QStringLiteral("gen%1").arg(seed));
        QDir().mkpath(dir);
        const QString file = dir + "/客户.dbf";
        QFile::remove(file);
        QString error;
        QVERIFY2(gen::writeDbf(gen::generate(o), file, &error), qPrintable(error));
        core::resetAppState();
        QVERIFY(st.WorkConn.open(db::accessConnectionString(testsupport::copyWorkDb(dir))));
        st.AppDir = dir;
        const sources::OpenResult r = sources::openDbf(st, file, "客户.dbf");
        QVERIFY2(r.ok(), qPrintable(r.error));
    }

private slots:
    void fragmentModeOnAGeneratedList_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("address") << QStringList{"地址"};
        QTest::newRow("company") << QStringList{"公司"};
        QTest::newRow("name and sex") << QStringList{"姓名", "性别"};
        QTest::newRow("company, city, phone") << QStringList{"公司", "城市", "电话"};
    }
    void fragmentModeOnAGeneratedList() {
        QFETCH(QStringList, fields);
        openGenerated(1200, 11);
        compare(options(fields));
    }

    void postcodeModeOnAGeneratedList_data() {
        QTest::addColumn<int>("digits");
        QTest::newRow("1 digit") << 1;
        QTest::newRow("3 digits") << 3;
        QTest::newRow("6 digits") << 6;
    }
    void postcodeModeOnAGeneratedList() {
        QFETCH(int, digits);
        openGenerated(1200, 12);
        compare(options({"地址"}, "邮编", digits));
    }

    void aRangeOfRecords() {
        openGenerated(1200, 11);
        compare(options({"姓名"}, {}, 0, 300, 800));
    }

    void edgeCasesOfTheRules() {
        // Division characters, one-character keys, empty and null keys, values that look like
        // patterns or quotes, letters in both cases, characters beyond the basic plane.
        const QString wide = QString::fromUcs4(U"\U00020BB7");
        QVERIFY(f.loadTable({"名称", "地址", "备注"}, {{"北京市朝阳区", "a", "1"},
                                                       {"北京朝阳", "a", "2"},
                                                       {"北京市朝阳区建国路", "a", "3"},
                                                       {"河北省沧州市", "b", "4"},
                                                       {"河北沧州", "b", "5"},
                                                       {"市", "c", "6"},
                                                       {"市", "c", "7"},
                                                       {"张", "d", "8"},
                                                       {"张三", "d", "9"},
                                                       {"", "e", "10"},
                                                       {QString(), "e", "11"},
                                                       {"  ", "e", "12"},
                                                       {"O'Brien & Co", "f", "13"},
                                                       {"o'brien & co", "f", "14"},
                                                       {"100% 纯", "g", "15"},
                                                       {"100% 纯_[x]", "g", "16"},
                                                       {"[x]_%", "g", "17"},
                                                       {"AbC公司", "h", "18"},
                                                       {"abc公司", "h", "19"},
                                                       {wide + "吉", "i", "20"},
                                                       {wide + "吉利", "i", "21"},
                                                       {"县区", "j", "22"},
                                                       {"县区市省", "j", "23"},
                                                       {" 北京朝阳 ", "k", "24"}}));
        compare(options({"名称"}));
        QVERIFY(f.loadTable({"名称", "地址"}, {{"北京市朝阳区", "x"},
                                               {"北京朝阳", "x"},
                                               {"北京朝阳", "y"},
                                               {"北京朝阳", ""},
                                               {"北京朝阳", ""},
                                               {"北京朝阳", "X"},
                                               {"市", "z"},
                                               {"市", "z"},
                                               {"市", "Z"}}));
        compare(options({"名称", "地址"}));
    }

    void segmentsOverflowAndReuse() {
        // 210 distinct prefixes of three digits, each met twice, the later ones after the first
        // 200 segments are taken; blank-led and short postcodes (a blank-led one found as the
        // candidate of an earlier record too); prefixes that differ in letter case only; records
        // of segments 23 and 24 that come back after their filter was set.
        QList<QStringList> rows;
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < 210; ++i)
                rows << QStringList{QStringLiteral("客户%1号").arg(i % 37),
                                    QStringLiteral("%1").arg(i, 3, 10, QChar('0')) +
                                        QString::number(round)};
        rows << QStringList{"宏远公司", "  100200"} << QStringList{"宏远公司", "100200"}
             << QStringList{"宏远商店", "300400"} << QStringList{"宏远商店", " 300401"}
             << QStringList{"宏远公司", "ab1"} << QStringList{"宏远贸易", "AB1x"}
             << QStringList{"宏远贸易", "AB1y"} << QStringList{"宏远贸易", "12"}
             << QStringList{"宏远商行", QString()} << QStringList{"宏远商行", ""}
             << QStringList{"客户22号", "022"} << QStringList{"客户23号", "0231"};
        QVERIFY(f.loadTable({"名称", "邮编"}, rows));
        compare(options({"名称"}, "邮编", 3));
        QCOMPARE(testsupport::rowsOf(st.WorkConn, "yb_table"), 200);
    }

    void postcodeSegmentsOfAnyText_data() {
        QTest::addColumn<int>("segment");
        QTest::addColumn<QString>("code"); // the first five characters of the three postcodes
        for (int n : {1, 21, 22, 23, 24})
            QTest::newRow(qPrintable(QStringLiteral("segment %1").arg(n))) << n << "10000";
        // Characters beyond the basic plane: six of them fit the segment table's six.
        QTest::newRow("wide characters")
            << 2 << QString::fromUcs4(U"\U00020BB7\U00020BB7\U00020BB7\U00020BB7\U00020BB7");
    }
    void postcodeSegmentsOfAnyText() {
        // A postcode stored with a blank before it is in its segment, and the filter one pass
        // leaves on a segment's candidates hides none of them from the next pass, whatever the
        // segment's number.
        QFETCH(int, segment);
        QFETCH(QString, code);
        QList<QStringList> rows;
        for (int i = 1; i < segment; ++i)
            rows << QStringList{QStringLiteral("客户%1").arg(i),
                                QStringLiteral("%1").arg(200 + i) + "001"};
        rows << QStringList{"甲公司", " " + code + "1"} << QStringList{"宏远公司", code + "2"}
             << QStringList{"宏远公司", code + "3"} << QStringList{"甲公司", code + "9"};
        QVERIFY(f.loadTable({"名称", "邮编"}, rows));
        compare(options({"名称"}, "邮编", 3));
        QCOMPARE(tableRows(st.WorkConn, "ClienttableCC"),
                 QList<QStringList>({{"1", "甲公司", code + "1", "1"},
                                     {"", "甲公司", code + "9", "2"},
                                     {"2", "宏远公司", code + "2", "3"},
                                     {"", "宏远公司", code + "3", "4"}}));
        QCOMPARE(tableRows(st.WorkConn, "yb_table").value(segment - 1),
                 QStringList({QString::number(segment), code + "1"}));
    }

    void gbkDbaseSample() {
        const QString dir = tmp_.filePath("gbk");
        QDir().mkpath(dir);
        const QString file = testsupport::copyInto(testsupport::sample("dbf/javadbf/gbk.dbf"), dir);
        core::resetAppState();
        QVERIFY(st.WorkConn.open(db::accessConnectionString(testsupport::copyWorkDb(dir))));
        QVERIFY(sources::openDbf(st, file, "gbk.dbf").ok());
        compare(options({"设计编号"}));
        QVERIFY(sources::openDbf(st, file, "gbk.dbf").ok());
        compare(options({"审核信息"}));
    }

    void importedExcelSheet() {
        // The check table is the imported copy, and its rows are the candidates.
        const QString file =
            testsupport::copyInto(testsupport::sample("xls/poi/19599-2.xls"), tmp_.path());
        core::resetAppState();
        QVERIFY(st.WorkConn.open(db::accessConnectionString(testsupport::copyWorkDb(tmp_.path()))));
        auto import = [&](const QString& sheet) {
            QVERIFY(sources::connectExcel(st, file, "19599-2.xls").ok());
            QVERIFY(sources::openChosenTable(st, sheet).ok());
            Sink quiet;
            sources::ImportResult imported = sources::importRows(st, quiet);
            QVERIFY(sources::reopenImported(st, imported));
        };
        // 汇总: item names indented with blanks in the sheet, trimmed in the imported copy;
        // none holds every pair of another. The units are
        // one-character keys.
        import("汇总");
        compare(options({"F2"}), 0);
        if (QTest::currentTestFailed()) return;
        compare(options({"F3"}));
        if (QTest::currentTestFailed()) return;
        // 订阅上行列表: the unit "次" on most rows, a one-character key.
        import("订阅上行列表");
        compare(options({"F3"}));
    }

    void stoppedRunKeepsWhatItFound() {
        openGenerated(1200, 11);
        const core::RunOptions o = options({"地址"});
        Sink sink;
        sink.stopAt = 600;
        const core::RunResult r = check::CheckJob(st, o).runAll(sink);
        QVERIFY(r.cancelled);
        QVERIFY(r.groups > 0);
        const QList<QStringList> cc = tableRows(st.WorkConn, "ClienttableCC");
        QCOMPARE(cc.size(), r.duplicateRows);
        QCOMPARE(tableRows(st.WorkConn, "ClienttableDD"), cc);
        QCOMPARE(st.RsSource->recordCount(), 1200); // nothing separated
    }

    void separationRemovesExactlyTheCopiedRecords_data() {
        QTest::addColumn<bool>("fuzzy");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("digits");
        QTest::newRow("exact, name and address") << false << QStringList{"姓名", "地址"} << 0;
        QTest::newRow("exact, company") << false << QStringList{"公司"} << 0;
        QTest::newRow("fuzzy, address") << true << QStringList{"地址"} << 0;
        QTest::newRow("fuzzy, name and sex") << true << QStringList{"姓名", "性别"} << 0;
        QTest::newRow("fuzzy, name by postcode") << true << QStringList{"姓名"} << 3;
    }
    void separationRemovesExactlyTheCopiedRecords() {
        // A generated list where some records carry blanks before their address and postcode:
        // the records left and the records in ClienttableCC are the records the table had.
        QFETCH(bool, fuzzy);
        QFETCH(QStringList, fields);
        QFETCH(int, digits);
        openGenerated(2000, 21);
        db::Recordset& src = *st.RsSource;
        const int address = src.fieldIndex("地址"), postcode = src.fieldIndex("邮编");
        for (int i = 0; i < src.recordCount(); i += 37) {
            QVERIFY(src.setAbsolutePosition(i + 1));
            src.setValue(address, "  " + src.text(address));
            src.setValue(postcode, " " + src.text(postcode));
            QVERIFY2(src.update(), qPrintable(src.errorString()));
        }
        const auto contentAt = [](const db::Recordset& rs, int row, int from, int columns) {
            QStringList values;
            for (int c = from; c < from + columns; ++c)
                values << testsupport::blankTrimmed(rs.viewAt(row, c).toString());
            return values;
        };
        QHash<db::Bookmark, QStringList> before;
        const int columns = src.fieldCount();
        for (int i = 0; i < src.recordCount(); ++i)
            before.insert(src.bookmarkAt(i), contentAt(src, i, 0, columns));

        core::RunOptions o = options(fields, digits > 0 ? "邮编" : QString(), digits);
        Sink sink;
        if (!fuzzy) o.mode = core::CheckMode::Exact;
        const core::RunResult r = check::CheckJob(st, o).runAll(sink);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QVERIFY(r.groups > 0);

        // Every duplicate row is its record as the table had it; the records separated are those
        // copied, each once; the others are still there, on the file too.
        db::Recordset dup;
        QVERIFY(dup.open("Select * From ClienttableCC", st.WorkConn));
        QCOMPARE(size_t(dup.recordCount()), r.copiedFrom.size());
        QSet<db::Bookmark> copied;
        for (int i = 0; i < dup.recordCount(); ++i) {
            const db::Bookmark from = r.copiedFrom[size_t(i)];
            QVERIFY(before.contains(from));
            QCOMPARE(contentAt(dup, i, 1, columns), before[from]);
            copied.insert(from);
        }
        db::Recordset left;
        QVERIFY(left.open(st.RsSource->source(), st.RsSource->connection()));
        QCOMPARE(r.separated, copied.size());
        QCOMPARE(left.recordCount(), before.size() - copied.size());
        for (int i = 0; i < left.recordCount(); ++i) {
            QVERIFY(!copied.contains(left.bookmarkAt(i)));
            QCOMPARE(contentAt(left, i, 0, columns), before[left.bookmarkAt(i)]);
        }
        if (!fuzzy) {
            // The exact check's groups are classes of records: each record is copied once, so the
            // contents alone add up, whatever the engine says it copied.
            QMap<QStringList, int> count;
            for (const QStringList& v : before)
                ++count[v];
            for (int i = 0; i < dup.recordCount(); ++i)
                --count[contentAt(dup, i, 1, columns)];
            for (int i = 0; i < left.recordCount(); ++i)
                --count[contentAt(left, i, 0, columns)];
            for (auto it = count.cbegin(); it != count.cend(); ++it)
                QVERIFY2(it.value() == 0, qPrintable(it.key().join('|')));
        }
        QVERIFY(r.backupPath.contains("查重备份"));
    }
};

CHACHONG_TEST_MAIN(TestFuzzyCheck)
#include "tst_fuzzycheck.moc"
