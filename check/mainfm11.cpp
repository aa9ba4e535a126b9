#include "check/mainfm11.h"

#include "app/appstate.h"
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "check/exactcheck.h"
#include "ui/datagrid.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
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

} // namespace

mainFm11::mainFm11(const QString& caption, QWidget* parent) : QWidget(parent) {
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
    const app::AppState& st = app::appState();
    for (const QString& text : {st.SourceDir, st.SourceFileTitle, st.SourceBaseName}) {
        auto* label = new QLabel(text, StatusBar1);
        StatusBar1->addWidget(label, 1);
    }
    layout->addWidget(StatusBar1);
    ui::centreOnScreen(this);
}

mainFm11* mainFm11::showRun(const QString& caption) {
    auto* window = new mainFm11(caption);
    window->show();
    return window;
}

void mainFm11::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (started_) return;
    started_ = true;
    // The check starts once the window is on the screen.
    QTimer::singleShot(0, this, &mainFm11::activate);
}

void mainFm11::activate() {
    app::AppState& st = app::appState();
    ui::WaitCursor wait;
    DataGrid4->setRecordset(st.RsSource);
    DataGrid5->setRecordset(st.RsDup);
    if (app::isOpen(st.RsDup) && st.RsDup->fieldCount() > 0)
        DataGrid5->setColumnVisible(st.RsDup->fieldCount() - 1, false);
    Text5->clear();
    Text7->setText(app::isOpen(st.RsSource) ? positionCounter(st.RsSource->absolutePosition(),
                                                              st.RsSource->recordCount())
                                            : QString());
    Text8->clear();
    Text9->clear();
    if (st.CheckMode == 1) {
        ProgressBar1->hide();
        ProgressBar2->hide();
        app::mainFm1* main = app::mainForm();
        const QString start = main ? main->Text12->text() : QStringLiteral("1");
        const QString end =
            main ? main->Text13->text() : QString::number(app::recordCountOf(st.RsSource));
        ran_ = true;
        ExactCheck(st, *this).wholeCheck(start, end);
    }
}

void mainFm11::scanProgress(int position, int groups) {
    static QElapsedTimer shown;
    if (shown.isValid() && shown.elapsed() < ui::yieldIntervalMs) return;
    shown.restart();
    Text5->setText(QString::number(position));
    Text8->setText(QString::number(groups));
    ui::yieldEvents();
}

void mainFm11::separationProgress(int remaining) {
    static QElapsedTimer shown;
    if (shown.isValid() && shown.elapsed() < ui::yieldIntervalMs) return;
    shown.restart();
    Text7->setText(QString::number(remaining));
    ui::yieldEvents();
}

void mainFm11::showScanPosition(const QString& text) {
    Text5->setText(text);
}
void mainFm11::showCheckTableCounter(const QString& text) {
    Text7->setText(text);
}
void mainFm11::showGroups(int groups) {
    Text8->setText(QString::number(groups));
}
void mainFm11::showDupCounter(const QString& text) {
    Text9->setText(text);
}

void mainFm11::showMainCounter(const QString& text) {
    if (app::mainFm1* main = app::mainForm()) main->Text1->setText(text);
}

void mainFm11::showSeparationPanel(bool visible) {
    Picture2->setVisible(visible);
    ui::yieldNow();
}

void mainFm11::setBusy(bool busy) {
    if (busy)
        ui::beginWait();
    else
        ui::restoreDefaultCursor();
}

void mainFm11::hideMainWindow() {
    if (app::mainFm1* main = app::mainForm()) main->hide();
}

void mainFm11::showMainWindow() {
    if (app::mainFm1* main = app::mainForm()) main->show();
}

void mainFm11::closeRunWindow() {
    close();
}

bool mainFm11::openMaintenance() {
    return app::windows().showCheckControl();
}

} // namespace check
