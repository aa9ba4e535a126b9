#include "import/tablefm1.h"

#include "core/appstate.h"
#include "import/commands.h"
#include "import/engine/sources.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace sources {

tableFm1::tableFm1(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("tableFm1"));
    setWindowTitle(QStringLiteral("选择表"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* v = new QVBoxLayout(this);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::Box);
    auto* p = new QHBoxLayout(Picture1);
    Label1 = new QLabel(QStringLiteral("正在打开数据库,请等待..."), Picture1);
    Label1->setObjectName(QStringLiteral("Label1"));
    p->addWidget(Label1);
    Command2 = new QPushButton(QStringLiteral("确认"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command1 = new QPushButton(QStringLiteral("返回"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);
    v->addWidget(List1);
    v->addWidget(Picture1);
    v->addLayout(buttons);
    connect(Command2, &QPushButton::clicked, this, &tableFm1::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &tableFm1::Command1_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &tableFm1::Command2_Click);
    resize(320, 360);
    formLoad();
}

tableFm1* tableFm1::showChooser() {
    auto* window = new tableFm1;
    window->show();
    return window;
}

void tableFm1::formLoad() {
    ui::centreOnScreen(this);
    Picture1->hide();
    List1->clear();
    QStringList names;
    const QString error = chooserTables(core::appState(), &names).error;
    List1->addItems(names);
    if (!error.isEmpty())
        ui::inform(QStringLiteral("无法列出文件中的表：\n%1").arg(error), ui::defaultTitle(),
                   ui::Icon::Warning);
    else if (names.isEmpty())
        ui::inform(QStringLiteral("文件中没有可以打开的表。"));
}

void tableFm1::Command2_Click() {
    QListWidgetItem* item = List1->currentItem();
    if (List1->count() == 0 || !item || !item->isSelected()) return;
    const QString name = item->text();
    Label1->setText(QStringLiteral("正在打开数据库,请等待..."));
    Picture1->show();
    Command2->setEnabled(false);
    Command1->setEnabled(false);
    if (isVisible()) ui::yieldNow();
    {
        ui::WaitCursor wait;
        showChosenTable(name);
    }
    close();
}

void tableFm1::Command1_Click() {
    ui::restoreDefaultCursor();
    close();
}

} // namespace sources
