#include "app/mainfm1.h"

#include "app/windowdirectory.h"
#include "check/engine/checkjob.h"
#include "check/engine/smartscan.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "core/workplace.h"
#include "db/sqltext.h"
#include "smart/engine/fieldkinds.h"
#include "smart/engine/matcher.h"
#include "ui/datagrid.h"
#include "ui/dialogs.h"
#include "ui/gridwidths.h"
#include "ui/toolkit.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace app {

namespace {

mainFm1* theMainForm = nullptr;

QLabel* makeLabel(const QString& name, const QString& caption, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

QLineEdit* makeTextBox(const QString& name, const QString& tip, QWidget* parent) {
    auto* t = new QLineEdit(parent);
    t->setObjectName(name);
    t->setToolTip(tip);
    return t;
}

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

void fail(const QString& text) {
    ui::inform(text, ui::defaultTitle(), ui::Icon::Critical);
}

} // namespace

mainFm1* mainForm() {
    return theMainForm;
}

mainFm1::mainFm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainFm1"));
    setWindowTitle(QStringLiteral("查重主控界面"));
    theMainForm = this;

    buildMenus();

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralArea"));
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(6, 0, 6, 4);

    CoolBar1 = new QFrame(central);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFrameShape(QFrame::StyledPanel);
    auto* coolLayout = new QHBoxLayout(CoolBar1);
    coolLayout->setContentsMargins(2, 2, 2, 2);
    Toolbar1 = new QToolBar(CoolBar1);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Toolbar1->setIconSize(QSize(20, 20));
    // The toolbar's buttons do what the menu commands of the same captions do; they have their
    // own actions because a menu bar shows an action's icon instead of its caption.
    const QList<QPair<QAction*, QStyle::StandardPixmap>> buttons = {
        {data_Maintain, QStyle::SP_FileDialogDetailedView},
        {help_Manual, QStyle::SP_DialogHelpButton},
        {exit_System, QStyle::SP_DialogCloseButton}};
    for (int i = 0; i < buttons.size(); ++i) {
        QAction* command = buttons.at(i).first;
        QAction* button =
            Toolbar1->addAction(style()->standardIcon(buttons.at(i).second), command->text());
        button->setObjectName(QStringLiteral("Toolbar1_Button%1").arg(i + 1));
        connect(button, &QAction::triggered, command, &QAction::trigger);
    }
    coolLayout->addWidget(Toolbar1);
    coolLayout->addStretch();
    outer->addWidget(CoolBar1);

    auto* body = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    DataGrid1 = new ui::DataGrid(central);
    DataGrid1->setObjectName(QStringLiteral("DataGrid1"));
    left->addWidget(DataGrid1, 1);
    auto* counterRow = new QHBoxLayout;
    auto* counterLabel =
        makeLabel(QStringLiteral("counterLabel"), QStringLiteral("记录："), central);
    Text1 = makeTextBox(QStringLiteral("Text1"), QStringLiteral("客户记录记数"), central);
    Text1->setReadOnly(true);
    Text1->setMaximumWidth(200);
    counterRow->addWidget(counterLabel);
    counterRow->addWidget(Text1);
    counterRow->addStretch();
    left->addLayout(counterRow);
    body->addLayout(left, 1);
    body->addWidget(buildSidePanel());
    outer->addLayout(body, 1);
    setCentralWidget(central);

    // The wait picture floats over the grid while a table opens.
    Picture1 = new QFrame(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::Box);
    Picture1->setAutoFillBackground(true);
    auto* pictureLayout = new QVBoxLayout(Picture1);
    pictureLayout->setContentsMargins(24, 16, 24, 16);
    Label3 =
        makeLabel(QStringLiteral("Label3"), QStringLiteral("正在打开数据库,请等待..."), Picture1);
    Label3->setAlignment(Qt::AlignCenter);
    pictureLayout->addWidget(Label3);
    Picture1->hide();

