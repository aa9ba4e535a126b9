#pragma once
// An updatable set of rows read from a connection, with a current row.
//
// Rows are read into memory when the recordset opens (SQLite is in-process, so client-side and
// server-side cursors behave alike); updates, additions and deletions write through to the
// table at once, or, in batch mode (LockType::BatchOptimistic), edits and additions stay
// pending until updateBatch() writes them in one transaction or cancelBatch() drops them; a
// pending value longer than its field's defined size is refused at update(), as a written one is.
// Deletions always take effect at once.
//
// Filters and finds take criteria of the form
//     <field> = '<value>'   and   <field> Like '<pattern>'
// joined by " And " (build them with db::sql in sqltext.h). Text compares take normalised values
// (blanks at both ends left out, on both sides) and fold ASCII letter case; a null value matches
// nothing. Per-field indexes are built on first
// use and kept up to date, so a filter or a find costs about the number of rows it matches, not
// a scan of the table.
//
// Positions are 1-based; absolutePosition() is 0 before the first row, after the last and on an
// empty set. After deleteCurrent() the deleted row stays current (its values cannot be read)
// until the next move; moveNext() then goes to the row that followed it.
#include "db/connection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <span>

namespace db {

enum class CursorLocation { Server, Client };
enum class CursorType { ForwardOnly, Keyset, Dynamic, Static };
enum class LockType { ReadOnly, Pessimistic, Optimistic, BatchOptimistic };

using Bookmark = qint64;

struct Criterion;
struct RowStore;
struct RecordsetView;

class Recordset : public QObject {
    Q_OBJECT
public:
    explicit Recordset(QObject* parent = nullptr);
    ~Recordset() override;

    void setCursorLocation(CursorLocation location) { location_ = location; }
    CursorLocation cursorLocation() const { return location_; }

    // Opens the rows of a SELECT statement (original engine's SQL). A statement that returns
    // no rows (Delete, Drop Table, Select ... Into) is run and leaves the recordset closed;
    // then the result is true when the statement succeeded.
    bool open(const QString& jetSql, const Connection& connection,
              CursorType type = CursorType::Keyset, LockType lock = LockType::Pessimistic);
    // The statement's fields, base table and connection as open gives them, and none of its
    // rows: for a caller that reads a table's rows itself, once (readTable in tablerows.h), so
    // a large table is not held twice.
    bool openFields(const QString& jetSql, const Connection& connection);
    // The rows a caller has just written into a table itself, taken without reading them back:
    // after openFields on the whole table, one adoptRow per row written (its rowid and values as
    // the table gives them back; expectedRows: how many there will be in all), then adoptDone(),
    // the recordset holds what open would have read.
    void adoptRow(qint64 rowid, std::span<const QStringView> values, qint64 expectedRows);
    void adoptDone();
    // A second recordset over the same rows, with its own current row and filter. Deletions
    // made through either are seen by both.
    std::shared_ptr<Recordset> clone() const;
    void close();
    bool isOpen() const;
    QString source() const { return source_; }
    // The one table a plain single-table select reads (empty for anything else): the table that
    // writes through this recordset change.
    QString baseTable() const;
    Connection connection() const { return connection_; }
    LockType lockType() const { return lock_; }
    bool isUpdatable() const;

    int recordCount() const;
    int absolutePosition() const;
    bool setAbsolutePosition(int position);
    bool isEof() const;
    bool isBof() const;
    bool moveFirst();
    bool moveNext();
    bool movePrevious();
    bool moveLast();
    // The current row's identity, kept while the row lives (0 when there is no row).
    Bookmark bookmark() const;
    bool setBookmark(Bookmark mark);
    // The identity of the row at a position (0-based, in the current view); 0 when none.
    Bookmark bookmarkAt(int row) const;
    // The position (0-based, in the current view) of the row a bookmark names; -1 when that row
    // is gone or not in the view. The current row stays.
    int rowOfBookmark(Bookmark mark) const;

    int fieldCount() const;
    QString fieldName(int index) const;
    QStringList fieldNames() const;
    int fieldIndex(const QString& name) const; // -1 if absent; case is ignored
    int definedSize(int index) const;          // characters (bytes for dBase text)
    // Whether the field would take the value when written (its defined size; for a dBase table
    // its bytes in the table's code page, a number's digits). Nothing is written. False with
    // *why in Chinese.
    bool checkValue(int index, const QString& value, QString* why) const;
    QString declaredType(int index) const;

