#include "fakes.h"

#include <QTest>

class TestSpeedPractice : public QObject {
    Q_OBJECT
  private slots:
    void offCountsButNeverChangesTempo() {
        fakes::Rig rig;
        for (int i = 0; i < 6; ++i)
            rig.practice.tmr2_Timer();
        QCOMPARE(rig.hsbBPM.v, std::int16_t(100));
        QVERIFY(rig.tmrBPM.intervals.empty());
        QCOMPARE(QString::fromStdString(rig.lblTimer2.caption), QString("6"));
        QVERIFY(rig.lblPointless.vis); // flipped an even number of times
    }

    void rampRisesOnEvenTicksUpTo400() {
        fakes::Rig rig;
        rig.clickSpeed();
        QVERIFY(!rig.hsbBPM.en);
        std::vector<std::int16_t> tempi;
        for (int tick = 1; tick <= 130; ++tick) {
            const std::int16_t before = rig.hsbBPM.v;
            rig.practice.tmr2_Timer();
            if (rig.hsbBPM.v != before) {
                QVERIFY2(tick % 2 == 0, qPrintable(QString("rose on tick %1").arg(tick)));
                QCOMPARE(rig.hsbBPM.v, std::int16_t(before + 5));
            }
            tempi.push_back(rig.hsbBPM.v);
        }
        QCOMPARE(tempi.at(1), std::int16_t(105));
        QCOMPARE(tempi.at(119), std::int16_t(400)); // 60 rises: tick 120
        QCOMPARE(tempi.at(118), std::int16_t(395));
        QCOMPARE(tempi.back(), std::int16_t(400));
        // Each rise went through the change handler, nested.
        QCOMPARE(rig.tmrBPM.intervals.size(), std::size_t(60));
        QCOMPARE(rig.tmrBPM.intervals.front(), 571);
        QCOMPARE(rig.tmrBPM.intervals.back(), 150);
        QCOMPARE(QString::fromStdString(rig.txtBPM.text), QString("400"));
    }

    void risingPhaseCountsFromCreationNotFromSwitchOn() {
        fakes::Rig rig;
        rig.practice.tmr2_Timer(); // tick 1, practice off
        rig.clickSpeed();
        rig.practice.tmr2_Timer(); // tick 2: rises
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
        rig.practice.tmr2_Timer(); // tick 3: stays
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
    }

    void nearTheCapEveryTickSets400() {
        fakes::Rig rig;
        rig.hsbBPM.setValue(394);
        rig.clickSpeed();
        rig.practice.tmr2_Timer(); // odd tick: flag true, tempo stays
        QCOMPARE(rig.hsbBPM.v, std::int16_t(394));
        rig.practice.tmr2_Timer(); // even tick: 399
        QCOMPARE(rig.hsbBPM.v, std::int16_t(399));
        rig.practice.tmr2_Timer(); // 399 >= 396: 400 regardless of the phase
        QCOMPARE(rig.hsbBPM.v, std::int16_t(400));
        QCOMPARE(rig.tmrBPM.intervals.back(), 150);
    }

    void tempoSetByHandJumpsToCap() {
        fakes::Rig rig;
        rig.hsbBPM.setValue(398);
        rig.clickSpeed();
        rig.practice.tmr2_Timer(); // odd tick, phase says "stay", but 398 > 395
        QCOMPARE(rig.hsbBPM.v, std::int16_t(400));
    }

    void clickingTwiceUnlocksAndKeepsTempo() {
        fakes::Rig rig;
        rig.clickSpeed();
        rig.practice.tmr2_Timer();
        rig.practice.tmr2_Timer();
        rig.clickSpeed();
        QVERIFY(rig.hsbBPM.en);
        QCOMPARE(rig.chkSpeed.v, std::int16_t(0));
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
        rig.practice.tmr2_Timer();
        rig.practice.tmr2_Timer();
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
    }

    void countKeepsGoingPast16Bits() {
        fakes::Rig rig;
        for (int i = 0; i < 40000; ++i)
            rig.practice.tmr2_Timer();
        QCOMPARE(QString::fromStdString(rig.lblTimer2.caption), QString("40000"));
    }
};

QTEST_APPLESS_MAIN(TestSpeedPractice)
#include "tst_speed_practice.moc"
