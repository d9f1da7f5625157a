#include "beat/checked.h"
#include "window/form_timer.h"
#include "window/qt_controls.h"

#include <QSignalSpy>
#include <QTest>

#include <vector>

using namespace std::chrono_literals;
using window::FormTimer;

namespace {
// The timer on a clock that moves only when the test says so. The platform timer's own
// wake-ups may come too, early or late; the clock decides what they deliver.
struct ManualTimer {
    FormTimer::Clock::time_point now{1h};
    FormTimer timer{nullptr, [this] { return now; }};
    std::vector<FormTimer::Clock::duration> dues; // since the start

    ManualTimer() {
        QObject::connect(&timer, &FormTimer::tick, [this] {
            dues.push_back(*timer.currentDue() - FormTimer::Clock::time_point(1h));
        });
    }
    void advance(FormTimer::Clock::duration by) {
        now += by;
        timer.wake();
    }
};
} // namespace

class TestFormTimer : public QObject {
    Q_OBJECT
  private slots:
    void intervalZeroNeverTicks() {
        ManualTimer t;
        t.timer.setInterval(0);
        t.advance(1s);
        t.timer.setInterval(20);
        t.timer.setInterval(0);
        t.advance(1s);
        QVERIFY(t.dues.empty());
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, t.timer.setInterval(-1));
    }

    void ticksLieOnAGridFromTheLastAssignment() {
        ManualTimer t;
        t.timer.setInterval(40);
        t.advance(39ms); // too early: nothing
        t.advance(1ms);
        t.advance(43ms); // late by 3 ms: the due time stays on the grid
        t.advance(37ms);
        QCOMPARE(t.dues, (std::vector<FormTimer::Clock::duration>{40ms, 80ms, 120ms}));
        QVERIFY(!t.timer.currentDue()); // only inside a tick
    }

    void assigningRestartsTheCountDown() {
        ManualTimer t;
        t.timer.setInterval(150);
        for (int i = 0; i < 6; ++i) {
            t.advance(100ms);
            t.timer.setInterval(150); // keeps putting the tick off
        }
        QVERIFY(t.dues.empty());
        t.advance(150ms);
        QCOMPARE(t.dues, (std::vector<FormTimer::Clock::duration>{750ms}));
    }

    void aLateWakeGetsOneTickThenTheGridGoesOn() {
        ManualTimer t;
        t.timer.setInterval(20);
        t.advance(20ms);
        t.advance(75ms); // the loop was blocked past three due times
        t.advance(5ms);
        QCOMPARE(t.dues, (std::vector<FormTimer::Clock::duration>{20ms, 40ms, 100ms}));
    }

    void theClickCarriesItsTicksDueTime() {
        struct Player : sound::TimedPlayer {
            std::vector<Clock::time_point> at;
            void PlaySoundA(const char*, std::uint32_t, Clock::time_point t) override {
                at.push_back(t);
            }
        } player;
        ManualTimer t;
        window::BeatSound sound(player, t.timer);
        QObject::connect(&t.timer, &FormTimer::tick, [&] { sound.PlaySoundA("x", nullptr, 0); });
        t.timer.setInterval(150);
        t.advance(170ms); // handled 20 ms late
        QCOMPARE(player.at, (std::vector{FormTimer::Clock::time_point(1h + 150ms)}));
    }
};

QTEST_GUILESS_MAIN(TestFormTimer)
#include "tst_form_timer.moc"