    // Values of the current row: a QString, or a null QVariant for a null value.
    QVariant value(int index) const;
    QVariant value(const QString& name) const;
    // The normalised value: null reads as empty text, blanks trimmed at both ends.
    QString text(int index) const;
    // The current row's value without a copy, valid until the row or the recordset changes; a
    // null value gives a null view. For loops that read every record.
    QStringView valueView(int index) const;
    QString text(const QString& name) const;

    // Editing the current row (or the row started by addNew) until update().
    bool setValue(int index, const QVariant& value);
    bool setValue(const QString& name, const QVariant& value);
    bool addNew();
    // A new row with one value per field in a single step, as addNew, setValue on every field
    // and update would add it (a null view stays null). For loops that add many rows.
    bool addRecord(std::span<const QStringView> values);
    bool update();
    void cancelUpdate();
    bool isEditing() const;
    bool deleteCurrent();

    bool setFilter(const QString& criterion); // empty text removes the filter
    QString filter() const;
    // Searches forward from the current row (included) for a row matching the criterion; not
    // found leaves the recordset at its end.
    bool find(const QString& criterion);
    // Reads the rows again and goes to the first (the filter stays). When nothing but this
    // layer's recordsets changed an SQLite database since the rows were read, and all they did to
    // this recordset's table was deleting rows, the rows in memory are the table's already: the
    // deleted ones are dropped and nothing is read (a loop may requery once per record).
    // Statements, other connections, schema changes and rollbacks make it read the table.
    bool requery();
    // The same with a criterion built in code (see equalsCriterion), for loops that filter or
    // search once per record: no text to build or parse.
    // The criterion's field positions are resolved into it, so the next call with the same
    // criterion skips that step.
    bool setFilter(Criterion& criterion);
    bool find(Criterion& criterion);

    bool updateBatch();
    bool cancelBatch();
    bool hasPendingChanges() const;
    // The positions (0-based, in the current view) of the rows with changes not saved yet.
    std::vector<int> pendingRows() const;

    QString errorString() const { return error_; }

    // The rows of the view grouped as a filter of equalities on these fields finds them (values
    // without their blanks at both ends, ASCII letters folded; a null equals nothing): per row
    // (0-based, in the view's order) the number of its group, one number for rows equal on every
    // field, or -1 for a row with a null among them. For a loop that would filter once a row.
    std::vector<int> equalGroups(const std::vector<int>& columns) const;

    // The indexes that filters and finds built over the rows go (they are built again when next
    // needed): a long run frees their memory once it has done its look-ups.
    void releaseIndexes();

    // Long loops that change many rows: views hear one reset at the end instead of a signal
    // per row. Calls nest.
    void suspendNotifications();
    void resumeNotifications();

    // Row access by position (0-based, in the current view) for the grid.
    QVariant valueAt(int row, int column) const;
    // The same without a copy (a null view for a null value), valid until the rows change; pending
    // edits of the current row are not seen. For engines that read a snapshot by row.
    QStringView viewAt(int row, int column) const;
    bool setValueAt(int row, int column, const QVariant& value);
    int currentRow() const; // 0-based position in the view, -1 when none

signals:
    void rowsReset();
    void rowsInserted(int first, int last);
    void rowsRemoved(int first, int last);
    void rowChanged(int row);
    void currentRowChanged(int row);

private:
    friend struct RowStore;
    bool fail(const QString& message) const;
    // The rows are read: the recordset takes them and stands on the first.
    bool finishOpen(std::shared_ptr<RowStore> store);
    bool ensureRow() const;
    // A new row at the end of the store and this view, its values from the buffer or else the
    // views; written through at once unless the recordset keeps a batch.
    bool appendRow(const std::vector<QVariant>* buffer, std::span<const QStringView> views);
    bool commitEdit();
    void notifyReset();
    int slotAt(int row) const;
    int rowOfSlot(int slot) const;
    void setCurrentSlot(int slot);
    bool writeThrough(int slot, const std::vector<QVariant>* values, bool isNew);

    CursorLocation location_ = CursorLocation::Client;
    CursorType type_ = CursorType::Keyset;
    LockType lock_ = LockType::Pessimistic;
    bool fieldsOnly_ = false; // openFields: open reads no row
    Connection connection_;
    QString source_;
    std::shared_ptr<RowStore> store_;
    std::unique_ptr<RecordsetView> view_;
    mutable QString error_;
};

using RecordsetPtr = std::shared_ptr<Recordset>;

} // namespace db
