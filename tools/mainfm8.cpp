#include "tools/mainfm8.h"

#include "check/engine/report.h"
#include "core/appstate.h"
#include "tools/engine/batchdelete.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tools {

namespace {

QPointer<mainFm8>& openWindow() {
    static QPointer<mainFm8> window;
    return window;
}

const QString caption = QStringLiteral("删除相同内容字段名选择");

} // namespace

mainFm8::mainFm8(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainFm8"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);

    auto* layout = new QVBoxLayout(this);
    auto* lists = new QGridLayout;
    Label1 = new QLabel(QStringLiteral("数据库字段名"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("已选字段名"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    for (QListWidget* list : {List1, List2}) {
        list->setSelectionMode(QAbstractItemView::MultiSelection);
        list->setMinimumSize(170, 220);
    }
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    const char* captions[4] = {">", ">>", "<", "<<"};
    for (int i = 0; i < 4; ++i) {
        Command1[i] = new QPushButton(QString::fromLatin1(captions[i]), this);
        Command1[i]->setObjectName(QStringLiteral("Command1(%1)").arg(i));
        Command1[i]->setFixedWidth(44);
        Command1[i]->setAutoDefault(false);
        moves->addWidget(Command1[i]);
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    moves->addStretch();
    lists->addWidget(Label1, 0, 0);
    lists->addWidget(Label2, 0, 2);
    lists->addWidget(List1, 1, 0);
    lists->addLayout(moves, 1, 1);
    lists->addWidget(List2, 1, 2);
    layout->addLayout(lists, 1);

    Frame2 = new QFrame(this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setFrameShape(QFrame::StyledPanel);
    auto* panel = new QVBoxLayout(Frame2);
    Label3 = new QLabel(QStringLiteral("正在删除记录，请等待..."), Frame2);
    Label3->setObjectName(QStringLiteral("Label3"));
    ProgressBar1 = new QProgressBar(Frame2);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    Label4 = new QLabel(QStringLiteral("已删除了50%"), Frame2);
    Label4->setObjectName(QStringLiteral("Label4"));
    panel->addWidget(Label3);
    panel->addWidget(ProgressBar1);
    panel->addWidget(Label4);
    layout->addWidget(Frame2);

    auto* buttons = new QHBoxLayout;
    Command2 = new QPushButton(QStringLiteral("确认"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("返回"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    buttons->addStretch();
    for (QPushButton* b : {Command2, Command3}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(90);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    connect(Command2, &QPushButton::clicked, this, &mainFm8::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);

    // Opening: the panel hidden, the fields of the duplicate table on offer.
    Frame2->hide();
    fillFieldList();
    adjustSize();
    ui::centreOnScreen(this);
}

mainFm8* mainFm8::showBatchDelete() {
    QPointer<mainFm8>& window = openWindow();
    if (!window) window = new mainFm8;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void mainFm8::fillFieldList() {
    // The fields of RsDup but the first (No) and the last (the running number).
    List1->clear();
    List2->clear();
    const db::RecordsetPtr& dup = core::appState().RsDup;
    if (!core::isOpen(dup)) return;
    for (int i = 1; i <= dup->fieldCount() - 2; ++i)
        List1->addItem(dup->fieldName(i));
}

void mainFm8::Command1_Click(int index) {
    switch (index) {
    case 0:
        ui::moveSelectedItems(List1, List2);
        break;
    case 1:
        ui::moveAllItems(List1, List2);
        break;
    case 2:
        ui::moveSelectedItems(List2, List1);
        break;
    case 3:
        // Everything back as the window opened: every field on offer, none picked.
        fillFieldList();
        break;
    default:
        break;
    }
}

void mainFm8::Command2_Click() {
    if (running_ || List2->count() == 0 || ui::refuseWhileBusy()) return;
    core::AppState& st = core::appState();
    core::RunOptions options;
    for (int i = 0; i < List2->count(); ++i)
        options.fields << List2->item(i)->text();
    if (const core::Status refusal = batchDeleteRefusal(st, options.fields); !refusal.ok()) {
        ui::inform(refusal.error, ui::defaultTitle(), ui::Icon::Warning);
        return;
    }
    if (!ui::confirm(QStringLiteral("确认要删除这些记录？"))) return;

    core::RunResult r;
    {
        // Taken before the first repaint: no other command starts from here on.
        const core::RunGuard guard(st, QStringLiteral("批量删除"));
        Frame2->show();
        setWindowTitle(QStringLiteral("批量删除"));
        Label3->setText(QStringLiteral("正在删除记录，请等待..."));
        setRunning(true);
        showProgress(0, core::recordCountOf(st.RsDup));
        ui::yieldNow();
        ui::WaitCursor wait;
        r = batchDelete(st, options, *this);
        check::addLogToLastReport(st.WorkConn, r.changeLogPath);
    }
    setRunning(false);

    if (r.cancelled) {
        ui::inform(r.deleted == 0 ? QStringLiteral("批量删除已停止，没有删除任何记录。")
                                  : QStringLiteral("批量删除已停止。"));
        close();
        return;
    }
    if (!r.error.isEmpty()) {
        ui::inform(r.error, ui::defaultTitle(), ui::Icon::Warning);
        Frame2->hide();
        setWindowTitle(caption);
        return;
    }
    Label3->setText(QStringLiteral("批量删除结束"));
    showProgress(st.RsDup->absolutePosition(), st.RsDup->recordCount());
    ui::inform(QStringLiteral("批量删除结束！"));
    close();
}

void mainFm8::showProgress(int position, int count) {
    Label4->setText(QStringLiteral("已进行了") + progressPercent(position, count));
    ProgressBar1->setValue(int(progressShare(position, count)));
}

void mainFm8::setRunning(bool running) {
    running_ = running;
    stopRequested_ = false;
    Command2->setEnabled(!running);
    emit runningChanged(running);
}

bool mainFm8::progress(int done, int total) {
    if (throttle_.due()) {
        showProgress(done, total);
        ui::yieldNow();
    }
    return !stopRequested_;
}

void mainFm8::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The delete stops at its next record once the user has confirmed; the window closes
        // when it has stopped.
        event->ignore();
        if (!stopRequested_ && ui::confirm(QStringLiteral("是否停止批量删除？")))
            stopRequested_ = true;
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace tools
