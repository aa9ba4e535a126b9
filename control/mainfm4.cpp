#include "control/mainfm4.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "control/engine/export.h"
#include "control/engine/maintain.h"
#include "core/appstate.h"
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
#include <QProgressBar>
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

// A notice panel ("正在合并数据,请等待...") shown during a merge, with the records written.
QFrame* waitPicture(const QString& name, QLabel** text, const QString& labelName,
                    QProgressBar** bar, const QString& barName, QWidget* parent) {
    auto* picture = named(new QFrame(parent), name);
    picture->setFrameShape(QFrame::Box);
    picture->setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(picture);
    *text = label(labelName, QStringLiteral("正在合并数据,请等待..."), picture);
    *bar = named(new QProgressBar(picture), barName);
    (*bar)->setRange(0, 0);
    layout->addWidget(*text);
    layout->addWidget(*bar, 1);
    return picture;
}

// What a merge reports while it runs: the records done on the notice's bar, the records left of
// check_Repeat in the counter, and the window kept painted. The counter changes now and then
// while the run goes on and shows the last count once it has ended.
class MergeSink : public core::ProgressSink {
public:
    MergeSink(QProgressBar* bar, QLineEdit* counter) : bar_(bar), counter_(counter) {}
    ~MergeSink() override {
        if (left_ >= 0) counter_->setText(QString::number(left_));
    }
    bool progress(int done, int total) override {
        if (throttle_.due()) {
            bar_->setRange(0, std::max(total, 1));
            bar_->setValue(done);
            if (left_ >= 0) counter_->setText(QString::number(left_));
            ui::yieldNow();
        }
        return true;
    }
    void remaining(int count) override { left_ = count; }

private:
    QProgressBar* bar_;
    QLineEdit* counter_;
    core::Throttle throttle_;
    int left_ = -1; // the last count heard, -1 before any
};

// A message box about a merge or an export that went wrong.
void warn(const QString& text, const QString& title = ui::defaultTitle()) {
    ui::inform(text, title, ui::Icon::Warning);
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
    // Beside the grid, after 智能查重: why the current row is in its group.
    reasonPanel_ =
        named(new QGroupBox(QStringLiteral("查重依据"), central), QStringLiteral("reasonPanel"));
    reasonText_ = named(new QLabel(reasonPanel_), QStringLiteral("reasonText"));
    reasonText_->setWordWrap(true);
    reasonText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    reasonText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* reasonLayout = new QVBoxLayout(reasonPanel_);
    reasonLayout->addWidget(reasonText_, 1);
    reasonPanel_->setFixedWidth(230);
    auto* top = new QHBoxLayout;
    top->addWidget(DataGrid2, 1);
    top->addWidget(reasonPanel_);
    layout->addLayout(top, 1);

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
    layout->addWidget(buildMergePanel(central));
    Picture2 = waitPicture(QStringLiteral("Picture2"), &Label5, QStringLiteral("Label5"),
                           &ProgressBar2, QStringLiteral("ProgressBar2"), central);
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
    connect(Command12, &QPushButton::clicked, this, &mainFm4::Command12_Click);
    connect(Command13, &QPushButton::clicked, this, &mainFm4::Command13_Click);
    connect(Combo1, &QComboBox::activated, this, &mainFm4::Combo1_Click);
    connect(Command5, &QPushButton::clicked, this, &mainFm4::Command5_Click);
    connect(Command9, &QPushButton::clicked, this, &mainFm4::Command9_Click);
    connect(Command7, &QPushButton::clicked, this, &mainFm4::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &QWidget::close);
    connect(DataGrid2, &ui::DataGrid::rowColChange, this, &mainFm4::showCounter);
    connect(DataGrid2, &ui::DataGrid::rowColChange, this, &mainFm4::showReason);
    DataGrid2->keepColumnWidths(ui::GridSection::Work);

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
    data_Report = new QAction(QStringLiteral("查重报告"), this);
    data_Report->setObjectName(QStringLiteral("data_Report"));
    menuBar()->addAction(data_Report);
    connect(data_Report, &QAction::triggered, this, [] {
        if (!app::windows().showReport()) ui::inform(QStringLiteral("还没有查重报告：请先查重"));
    });
    connect(data_joint, &QAction::triggered, this, &mainFm4::Command12_Click);
    connect(data_Output1, &QAction::triggered, this, &mainFm4::data_Output1_Click);
    connect(data_Output2, &QAction::triggered, this, &mainFm4::data_Output2_Click);
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
    Picture1 = waitPicture(QStringLiteral("Picture1"), &Label4, QStringLiteral("Label4"),
                           &ProgressBar1, QStringLiteral("ProgressBar1"), Frame1);
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
    core::AppState& st = core::appState();
    Combo2->clear();
    Combo2->setEnabled(false);
    Text2->clear();
    Command5->setEnabled(false);
    Command9->setEnabled(false);

    Text1->setText(core::recordCountOf(st.RsDup) > 0 ? positionCounter(st.RsDup)
                                                     : QStringLiteral("0"));
    Text3->setText(QStringLiteral("0"));

    DataGrid2->setRecordset(st.RsDup);
    if (core::isOpen(st.RsDup) && st.RsDup->fieldCount() > 0) {
        DataGrid2->setColumnVisible(st.RsDup->fieldCount() - 1, false);
        // No holds group numbers up to the record count: room for the widest from the start.
        DataGrid2->fitColumnToNumbers(0, st.RsDup->recordCount());
    }

    Frame1->hide();
    Picture1->hide();
    targetType_ = -1;
    target_ = MergeTarget();
    Combo1->clear();
    Combo1->addItems({QStringLiteral("数据库文件(*.DBF)"), QStringLiteral("Excel文件(*.XLS)"),
                      QStringLiteral("Access文件(*.MDB)")});
    Combo1->setPlaceholderText(QStringLiteral("点击右边三角，选择文件类型"));
    Combo1->setCurrentIndex(-1);
    Picture2->hide();

    const QString panels[3] = {st.SourceDir, st.SourceFileTitle, st.SourceBaseName};
    for (int i = 0; i < 3; ++i)
        StatusPanels[i]->setText(panels[i]);
    reasons_ = core::readReasons(st.WorkConn);
    reasonPanel_->setVisible(!reasons_.isEmpty());
    showReason();
    ui::centreOnScreen(this);
}

