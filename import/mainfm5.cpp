#include "import/mainfm5.h"

#include "app/mainfm1.h"
#include "app/windowdirectory.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>

namespace sources {

mainFm5::mainFm5(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("mainFm5"));
    setWindowTitle(QStringLiteral("正在导入数据"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Nothing else may change the source while its rows are copied.
    setWindowModality(Qt::ApplicationModal);
    auto* v = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("请稍等..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    v->addWidget(Label1);
    v->addWidget(ProgressBar1);
    v->addWidget(Text1);
    resize(360, 130);
    ui::runWhenShown(this, [this] {
        ui::centreOnScreen(this);
        activate();
    });
}

mainFm5* mainFm5::showImport() {
    auto* window = new mainFm5;
    window->show();
    return window;
}

void mainFm5::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore(); // the copy finishes first
        return;
    }
    QWidget::closeEvent(event);
}

bool mainFm5::progress(int done, int total) {
    if (throttle_.due()) {
        ProgressBar1->setValue(total > 0 ? int(qint64(done) * 100 / total) : 100);
        Text1->setText(QString::number(done));
        ui::yieldNow();
    }
    return true;
}

void mainFm5::activate() {
    if (running_) return;
    running_ = true;
    Text1->clear();
    core::AppState& st = core::appState();
    {
        const core::RunGuard guard(st, QStringLiteral("导入数据"));
        ui::WaitCursor wait;
        result_ = importRows(st, *this);
    }
    ProgressBar1->setValue(100);
    Text1->setText(QString::number(result_.copied));
    running_ = false;
    if (result_.sourceOpen) {
        reopenImported(st, result_);
        if (app::mainFm1* w = app::mainForm()) {
            w->bindGrid(st.RsSource);
            w->showRecordCounters();
            w->fillFieldList();
        }
        if (result_.reopened)
            ui::inform(QStringLiteral("Ok"), QStringLiteral("导入数据成功"));
        else
            ui::inform(importProblem(result_), ui::defaultTitle(), ui::Icon::Warning);
    }
    emit finished();
    close();
}

} // namespace sources
