#pragma once
// The check-run window mainFm11: the check table and the duplicates side by side, the run's
// counters, and the check itself, started when the window is first shown.
#include "check/checksink.h"

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

class mainFm11 : public QWidget, public CheckSink {
    Q_OBJECT
public:
    explicit mainFm11(const QString& caption, QWidget* parent = nullptr);
    // Creates the window with its caption and shows it modeless; the check starts on activation.
    static mainFm11* showRun(const QString& caption);

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

    // CheckSink
    void scanProgress(int position, int groups) override;
    void separationProgress(int remaining) override;
    void showScanPosition(const QString& text) override;
    void showCheckTableCounter(const QString& text) override;
    void showGroups(int groups) override;
    void showDupCounter(const QString& text) override;
    void showMainCounter(const QString& text) override;
    void showSeparationPanel(bool visible) override;
    void setBusy(bool busy) override;
    void hideMainWindow() override;
    void showMainWindow() override;
    void closeRunWindow() override;
    bool openMaintenance() override;

    bool hasRun() const { return ran_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void activate();
    bool started_ = false;
    bool ran_ = false;
};

} // namespace check
