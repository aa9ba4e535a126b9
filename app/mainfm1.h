#pragma once
// The main window "查重主控界面": the check table in a grid, the field lists, the kind of check
// and the postcode settings, and the start of a check. It lives for the whole run; the other
// windows reach it through the named methods below (its controls are its own; tests find them
// by their object names).
#include "core/run.h"

#include <QMainWindow>

class QAction;
class QButtonGroup;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QToolBar;

namespace ui {
class DataGrid;
}

namespace app {

class mainFm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit mainFm1(QWidget* parent = nullptr);
    ~mainFm1() override;

    // Start-up: centres the window, opens the working database (the one beside the program in
    // programDir, or the user's own copy in userDataDir, see core::placeWorkDatabase; empty:
    // the user's data folder), binds the grid to empty_table and sets every control to its
    // first state. When the working database is missing, damaged or cannot be written, it
    // tells the user so (naming the file) and returns false; the program cannot run then.
    bool formLoad(const QString& programDir, const QString& userDataDir = QString());

    // --- What the open and import commands (and the windows that return here) call.
    // The grid's data source.
    void bindGrid(const db::RecordsetPtr& recordset);
    // RsSource as the main window shows an opened source: the grid bound to it, the record
    // counter and the start and end positions, the field list, the status bar.
    void showSource(const QString& dir, const QString& fileTitle, const QString& baseName);
    // The grid, the boxes and the field list show nothing of a source (it is gone).
    void showNoSource();
    // RsSource again after a run changed it (a separation, a merge): the grid bound to it, a
    // current record, and the record counter Text1 as position/count ("0" when it is empty).
    void showCheckTable();
    // The record counter Text1.
    QString recordCounter() const;
    // The check-field list List1 emptied (the open commands start afresh).
    void clearCheckFields();
    // Record counter and start/end positions after RsSource opened: "0" in all three for an
    // empty table, otherwise position/count, the position and the count.
    void showRecordCounters();
    // The field list List2 := the field names of RsSource, in field order.
    void fillFieldList();
    void setStatusPanels(const QString& dir, const QString& fileTitle, const QString& baseName);
    QString statusPanel(int index) const; // 1..3
    // The wait picture "正在打开数据库,请等待..." over the grid; showing it repaints at once.
    void showWaitPicture(bool visible);
    qint16 sourceOpenedFlag() const { return SourceOpenedFlag; }
    void setSourceOpenedFlag(qint16 flag) { SourceOpenedFlag = flag; }

    // --- Handlers, callable like the window's own procedures.
    void Command1_Click(int index);
    void List2_Click(QListWidgetItem* item);
    void Option4_Click();
    void Option5_Click();
    void Command29_Click(int index);
    void Command3_Click();
    void DataGrid1_RowColChange();
    void dataMaintain_Click();
    void help_Click();
    void exit_Click();

    // 智能查重's settings as the window shows them: the kind code of each check field and the
    // level code. The kinds follow List1 (a kind chosen before for this source and field comes
    // back, the others are inferred from the field's name and values).
    QStringList smartKinds() const;
    QString smartLevel() const;
    void refreshSmartKinds();

    // The confirmation text of "开始查重".
    static QString startCheckConfirmation();

signals:
    // The user confirmed "退出": the program ends.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    QWidget* buildSidePanel();
    void emptyPostcodeTable();
    void placeWaitPicture();
    void showCheckKindPanels();

    qint16 SourceOpenedFlag = 0;
    db::RecordsetPtr emptyTable_; // the grid's source before any source is open
    QButtonGroup* checkKind_ = nullptr;
    QButtonGroup* postcodeKind_ = nullptr;
    bool quitting_ = false;

    // --- Controls, by their documented names.
    QFrame* CoolBar1 = nullptr;
    QToolBar* Toolbar1 = nullptr;
    ui::DataGrid* DataGrid1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QFrame* Picture1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QListWidget* List2 = nullptr;
    QLabel* Label5 = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* Command1[4] = {};
    QFrame* Frame1 = nullptr;
    QLabel* Label8 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr; // 智能查重
    QFrame* postcodePanel_ = nullptr;
    QFrame* smartPanel_ = nullptr;
    QTableWidget* smartKinds_ = nullptr;
    QComboBox* smartLevel_ = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option5 = nullptr;
    QLineEdit* Text11 = nullptr;
    QPushButton* Command29[2] = {};
    QLineEdit* Text14 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text12 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text13 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* StatusPanels[3] = {};

    // Menu commands.
    QAction* inputFile_XLS = nullptr; // 导入Excel数据
    QAction* inputFile_CSV = nullptr; // 导入文本数据（CSV）
    QAction* begin_DBF = nullptr;     // 打开DBF数据
    QAction* Input_DBF = nullptr;     // 导入DBF数据（可导出Excel文件）
    QAction* begin_MDB = nullptr;     // 打开MDB数据
    QAction* begin_MDB2 = nullptr;    // 打开导入数据
    QAction* data_Maintain = nullptr; // 数据维护
    QAction* data_Report = nullptr;   // 查重报告
    QAction* data_Restore = nullptr;  // 恢复备份
    QAction* help_Manual = nullptr;   // 帮助
    QAction* exit_System = nullptr;   // 退出
};

} // namespace app