void mainFm4::showReason() {
    const db::RecordsetPtr& rs = core::appState().RsDup;
    if (reasons_.isEmpty() || !core::isOpen(rs) || rs->isEof() || rs->isBof()) {
        reasonText_->clear();
        return;
    }
    const int last = rs->fieldCount() - 1;
    const auto it = reasons_.constFind(rs->valueView(last).toInt());
    if (it == reasons_.cend()) {
        reasonText_->setText(QStringLiteral("这条记录不是智能查重找出的。"));
        return;
    }
    // The row it matched best, by its place in the grid: groups are together, so it is near.
    const int here = rs->absolutePosition();
    int partner = 0;
    for (int d = 1; d <= 200 && partner == 0; ++d)
        for (const int row : {here - 1 - d, here - 1 + d})
            if (row >= 0 && row < rs->recordCount() && rs->viewAt(row, last).toInt() == it->partner)
                partner = row + 1;
    QStringList basis = it->basis.split(QStringLiteral("；"), Qt::SkipEmptyParts);
    reasonText_->setText(QStringLiteral("第 %1 组\n%2\n得分 %3\n\n相同或相近的字段：\n%4")
                             .arg(it->group)
                             .arg(partner > 0 ? QStringLiteral("与第 %1 条记录最相似").arg(partner)
                                              : QStringLiteral("与同组的另一条记录最相似"))
                             .arg(it->score, 0, 'f', 1)
                             .arg(basis.isEmpty() ? QStringLiteral("（无）") : basis.join(u'\n')));
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
    Text1->setText(positionCounter(core::appState().RsDup));
}

void mainFm4::setBusy(bool busy) {
    // While the batch delete or a merge walks RsDup, nothing here may move it.
    busy_ = busy;
    centralWidget()->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    if (!busy) showCounter();
}

void mainFm4::Command6_Click(int index) {
    core::AppState& st = core::appState();
    if (!core::isOpen(st.RsDup)) return;
    if (st.RsDup->recordCount() < 1) {
        Text1->setText(QStringLiteral("0/0"));
        return;
    }
    moveDuplicate(st, Move(std::clamp(index, 0, 3)));
    showCounter();
    locateInSource(st);
}

void mainFm4::Command3_Click() {
    core::AppState& st = core::appState();
    if (core::recordCountOf(st.RsDup) < 1) return;
    const Jump jump = jumpToNumber(st, Text3->text());
    if (jump.outcome == Jump::BadNumber)
        ui::inform(QStringLiteral("请输入记录号（No号）"));
    else if (jump.outcome == Jump::NotFound)
        ui::inform(QStringLiteral("没找到No ") + jump.typed + QStringLiteral(" 记录"));
    showCounter();
}

