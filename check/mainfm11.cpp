#include "check/mainfm11.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "ui/datagrid.h"
#include "ui/dialogs.h"
#include "ui/recordsetmodel.h"
#include "ui/toolkit.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>

namespace check {

namespace {

QLineEdit* counterBox(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setMinimumWidth(110);
    return box;
}

void showMainWindow() {
    if (app::mainFm1* main = app::mainForm()) main->show();
}

void hideMainWindow() {
    if (app::mainFm1* main = app::mainForm()) main->hide();
}

void showCheckTableInMainWindow() {
    if (app::mainFm1* main = app::mainForm()) main->showCheckTable();
}

QString positionCounter(const db::RecordsetPtr& rs) {
    const int count = core::recordCountOf(rs);
    if (count <= 0) return QStringLiteral("0/0");
    return QString::number(rs->absolutePosition()) + QLatin1Char('/') + QString::number(count);
}

} // namespace

mainFm11::mainFm11(const QString& caption, const core::RunOptions& options, QWidget* parent)
    : QWidget(parent), job_(core::appState(), options) {
    setObjectName(QStringLiteral("mainFm11"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption.isEmpty() ? QStringLiteral("查重主控界面") : caption);
    resize(1000, 640);

    auto* layout = new QVBoxLayout(this);
    Frame5 = new QGroupBox(this);
    Frame5->setObjectName(QStringLiteral("Frame5"));
    auto* grids = new QHBoxLayout(Frame5);
    auto* left = new QVBoxLayout;
    auto* leftLabel = new QLabel(QStringLiteral("查重数据库"), Frame5);
    DataGrid4 = new ui::DataGrid(Frame5);
    DataGrid4->setObjectName(QStringLiteral("DataGrid4"));
    DataGrid4->keepColumnWidths(ui::GridSection::Source);
    left->addWidget(leftLabel);
    left->addWidget(DataGrid4);
    auto* right = new QVBoxLayout;
    auto* rightLabel = new QLabel(QStringLiteral("重复数据"), Frame5);
    DataGrid5 = new ui::DataGrid(Frame5);
    DataGrid5->setObjectName(QStringLiteral("DataGrid5"));
    right->addWidget(rightLabel);
    right->addWidget(DataGrid5);
    grids->addLayout(left);
    grids->addLayout(right);
    layout->addWidget(Frame5, 1);

    auto* counters = new QHBoxLayout;
    Text5 = counterBox(this, QStringLiteral("Text5"));
    Text7 = counterBox(this, QStringLiteral("Text7"));
    Text8 = counterBox(this, QStringLiteral("Text8"));
    Text9 = counterBox(this, QStringLiteral("Text9"));
    const std::pair<QString, QLineEdit*> boxes[] = {{QStringLiteral("当前记录"), Text5},
                                                    {QStringLiteral("查重数据库记录"), Text7},
                                                    {QStringLiteral("重复组数"), Text8},
                                                    {QStringLiteral("重复数据记录"), Text9}};
    for (const auto& [label, box] : boxes) {
        counters->addWidget(new QLabel(label, this));
        counters->addWidget(box);
    }
    counters->addStretch();
    layout->addLayout(counters);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar2 = new QProgressBar(this);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) {
        bar->setRange(0, 100);
        layout->addWidget(bar);
    }

    Picture2 = new QWidget(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    auto* panel = new QHBoxLayout(Picture2);
    Label10 = new QLabel(QStringLiteral("正在分离重复记录，请等待..."), Picture2);
    Label10->setObjectName(QStringLiteral("Label10"));
    panel->addWidget(Label10);
    Picture2->setAutoFillBackground(true);
    Picture2->hide();
    layout->addWidget(Picture2);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    const core::AppState& st = core::appState();
    for (const QString& text : {st.SourceDir, st.SourceFileTitle, st.SourceBaseName}) {
        auto* label = new QLabel(text, StatusBar1);
        StatusBar1->addWidget(label, 1);
    }
    layout->addWidget(StatusBar1);
    ui::centreOnScreen(this);
    ui::runWhenShown(this, [this] { activate(); });
}

mainFm11* mainFm11::showRun(const QString& caption, const core::RunOptions& options) {
    auto* window = new mainFm11(caption, options);
    window->show();
    return window;
}

void mainFm11::activate() {
    core::AppState& st = core::appState();
    ui::beginWait();
    DataGrid4->setRecordset(st.RsSource);
    DataGrid5->setRecordset(st.RsDup);
    if (core::isOpen(st.RsDup) && st.RsDup->fieldCount() > 0) {
        DataGrid5->setColumnVisible(st.RsDup->fieldCount() - 1, false);
        // Group numbers grow during the run up to the records checked: room for them now.
        DataGrid5->fitColumnToNumbers(0, core::recordCountOf(st.RsSource));
    }
    Text5->clear();
    Text7->setText(core::isOpen(st.RsSource) ? positionCounter(st.RsSource) : QString());
    Text8->clear();
    Text9->clear();
    ran_ = true;
    // The whole run, its questions included: no other command changes a table meanwhile.
    const core::RunGuard guard(st, QStringLiteral("查重"));
    run();
    ui::restoreDefaultCursor();
}

void mainFm11::run() {
    const bool fuzzy = job_.options().mode == core::CheckMode::Fuzzy;
    const bool smart = job_.options().mode == core::CheckMode::Smart;
    // The fuzzy check's two stage marks; 智能查重's share of its work done.
    ProgressBar1->setVisible(fuzzy || smart);
    ProgressBar2->setVisible(fuzzy);
    hideMainWindow();
    phase_ = Phase::Scan;
    setRunning(true);
    result_ = job_.scan(*this);
    setRunning(false);
    showCounters();
    ui::restoreDefaultCursor();
    ProgressBar1->hide();
    ProgressBar2->hide();
    if (const QString note = failedRecordsNote(result_); result_.ok() && !note.isEmpty())
        ui::inform(note, ui::defaultTitle(), ui::Icon::Warning);
    for (const QString& note : result_.notes)
        if (result_.ok()) ui::inform(note);
    const bool found = result_.ok() && result_.duplicateRows > 0;
    if (found) {
        ui::inform(QStringLiteral("查重结束"));
        separate(!fuzzy);
    }
    // The backup of the duplicates follows the separation, and every other end of a run.
    if (const core::Status s = job_.backupDuplicates(); !s.ok())
        ui::inform(s.error, ui::defaultTitle(), ui::Icon::Warning);
    if (const core::Status s = job_.keepReport(); !s.ok())
        ui::inform(s.error, ui::defaultTitle(), ui::Icon::Warning);

    if (result_.cancelled) return endStopped();
    if (!found && !result_.error.isEmpty()) return endWithMessage(result_.error, true);
    if (!found) return endWithMessage(QStringLiteral("查重结束，无重复数据！"), false);
    if (!result_.error.isEmpty()) {
        // The groups are still in the check table: maintaining and merging them back would
        // write them twice. Back to the main window.
        ui::inform(result_.error + QStringLiteral("\r\n重复记录仍在查重数据库中，没有分离出去。"),
                   ui::defaultTitle(), ui::Icon::Warning);
        showCheckTableInMainWindow();
        close();
        showMainWindow();
        return;
    }
    // What was found, beside the question of what to do with it.
    app::windows().showReport();
    if (ui::confirm(QStringLiteral("现在开始数据维护吗？"))) {
        if (!app::windows().showCheckControl()) showMainWindow();
        close();
    } else {
        close();
        showMainWindow();
    }
}

void mainFm11::endStopped() {
    ui::inform(QStringLiteral("查重已停止，未分离任何记录"));
    showMainWindow();
    close();
}

void mainFm11::endWithMessage(const QString& text, bool warning) {
    ui::inform(text, ui::defaultTitle(), warning ? ui::Icon::Warning : ui::Icon::Information);
    showMainWindow();
    close();
}

void mainFm11::separate(bool countsInRunWindow) {
    core::AppState& st = core::appState();
    Picture2->show();
    ui::yieldNow();
    phase_ = Phase::Separation;
    remaining_ = core::recordCountOf(st.RsSource);
    setRunning(true);
    result_ = job_.separate(*this);
    setRunning(false);
    Picture2->hide();
    if (!result_.ok()) return;
    // What the check table holds now, in both windows.
    if (countsInRunWindow) Text5->setText(QString::number(core::recordCountOf(st.RsSource)));
    Text7->setText(positionCounter(st.RsSource));
    showCheckTableInMainWindow();
}

void mainFm11::showCounters() {
    const core::AppState& st = core::appState();
    Text5->setText(QString::number(job_.options().end));
    Text7->setText(positionCounter(st.RsSource));
    showCheckTableInMainWindow();
    Text8->setText(QString::number(result_.groups));
    Text9->setText(positionCounter(st.RsDup));
}

void mainFm11::setRunning(bool running) {
    running_ = running;
    // While a check runs the grids only show: a click would move the scan cursor, an edit would
    // write to the table being checked.
    DataGrid4->setEnabled(!running);
    DataGrid5->setEnabled(!running);
    if (!running) phase_ = Phase::Idle;
}

void mainFm11::refresh() {
    switch (phase_) {
    case Phase::Scan:
        Text5->setText(QString::number(position_));
        Text8->setText(QString::number(groups_));
        // The newest duplicates, a few times a second (the run keeps RsDup quiet meanwhile).
        if (gridThrottle_.due()) {
            DataGrid5->recordsetModel()->refresh();
            DataGrid5->showLastRow();
        }
        ProgressBar1->setValue(mark1_);
        ProgressBar2->setValue(mark2_);
        break;
    case Phase::Separation:
        Text7->setText(QString::number(remaining_));
        break;
    case Phase::Idle:
        break;
    }
}

bool mainFm11::progress(int done, int total) {
    if (phase_ == Phase::Scan) position_ = done;
    if (throttle_.due()) {
        refresh();
        ui::yieldNow();
    }
    return !stopRequested_;
}

void mainFm11::groups(int count) {
    groups_ = count;
}

void mainFm11::remaining(int count) {
    remaining_ = count;
}

void mainFm11::marks(int first, int second) {
    // A mark beyond the bar's end (a long key value) is left out, as a bar refuses it.
    if (first >= 0 && first <= 100) mark1_ = first;
    if (second >= 0 && second <= 100) mark2_ = second;
}

void mainFm11::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The run stops at its next record, once the user has confirmed; the window closes when
        // the run has ended.
        event->ignore();
        if (!stopRequested_ && ui::confirm(QStringLiteral("是否停止查重？"))) stopRequested_ = true;
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace check
