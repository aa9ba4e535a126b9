#pragma once
// A table model over a recordset, for the data grids. Rows are handed to the view in chunks
// (canFetchMore/fetchMore), so a recordset of a million rows shows at once; the model follows
// the recordset's own signals, so rows added, deleted or changed through the recordset (by
// any window) appear in the grid.
#include "db/recordset.h"

#include <QAbstractTableModel>

namespace ui {

class RecordsetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int fetchChunk = 1000;

    explicit RecordsetModel(QObject* parent = nullptr);
    ~RecordsetModel() override;

    // The data source; null (or a closed recordset) shows an empty grid.
    void setRecordset(const db::RecordsetPtr& recordset);
    db::RecordsetPtr recordset() const { return rs_; }

    // Grids for browsing only.
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool isReadOnly() const { return readOnly_; }

    // The field names the columns show (as they were when the rows were last read).
    QStringList fieldNames() const { return names_; }

    // Fetches rows until row is in the model (if the recordset has it).
    void fetchUpTo(int row);
    // Reads the recordset's rows again (a long run that keeps its recordset quiet shows what it
    // has done so far).
    void refresh();
    // The views are being told of a change (rows added, removed or read again): a view's current
    // cell that moves meanwhile moves because of it, not because the user moved.
    bool isChanging() const { return busy_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // An edit the recordset refused (read-only source, a value too long, ...).
    void editFailed(const QString& message);
    // The recordset's current row moved (0-based, -1 when none).
    void currentRowChanged(int row);

private:
    void attach();
    void detach();
    void reload();
    void onRowsInserted(int first, int last);
    void onRowsRemoved(int first, int last);
    void onRowChanged(int row);
    int recordsetRows() const;
    // Row of the recordset that model row r shows; -1 for a row already deleted from the
    // recordset whose removal the view has not been told of yet.
    int sourceRow(int r) const;

    db::RecordsetPtr rs_;
    QList<QMetaObject::Connection> links_;
    int fetched_ = 0;
    int columns_ = 0;
    QStringList names_;
    bool readOnly_ = false;

    // The recordset reports insertions and removals after they happened, while a view reads the
    // old rows between begin...() and end...(). Meanwhile the model maps its old rows onto the
    // new ones.
    enum class Change { None, Inserting, Removing };
    Change change_ = Change::None;
    bool busy_ = false; // telling the views of a change: no fetching meanwhile
    int changeFirst_ = 0;
    int changeCount_ = 0;
};

} // namespace ui