void mainFm4::Command1_Click() {
    if (ui::refuseWhileBusy()) return;
    core::AppState& st = core::appState();
    if (core::recordCountOf(st.RsDup) < 1) return;
    if (!ui::confirm(QStringLiteral("确实要删除该记录吗？"))) return;
    if (const core::Status s = deleteCurrentDuplicate(st); !s.ok())
        ui::inform(QStringLiteral("记录没有删除：%1").arg(s.error), ui::defaultTitle(),
                   ui::Icon::Warning);
    showCounter();
}

void mainFm4::Command10_Click() {
    if (core::recordCountOf(core::appState().RsDup) < 1) return;
    if (QWidget* batch = app::windows().showBatchDelete())
        connect(batch, SIGNAL(runningChanged(bool)), this, SLOT(setBusy(bool)),
                Qt::UniqueConnection);
}

void mainFm4::Command4_Click() {
    if (ui::refuseWhileBusy()) return;
    const db::RecordsetPtr& dup = core::appState().RsDup;
    if (core::recordCountOf(dup) < 1) return;
    DataGrid2->commitEditor();
    if (dup->isEditing() && !dup->update()) {
        warn(QStringLiteral("修改没有保存：%1").arg(dup->errorString()));
        return;
    }
    if (const core::Status refusal = pendingEditRefusal(core::appState()); !refusal.ok()) {
        warn(refusal.error);
        return;
    }
    if (!dup->updateBatch())
        ui::inform(QStringLiteral("修改没有保存：%1").arg(dup->errorString()), ui::defaultTitle(),
                   ui::Icon::Warning);
}

void mainFm4::Command11_Click() {
    if (ui::refuseWhileBusy()) return;
    const db::RecordsetPtr& dup = core::appState().RsDup;
    if (core::recordCountOf(dup) < 1) return;
    dup->cancelBatch();
}

// ---- the merge --------------------------------------------------------------------------

QString mainFm4::mergeNotes(const MergeResult& r) {
    QString notes;
    if (!r.leftOut.isEmpty())
        notes += QStringLiteral("\r\n目标表的字段比重复数据少，以下字段没有写入：") +
                 r.leftOut.join(QStringLiteral("、"));
    if (r.workingCopy)
        notes += QStringLiteral("\r\n此Access文件以副本方式打开，合并的记录只在副本中，"
                                "原文件没有改变。");
    return notes;
}

bool mainFm4::confirmSecondMerge() {
    return !mergedBefore(core::appState()) ||
           ui::confirm(QStringLiteral("这些记录已经合并过一次，再次合并会重复写入。仍要合并吗？"));
}

void mainFm4::Command12_Click() {
    if (ui::refuseWhileBusy()) return;
    if (!ui::confirm(QStringLiteral("数据是否已全部维护完毕？！"))) return;
    core::AppState& st = core::appState();
    DataGrid2->commitEditor();
    if (!core::isOpen(st.RsSource)) {
        // No check table to go back into: the user picks a target on the panel.
        Picture1->hide();
        Frame1->show();
        return;
    }
    if (!confirmSecondMerge()) return;
    if (const core::Status refusal = mergeRefusal(st); !refusal.ok()) {
        warn(refusal.error);
        return;
    }
    if (core::recordCountOf(st.RsDup) > 0) {
        MergeResult r;
        {
            // Taken before the notice is painted: no other command starts from here on.
            const core::RunGuard guard(st, QStringLiteral("数据合并"));
            setBusy(true);
            Picture2->show();
            ui::yieldNow();
            ui::WaitCursor wait;
            MergeSink sink(ProgressBar2, Text1);
            r = mergeIntoCheckTable(st, sink);
        }
        setBusy(false);
        Picture2->hide();
        if (!r.ok()) {
            warn(r.error);
            return;
        }
        ui::inform(QStringLiteral("数据库查重维护结束!") + mergeNotes(r));
    }
    if (st.SourceTable == QLatin1String("ClienttableELS"))
        core::setSourceKind(st, core::SourceKind::Imported);
    if (core::sourceKindOf(st) == core::SourceKind::Imported) {
        ui::inform(QStringLiteral("将不重复数据导出，生成Excel文件！"));
        outputFile_XLS(QStringLiteral("ClienttableELS"));
    }
    close();
}