    // The status bar's three panels: directory, file title, base name of the source.
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(true);
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(statusBar());
        StatusPanels[i]->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(i + 1));
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setMinimumWidth(i == 0 ? 320 : 160);
        StatusPanels[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        statusBar()->addWidget(StatusPanels[i], i == 0 ? 2 : 1);
    }

    connect(DataGrid1, &ui::DataGrid::rowColChange, this, &mainFm1::DataGrid1_RowColChange);
    DataGrid1->keepColumnWidths(ui::GridSection::Source);
    for (int i = 0; i < 4; ++i)
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    for (int i = 0; i < 2; ++i)
        connect(Command29[i], &QPushButton::clicked, this, [this, i] { Command29_Click(i); });
    connect(List2, &QListWidget::itemClicked, this, &mainFm1::List2_Click);
    connect(Option4, &QRadioButton::clicked, this, &mainFm1::Option4_Click);
    connect(Option5, &QRadioButton::clicked, this, &mainFm1::Option5_Click);
    connect(Command3, &QPushButton::clicked, this, &mainFm1::Command3_Click);
    connect(data_Maintain, &QAction::triggered, this, &mainFm1::dataMaintain_Click);
    connect(help_Manual, &QAction::triggered, this, &mainFm1::help_Click);
    connect(data_Report, &QAction::triggered, this, [] {
        if (!windows().showReport()) ui::inform(QStringLiteral("还没有查重报告：请先查重"));
    });
    connect(data_Restore, &QAction::triggered, this, [] {
        if (!ui::refuseWhileBusy()) windows().showRestore();
    });
    for (QAction* open :
         {begin_DBF, Input_DBF, begin_MDB, inputFile_XLS, inputFile_CSV, begin_MDB2}) {
        connect(open, &QAction::triggered, this, [name = open->objectName()] {
            if (!ui::refuseWhileBusy()) windows().openSource(name);
        });
    }
    connect(exit_System, &QAction::triggered, this, &mainFm1::exit_Click);

    resize(1100, 720);
}

mainFm1::~mainFm1() {
    if (theMainForm == this) theMainForm = nullptr;
}

void mainFm1::buildMenus() {
    auto action = [this](const QString& name, const QString& caption) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        return a;
    };
    inputFile_XLS = action(QStringLiteral("inputFile_XLS"), QStringLiteral("导入Excel数据"));
    inputFile_CSV = action(QStringLiteral("inputFile_CSV"), QStringLiteral("导入文本数据（CSV）"));
    begin_DBF = action(QStringLiteral("begin_DBF"), QStringLiteral("打开DBF数据"));
    Input_DBF =
        action(QStringLiteral("Input_DBF"), QStringLiteral("导入DBF数据（可导出Excel文件）"));
    begin_MDB = action(QStringLiteral("begin_MDB"), QStringLiteral("打开MDB数据"));
    begin_MDB2 = action(QStringLiteral("begin_MDB2"), QStringLiteral("打开导入数据"));
    data_Maintain = action(QStringLiteral("data_Maintain"), QStringLiteral("数据维护"));
    data_Report = action(QStringLiteral("data_Report"), QStringLiteral("查重报告"));
    data_Restore = action(QStringLiteral("data_Restore"), QStringLiteral("恢复备份"));
    help_Manual = action(QStringLiteral("help_Manual"), QStringLiteral("帮助"));
    exit_System = action(QStringLiteral("exit_System"), QStringLiteral("退出"));

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    QMenu* excel = bar->addMenu(QStringLiteral("Excel数据"));
    excel->setObjectName(QStringLiteral("menu_XLS"));
    excel->addAction(inputFile_XLS);
    excel->addAction(inputFile_CSV);
    QMenu* dbf = bar->addMenu(QStringLiteral("DBF数据"));
    dbf->setObjectName(QStringLiteral("menu_DBF"));
    dbf->addAction(begin_DBF);
    dbf->addAction(Input_DBF);
    QMenu* mdb = bar->addMenu(QStringLiteral("MDB数据"));
    mdb->setObjectName(QStringLiteral("menu_MDB"));
    mdb->addAction(begin_MDB);
    mdb->addAction(begin_MDB2);
    bar->addAction(data_Maintain);
    QMenu* results = bar->addMenu(QStringLiteral("查重结果"));
    results->setObjectName(QStringLiteral("menu_Result"));
    results->addAction(data_Report);
    results->addAction(data_Restore);
    bar->addAction(help_Manual);
    bar->addAction(exit_System);
}

