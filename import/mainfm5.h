#pragma once
// The import window "正在导入数据": copies every row of RsSource into ClienttableELS of the
// working database, then makes that table the check table.
#include "app/appstate.h"

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace sources {

struct ImportResult {
    bool sourceOpen = false; // RsSource was open: there was something to copy
    int total = 0;           // rows of the source
    int copied = 0;          // rows written into ClienttableELS
    int failed = 0;          // rows that could not be written
    QString error;           // the first failure
    bool reopened = false;   // finishImport: every row arrived and RsSource holds them
};

// The copy itself: every row of RsSource into ClienttableELS by position, each value trimmed
// and cut to the column's width, in one transaction on WorkConn. progress(done, total) is
// called after every row; it may yield to the event loop.
ImportResult importRows(app::AppState& st, const std::function<void(int, int)>& progress = {});

// The end of an import, the same with or without the window: RsSource reopened on
// ClienttableELS and shown in the main window (when there is one), and the user told how it
// went ("导入数据成功" only when every row arrived). Returns (and sets result.reopened) true
// only then.
bool finishImport(app::AppState& st, ImportResult& result);

class mainFm5 : public QWidget {
    Q_OBJECT
public:
    explicit mainFm5(QWidget* parent = nullptr);

    // Shows a new import window; it starts once it is on the screen and closes itself.
    static mainFm5* showImport();

    // The whole work of the window: copy, reopen RsSource on ClienttableELS, tell the user.
    void activate();
    const ImportResult& result() const { return result_; }

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLineEdit* Text1 = nullptr;

signals:
    void finished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool started_ = false;
    bool running_ = false;
    ImportResult result_;
};

} // namespace sources
