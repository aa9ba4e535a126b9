#include "ui/toolkit.h"

#include "core/run.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QLibraryInfo>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

namespace ui {

WaitCursor::WaitCursor() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        active_ = true;
    }
}

WaitCursor::~WaitCursor() {
    if (active_) QApplication::restoreOverrideCursor();
}

void beginWait() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void restoreDefaultCursor() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

bool isWaiting() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QCursor* c = QApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
}

QPoint centredTopLeft(const QRect& screen, const QSize& window) {
    return {screen.left() + (screen.width() - window.width()) / 2,
            screen.top() + (screen.height() - window.height()) / 2};
}

void centreOnScreen(QWidget* window) {
    if (!window) return;
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The frame is known only once the window has been shown; before that its size is the
    // window's own.
    const QSize outer = window->isVisible() ? window->frameGeometry().size() : window->size();
    window->move(centredTopLeft(screen->geometry(), outer));
}

namespace {
core::Throttle& yieldThrottle() {
    static core::Throttle throttle;
    return throttle;
}

// Watches a window for its first show, then hands the work to the event loop.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QWidget* window, std::function<void()> work)
        : QObject(window), work_(std::move(work)) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, watched, std::move(work_));
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> work_;
};
} // namespace

bool yieldEvents() {
    if (!yieldThrottle().due()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return true;
}

void yieldNow() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    yieldThrottle().restart();
}

void runWhenShown(QWidget* window, std::function<void()> work) {
    new ShowWatcher(window, std::move(work));
}

void moveSelectedItems(QListWidget* from, QListWidget* to) {
    for (int i = 0; i < from->count();) {
        if (from->item(i)->isSelected()) {
            to->addItem(from->item(i)->text());
            delete from->takeItem(i); // the next item takes this index
        } else {
            ++i;
        }
    }
}

void moveAllItems(QListWidget* from, QListWidget* to) {
    for (int i = 0; i < from->count(); ++i)
        to->addItem(from->item(i)->text());
    from->clear();
}

bool installChineseTranslations(QApplication& app) {
    static QPointer<QTranslator> translator;
    if (translator) return true;
    auto* t = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!t->load(QStringLiteral("qtbase_zh_CN"), dir) || !QCoreApplication::installTranslator(t)) {
        delete t;
        return false;
    }
    translator = t;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return true;
}

bool refuseWhileBusy() {
    const core::Status refusal = core::busyRefusal(core::appState());
    if (refusal.ok()) return false;
    inform(refusal.error, defaultTitle(), Icon::Warning);
    return true;
}

} // namespace ui