QWidget* mainFm1::buildSidePanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("sidePanel"));
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(6, 0, 0, 0);

    // The two field lists with the move buttons between them.
    auto* lists = new QGridLayout;
    Label4 = makeLabel(QStringLiteral("Label4"), QStringLiteral("数据库字段名"), panel);
    Label5 = makeLabel(QStringLiteral("Label5"), QStringLiteral("查重字段名"), panel);
    List2 = new QListWidget(panel);
    List2->setObjectName(QStringLiteral("List2"));
    List1 = new QListWidget(panel);
    List1->setObjectName(QStringLiteral("List1"));
    for (QListWidget* l : {List2, List1}) {
        l->setSelectionMode(QAbstractItemView::MultiSelection);
        l->setMinimumSize(150, 190);
    }
    auto* moves = new QVBoxLayout;
    const char* captions[4] = {">", ">>", "<", "<<"};
    moves->addStretch();
    for (int i = 0; i < 4; ++i) {
        Command1[i] = makeButton(QStringLiteral("Command1(%1)").arg(i),
                                 QString::fromLatin1(captions[i]), panel);
        Command1[i]->setFixedWidth(44);
        moves->addWidget(Command1[i]);
    }
    moves->addStretch();
    lists->addWidget(Label4, 0, 0);
    lists->addWidget(Label5, 0, 2);
    lists->addWidget(List2, 1, 0);
    lists->addLayout(moves, 1, 1);
    lists->addWidget(List1, 1, 2);
    v->addLayout(lists, 1);

    // The kind of check.
    Frame1 = new QFrame(panel);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    auto* f1 = new QVBoxLayout(Frame1);
    Label8 = makeLabel(QStringLiteral("Label8"), QStringLiteral("查重方式选择"), Frame1);
    Option1 = new QRadioButton(QStringLiteral("完全相同查重"), Frame1);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("模糊查重"), Frame1);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option3 = new QRadioButton(QStringLiteral("智能查重"), Frame1);
    Option3->setObjectName(QStringLiteral("Option3"));
    Option3->setToolTip(QStringLiteral("按字段类型比较：繁简、全半角、省市区写法、电话格式、"
                                       "公司类型、同音字都不影响查重"));
    checkKind_ = new QButtonGroup(this);
    checkKind_->addButton(Option1);
    checkKind_->addButton(Option2);
    checkKind_->addButton(Option3);
    connect(checkKind_, &QButtonGroup::buttonToggled, this, [this] { showCheckKindPanels(); });
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(Option1);
    kinds->addWidget(Option2);
    kinds->addWidget(Option3);
    kinds->addStretch();
    f1->addWidget(Label8);
    f1->addLayout(kinds);
    v->addWidget(Frame1);

    // The postcode settings of the fuzzy check.
    auto* postcode = new QFrame(panel);
    postcodePanel_ = postcode;
    postcode->setObjectName(QStringLiteral("postcodePanel"));
    postcode->setFrameShape(QFrame::StyledPanel);
    auto* pg = new QGridLayout(postcode);
    Label6 = makeLabel(QStringLiteral("Label6"), QStringLiteral("快速查重"), postcode);
    Label7 = makeLabel(QStringLiteral("Label7"), QStringLiteral("分段查重选择"), postcode);
    Option4 = new QRadioButton(QStringLiteral("选择邮编"), postcode);
    Option4->setObjectName(QStringLiteral("Option4"));
    Option5 = new QRadioButton(QStringLiteral("取消邮编"), postcode);
    Option5->setObjectName(QStringLiteral("Option5"));
    postcodeKind_ = new QButtonGroup(this);
    postcodeKind_->addButton(Option4);
    postcodeKind_->addButton(Option5);
    Text11 = makeTextBox(QStringLiteral("Text11"), QStringLiteral("被选取的邮编字段名"), postcode);
    Command29[0] = makeButton(QStringLiteral("Command29(0)"), QStringLiteral("加"), postcode);
    Command29[0]->setToolTip(QStringLiteral("邮编位数加"));
    Command29[1] = makeButton(QStringLiteral("Command29(1)"), QStringLiteral("减"), postcode);
    Command29[1]->setToolTip(QStringLiteral("邮编位数减"));
    Text14 = makeTextBox(QStringLiteral("Text14"), QStringLiteral("查询邮编位数"), postcode);
    Text14->setReadOnly(true);
    Text14->setAlignment(Qt::AlignCenter);
    Text14->setMaximumWidth(48);
    pg->addWidget(Label6, 0, 0, 1, 4);
    pg->addWidget(Label7, 1, 0);
    pg->addWidget(Option4, 1, 1);
    pg->addWidget(Option5, 1, 2, 1, 2);
    pg->addWidget(
        makeLabel(QStringLiteral("postcodeFieldLabel"), QStringLiteral("邮编字段"), postcode), 2,
        0);
    pg->addWidget(Text11, 2, 1, 1, 3);
    pg->addWidget(
        makeLabel(QStringLiteral("postcodeDigitsLabel"), QStringLiteral("邮编位数"), postcode), 3,
        0);
    pg->addWidget(Command29[0], 3, 1);
    pg->addWidget(Command29[1], 3, 2);
    pg->addWidget(Text14, 3, 3);
    v->addWidget(postcode);

    // 智能查重's settings, in the postcode settings' place (those belong to the fuzzy check).
    smartPanel_ = new QFrame(panel);
    smartPanel_->setObjectName(QStringLiteral("smartPanel"));
    smartPanel_->setFrameShape(QFrame::StyledPanel);
    auto* sg = new QGridLayout(smartPanel_);
    smartKinds_ = new QTableWidget(0, 2, smartPanel_);
    smartKinds_->setObjectName(QStringLiteral("smartKinds"));
    smartKinds_->setHorizontalHeaderLabels(
        {QStringLiteral("查重字段"), QStringLiteral("字段类型")});
    smartKinds_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    smartKinds_->verticalHeader()->setVisible(false);
    smartKinds_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    smartKinds_->setSelectionMode(QAbstractItemView::NoSelection);
    smartKinds_->setToolTip(QStringLiteral("字段类型由字段名和内容推断，可以更改；"
                                           "更改会按数据表记住"));
    smartKinds_->setMinimumHeight(120);
    smartLevel_ = new QComboBox(smartPanel_);
    smartLevel_->setObjectName(QStringLiteral("smartLevel"));
    for (const smart::Level l : {smart::Level::Strict, smart::Level::Normal, smart::Level::Loose})
        smartLevel_->addItem(smart::levelLabel(l), smart::levelCode(l));
    smartLevel_->setCurrentIndex(1);
    smartLevel_->setToolTip(QStringLiteral("严格：只把证据很充分的记录归为重复；宽松：证据少一些"
                                           "也归为重复"));
    sg->addWidget(makeLabel(QStringLiteral("smartKindsLabel"),
                            QStringLiteral("智能查重：各查重字段的类型"), smartPanel_),
                  0, 0, 1, 2);
    sg->addWidget(smartKinds_, 1, 0, 1, 2);
    sg->addWidget(
        makeLabel(QStringLiteral("smartLevelLabel"), QStringLiteral("查重级别"), smartPanel_), 2,
        0);
    sg->addWidget(smartLevel_, 2, 1);
    smartPanel_->hide();
    v->addWidget(smartPanel_);

    // The range of records to check.
    auto* range = new QGridLayout;
    Label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("查重开始位置"), panel);
    Text12 = makeTextBox(QStringLiteral("Text12"), QStringLiteral("查重开始位置，请备份中间数据"),
                         panel);
    Label2 = makeLabel(QStringLiteral("Label2"), QStringLiteral("查重终止位置"), panel);
    Text13 = makeTextBox(QStringLiteral("Text13"), QStringLiteral("查重开始位置，请备份中间数据"),
                         panel);
    range->addWidget(Label1, 0, 0);
    range->addWidget(Text12, 0, 1);
    range->addWidget(Label2, 1, 0);
    range->addWidget(Text13, 1, 1);
    v->addLayout(range);

    Command3 = makeButton(QStringLiteral("Command3"), QStringLiteral("开始查重"), panel);
    Command3->setMinimumHeight(36);
    v->addWidget(Command3);

    panel->setFixedWidth(400);
    return panel;
}

