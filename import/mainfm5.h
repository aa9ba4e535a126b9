#pragma once
// The import window "正在导入数据": copies every row of RsSource into ClienttableELS of the
// working database (import/engine/importrows.h), then makes that table the check table and tells
// the user how it went.
#include "import/engine/importrows.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;

namespace sources {

class mainFm5 : public QWidget, private core::ProgressSink {
    Q_OBJECT
public:
    explicit mainFm5(QWidget* parent = nullptr);

    // Shows a new import window; it starts once it is on the screen and closes itself.
    static mainFm5* showImport();

    // The whole work of the window: copy, reopen RsSource on ClienttableELS, tell the user.
    void activate();
    const ImportResult& result() const { return result_; }

signals:
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool progress(int done, int total) override;

    bool running_ = false;
    ImportResult result_;
    core::Throttle throttle_;

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLineEdit* Text1 = nullptr;
};

} // namespace sources
