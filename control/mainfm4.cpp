#include "control/mainfm4.h"

#include "app/engine/appstate.h"
#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "control/engine/maintain.h"
#include "tools/gridwidths.h"
#include "tools/mainfm8.h"
#include "ui/datagrid.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

namespace control {

namespace {

QPointer<mainFm4>& openWindow() {
    static QPointer<mainFm4> window;
    return window;
}

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent,
                    const QString& tip = {}) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setAutoDefault(false);
    if (!tip.isEmpty()) b->setToolTip(tip);
    return b;
}

QLabel* label(const QString& name, const QString& caption, QWidget* parent) {
    return named(new QLabel(caption, parent), name);
}

// A notice panel ("正在合并数据,请等待...") shown over the window during a merge.
QFrame* waitPicture(const QString& name, QLabel** text, const QString& labelName, QWidget* parent) {
    auto* picture = named(new QFrame(parent), name);
    picture->setFrameShape(QFrame::Box);
    picture->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(picture);
    *text = label(labelName, QStringLiteral("正在合并数据,请等待..."), picture);
    layout->addWidget(*text);
    return picture;
}

} // namespace

mainFm4::mainFm4(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainFm4"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("数据库维护"));
    buildMenus();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    DataGrid2 = named(new ui::DataGrid(central), QStringLiteral("DataGrid2"));
    layout->addWidget(DataGrid2, 1);

    // The walk, the counter and the jump to a record number.
    auto* walk = new QHBoxLayout;
    const char* arrows[4] = {"<<", "<", ">", ">>"};
    for (int i = 0; i < 4; ++i) {
        Command6[i] =
            button(QStringLiteral("Command6(%1)").arg(i), QString::fromLatin1(arrows[i]), central);
        Command6[i]->setFixedWidth(44);
        walk->addWidget(Command6[i]);
        connect(Command6[i], &QPushButton::clicked, this, [this, i] { Command6_Click(i); });
    }
    Text1 = named(new QLineEdit(central), QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setFixedWidth(130);
    Text1->setAlignment(Qt::AlignCenter);
    walk->addSpacing(8);
    walk->addWidget(Text1);
    walk->addSpacing(24);
    walk->addWidget(new QLabel(QStringLiteral("No号："), central));
    Text3 = named(new QLineEdit(central), QStringLiteral("Text3"));
    Text3->setToolTip(QStringLiteral("输入No号"));
    Text3->setFixedWidth(90);
    walk->addWidget(Text3);
    Command3 = button(QStringLiteral("Command3"), QStringLiteral("GO"), central,
                      QStringLiteral("转向No号记录"));
    Command3->setFixedWidth(56);
    walk->addWidget(Command3);
    walk->addStretch();
    layout->addLayout(walk);

    // The commands.
    auto* commands = new QHBoxLayout;
    Command1 = button(QStringLiteral("Command1"), QStringLiteral("单个删除"), central);
    Command10 = button(QStringLiteral("Command10"), QStringLiteral("批量删除"), central);
    Command4 = button(QStringLiteral("Command4"), QStringLiteral("保存修改"), central);
    Command11 = button(QStringLiteral("Command11"), QStringLiteral("取消修改"), central);
    Command12 = button(QStringLiteral("Command12"), QStringLiteral("数据合并"), central);
    Command13 = button(QStringLiteral("Command13"), QStringLiteral("导出查重结果"), central);
    Command8 = button(QStringLiteral("Command8"), QStringLiteral("返回"), central);
    for (QPushButton* b : {Command1, Command10, Command4, Command11, Command12, Command13}) {
        b->setMinimumWidth(96);
        commands->addWidget(b);
    }
    commands->addStretch();
    Command8->setMinimumWidth(96);
    commands->addWidget(Command8);
    layout->addLayout(commands);
    // The merge and the export are not part of the program yet.
    Command12->setEnabled(false);
    Command13->setEnabled(false);

    layout->addWidget(buildMergePanel(central));
    Picture2 = waitPicture(QStringLiteral("Picture2"), &Label5, QStringLiteral("Label5"), central);
    layout->addWidget(Picture2);
    setCentralWidget(central);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = label(QStringLiteral("StatusBar1_Panel%1").arg(i + 1), {}, statusBar());
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        statusBar()->addWidget(StatusPanels[i], i == 0 ? 2 : 1);
    }
    StatusNote = label(QStringLiteral("StatusNote"),
                       QStringLiteral("删除和修改只改变重复数据表；查重数据库只在数据合并时改变"),
                       statusBar());
    statusBar()->addPermanentWidget(StatusNote);

    connect(Command3, &QPushButton::clicked, this, &mainFm4::Command3_Click);
    connect(Command1, &QPushButton::clicked, this, &mainFm4::Command1_Click);
    connect(Command10, &QPushButton::clicked, this, &mainFm4::Command10_Click);
    connect(Command4, &QPushButton::clicked, this, &mainFm4::Command4_Click);
    connect(Command11, &QPushButton::clicked, this, &mainFm4::Command11_Click);
    connect(Command8, &QPushButton::clicked, this, &QWidget::close);
    connect(DataGrid2, &ui::DataGrid::rowColChange, this, &mainFm4::showCounter);
    tools::keepColumnWidths(DataGrid2, tools::GridSection::Work);

    resize(1100, 680);
    formLoad();
}