// ---- start-up ----------------------------------------------------------------------------

bool mainFm1::formLoad(const QString& programDir, const QString& userDataDir) {
    core::AppState& st = core::appState();

    // 1. Centred on the screen, at a size that fits it.
    if (QScreen* screen = this->screen()) {
        const QSize avail = screen->availableGeometry().size();
        resize(qMin(width(), avail.width() - 40), qMin(height(), avail.height() - 60));
    }
    ui::centreOnScreen(this);

    // 2.-4. The working database beside the program, or this user's own copy of it.
    const core::WorkDbPlace place = core::placeWorkDatabase(
        programDir, userDataDir.isEmpty()
                        ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                        : userDataDir);
    if (!place.error.isEmpty()) {
        fail(place.error);
        return false;
    }
    st.WorkDbPath = place.path;
    if (const core::Status s = core::openWorkDatabase(st, st.WorkDbPath); !s.ok()) {
        fail(place.ownCopy
                 ? s.error + QStringLiteral("\n\n这是本用户的工作数据库；把它删除后重新启动，"
                                            "程序会重新建立它。")
                 : s.error);
        return false;
    }
    st.AppDir = place.shipped;

    // 5. The grid shows the permanent empty table until a source is open.
    emptyTable_ = std::make_shared<db::Recordset>();
    emptyTable_->setCursorLocation(db::CursorLocation::Client);
    if (!emptyTable_->open(db::sql::selectAll(QStringLiteral("empty_table")), st.WorkConn,
                           db::CursorType::Keyset, db::LockType::Pessimistic)) {
        fail(QStringLiteral("工作数据库文件已损坏：\n%1\n\n表 empty_table 无法打开（%2）。"
                            "程序无法启动。")
                 .arg(QDir::toNativeSeparators(st.WorkDbPath), emptyTable_->errorString()));
        emptyTable_.reset();
        return false;
    }
    bindGrid(emptyTable_);

    // 6.-10.
    SourceOpenedFlag = 0;
    st.PostcodeDigits = 0;
    Text14->setText(QStringLiteral("0"));
    showWaitPicture(false);
    List2->clear();
    Text1->clear();
    List1->clear();
    Text11->clear();
    Text11->setEnabled(false);
    Text12->setText(QStringLiteral("0"));
    Text13->setText(QStringLiteral("0"));

    // 11. No postcode field; choosing "取消邮编" runs its handler as a click would.
    core::setPostcodeMode(st, core::PostcodeMode::Off);
    Option5->setChecked(true);
    Option5_Click();
    return true;
}

