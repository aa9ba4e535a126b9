// The small toolkit pieces: centring, the hourglass, the throttled yield.
#include "core/run.h"
#include "tests/support/testsupport.h"
#include "ui/toolkit.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QThread>
#include <QWidget>

namespace {

// Counts the posted events it receives.
class Sink : public QObject {
public:
    int received = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++received;
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

class TestToolkit : public QObject {
    Q_OBJECT
private slots:
    void centring_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("even") << QRect(0, 0, 1280, 1024) << QSize(800, 600) << QPoint(240, 212);
        // Integer division: an odd difference rounds towards zero.
        QTest::newRow("odd") << QRect(0, 0, 1280, 1024) << QSize(801, 601) << QPoint(239, 211);
        QTest::newRow("second screen")
            << QRect(1280, 0, 1920, 1080) << QSize(1000, 700) << QPoint(1740, 190);
        // A window larger than the screen sits above and left of its corner, as the formula says.
        QTest::newRow("larger than screen")
            << QRect(0, 0, 800, 600) << QSize(1000, 700) << QPoint(-100, -50);
    }

    void centring() {
        QFETCH(QRect, screen);
        QFETCH(QSize, window);
        QFETCH(QPoint, expected);
        QCOMPARE(ui::centredTopLeft(screen, window), expected);
    }

    void centreOnScreenMovesTheWindow() {
        QWidget w;
        w.resize(400, 300);
        ui::centreOnScreen(&w);
        const QRect s = w.screen()->geometry();
        QCOMPARE(w.pos(),
                 QPoint(s.left() + (s.width() - 400) / 2, s.top() + (s.height() - 300) / 2));
        ui::centreOnScreen(nullptr); // no window, no crash
    }

    void waitCursorNestsAndRestores() {
        QVERIFY(!ui::isWaiting());
        {
            ui::WaitCursor outer;
            QVERIFY(ui::isWaiting());
            {
                ui::WaitCursor inner;
                QVERIFY(ui::isWaiting());
            }
            QVERIFY(ui::isWaiting()); // the outer operation still runs
        }
        QVERIFY(!ui::isWaiting());
        QVERIFY(!QApplication::overrideCursor());
    }

    void restoreDefaultCursorTakesOffEveryHourglass() {
        ui::beginWait();
        ui::beginWait();
        QVERIFY(ui::isWaiting());
        ui::restoreDefaultCursor();
        QVERIFY(!QApplication::overrideCursor());
        ui::restoreDefaultCursor(); // nothing set: no harm
        QVERIFY(!QApplication::overrideCursor());
    }

    void yieldIsThrottled() {
        Sink sink;
        ui::yieldNow(); // starts the clock
        QElapsedTimer since;
        since.start();
        // Per-record calls right after a yield do not process events...
        QCoreApplication::postEvent(&sink, new QEvent(QEvent::User));
        int processed = 0;
        for (int i = 0; i < 1000; ++i)
            if (ui::yieldEvents()) ++processed;
        if (since.elapsed() < core::Throttle::defaultIntervalMs - 5) {
            QCOMPARE(processed, 0);
            QCOMPARE(sink.received, 0);
        }
        // ...and the first call after the interval does.
        QThread::msleep(core::Throttle::defaultIntervalMs + 5);
        QVERIFY(ui::yieldEvents());
        QCOMPARE(sink.received, 1);
    }

    void yieldInALongLoopProcessesEventsRegularly() {
        Sink sink;
        QElapsedTimer clock;
        clock.start();
        int processed = 0;
        // A loop that takes ~200 ms: events flow every interval, not on every call.
        while (clock.elapsed() < 200) {
            QThread::usleep(200); // a record's work
            QCoreApplication::postEvent(&sink, new QEvent(QEvent::User));
            if (ui::yieldEvents()) ++processed;
        }
        ui::yieldNow();
        QVERIFY2(processed >= 2, qPrintable(QString::number(processed)));
        QVERIFY2(processed <= 200 / core::Throttle::defaultIntervalMs + 2,
                 qPrintable(QString::number(processed)));
        QVERIFY(sink.received > processed); // each processing delivered a backlog
    }
};

CHACHONG_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