void mainFm4::Combo1_Click() {
    if (Combo1->currentIndex() < 0) {
        ui::inform(QStringLiteral("请选择文件类型！"));
        return;
    }
    targetType_ = Combo1->currentIndex();
    // A target chosen for another type is no target of this one.
    target_ = MergeTarget();
    Text2->clear();
    Combo2->clear();
    Combo2->setEnabled(false);
    Combo2->setPlaceholderText(QString());
    switch (TargetKind(targetType_)) {
    case TargetKind::Dbase:
        Command5->setEnabled(true);
        break;
    case TargetKind::Imported:
        Command5->setEnabled(false);
        Command9->setEnabled(true);
        Combo2->addItem(QStringLiteral("ClienttableELS"));
        Combo2->setCurrentIndex(0);
        break;
    case TargetKind::Access:
        Command5->setEnabled(true);
        Combo2->setEnabled(true);
        break;
    }
}

void mainFm4::Command5_Click() {
    target_ = MergeTarget();
    core::appState().RsFields.reset();
    Command9->setEnabled(true);
    const auto kind = TargetKind(targetType_);
    if (kind != TargetKind::Dbase && kind != TargetKind::Access) return;
    const bool access = kind == TargetKind::Access;
    ui::FileDialogOptions o;
    o.title = QStringLiteral("选择目标文件");
    o.filter = access ? QStringLiteral("所有文件(*.*)|*.*|数据库文件(*.MDB)|*.mdb")
                      : QStringLiteral("所有文件(*.*)|*.*|数据库文件(*.DBF)|*.dbf");
    o.filterIndex = 2;
    const std::optional<ui::FileChoice> choice = ui::dialogs().openFile(o);
    if (!choice) return;
    Text2->setText(choice->path);
    if (!access) {
        Combo2->clear();
        Combo2->addItem(dbaseTargetTable(choice->fileTitle));
        Combo2->setCurrentIndex(0);
    }
    if (choice->path.isEmpty()) return;
    if (access) {
        if (!choice->path.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive)) {
            ui::inform(QStringLiteral("数据库类型不是 .mdb类型 ，\r\n请重新选择 .mdb数据库 ！"),
                       QStringLiteral("提示信息"));
            return;
        }
        QStringList tables;
        core::Status opened;
        {
            ui::WaitCursor wait;
            opened = openAccessTarget(core::appState(), choice->path, &target_, &tables);
        }
        if (!opened.ok()) {
            warn(opened.error);
            return;
        }
        Combo2->clear();
        Combo2->addItems(tables);
        Combo2->setCurrentIndex(-1);
        Combo2->setPlaceholderText(QStringLiteral("点击右边三角，选择表"));
        return;
    }
    if (!choice->path.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive)) {
        ui::inform(QStringLiteral("不是.DBF 数据文件类型，请重新选择！"),
                   QStringLiteral("提示信息"));
        return;
    }
    core::Status opened;
    {
        ui::WaitCursor wait;
        opened = openDbaseTarget(core::appState(), choice->path, choice->fileTitle, &target_);
    }
    if (!opened.ok()) warn(opened.error);
}

void mainFm4::Command7_Click() {
    Frame1->hide();
}

bool mainFm4::check_Repeat() {
    MergeSink sink(ProgressBar1, Text1);
    const core::RunResult r = removeRepeats(core::appState(), sink);
    if (!r.ok()) warn(r.error);
    return r.ok();
}

void mainFm4::Command9_Click() {
    if (Combo1->currentIndex() < 0 || ui::refuseWhileBusy()) return;
    core::AppState& st = core::appState();
    const auto kind = TargetKind(targetType_);
    if (kind == TargetKind::Access) {
        if (Combo2->currentIndex() < 0) {
            ui::inform(QStringLiteral("请选择工作表！"));
            return;
        }
        target_.table = Combo2->currentText();
    }
    MergeTarget target = target_;
    target.kind = kind;
    DataGrid2->commitEditor();
    if (!confirmSecondMerge()) return;
    if (const core::Status refusal = mergeRefusal(st); !refusal.ok()) {
        warn(refusal.error);
        return;
    }
    MergeResult r;
    bool repeatsGone = false;
    {
        const core::RunGuard guard(st, QStringLiteral("数据合并"));
        Picture1->show();
        ui::yieldNow();
        setBusy(true);
        ui::WaitCursor wait;
        repeatsGone = check_Repeat();
        if (repeatsGone) {
            MergeSink sink(ProgressBar1, Text1);
            r = mergeIntoTarget(st, target, sink);
        }
    }
    setBusy(false);
    Picture1->hide();
    if (!repeatsGone) return;
    if (!r.ok()) {
        warn(QStringLiteral("目标文件是否正确？重新选择！\r\n") + r.error);
        return;
    }
    Frame1->hide();
    ui::inform(QStringLiteral("数据合并完毕！") + mergeNotes(r));
    if (kind == TargetKind::Imported) {
        ui::inform(QStringLiteral("将维护完成的数据导出，生成 Execl 文件"));
        outputFile_XLS(QStringLiteral("ClienttableELS"));
    }
    close();
}

