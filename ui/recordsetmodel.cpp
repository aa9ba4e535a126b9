#include "ui/recordsetmodel.h"

namespace ui {

RecordsetModel::RecordsetModel(QObject* parent) : QAbstractTableModel(parent) {}

RecordsetModel::~RecordsetModel() {
    detach();
}

void RecordsetModel::setRecordset(const db::RecordsetPtr& recordset) {
    busy_ = true;
    beginResetModel();
    detach();
    rs_ = recordset;
    attach();
    reload();
    endResetModel();
    busy_ = false;
}

void RecordsetModel::attach() {
    if (!rs_) return;
    db::Recordset* rs = rs_.get();
    links_ << connect(rs, &db::Recordset::rowsReset, this, &RecordsetModel::refresh);
    links_ << connect(rs, &db::Recordset::rowsInserted, this, &RecordsetModel::onRowsInserted);
    links_ << connect(rs, &db::Recordset::rowsRemoved, this, &RecordsetModel::onRowsRemoved);
    links_ << connect(rs, &db::Recordset::rowChanged, this, &RecordsetModel::onRowChanged);
    links_ << connect(rs, &db::Recordset::currentRowChanged, this,
                      &RecordsetModel::currentRowChanged);
}

void RecordsetModel::refresh() {
    busy_ = true;
    beginResetModel();
    reload();
    // The views may fetch again as soon as they hear of the new rows.
    busy_ = false;
    endResetModel();
}

void RecordsetModel::detach() {
    for (const auto& link : links_)
        disconnect(link);
    links_.clear();
}

int RecordsetModel::recordsetRows() const {
    return rs_ && rs_->isOpen() ? qMax(0, rs_->recordCount()) : 0;
}

void RecordsetModel::reload() {
    change_ = Change::None;
    names_ = rs_ && rs_->isOpen() ? rs_->fieldNames() : QStringList();
    columns_ = int(names_.size());
    fetched_ = qMin(recordsetRows(), fetchChunk);
}

int RecordsetModel::sourceRow(int r) const {
    switch (change_) {
    case Change::None:
        return r;
    case Change::Inserting:
        return r < changeFirst_ ? r : r + changeCount_;
    case Change::Removing:
        if (r < changeFirst_) return r;
        if (r < changeFirst_ + changeCount_) return -1;
        return r - changeCount_;
    }
    return r;
}

void RecordsetModel::onRowsInserted(int first, int last) {
    if (last < first || first < 0) return;
    // Rows beyond the part handed to the view arrive through fetchMore later.
    if (first > fetched_) return;
    const int count = last - first + 1;
    busy_ = true;
    change_ = Change::Inserting;
    changeFirst_ = first;
    changeCount_ = count;
    beginInsertRows({}, first, last);
    change_ = Change::None;
    fetched_ += count;
    endInsertRows();
    busy_ = false;
}

void RecordsetModel::onRowsRemoved(int first, int last) {
    if (last < first || first < 0 || first >= fetched_) return;
    const int lastShown = qMin(last, fetched_ - 1);
    busy_ = true;
    change_ = Change::Removing;
    changeFirst_ = first;
    changeCount_ = last - first + 1;
    beginRemoveRows({}, first, lastShown);
    change_ = Change::None;
    fetched_ -= lastShown - first + 1;
    endRemoveRows();
    busy_ = false;
}

void RecordsetModel::onRowChanged(int row) {
    if (row < 0 || row >= fetched_ || columns_ == 0) return;
    emit dataChanged(index(row, 0), index(row, columns_ - 1));
}

int RecordsetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : fetched_;
}

int RecordsetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant RecordsetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !rs_ || index.row() >= fetched_ || index.column() >= columns_)
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const int row = sourceRow(index.row());
    if (row < 0) return {};
    const QVariant v = rs_->valueAt(row, index.column());
    // A null value shows (and edits) as empty text.
    return v.isNull() ? QVariant(QString()) : QVariant(v.toString());
}

bool RecordsetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QVariant old = rs_->valueAt(index.row(), index.column());
    const QString text = value.toString();
    if (!old.isNull() && old.toString() == text) return true;
    if (old.isNull() && text.isEmpty()) return true;
    if (!rs_->setValueAt(index.row(), index.column(), text)) {
        const QString why = rs_->errorString();
        // The refused value must not linger as an edit that the next move would retry.
        rs_->cancelUpdate();
        emit dataChanged(index, index);
        emit editFailed(why);
        return false;
    }
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags RecordsetModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (!readOnly_ && rs_ && rs_->isOpen() && rs_->isUpdatable()) f |= Qt::ItemIsEditable;
    return f;
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columns_) return {};
        return names_.at(section);
    }
    return section + 1;
}

bool RecordsetModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !busy_ && fetched_ < recordsetRows();
}

void RecordsetModel::fetchMore(const QModelIndex& parent) {
    // Not while the view is being told of another change (a view may ask from its slots).
    if (parent.isValid() || busy_) return;
    const int count = qMin(fetchChunk, recordsetRows() - fetched_);
    if (count <= 0) return;
    busy_ = true;
    beginInsertRows({}, fetched_, fetched_ + count - 1);
    fetched_ += count;
    endInsertRows();
    busy_ = false;
}

void RecordsetModel::fetchUpTo(int row) {
    const int total = recordsetRows();
    if (busy_ || row < fetched_ || row >= total) return;
    // Whole chunks, so the view's scroll range grows in the same steps as when scrolling.
    const int target = qMin(total, (row / fetchChunk + 1) * fetchChunk);
    busy_ = true;
    beginInsertRows({}, fetched_, target - 1);
    fetched_ = target;
    endInsertRows();
    busy_ = false;
}

} // namespace ui
