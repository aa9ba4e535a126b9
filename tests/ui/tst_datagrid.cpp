// The data grid and its recordset model: lazy fetching, keeping in step with the recordset's
// changes (checked by QAbstractItemModelTester), edits written through or kept pending, the
// current row in both directions, hidden columns and resize notifications.
#include "db/recordset.h"
#include "db/sqltext.h"
#include "tests/support/testsupport.h"
#include "ui/datagrid.h"
#include "ui/recordsetmodel.h"
#include "ui/scripteddialogs.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>

#include <sqlite3.h>

namespace {

using testsupport::exec;

// A table 客户 of n rows: 编号 = row number, 名称 = "客户<n>", 备注 NULL on every third row.
bool makeClients(const db::Connection& c, int n) {
    return exec(c, QStringLiteral("CREATE TABLE 客户 ([编号] VARCHAR(10), [名称] VARCHAR(20), "
                                  "[备注] VARCHAR(20))")) &&
           exec(c, QStringLiteral("WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM r "
                                  "WHERE i < %1) INSERT INTO 客户 SELECT i, '客户' || i, "
                                  "CASE WHEN i % 3 = 0 THEN NULL ELSE 'x' || i END FROM r")
                       .arg(n));
}

QString cell(const QAbstractItemModel& m, int row, int column) {
    return m.data(m.index(row, column)).toString();
}

} // namespace

