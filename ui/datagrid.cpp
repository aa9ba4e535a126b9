#include "ui/datagrid.h"

#include "ui/dialogs.h"
#include "ui/recordsetmodel.h"

#include <QHeaderView>
#include <QScopedValueRollback>

#include <algorithm>

namespace ui {

namespace {
constexpr int maxFittedWidth = 260;
} // namespace

DataGrid::DataGrid(QWidget* parent) : QTableView(parent), model_(new RecordsetModel(this)) {
    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setAlternatingRowColors(true);
    setWordWrap(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    horizontalHeader()->setHighlightSections(false);

    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int oldWidth, int newWidth) {
                if (!quiet_) emit columnResized(column, oldWidth, newWidth);
            });
    connect(model_, &RecordsetModel::currentRowChanged, this, [this](int row) {
        if (!following_) followRecordset(row);
    });
    connect(model_, &RecordsetModel::editFailed, this, &DataGrid::showEditError);
    // The first rows of a grid that opened empty give the columns their widths.
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (!fittedToRows_) fitColumns();
    });

    // A requery resets the model (closing and reopening the recordset: two resets, the first
    // without columns); the user's layout of the same columns stays.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        quiet_ = true;
        if (model_->columnCount() == 0) return;
        keptWidths_.clear();
        keptHidden_.clear();
        keptFields_ = model_->fieldNames();
        for (int c = 0; c < model_->columnCount(); ++c) {
            keptWidths_ << columnWidth(c);
            keptHidden_ << isColumnHidden(c);
        }
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        const QStringList now = model_->fieldNames();
        if (!now.isEmpty() && now == keptFields_) {
            for (int c = 0; c < now.size(); ++c) {
                setColumnWidth(c, keptWidths_.at(c));
                setColumnHidden(c, keptHidden_.at(c));
            }
            // Widths fitted while there were no rows fitted the headings only: the first rows
            // give the widths from their content.
            if (!fittedToRows_ && model_->rowCount() > 0) fitColumns();
        } else {
            fitColumns();
        }
        quiet_ = false;
        if (auto rs = model_->recordset(); rs && rs->isOpen()) followRecordset(rs->currentRow());
    });
}

void DataGrid::setRecordset(const db::RecordsetPtr& recordset) {
    // Widths of columns of the same names stay; a new data source shows all its columns.
    narrowest_.clear();
    model_->setRecordset(recordset);
    QScopedValueRollback<bool> guard(quiet_, true);
    for (int c = 0; c < model_->columnCount(); ++c)
        setColumnHidden(c, false);
}

db::RecordsetPtr DataGrid::recordset() const {
    return model_->recordset();
}

void DataGrid::fitColumns() {
    QScopedValueRollback<bool> guard(quiet_, true);
    const int columns = model_->columnCount();
    fittedToRows_ = model_->rowCount() > 0;
    if (columns == 0) return;
    resizeColumnsToContents();
    for (int c = 0; c < columns; ++c)
        if (columnWidth(c) > maxFittedWidth) setColumnWidth(c, maxFittedWidth);
    for (auto it = narrowest_.cbegin(); it != narrowest_.cend(); ++it)
        if (it.key() < columns && columnWidth(it.key()) < it.value())
            setColumnWidth(it.key(), it.value());
}

void DataGrid::setColumnVisible(int column, bool visible) {
    if (column < 0 || column >= model_->columnCount()) return;
    QScopedValueRollback<bool> guard(quiet_, true);
    setColumnHidden(column, !visible);
}

void DataGrid::keepColumnWidths(GridSection section) {
    connect(this, &DataGrid::columnResized, this, [this, section](int column, int, int width) {
        const QString heading = model()->headerData(column, Qt::Horizontal).toString();
        saveColumnWidth(core::appState(), section, heading, width);
    });
}

void DataGrid::setColumnWidthQuietly(int column, int width) {
    QScopedValueRollback<bool> guard(quiet_, true);
    setColumnWidth(column, width);
}

void DataGrid::fitColumnToNumbers(int column, int largest) {
    const QString widest(QString::number(std::max(largest, 9)).size(), QLatin1Char('9'));
    const int width = fontMetrics().horizontalAdvance(widest) + 16;
    narrowest_[column] = width;
    if (columnWidth(column) < width) setColumnWidthQuietly(column, width);
}

int DataGrid::currentRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void DataGrid::commitEditor() {
    if (state() != EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    // A row removed through the recordset moves the view's current cell: the recordset stays.
    if (following_ || !current.isValid() || model_->isChanging()) return;
    if (auto rs = model_->recordset(); rs && rs->isOpen()) {
        QScopedValueRollback<bool> guard(following_, true);
        if (rs->currentRow() != current.row()) rs->setAbsolutePosition(current.row() + 1);
    }
    emit rowColChange();
}

void DataGrid::showLastRow() {
    const int last = model_->recordset() ? model_->recordset()->recordCount() - 1 : -1;
    if (last < 0) return;
    model_->fetchUpTo(last);
    if (last >= model_->rowCount()) return;
    doItemsLayout(); // a reset a moment ago leaves the rows' places to be worked out first
    scrollTo(model_->index(last, 0));
}

void DataGrid::followRecordset(int row) {
    QScopedValueRollback<bool> guard(following_, true);
    if (row < 0) {
        selectionModel()->clearCurrentIndex();
        return;
    }
    model_->fetchUpTo(row);
    if (row >= model_->rowCount()) return;
    const int column = qMax(0, currentIndex().isValid() ? currentIndex().column() : 0);
    const QModelIndex target = model_->index(row, column);
    if (currentIndex() != target) {
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        scrollTo(target);
    }
}

void DataGrid::showEditError(const QString& message) {
    QString text = QStringLiteral("修改没有保存。");
    if (!message.isEmpty()) text += QStringLiteral("\n原因：") + message;
    inform(text, defaultTitle(), Icon::Warning);
}

} // namespace ui
