#pragma once
// The table chooser "选择表": the tables of an Access file or the sheets of an Excel workbook;
// "确认" opens the chosen one as the check table, "返回" closes without change.
#include <QWidget>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;

namespace sources {

class tableFm1 : public QWidget {
    Q_OBJECT
public:
    explicit tableFm1(QWidget* parent = nullptr);

    // Shows a new chooser listing the tables of the connected source.
    static tableFm1* showChooser();

    // Lists the tables (done when the window is built; again to refresh).
    void formLoad();
    void Command2_Click(); // 确认
    void Command1_Click(); // 返回

private:
    QListWidget* List1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QFrame* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
};

} // namespace sources