class TestDataGrid : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    db::Connection conn_;

    db::RecordsetPtr openClients(db::LockType lock = db::LockType::Pessimistic) {
        auto rs = std::make_shared<db::Recordset>();
        rs->setCursorLocation(db::CursorLocation::Client);
        if (!rs->open(db::sql::selectAll(QStringLiteral("客户")), conn_, db::CursorType::Keyset,
                      lock))
            qWarning() << rs->errorString();
        return rs;
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        const QString path = dir_.filePath(QStringLiteral("grid.mdb"));
        QFile::remove(path);
        QVERIFY(QFile::copy(testsupport::programDir() + QStringLiteral("/MorlayBankCC.mdb"), path));
        QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        conn_ = db::Connection();
        QVERIFY2(conn_.open(db::accessConnectionString(path)), qPrintable(conn_.errorString()));
    }

    void cleanup() { conn_.close(); }

    void fetchesInChunks() {
        QVERIFY(makeClients(conn_, 2500));
        auto rs = openClients();
        QCOMPARE(rs->recordCount(), 2500);
        ui::RecordsetModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecordset(rs);
        QCOMPARE(model.rowCount(), ui::RecordsetModel::fetchChunk);
        QCOMPARE(model.columnCount(), 3);
        QVERIFY(model.canFetchMore({}));
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 2000);
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 2500);
        QVERIFY(!model.canFetchMore({}));
        QCOMPARE(cell(model, 2499, 1), QStringLiteral("客户2500"));
        model.fetchMore({}); // nothing more: no change
        QCOMPARE(model.rowCount(), 2500);
    }

    void headersAndValues() {
        QVERIFY(makeClients(conn_, 5));
        ui::RecordsetModel model;
        model.setRecordset(openClients());
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("编号"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("备注"));
        QCOMPARE(model.headerData(4, Qt::Vertical).toInt(), 5);
        QCOMPARE(cell(model, 0, 1), QStringLiteral("客户1"));
        // A null value shows as empty text, with an editable type.
        const QVariant nullCell = model.data(model.index(2, 2), Qt::EditRole);
        QCOMPARE(nullCell.typeId(), QMetaType::QString);
        QVERIFY(nullCell.toString().isEmpty());
        QVERIFY(!model.data(model.index(0, 3)).isValid()); // out of range
        QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
        model.setReadOnly(true);
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
    }

    void emptyAndClosedSources() {
        ui::RecordsetModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecordset(nullptr);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 0);
        auto empty = std::make_shared<db::Recordset>();
        QVERIFY(empty->open(db::sql::selectAll(QStringLiteral("empty_table")), conn_));
        model.setRecordset(empty);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 1);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("字段"));
        QVERIFY(!model.canFetchMore({}));
        // Closing the recordset under the model empties the grid.
        empty->close();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 0);
    }

    void followsRowsAddedAndDeleted() {
        QVERIFY(makeClients(conn_, 10));
        auto rs = openClients();
        ui::RecordsetModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecordset(rs);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

        QVERIFY(rs->addNew());
        QVERIFY(rs->setValue(1, QStringLiteral("新客户")));
        QVERIFY2(rs->update(), qPrintable(rs->errorString()));
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(model.rowCount(), 11);
        QCOMPARE(cell(model, 10, 1), QStringLiteral("新客户"));

        // Deleting a row in the middle: the tester checks the neighbours stay as they were.
        QVERIFY(rs->setAbsolutePosition(4));
        QVERIFY(rs->deleteCurrent());
        QCOMPARE(removed.size(), 1);
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(cell(model, 3, 1), QStringLiteral("客户5"));
        QCOMPARE(cell(model, 2, 1), QStringLiteral("客户3"));

        // The first and the last row.
        QVERIFY(rs->moveFirst());
        QVERIFY(rs->deleteCurrent());
        QVERIFY(rs->moveLast());
        QVERIFY(rs->deleteCurrent());
        QCOMPARE(model.rowCount(), 8);
        QCOMPARE(cell(model, 0, 1), QStringLiteral("客户2"));
        QCOMPARE(cell(model, 7, 1), QStringLiteral("客户10"));
    }

    void rowsBeyondTheFetchedPartArriveByFetching() {
        QVERIFY(makeClients(conn_, 1500));
        auto rs = openClients();
        // No model tester here: it fetches on every signal, and this is about what has not
        // been fetched yet.
        ui::RecordsetModel model;
        model.setRecordset(rs);
        QCOMPARE(model.rowCount(), 1000);
        // A row added at the end while only the first chunk is shown.
        QVERIFY(rs->addNew());
        QVERIFY(rs->setValue(1, QStringLiteral("末尾")));
        QVERIFY(rs->update());
        QCOMPARE(model.rowCount(), 1000);
        // A row deleted beyond the shown part.
        QVERIFY(rs->setAbsolutePosition(1200));
        QVERIFY(rs->deleteCurrent());
        QCOMPARE(model.rowCount(), 1000);
        model.fetchMore({});
        QCOMPARE(model.rowCount(), 1500);
        QCOMPARE(cell(model, 1499, 1), QStringLiteral("末尾"));
        QCOMPARE(cell(model, 1199, 1), QStringLiteral("客户1201"));
    }

    void filterAndRequeryReset() {
        QVERIFY(makeClients(conn_, 30));
        auto rs = openClients();
        ui::RecordsetModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecordset(rs);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QVERIFY(
            rs->setFilter(db::sql::startsWith(QStringLiteral("名称"), QStringLiteral("客户2"))));
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.rowCount(), 11); // 客户2, 客户20..29
        QCOMPARE(cell(model, 1, 1), QStringLiteral("客户20"));
        QVERIFY(rs->setFilter(QString()));
        QCOMPARE(model.rowCount(), 30);
        QVERIFY(exec(conn_, QStringLiteral("DELETE FROM 客户 WHERE CAST(编号 AS INTEGER) > 10")));
        QVERIFY(rs->requery());
        QCOMPARE(model.rowCount(), 10);
    }

    void editsWriteThrough() {
        QVERIFY(makeClients(conn_, 3));
        auto rs = openClients();
        ui::RecordsetModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecordset(rs);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(1, 1), QStringLiteral("O'Brien 公司")));
        QVERIFY(!changed.isEmpty());
        QCOMPARE(cell(model, 1, 1), QStringLiteral("O'Brien 公司"));
        // Written to the table at once.
        auto again = openClients();
        QVERIFY(again->setAbsolutePosition(2));
        QCOMPARE(again->value(1).toString(), QStringLiteral("O'Brien 公司"));
        // The same value again writes nothing.
        changed.clear();
        QVERIFY(model.setData(model.index(1, 1), QStringLiteral("O'Brien 公司")));
        QVERIFY(changed.isEmpty());
    }

    void batchEditsStayPending() {
        QVERIFY(makeClients(conn_, 3));
        auto rs = openClients(db::LockType::BatchOptimistic);
        ui::RecordsetModel model;
        model.setRecordset(rs);
        QVERIFY(model.setData(model.index(0, 1), QStringLiteral("改过")));
        QCOMPARE(cell(model, 0, 1), QStringLiteral("改过"));
        QVERIFY(rs->hasPendingChanges());
        QCOMPARE(openClients()->value(1).toString(), QStringLiteral("客户1"));
        QVERIFY(rs->cancelBatch());
        QCOMPARE(cell(model, 0, 1), QStringLiteral("客户1"));
        QVERIFY(model.setData(model.index(2, 1), QStringLiteral("保存")));
        QVERIFY(rs->updateBatch());
        auto again = openClients();
        QVERIFY(again->moveLast());
        QCOMPARE(again->value(1).toString(), QStringLiteral("保存"));
    }

    void refusedEditIsReported() {
        QVERIFY(makeClients(conn_, 2));
        ui::ScriptedDialogs dialogs;
        dialogs.expectMessageContaining(QStringLiteral("修改没有保存"));
        ui::DataGrid grid;
        grid.setRecordset(openClients());
        // 名称 holds at most 20 characters: a longer value is refused, not cut.
        const QString tooLong(25, QChar(u'长'));
        QVERIFY(!grid.model()->setData(grid.model()->index(0, 1), tooLong));
        QCOMPARE(cell(*grid.model(), 0, 1), QStringLiteral("客户1"));
        // Nothing lingers: the next edit of another row goes through.
        QVERIFY(grid.model()->setData(grid.model()->index(1, 1), QStringLiteral("短")));
        auto again = openClients();
        QCOMPARE(again->value(1).toString(), QStringLiteral("客户1"));
        QVERIFY(again->moveNext());
        QCOMPARE(again->value(1).toString(), QStringLiteral("短"));
        QVERIFY2(dialogs.problems().isEmpty(), qPrintable(dialogs.problems()));
    }

    void currentRowInBothDirections() {
        QVERIFY(makeClients(conn_, 2500));
        auto rs = openClients();
        ui::DataGrid grid;
        grid.resize(600, 400);
        grid.show();
        grid.setRecordset(rs);
        QSignalSpy moved(&grid, &ui::DataGrid::rowColChange);

        // The recordset moves: the grid follows, fetching as far as needed, and does not
        // report it as the user's move.
        QVERIFY(rs->moveLast());
        QCOMPARE(grid.currentRow(), 2499);
        QCOMPARE(grid.model()->rowCount(), 2500);
        QVERIFY(rs->setAbsolutePosition(7));
        QCOMPARE(grid.currentRow(), 6);
        QCOMPARE(moved.size(), 0);

        // The user moves in the grid: the recordset follows and the grid says so.
        grid.setCurrentIndex(grid.model()->index(41, 1));
        QCOMPARE(rs->absolutePosition(), 42);
        QCOMPARE(moved.size(), 1);
        QTest::keyClick(grid.viewport(), Qt::Key_Down);
        QCOMPARE(rs->absolutePosition(), 43);
        QCOMPARE(moved.size(), 2);
    }

    void hiddenColumnsAndWidthsSurviveRequery() {
        QVERIFY(makeClients(conn_, 5));
        auto rs = openClients();
        ui::DataGrid grid;
        grid.setRecordset(rs);
        QSignalSpy resized(&grid, &ui::DataGrid::columnResized);
        grid.setColumnVisible(2, false);
        grid.setColumnWidthQuietly(1, 177);
        QCOMPARE(resized.size(), 0);
        grid.horizontalHeader()->resizeSection(0, 90); // as a drag of the border does
        QCOMPARE(resized.size(), 1);
        QCOMPARE(resized.at(0).at(0).toInt(), 0);
        QCOMPARE(resized.at(0).at(2).toInt(), 90);

        QVERIFY(rs->requery());
        QVERIFY(!grid.isColumnVisible(2));
        QCOMPARE(grid.columnWidth(1), 177);
        QCOMPARE(grid.columnWidth(0), 90);
        QCOMPARE(resized.size(), 1); // the grid's own restoring is not a user's resize

        // Binding the grid anew shows every column again.
        grid.setRecordset(openClients());
        QVERIFY(grid.isColumnVisible(2));
        grid.setColumnVisible(7, false); // no such column: ignored
    }

    void largeRecordsetShowsAtOnce() {
        // Only the first chunk goes to the view, whatever the size of the recordset.
        const int rows = 200000;
        QVERIFY(makeClients(conn_, rows));
        auto rs = openClients();
        QCOMPARE(rs->recordCount(), rows);
        ui::DataGrid grid;
        grid.resize(800, 600);
        grid.show();
        grid.setRecordset(rs);
        QCOMPARE(grid.model()->rowCount(), ui::RecordsetModel::fetchChunk);
        QVERIFY(rs->setAbsolutePosition(150001));
        QCOMPARE(grid.currentRow(), 150000);
        QCOMPARE(grid.model()->rowCount(), 151000);
    }
};

CHACHONG_TEST_MAIN(TestDataGrid)
#include "tst_datagrid.moc"
