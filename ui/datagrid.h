#pragma once
// The data grid: a table view bound to a recordset. Moving to another row in the grid moves the
// recordset's current row and the other way round; edits go to the recordset (and stay pending
// there when it is in batch mode). Columns can be hidden; column widths and hidden columns
// survive a requery of the same recordset.
#include "db/recordset.h"
#include "ui/gridwidths.h"

#include <QHash>
#include <QTableView>

namespace ui {

class RecordsetModel;

class DataGrid : public QTableView {
    Q_OBJECT
public:
    explicit DataGrid(QWidget* parent = nullptr);

    // Binds the grid to a recordset (null: an empty grid). Column widths fit the first rows.
    void setRecordset(const db::RecordsetPtr& recordset);
    db::RecordsetPtr recordset() const;
    RecordsetModel* recordsetModel() const { return model_; }

    void setColumnVisible(int column, bool visible);
    bool isColumnVisible(int column) const { return !isColumnHidden(column); }
    // Sets a width without reporting it through columnResized (stored widths being applied).
    void setColumnWidthQuietly(int column, int width);
    // A column of numbers (the group numbers) made wide enough, quietly, for every number up to
    // largest, and kept so when the columns are fitted to rows that come later; a wider column
    // stays.
    void fitColumnToNumbers(int column, int largest);
    // Every width the user drags from now on is stored under the database the grid shows
    // (gridwidths.h) and the column's heading.
    void keepColumnWidths(GridSection section);

    // 0-based row of the grid's current cell, -1 when none.
    int currentRow() const;
    // Scrolls to the recordset's last row without moving its current row.
    void showLastRow();

    // A value still being typed into a cell goes to the recordset and the cell's editor closes,
    // as when the user leaves the cell (before a save, or when the window closes).
    void commitEditor();

signals:
    // The user moved to another cell (by mouse or keyboard).
    void rowColChange();
    // The user dragged a column's border.
    void columnResized(int column, int oldWidth, int newWidth);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followRecordset(int row);
    void fitColumns();
    void showEditError(const QString& message);

    RecordsetModel* model_;
    bool quiet_ = false;     // widths changed by the grid itself
    bool following_ = false; // current cell moved to follow the recordset
    QList<int> keptWidths_;
    QHash<int, int> narrowest_; // columns' widths fitColumnToNumbers asked for
    bool fittedToRows_ = false; // the widths come from rows, not from the headings alone
    QList<bool> keptHidden_;
    QStringList keptFields_;
};

} // namespace ui
