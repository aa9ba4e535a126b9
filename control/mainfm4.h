#pragma once
// The check-control window mainFm4 "数据库维护": the duplicates of the last check (RsDup over
// ClienttableCC) in an editable grid whose edits stay pending until "保存修改" or "取消修改", the
// walk through them (each walked record is looked up in the check table), the jump to a record
// number, the single delete and the batch delete (tools::mainFm8). Deletions and edits here change
// the duplicate table only; the check table changes with the merge alone, and the status bar says
// so. The merge and the export have their buttons and menu items, not usable yet. Closing the
// window ("返回") shows the main window again with the check table in its grid.
#include <QMainWindow>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace ui {
class DataGrid;
}

namespace control {

class mainFm4 : public QMainWindow {
    Q_OBJECT
public:
    explicit mainFm4(QWidget* parent = nullptr);
    // Shows the window modeless (the one already open, if there is one) and returns it.
    static mainFm4* showControl();

    // --- Handlers, callable like the window's own procedures.
    void Command6_Click(int index);
    void Command3_Click();
    void Command1_Click();
    void Command10_Click();
    void Command4_Click();
    void Command11_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void formLoad();
    QWidget* buildMergePanel(QWidget* parent);
    void buildMenus();
    void showCounter();
    void setBusy(bool busy);

    bool busy_ = false; // the batch delete runs

    ui::DataGrid* DataGrid2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command6[4] = {};
    QLineEdit* Text3 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command12 = nullptr;
    QPushButton* Command13 = nullptr;
    QPushButton* Command8 = nullptr;
    QFrame* Picture2 = nullptr;
    QLabel* Label5 = nullptr;
    // The merge target panel.
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command5 = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* Combo2 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command7 = nullptr;
    QFrame* Picture1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* StatusPanels[3] = {};
    QLabel* StatusNote = nullptr;

    QAction* data_joint = nullptr;
    QMenu* data_Output = nullptr;
    QAction* data_Output1 = nullptr;
    QAction* data_Output2 = nullptr;
};

} // namespace control