// ---- the export -------------------------------------------------------------------------

void mainFm4::Command13_Click() {
    if (!ui::confirm(QStringLiteral("将查重结果，重复数据导出，生成Excel文件？"))) return;
    outputFile_XLS(QStringLiteral("ClienttableCC"));
}

void mainFm4::data_Output1_Click() {
    if (!core::isOpen(core::appState().RsDup)) return;
    if (!ui::confirm(QStringLiteral("将重复数据导出，生成Excel文件？"))) return;
    outputFile_XLS(QStringLiteral("ClienttableCC"));
}

void mainFm4::data_Output2_Click() {
    if (!ui::confirm(QStringLiteral("将不重复数据导出，生成Excel文件？"))) return;
    const core::AppState& st = core::appState();
    switch (restExportOf(st.SourceFileTitle)) {
    case RestExport::NotImported:
        ui::inform(QStringLiteral("没有导入的DBF格式的数据，不能执行此操作！"));
        break;
    case RestExport::ImportedTable:
        outputFile_XLS(QStringLiteral("ClienttableELS"));
        break;
    case RestExport::SourceTable:
        outputFile_XLS2(st.SourceTable);
        break;
    case RestExport::Nothing:
        warn(QStringLiteral("无法从数据文件“%1”的名称判断它的类型，没有导出。")
                 .arg(st.SourceFileTitle));
        break;
    }
}

void mainFm4::outputFile_XLS(const QString& table) {
    exportTo(core::appState().WorkConn, table);
}

void mainFm4::outputFile_XLS2(const QString& table) {
    const core::AppState& st = core::appState();
    if (!core::isOpen(st.RsSource)) return;
    exportTo(st.SourceConn, table);
}

bool mainFm4::chech_TableName(const QStringList& sheets, const QString& name) {
    const core::Status refusal = sheetNameRefusal(sheets, name);
    if (refusal.ok()) return true;
    ui::inform(refusal.error);
    return false;
}

void mainFm4::exportTo(const db::Connection& conn, const QString& table) {
    if (ui::refuseWhileBusy()) return;
    const QStringList fields = exportFields(core::appState());
    if (fields.isEmpty()) {
        warn(QStringLiteral("查重数据库没有打开，无法确定要导出的字段。请先打开数据库。"));
        return;
    }
    ui::FileDialogOptions o;
    o.title = QStringLiteral("导出到Excel文件");
    o.filter = QStringLiteral("Excel (*.XLS)|*.XLS|Excel 2007 (*.XLSX)|*.XLSX");
    o.filterIndex = 1;
    o.defaultExtension = QStringLiteral("xls");
    o.mustExist = false;
    o.overwritePrompt = false; // the workbook gets a sheet more; nothing in it is replaced
    const std::optional<ui::FileChoice> choice = ui::dialogs().saveFile(o);
    if (!choice || choice->path.isEmpty()) return;
    QStringList sheets;
    if (const core::Status s = workbookSheets(choice->path, &sheets); !s.ok()) {
        warn(s.error);
        return;
    }
    QString sheet;
    for (;;) {
        const std::optional<QString> answer =
            ui::dialogs().input(QStringLiteral("请给导出到XLS文件的表名"), ui::defaultTitle(), {});
        if (!answer || answer->trimmed().isEmpty()) return;
        if (chech_TableName(sheets, *answer)) {
            sheet = *answer;
            break;
        }
    }
    db::ExcelExportResult r;
    {
        ui::WaitCursor wait;
        r = exportTable(core::appState(), conn, table, choice->path, sheet);
    }
    if (r.ok)
        ui::inform(exportSuccessText(r), QStringLiteral("导出成功"));
    else
        warn(QStringLiteral("失败\r\n") + r.error, QStringLiteral("导出失败"));
}

void mainFm4::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The batch delete window asks whether to stop; this one waits for it.
        event->ignore();
        return;
    }
    core::AppState& st = core::appState();
    DataGrid2->commitEditor();
    if (core::recordCountOf(st.RsDup) > 0 && st.RsDup->isEditing()) st.RsDup->update();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("mainFm8")) w->close();
    if (app::mainFm1* main = app::mainForm()) {
        main->show();
        main->setWindowTitle(QStringLiteral("查重主控界面"));
        main->showCheckTable();
    }
    QMainWindow::closeEvent(event);
}

} // namespace control
