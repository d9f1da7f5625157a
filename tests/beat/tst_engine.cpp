#include "beat/checked.h"
#include "fakes.h"

#include <QTest>

using beat::BeatInterval;

class TestEngine : public QObject {
    Q_OBJECT
  private slots:
    // The tempo.

    void beatInterval_data() {
        QTest::addColumn<int>("tempo");
        QTest::addColumn<int>("interval");
        QTest::newRow("design tempo") << 100 << 600;
        QTest::newRow("maximum") << 400 << 150;
        QTest::newRow("minimum") << 20 << 3000;
        QTest::newRow("666.67 rounds up") << 90 << 667;
        QTest::newRow("545.45 rounds down") << 110 << 545;
        QTest::newRow("tie 937.5 to even") << 64 << 938;
        QTest::newRow("tie 312.5 to even") << 192 << 312;
        QTest::newRow("tie 187.5 to even") << 320 << 188;
    }
    void beatInterval() {
        QFETCH(int, tempo);
        QFETCH(int, interval);
        QCOMPARE(BeatInterval(static_cast<std::int16_t>(tempo)), interval);
    }

    void checkedArithmeticRaises() {
        try {
            BeatInterval(0);
            QFAIL("no error raised");
        } catch (const beat::RunTimeError& e) {
            QCOMPARE(e.number(), 11);
            QCOMPARE(QString::fromStdString(e.description()), QString("Division by zero"));
        }
        QCOMPARE(beat::roundToInt32(-2.5), -2);
        QCOMPARE(beat::roundToInt32(2147483647.4), 2147483647);
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::roundToInt32(2147483647.5));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::roundToInt32(-2147483649.0));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedDivide(0.0, 0.0));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedAdd16(32767, 1));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedSub32(INT32_MIN, 1));
    }

    // The beat.

    void muteAndPause_data() {
        QTest::addColumn<int>("mute");
        QTest::addColumn<int>("pause");
        QTest::addColumn<bool>("flips");
        QTest::addColumn<bool>("clicks");
        QTest::addColumn<bool>("titleWritten");
        QTest::newRow("neither") << 0 << 0 << true << true << false;
        QTest::newRow("pause") << 0 << 1 << false << false << true;
        QTest::newRow("mute") << 1 << 0 << true << false << false;
        QTest::newRow("both") << 1 << 1 << false << false << true;
        QTest::newRow("mute greyed") << 2 << 0 << false << false << false;
        QTest::newRow("pause out of range") << 0 << -1 << false << false << false;
    }
    void muteAndPause() {
        QFETCH(int, mute);
        QFETCH(int, pause);
        QFETCH(bool, flips);
        QFETCH(bool, clicks);
        QFETCH(bool, titleWritten);
        fakes::Rig rig;
        rig.chkMute.v = static_cast<std::int16_t>(mute);
        rig.chkSound.v = static_cast<std::int16_t>(pause);
        rig.engine.tmrBPM_Timer();
        QCOMPARE(rig.lblBPM.vis, flips);
        QCOMPARE(rig.clicks(), clicks ? 1 : 0);
        QCOMPARE(rig.lblTitle.captionWrites, titleWritten ? 1 : 0);
        QCOMPARE(rig.lblTitle.caption, std::string(titleWritten ? "BPM:" : ""));
        // Counting goes on whatever the boxes say.
        QCOMPARE(rig.lblTimer.caption, std::string("1"));
    }

    void flashFirstThenAnAsynchronousClick() {
        fakes::Rig rig;
        rig.engine.tmrBPM_Timer();
        rig.engine.tmrBPM_Timer();
        QCOMPARE(rig.log, (fakes::Log{"lblBPM shown", "click", "lblBPM hidden", "click"}));
        QCOMPARE(rig.sound.flags, (std::vector<std::uint32_t>{0x20001, 0x20001}));
    }

    void pauseKeepsColourAndResumesFromIt() {
        fakes::Rig rig;
        rig.engine.tmrBPM_Timer(); // red
        rig.chkSound.v = 1;
        for (int i = 0; i < 5; ++i)
            rig.engine.tmrBPM_Timer();
        QVERIFY(rig.lblBPM.vis);
        QCOMPARE(rig.clicks(), 1);
        rig.chkSound.v = 0;
        rig.engine.tmrBPM_Timer();
        QVERIFY(!rig.lblBPM.vis);
        QCOMPARE(rig.clicks(), 2);
        QCOMPARE(rig.lblTimer.caption, std::string("7"));
    }

    void countersKeepGoingPast16Bits() {
        fakes::Rig rig;
        for (int i = 0; i < 32769; ++i) {
            rig.engine.tmrBPM_Timer();
            rig.engine.tmr2_Timer();
        }
        QCOMPARE(rig.lblTimer.caption, std::string("32769"));
        QCOMPARE(rig.lblTimer2.caption, std::string("32769"));
        QVERIFY(rig.lblBPM.vis); // 32769 flips from green: red
    }

    // Speed practice.

    void practiceOffCountsButNeverChangesTempo() {
        fakes::Rig rig;
        for (int i = 0; i < 6; ++i)
            rig.engine.tmr2_Timer();
        QCOMPARE(rig.hsbBPM.v, std::int16_t(100));
        QVERIFY(rig.tmrBPM.intervals.empty());
        QCOMPARE(rig.lblTimer2.caption, std::string("6"));
        QVERIFY(rig.lblPointless.vis); // flipped an even number of times
    }

    void rampRisesOnEvenTicksUpTo400() {
        fakes::Rig rig;
        rig.clickSpeed();
        QVERIFY(!rig.hsbBPM.en);
        for (int tick = 1; tick <= 130; ++tick) {
            const std::int16_t before = rig.hsbBPM.v;
            rig.engine.tmr2_Timer();
            const int expected = tick % 2 == 0 && before < 400 ? before + 5 : before;
            QCOMPARE(rig.hsbBPM.v, std::int16_t(expected));
            if (tick == 120)
                QCOMPARE(rig.hsbBPM.v, std::int16_t(400)); // 60 rises
        }
        // Each rise went through the change handler, nested.
        QCOMPARE(rig.tmrBPM.intervals.size(), std::size_t(60));
        QCOMPARE(rig.tmrBPM.intervals.front(), 571);
        QCOMPARE(rig.txtBPM.text, std::string("400"));
    }

    void risingPhaseCountsFromCreationNotFromSwitchOn() {
        fakes::Rig rig;
        rig.engine.tmr2_Timer(); // tick 1, practice off
        rig.clickSpeed();
        rig.engine.tmr2_Timer(); // tick 2: rises
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
        rig.engine.tmr2_Timer(); // tick 3: stays
        QCOMPARE(rig.hsbBPM.v, std::int16_t(105));
    }

    void nearTheCapEveryTickSets400() {
        fakes::Rig rig;
        rig.hsbBPM.setValue(394);
        rig.clickSpeed();
        rig.engine.tmr2_Timer(); // odd tick: the phase says stay
        QCOMPARE(rig.hsbBPM.v, std::int16_t(394));
        rig.engine.tmr2_Timer(); // even tick: 399
        QCOMPARE(rig.hsbBPM.v, std::int16_t(399));
        rig.engine.tmr2_Timer(); // 399 > 395: 400 whatever the phase
        QCOMPARE(rig.hsbBPM.v, std::int16_t(400));
        QCOMPARE(rig.tmrBPM.intervals.back(), 150);

        fakes::Rig byHand;
        byHand.hsbBPM.setValue(398);
        byHand.clickSpeed();
        byHand.engine.tmr2_Timer(); // odd tick, but 398 > 395
        QCOMPARE(byHand.hsbBPM.v, std::int16_t(400));
    }
};

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
