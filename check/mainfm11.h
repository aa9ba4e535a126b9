#pragma once
// The check-run window mainFm11: the check table and the duplicates side by side, the run's
// counters, and the check itself, started when the window is first shown. The engines report
// to it (progress, groups found, records left); it shows what they report a few times a second,
// owns every message of the run's end and moves the windows. Closing it while a check runs asks
// whether to stop.
#include "check/engine/checkjob.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStatusBar;

namespace ui {
class DataGrid;
}

namespace check {

class mainFm11 : public QWidget, private core::ProgressSink {
    Q_OBJECT
public:
    mainFm11(const QString& caption, const core::RunOptions& options, QWidget* parent = nullptr);
    // Creates the window with its caption and shows it modeless; the check starts once it is on
    // the screen.
    static mainFm11* showRun(const QString& caption, const core::RunOptions& options);

    bool isRunning() const { return running_; }
    bool hasRun() const { return ran_; }
    const core::RunResult& result() const { return result_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Phase { Idle, Scan, Separation };

    void activate();
    // The check's steps with the messages between them, and its ends.
    void run();
    void endStopped();
    void endWithMessage(const QString& text, bool warning);
    // The separation; the count after it goes to the main window and, for the exact check, to
    // the run window's boxes too.
    void separate(bool countsInRunWindow);
    void showCounters();
    void setRunning(bool running);
    void refresh();

    // core::ProgressSink
    bool progress(int done, int total) override;
    void groups(int count) override;
    void remaining(int count) override;
    void marks(int first, int second) override;

    CheckJob job_;
    core::RunResult result_;
    core::Throttle throttle_;
    core::Throttle gridThrottle_{500}; // the duplicates' grid catches up twice a second
    Phase phase_ = Phase::Idle;
    bool running_ = false;
    bool ran_ = false;
    bool stopRequested_ = false;
    int position_ = 0, groups_ = 0, remaining_ = 0, mark1_ = 0, mark2_ = 0;

    ui::DataGrid* DataGrid4 = nullptr;
    ui::DataGrid* DataGrid5 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QWidget* Picture2 = nullptr;
    QLabel* Label10 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
};

} // namespace check