// ---- what the open commands call ---------------------------------------------------------

void mainFm1::bindGrid(const db::RecordsetPtr& recordset) {
    DataGrid1->setRecordset(recordset);
}

void mainFm1::showSource(const QString& dir, const QString& fileTitle, const QString& baseName) {
    bindGrid(core::appState().RsSource);
    showRecordCounters();
    fillFieldList();
    setStatusPanels(QDir::toNativeSeparators(dir), fileTitle, baseName);
}

void mainFm1::showNoSource() {
    bindGrid(emptyTable_);
    showRecordCounters();
    fillFieldList();
    showWaitPicture(false);
}

void mainFm1::showCheckTable() {
    const db::RecordsetPtr& rs = core::appState().RsSource;
    if (!core::isOpen(rs)) return;
    if (rs->recordCount() > 0 && rs->absolutePosition() < 1) rs->moveFirst();
    bindGrid(rs);
    DataGrid1_RowColChange();
}

QString mainFm1::recordCounter() const {
    return Text1->text();
}

void mainFm1::clearCheckFields() {
    List1->clear();
    refreshSmartKinds();
}

// ---- 智能查重's settings -------------------------------------------------------------------

namespace {

// The kinds chosen for a source are kept per user, in a section named after the file and table.
QString kindsApplication() {
    return QStringLiteral("SmartFieldKinds");
}
QString kindsSection(const core::AppState& st) {
    return ui::settingsName(st.SourcePath + QLatin1Char('|') + st.SourceTable);
}

} // namespace

