#pragma once
// Small pieces of the toolkit every window uses: the hourglass, centring, the throttled yield to
// the event loop and the Chinese texts of Qt's standard buttons.
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>

class QApplication;
class QListWidget;
class QWidget;

namespace ui {

// Hourglass for the life of the object.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool active_ = false;
};

// The hourglass on and off across handlers (an operation that starts in one handler and ends
// in another). restoreDefaultCursor() takes off every hourglass still set.
void beginWait();
void restoreDefaultCursor();
bool isWaiting();

// Where a window of the given size sits centred on a screen: left = (screen width − window
// width) / 2, top = (screen height − window height) / 2, counted from the screen's corner.
QPoint centredTopLeft(const QRect& screen, const QSize& window);
// Moves a top-level window there, on the screen it is on (or the primary one).
void centreOnScreen(QWidget* window);

// Lets the window system repaint during a long loop. A loop may call it once per record: it
// processes pending events at most once every few tens of milliseconds (core::Throttle) and
// otherwise returns at once. Returns true when it did process events.
bool yieldEvents();
// Processes pending events now (before a long step, so that a notice is painted).
void yieldNow();

// The one rule of long runs that change tables (core::RunGuard): true, after saying which run is
// going on, when one is; the command that asked then does not start.
bool refuseWhileBusy();

// Runs work once, as soon as window has been shown for the first time and the show has reached
// the screen: the windows that do their whole work when they appear (the check run, the import)
// start this way.
void runWhenShown(QWidget* window, std::function<void()> work);

// The moves of a pair of field lists (">", ">>", "<", "<<"): the selected items of from, in
// their order, appended to to and taken out of from; or every item of from appended to to and
// from emptied.
void moveSelectedItems(QListWidget* from, QListWidget* to);
void moveAllItems(QListWidget* from, QListWidget* to);

// Loads Qt's own Chinese texts (standard buttons of message boxes and dialogs). Returns false
// when the translation file is not installed.
bool installChineseTranslations(QApplication& app);

} // namespace ui
