#pragma once
// The batch delete window mainFm8 "删除相同内容字段名选择": the fields of the duplicate table to
// choose from, the picked fields, and the batch delete over them (engine/batchdelete.h) with its
// progress panel. It closes itself when the delete is done. While the delete runs it says so
// (runningChanged), so that the window that opened it keeps its hands off RsDup; closing it then
// asks whether to stop.
#include "core/run.h"

#include <QWidget>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tools {

class mainFm8 : public QWidget, private core::ProgressSink {
    Q_OBJECT
public:
    explicit mainFm8(QWidget* parent = nullptr);
    // Shows the window modeless (the one already open, if there is one) and returns it.
    static mainFm8* showBatchDelete();

    bool isRunning() const { return running_; }

    // --- Handlers, callable like the window's own procedures.
    void Command1_Click(int index);
    void Command2_Click();

signals:
    void runningChanged(bool running);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fillFieldList();
    void showProgress(int position, int count);
    void setRunning(bool running);

    // core::ProgressSink
    bool progress(int done, int total) override;

    core::Throttle throttle_;
    bool running_ = false;
    bool stopRequested_ = false;

    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* List2 = nullptr;
    QPushButton* Command1[4] = {};
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QFrame* Frame2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
};

} // namespace tools
