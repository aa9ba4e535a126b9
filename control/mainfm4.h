#pragma once
// The check-control window mainFm4 "数据库维护": the duplicates of the last check (RsDup over
// ClienttableCC) in an editable grid whose edits stay pending until "保存修改" or "取消修改", the
// walk through them (each walked record is looked up in the check table), the jump to a record
// number, the single delete and the batch delete (tools::mainFm8). Deletions and edits here change
// the duplicate table only; the check table changes with the merge alone, and the status bar says
// so. "数据合并" writes the duplicates back into the check table, or, when it is closed, into a
// target picked on the panel Frame1 (control/engine/merge.h); the export commands write the
// duplicates or the non-duplicates to a new sheet of an Excel workbook (control/engine/export.h).
// Closing the window ("返回") shows the main window again with the check table in its grid.
#include "control/engine/merge.h"
#include "core/workdb.h"

#include <QMainWindow>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
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
    // "数据合并" (Command12 and the menu item data_joint).
    void Command12_Click();
    // "导出查重结果" and the two items of the export menu.
    void Command13_Click();
    void data_Output1_Click();
    void data_Output2_Click();
    // The merge target panel: the file type, "浏览", "确认", "返回".
    void Combo1_Click();
    void Command5_Click();
    void Command9_Click();
    void Command7_Click();

    // Exports a table of the working database (outputFile_XLS) or of the source database
    // (outputFile_XLS2, only while the check table is open) to a new sheet of a workbook the
    // user picks, with the fields of the check table.
    void outputFile_XLS(const QString& table);
    void outputFile_XLS2(const QString& table);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void formLoad();
    QWidget* buildMergePanel(QWidget* parent);
    void buildMenus();
    void showCounter();
    // 智能查重: why the current row is in its group, beside the grid.
    void showReason();
private slots:
    // The batch delete window runs (true) or has ended (false): hands off RsDup meanwhile.
    void setBusy(bool busy);

private:
    void exportTo(const db::Connection& conn, const QString& table);
    // The sheet name check: shows why name cannot be taken and returns false, or returns true.
    bool chech_TableName(const QStringList& sheets, const QString& name);
    // check_Repeat, shown in Text1; false (after saying why) when it failed.
    bool check_Repeat();
    // What the closing box of a merge says beyond its first line.
    static QString mergeNotes(const MergeResult& r);
    // Before a merge of duplicates merged once already: the user's go-ahead.
    bool confirmSecondMerge();

    bool busy_ = false;                     // the batch delete or a merge runs
    int targetType_ = -1;                   // the index chosen in Combo1
    MergeTarget target_;                    // the target chosen with "浏览"
    QHash<int, core::GroupReason> reasons_; // 智能查重's, by running number; empty otherwise

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
    QProgressBar* ProgressBar2 = nullptr;
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
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* StatusPanels[3] = {};
    QLabel* StatusNote = nullptr;
    QGroupBox* reasonPanel_ = nullptr;
    QLabel* reasonText_ = nullptr;

    QAction* data_joint = nullptr;
    QMenu* data_Output = nullptr;
    QAction* data_Output1 = nullptr;
    QAction* data_Output2 = nullptr;
    QAction* data_Report = nullptr; // 查重报告
};

} // namespace control
