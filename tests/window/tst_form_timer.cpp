#include "beat/checked.h"
#include "window/form_timer.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>
#include <vector>

using window::FormTimer;

class TestFormTimer : public QObject {
    Q_OBJECT
  private slots:
    void intervalZeroNeverTicks() {
        FormTimer timer;
        QSignalSpy spy(&timer, &FormTimer::tick);
        timer.setInterval(0);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0);
        timer.setInterval(20);
        timer.setInterval(0);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0);
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, timer.setInterval(-1));
    }

    void ticksLieOnAGridFromTheLastAssignment() {
        FormTimer timer;
        std::vector<FormTimer::Clock::time_point> dues;
        connect(&timer, &FormTimer::tick, [&] { dues.push_back(*timer.currentDue()); });
        const auto start = FormTimer::Clock::now();
        timer.setInterval(40);
        QTRY_VERIFY(dues.size() >= 3);
        QVERIFY(dues[0] - start >= std::chrono::milliseconds(40));
        QCOMPARE(dues[1] - dues[0], std::chrono::milliseconds(40));
        QCOMPARE(dues[2] - dues[1], std::chrono::milliseconds(40));
        QVERIFY(!timer.currentDue()); // only inside a tick
    }

    void assigningRestartsTheCountDown() {
        FormTimer timer;
        QSignalSpy spy(&timer, &FormTimer::tick);
        timer.setInterval(150);
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(50);
            timer.setInterval(150); // keeps putting the tick off
        }
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), 1);
    }

    void aBlockedLoopGetsOneLateTickThenTheGridGoesOn() {
        FormTimer timer;
        std::vector<FormTimer::Clock::time_point> dues;
        connect(&timer, &FormTimer::tick, [&] {
            dues.push_back(*timer.currentDue());
            if (dues.size() == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(75));
        });
        timer.setInterval(20);
        QTRY_VERIFY(dues.size() >= 3);
        // The tick due during the block comes late but once; those after it are dropped,
        // and the next lies on the grid again.
        QCOMPARE(dues[1] - dues[0], std::chrono::milliseconds(20));
        const auto gap = dues[2] - dues[1];
        QVERIFY(gap >= std::chrono::milliseconds(40));
        QCOMPARE(gap % std::chrono::milliseconds(20), std::chrono::nanoseconds(0));
    }
};

QTEST_GUILESS_MAIN(TestFormTimer)
#include "tst_form_timer.moc"