void mainFm1::showCheckKindPanels() {
    const bool smart = Option3->isChecked();
    smartPanel_->setVisible(smart);
    postcodePanel_->setVisible(!smart);
    if (smart) refreshSmartKinds();
}

void mainFm1::refreshSmartKinds() {
    if (!smartPanel_->isVisible() && !Option3->isChecked()) return;
    const core::AppState& st = core::appState();
    QStringList fields;
    for (int k = 0; k < List1->count() && k < 5; ++k)
        fields << List1->item(k)->text();
    const QStringList inferred = check::inferredKinds(st, fields);
    QSettings saved(kindsApplication());
    saved.beginGroup(kindsSection(st));
    smartKinds_->setRowCount(int(fields.size()));
    for (int k = 0; k < fields.size(); ++k) {
        smartKinds_->setItem(k, 0, new QTableWidgetItem(fields[k]));
        auto* kind = new QComboBox(smartKinds_);
        kind->setObjectName(QStringLiteral("smartKind(%1)").arg(k));
        for (const smart::FieldKind f :
             {smart::FieldKind::PersonName, smart::FieldKind::Address, smart::FieldKind::Phone,
              smart::FieldKind::IdNumber, smart::FieldKind::Organisation,
              smart::FieldKind::Postcode, smart::FieldKind::Other})
            kind->addItem(smart::kindLabel(f), smart::kindCode(f));
        const QString code = saved.value(ui::settingsName(fields[k]), inferred.value(k)).toString();
        kind->setCurrentIndex(std::max(0, kind->findData(code)));
        connect(kind, &QComboBox::currentIndexChanged, this, [kind, field = fields[k]] {
            const core::AppState& st = core::appState();
            if (st.SourcePath.isEmpty()) return;
            QSettings settings(kindsApplication());
            settings.beginGroup(kindsSection(st));
            settings.setValue(ui::settingsName(field), kind->currentData().toString());
        });
        smartKinds_->setCellWidget(k, 1, kind);
    }
}

QStringList mainFm1::smartKinds() const {
    QStringList codes;
    for (int k = 0; k < smartKinds_->rowCount(); ++k)
        if (const auto* kind = qobject_cast<QComboBox*>(smartKinds_->cellWidget(k, 1)))
            codes << kind->currentData().toString();
    return codes;
}

QString mainFm1::smartLevel() const {
    return smartLevel_->currentData().toString();
}

void mainFm1::showRecordCounters() {
    const db::RecordsetPtr& rs = core::appState().RsSource;
    if (core::recordCountOf(rs) < 1) {
        Text1->setText(QStringLiteral("0"));
        Text12->setText(QStringLiteral("0"));
        Text13->setText(QStringLiteral("0"));
        return;
    }
    const QString position = QString::number(rs->absolutePosition());
    const QString count = QString::number(rs->recordCount());
    Text1->setText(position + QLatin1Char('/') + count);
    Text12->setText(position);
    Text13->setText(count);
}

void mainFm1::fillFieldList() {
    List2->clear();
    // Only the fields the working tables carry can be check fields.
    if (core::isOpen(core::appState().RsSource))
        List2->addItems(core::appState().RsSource->fieldNames().mid(0, core::maxWorkFields));
}

void mainFm1::setStatusPanels(const QString& dir, const QString& fileTitle,
                              const QString& baseName) {
    const QString texts[3] = {dir, fileTitle, baseName};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i]->setText(texts[i]);
        StatusPanels[i]->setToolTip(texts[i]);
    }
}

QString mainFm1::statusPanel(int index) const {
    return index >= 1 && index <= 3 ? StatusPanels[index - 1]->text() : QString();
}

void mainFm1::placeWaitPicture() {
    Picture1->adjustSize();
    const QRect grid = DataGrid1->geometry();
    const QPoint topLeft = DataGrid1->parentWidget()->mapTo(centralWidget(), grid.topLeft());
    Picture1->move(topLeft.x() + (grid.width() - Picture1->width()) / 2,
                   topLeft.y() + (grid.height() - Picture1->height()) / 2);
}

