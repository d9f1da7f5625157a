#include "window/flash_hold.h"
#include "window/form_timer.h"
#include "window/qt_controls.h"
#include "window_rig.h"

#include <QTest>

#include <vector>

using namespace std::chrono_literals;
using window::FormTimer;

namespace {
// The timer on a clock that moves only when the test says so. The platform timer's own
// wake-ups may come too, early or late; the clock decides what they deliver.
struct ManualTimer {
    static constexpr FormTimer::Clock::time_point Start{1h};
    FormTimer::Clock::time_point now = Start;
    FormTimer timer{nullptr, [this] { return now; }};
    std::vector<FormTimer::Clock::duration> dues; // since the start

    ManualTimer() {
        QObject::connect(&timer, &FormTimer::tick,
                         [this] { dues.push_back(*timer.currentDue() - Start); });
    }
    // The clock reaches `since` after the start, and the platform timer wakes.
    void at(FormTimer::Clock::duration since) {
        now = Start + since;
        timer.wake();
    }
};

using Dues = std::vector<FormTimer::Clock::duration>;

// Counts the paints a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};
} // namespace

// When a beat ticks, when its click is due, and when its flash is painted.
class TestBeatTiming : public QObject {
    Q_OBJECT
  private slots:
    void intervalZeroNeverTicks() {
        ManualTimer t;
        t.timer.setInterval(0);
        t.at(1s);
        t.timer.setInterval(20);
        t.timer.setInterval(0);
        t.at(2s);
        QVERIFY(t.dues.empty());
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, t.timer.setInterval(-1));
    }

    // Late wakes keep the grid; one blocked past several due times gets a single tick.
    void ticksStayOnTheGridOfTheLastAssignment() {
        ManualTimer t;
        t.timer.setInterval(40);
        for (auto when : {39ms, 40ms, 83ms, 120ms, 250ms, 279ms, 280ms})
            t.at(when);
        QCOMPARE(t.dues, (Dues{40ms, 80ms, 120ms, 160ms, 280ms}));
        QVERIFY(!t.timer.currentDue()); // only inside a tick
    }

    void assigningRestartsTheCountDown() {
        ManualTimer t;
        t.timer.setInterval(150);
        for (int i = 1; i <= 6; ++i) {
            t.at(i * 100ms);
            t.timer.setInterval(150); // keeps putting the tick off
        }
        QVERIFY(t.dues.empty());
        t.at(750ms);
        QCOMPARE(t.dues, (Dues{750ms}));
    }

    void theClickCarriesItsTicksDueTime() {
        RecordingPlayer player;
        ManualTimer t;
        window::BeatSound sound(player, t.timer);
        QObject::connect(&t.timer, &FormTimer::tick, [&] { sound.PlaySoundA("x", nullptr, 0); });
        t.timer.setInterval(150);
        t.at(170ms); // handled 20 ms late
        QCOMPARE(player.times, (std::vector{ManualTimer::Start + 150ms}));
    }

    void aBeatIsPaintedWhenItsHoldEnds() {
        QWidget window;
        window.resize(200, 200);
        auto* beat = new QLabel(&window);
        beat->setGeometry(10, 10, 100, 100);
        PaintCounter seen;
        window.installEventFilter(&seen);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window::FlashHold hold(window);
        QCoreApplication::processEvents();
        seen.paints = 0;

        hold.holdUntil(window::FlashHold::Clock::now() + 1h);
        beat->hide(); // what a beat does: the area under it needs painting
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(seen.paints, 0);
        hold.holdUntil(window::FlashHold::Clock::now()); // a time already past: paint now
        QVERIFY(seen.paints > 0);
        QVERIFY(!hold.holding());
    }
};

QTEST_MAIN(TestBeatTiming)
#include "tst_beat_timing.moc"