void mainFm4::buildMenus() {
    data_joint = new QAction(QStringLiteral("数据合并"), this);
    data_joint->setObjectName(QStringLiteral("data_joint"));
    data_Output1 = new QAction(QStringLiteral("重复数据导出（生成Excel文件）"), this);
    data_Output1->setObjectName(QStringLiteral("data_Output1"));
    data_Output2 = new QAction(QStringLiteral("不重复数据导出（生成Excel文件）"), this);
    data_Output2->setObjectName(QStringLiteral("data_Output2"));
    menuBar()->setObjectName(QStringLiteral("menuBar"));
    menuBar()->addAction(data_joint);
    data_Output = menuBar()->addMenu(QStringLiteral("导出查重结果"));
    data_Output->setObjectName(QStringLiteral("data_Output"));
    data_Output->addAction(data_Output1);
    data_Output->addAction(data_Output2);
    for (QAction* a : {data_joint, data_Output1, data_Output2})
        a->setEnabled(false);
    data_Output->setEnabled(false); // its own state: the menu bar's does not carry over
}

QWidget* mainFm4::buildMergePanel(QWidget* parent) {
    Frame1 = named(new QGroupBox(parent), QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(Frame1);
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("文件类型"), Frame1);
    Combo1 = named(new QComboBox(Frame1), QStringLiteral("Combo1"));
    Label2 = label(QStringLiteral("Label2"), QStringLiteral("目标文件"), Frame1);
    Text2 = named(new QLineEdit(Frame1), QStringLiteral("Text2"));
    Command5 = button(QStringLiteral("Command5"), QStringLiteral("浏览"), Frame1);
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("工作表"), Frame1);
    Combo2 = named(new QComboBox(Frame1), QStringLiteral("Combo2"));
    Command9 = button(QStringLiteral("Command9"), QStringLiteral("确认"), Frame1);
    Command7 = button(QStringLiteral("Command7"), QStringLiteral("返回"), Frame1);
    Picture1 = waitPicture(QStringLiteral("Picture1"), &Label4, QStringLiteral("Label4"), Frame1);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Combo1, 0, 1, 1, 2);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(Text2, 1, 1);
    grid->addWidget(Command5, 1, 2);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(Combo2, 2, 1, 1, 2);
    grid->addWidget(Command9, 3, 1);
    grid->addWidget(Command7, 3, 2);
    grid->addWidget(Picture1, 4, 0, 1, 3);
    Picture1->hide();
    return Frame1;
}

void mainFm4::formLoad() {
    app::AppState& st = app::appState();
    Combo2->clear();
    Combo2->setEnabled(false);
    Text2->clear();
    Command5->setEnabled(false);
    Command9->setEnabled(false);

    Text1->setText(app::recordCountOf(st.RsDup) > 0 ? positionCounter(st.RsDup)
                                                    : QStringLiteral("0"));
    Text3->setText(QStringLiteral("0"));

    DataGrid2->setRecordset(st.RsDup);
    if (app::isOpen(st.RsDup) && st.RsDup->fieldCount() > 0) {
        DataGrid2->setColumnVisible(st.RsDup->fieldCount() - 1, false);
        // No holds group numbers up to the record count: room for the widest from the start.
        const QString widest(QString::number(st.RsDup->recordCount()).size(), QLatin1Char('9'));
        const int width = DataGrid2->fontMetrics().horizontalAdvance(widest) + 16;
        if (DataGrid2->columnWidth(0) < width) DataGrid2->setColumnWidthQuietly(0, width);
    }

    Frame1->hide();
    Combo1->clear();
    Combo1->addItems({QStringLiteral("数据库文件(*.DBF)"), QStringLiteral("Excel文件(*.XLS)"),
                      QStringLiteral("Access文件(*.MDB)")});
    Combo1->setPlaceholderText(QStringLiteral("点击右边三角，选择文件类型"));
    Combo1->setCurrentIndex(-1);
    Picture2->hide();

    const QString panels[3] = {st.SourceDir, st.SourceFileTitle, st.SourceBaseName};
    for (int i = 0; i < 3; ++i)
        StatusPanels[i]->setText(panels[i]);
    ui::centreOnScreen(this);
}