void mainFm1::showWaitPicture(bool visible) {
    if (!visible) {
        Picture1->hide();
        return;
    }
    placeWaitPicture();
    Picture1->raise();
    Picture1->show();
    if (isVisible()) {
        Picture1->repaint();
        ui::yieldNow();
    }
}

void mainFm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (Picture1 && Picture1->isVisible()) placeWaitPicture();
}

// ---- field lists -------------------------------------------------------------------------

void mainFm1::Command1_Click(int index) {
    auto moveSelected = [](QListWidget* from, QListWidget* to) {
        for (int i = 0; i < from->count();) {
            QListWidgetItem* item = from->item(i);
            if (item->isSelected()) {
                to->addItem(item->text());
                delete from->takeItem(i); // the next entry takes this index
            } else {
                ++i;
            }
        }
    };
    switch (index) {
    case 0:
        moveSelected(List2, List1);
        break;
    case 1:
        for (int i = 0; i < List2->count(); ++i)
            List1->addItem(List2->item(i)->text());
        List2->clear();
        break;
    case 2:
        moveSelected(List1, List2);
        break;
    case 3:
        if (core::isOpen(core::appState().RsSource)) {
            List1->clear();
            fillFieldList();
        }
        break;
    default:
        break;
    }
    refreshSmartKinds();
}

void mainFm1::List2_Click(QListWidgetItem* item) {
    SourceOpenedFlag = 1;
    if (core::postcodeModeOf(core::appState()) == core::PostcodeMode::Field && item)
        Text11->setText(item->text());
}

// ---- postcode settings -------------------------------------------------------------------

void mainFm1::emptyPostcodeTable() {
    core::AppState& st = core::appState();
    if (const core::Status s = core::runStatement(
            st.RsPostcode, db::sql::deleteAll(QStringLiteral("yb_table")), st.WorkConn);
        !s.ok())
        ui::inform(QStringLiteral("清空邮编分段表 yb_table 失败：%1").arg(s.error),
                   ui::defaultTitle(), ui::Icon::Warning);
}

void mainFm1::Option4_Click() {
    core::AppState& st = core::appState();
    core::setPostcodeMode(st, core::PostcodeMode::Field);
    Text11->setEnabled(true);
    st.PostcodeDigits = 2;
    Text14->setText(QString::number(st.PostcodeDigits));
    emptyPostcodeTable();
}

void mainFm1::Option5_Click() {
    core::AppState& st = core::appState();
    core::setPostcodeMode(st, core::PostcodeMode::Off);
    Text11->clear();
    Text11->setEnabled(false);
    st.PostcodeDigits = 0;
    Text14->setText(QString::number(st.PostcodeDigits));
    emptyPostcodeTable();
}

void mainFm1::Command29_Click(int index) {
    core::AppState& st = core::appState();
    emptyPostcodeTable();
    if (index == 0) {
        st.PostcodeDigits = qint16(st.PostcodeDigits + 1);
        if (st.PostcodeDigits > 6) st.PostcodeDigits = 1;
    } else {
        st.PostcodeDigits = qint16(st.PostcodeDigits - 1);
        if (st.PostcodeDigits < 1) st.PostcodeDigits = 1;
    }
    Text14->setText(QString::number(st.PostcodeDigits));
}

// ---- grid --------------------------------------------------------------------------------

void mainFm1::DataGrid1_RowColChange() {
    const db::RecordsetPtr& rs = core::appState().RsSource;
    if (!core::isOpen(rs)) return;
    Text1->setText(rs->recordCount() < 1
                       ? QStringLiteral("0")
                       : QString::number(rs->absolutePosition()) + QLatin1Char('/') +
                             QString::number(rs->recordCount()));
}

// ---- start of a check --------------------------------------------------------------------

