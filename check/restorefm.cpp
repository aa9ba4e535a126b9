#include "check/restorefm.h"

#include "app/windowdirectory.h"
#include "check/engine/backups.h"
#include "check/engine/separation.h"
#include "core/appstate.h"
#include "core/run.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace check {

namespace {

QString sizeText(qint64 bytes) {
    return QLocale(QLocale::Chinese, QLocale::China).formattedDataSize(bytes);
}

} // namespace

restoreFm::restoreFm(const QString& file, bool imported, QWidget* parent)
    : QDialog(parent), file_(file), imported_(imported) {
    setObjectName(QStringLiteral("restoreFm"));
    setWindowTitle(QStringLiteral("恢复备份"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(
        QStringLiteral("%1 的备份（最新的在前）。恢复前会先备份现在的文件，恢复也可以撤销。")
            .arg(QDir::toNativeSeparators(file)),
        this);
    label->setWordWrap(true);
    layout->addWidget(label);
    list_ = new QTableWidget(0, 5, this);
    list_->setObjectName(QStringLiteral("BackupList"));
    list_->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("步骤"),
                                      QStringLiteral("记录数"), QStringLiteral("大小"),
                                      QStringLiteral("备份文件")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(list_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* restore = new QPushButton(QStringLiteral("恢复"), this);
    restore->setObjectName(QStringLiteral("RestoreBackup"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("CloseRestore"));
    buttons->addWidget(restore);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(restore, &QPushButton::clicked, this, &restoreFm::restoreChosen);
    connect(list_, &QTableWidget::cellDoubleClicked, this, &restoreFm::restoreChosen);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fill();
    resize(860, 420);
    ui::centreOnScreen(this);
}

void restoreFm::fill() {
    const std::vector<Backup> backups = backupsOf(file_);
    list_->setRowCount(int(backups.size()));
    for (int r = 0; r < int(backups.size()); ++r) {
        const Backup& b = backups[size_t(r)];
        const QStringList cells = {b.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   b.step.isEmpty() ? QStringLiteral("—") : b.step,
                                   b.records < 0 ? QStringLiteral("—") : QString::number(b.records),
                                   sizeText(b.bytes), QDir::toNativeSeparators(b.path)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 2 || c == 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (c == 4) item->setData(Qt::UserRole, b.path);
            list_->setItem(r, c, item);
        }
    }
    list_->resizeColumnsToContents();
    if (!backups.empty()) list_->selectRow(0);
}

void restoreFm::restoreChosen() {
    const int row = list_->currentRow();
    if (row < 0 || !list_->item(row, 4)) {
        ui::inform(QStringLiteral("请选择要恢复的备份"));
        return;
    }
    if (ui::refuseWhileBusy()) return;
    const QString backup = list_->item(row, 4)->data(Qt::UserRole).toString();
    if (!ui::confirm(
            QStringLiteral("用 %1 的备份恢复 %2 吗？\r\n现在的文件会先备份，恢复后可以再恢复回来。")
                .arg(list_->item(row, 0)->text(), QDir::toNativeSeparators(file_)) +
            (imported_ ? QStringLiteral(
                             "\r\n恢复后会重新导入这个工作簿，工作数据库中导入的数据将被替换。")
                       : QString())))
        return;
    // The file is closed while it is put back, and opened again after.
    core::AppState& st = core::appState();
    st.RsPostcode.reset();
    st.RsSource.reset();
    st.SourceConn = db::Connection();
    ui::beginWait();
    QString undo;
    const core::Status s = restoreBackup(file_, backup, &undo);
    ui::restoreDefaultCursor();
    if (!s.ok())
        ui::inform(s.error, ui::defaultTitle(), ui::Icon::Warning);
    else
        ui::inform(QStringLiteral("已恢复 %1。\r\n恢复前的文件已备份到 %2")
                       .arg(QDir::toNativeSeparators(file_), QDir::toNativeSeparators(undo)));
    accept();
    app::windows().openFile(file_);
}

void restoreFm::showRestore() {
    const core::AppState& st = core::appState();
    if (!core::isOpen(st.RsSource)) {
        ui::inform(QStringLiteral("请先打开要恢复的数据表"));
        return;
    }
    QString file = userFileOfCheckTable(st);
    // An imported workbook is never changed by a check, but an export may have added a sheet
    // to it: its backups are those.
    const bool imported = file.isEmpty();
    if (imported && isWorkbook(st.SourcePath) && !backupsOf(st.SourcePath).empty())
        file = st.SourcePath;
    if (file.isEmpty()) {
        ui::inform(
            QStringLiteral("导入的数据保存在工作数据库中，查重时不改动原文件，没有备份可恢复"));
        return;
    }
    if (backupsOf(file).empty()) {
        ui::inform(QStringLiteral("%1 还没有备份：查重分离或数据合并之前才会备份")
                       .arg(QDir::toNativeSeparators(file)));
        return;
    }
    restoreFm dialog(file, imported);
    dialog.exec();
}

} // namespace check