mainFm4* mainFm4::showControl() {
    QPointer<mainFm4>& window = openWindow();
    if (window)
        window->formLoad();
    else
        window = new mainFm4;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void mainFm4::showCounter() {
    Text1->setText(positionCounter(app::appState().RsDup));
}

void mainFm4::setBusy(bool busy) {
    // While the batch delete walks RsDup, nothing here may move it.
    busy_ = busy;
    centralWidget()->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    if (!busy) showCounter();
}

void mainFm4::Command6_Click(int index) {
    app::AppState& st = app::appState();
    if (!app::isOpen(st.RsDup)) return;
    if (st.RsDup->recordCount() < 1) {
        Text1->setText(QStringLiteral("0/0"));
        return;
    }
    moveDuplicate(st, Move(std::clamp(index, 0, 3)));
    showCounter();
    locateInSource(st);
}

void mainFm4::Command3_Click() {
    app::AppState& st = app::appState();
    if (app::recordCountOf(st.RsDup) < 1) return;
    const Jump jump = jumpToNumber(st, Text3->text());
    if (jump.outcome == Jump::BadNumber)
        ui::inform(QStringLiteral("请输入记录号（No号）"));
    else if (jump.outcome == Jump::NotFound)
        ui::inform(QStringLiteral("没找到No ") + jump.typed + QStringLiteral(" 记录"));
    showCounter();
}

void mainFm4::Command1_Click() {
    app::AppState& st = app::appState();
    if (app::recordCountOf(st.RsDup) < 1) return;
    if (!ui::confirm(QStringLiteral("确实要删除该记录吗？"))) return;
    QString error;
    if (!deleteCurrentDuplicate(st, &error))
        ui::inform(QStringLiteral("记录没有删除：%1").arg(error), ui::defaultTitle(),
                   ui::Icon::Warning);
    showCounter();
}

void mainFm4::Command10_Click() {
    if (app::recordCountOf(app::appState().RsDup) < 1) return;
    tools::mainFm8* batch = tools::mainFm8::showBatchDelete();
    connect(batch, &tools::mainFm8::runningChanged, this, &mainFm4::setBusy, Qt::UniqueConnection);
}

void mainFm4::Command4_Click() {
    const db::RecordsetPtr& dup = app::appState().RsDup;
    if (app::recordCountOf(dup) < 1) return;
    DataGrid2->commitEditor();
    if (!dup->updateBatch())
        ui::inform(QStringLiteral("修改没有保存：%1").arg(dup->errorString()), ui::defaultTitle(),
                   ui::Icon::Warning);
}

void mainFm4::Command11_Click() {
    const db::RecordsetPtr& dup = app::appState().RsDup;
    if (app::recordCountOf(dup) < 1) return;
    dup->cancelBatch();
}

void mainFm4::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The batch delete window asks whether to stop; this one waits for it.
        event->ignore();
        return;
    }
    app::AppState& st = app::appState();
    DataGrid2->commitEditor();
    if (app::recordCountOf(st.RsDup) > 0 && st.RsDup->isEditing()) st.RsDup->update();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* batch = qobject_cast<tools::mainFm8*>(w)) batch->close();
    if (app::mainFm1* main = app::mainForm()) {
        main->show();
        main->setWindowTitle(QStringLiteral("查重主控界面"));
        if (app::isOpen(st.RsSource)) {
            main->setRecordCounter(QString::number(st.RsSource->recordCount()));
            main->bindGrid(st.RsSource);
        }
    }
    QMainWindow::closeEvent(event);
}

} // namespace control