QString mainFm1::startCheckConfirmation() {
    const QString dashes(30, QLatin1Char('-'));
    const QString blanks(30, QLatin1Char(' '));
    return QStringList{QStringLiteral("提示："),
                       QStringLiteral("1.建议原数据文件做备份。"),
                       dashes,
                       QStringLiteral("2.此项操作将改变上次数据结果。"),
                       dashes,
                       blanks,
                       QStringLiteral("确认开始查重吗？")}
        .join(QLatin1String("\r\n"));
}

void mainFm1::Command3_Click() {
    auto refuse = [](const check::Refusal& why) {
        ui::inform(why.error, ui::defaultTitle(),
                   why.warning ? ui::Icon::Warning : ui::Icon::Information);
    };
    if (ui::refuseWhileBusy()) return;
    core::AppState& st = core::appState();
    check::CheckRequest request;
    if (Option1->isChecked()) request.mode = core::CheckMode::Exact;
    if (Option2->isChecked()) request.mode = core::CheckMode::Fuzzy;
    if (Option3->isChecked()) {
        request.mode = core::CheckMode::Smart;
        request.kinds = smartKinds();
        request.level = smartLevel();
    }
    for (int k = 0; k < List1->count(); ++k)
        request.fields << List1->item(k)->text();
    request.start = Text12->text();
    request.end = Text13->text();
    request.postcode = core::postcodeModeOf(st);
    request.postcodeField = Text11->text();
    request.postcodeDigits = st.PostcodeDigits;

    if (core::isOpen(st.RsSource) && SourceOpenedFlag == 0) {
        ui::inform(QStringLiteral("请重新打开数据库！"));
        return;
    }
    // What is wrong before the question; a range that holds no record would end as "no
    // duplicates", so it is said too.
    if (const check::Refusal why = check::CheckJob::refusal(st, request); !why.ok())
        return refuse(why);
    if (!ui::confirm(startCheckConfirmation())) return;

    SourceOpenedFlag = 1;
    check::CheckJob job(st);
    if (const check::Refusal why = job.prepare(request); !why.ok()) return refuse(why);
    windows().showCheckRun(*request.mode == core::CheckMode::Exact ? QStringLiteral("完全相同查重")
                           : *request.mode == core::CheckMode::Fuzzy ? QStringLiteral("模糊查重")
                                                                     : QStringLiteral("智能查重"),
                           job.options());
}

// ---- maintenance, guide, exit ------------------------------------------------------------

void mainFm1::dataMaintain_Click() {
    if (ui::refuseWhileBusy()) return;
    core::AppState& st = core::appState();
    st.RsWork.reset();

    if (!core::isOpen(st.RsDup)) {
        // The duplicates of the last check come back from their backup, when they belong to the
        // table that is open.
        QString owner;
        if (core::restoreDuplicates(st, &owner) == core::Restore::OtherTable) {
            ui::inform(
                QStringLiteral("上次查重的重复数据属于另一个数据表：\n%1\n\n它的字段和当前打开的"
                               "数据表不同，不能在这里维护。请先打开那个数据表。")
                    .arg(owner),
                ui::defaultTitle(), ui::Icon::Warning);
            return;
        }
        st.RsDup = std::make_shared<db::Recordset>();
        st.RsDup->setCursorLocation(db::CursorLocation::Client);
        st.RsDup->open(db::sql::selectAll(QStringLiteral("ClienttableCC")), st.WorkConn,
                       db::CursorType::Keyset, db::LockType::BatchOptimistic);
    }
    if (core::recordCountOf(st.RsDup) < 1) {
        ui::inform(QStringLiteral("无重复数据！"));
        return;
    }
    if (!core::isOpen(st.RsSource) && SourceOpenedFlag == 0) {
        ui::inform(QStringLiteral("请打开原数据文件！"));
        return;
    }
    if (windows().showCheckControl()) hide();
}

void mainFm1::help_Click() {
    windows().showGuide();
}

void mainFm1::exit_Click() {
    if (!ui::confirm(QStringLiteral("确实要退出该系统吗？"))) return;
    quitting_ = true;
    emit quitRequested();
}

void mainFm1::closeEvent(QCloseEvent* event) {
    // Closing the window is the same as "退出": it asks first.
    if (quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    exit_Click();
}

} // namespace app
