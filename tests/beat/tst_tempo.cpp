#include "beat/checked.h"
#include "fakes.h"

#include <QTest>

class TestTempo : public QObject {
    Q_OBJECT
  private slots:
    void beatInterval_data() {
        QTest::addColumn<int>("tempo");
        QTest::addColumn<int>("interval");
        QTest::newRow("design tempo") << 100 << 600;
        QTest::newRow("one a second") << 60 << 1000;
        QTest::newRow("120") << 120 << 500;
        QTest::newRow("maximum") << 400 << 150;
        QTest::newRow("minimum") << 20 << 3000;
        QTest::newRow("666.67 rounds up") << 90 << 667;
        QTest::newRow("545.45 rounds down") << 110 << 545;
        QTest::newRow("tie 937.5 to even") << 64 << 938;
        QTest::newRow("tie 312.5 to even") << 192 << 312;
        QTest::newRow("tie 187.5 to even") << 320 << 188;
        QTest::newRow("practice step 105") << 105 << 571;
        QTest::newRow("one beat a minute") << 1 << 60000;
    }
    void beatInterval() {
        QFETCH(int, tempo);
        QFETCH(int, interval);
        QCOMPARE(beat::BeatInterval(static_cast<std::int16_t>(tempo)), interval);
    }

    void beatIntervalOfZeroIsDivisionByZero() {
        try {
            beat::BeatInterval(0);
            QFAIL("no error raised");
        } catch (const beat::RunTimeError& e) {
            QCOMPARE(e.number(), 11);
            QCOMPARE(QString::fromStdString(e.description()), QString("Division by zero"));
        }
    }

    void roundingAndOverflow() {
        QCOMPARE(beat::roundToInt32(528.5), 528);
        QCOMPARE(beat::roundToInt32(647.5), 648);
        QCOMPARE(beat::roundToInt32(-2.5), -2);
        QCOMPARE(beat::roundToInt32(2147483647.4), 2147483647);
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::roundToInt32(2147483647.5));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::roundToInt32(-2147483649.0));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedDivide(0.0, 0.0));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedAdd16(32767, 1));
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, beat::checkedSub32(INT32_MIN, 1));
        QCOMPARE(beat::checkedAdd16(395, 5), std::int16_t(400));
    }

    void changeShowsTempoAndRestartsBeat() {
        fakes::Rig rig;
        rig.hsbBPM.setValue(192);
        QCOMPARE(QString::fromStdString(rig.txtBPM.text), QString("192"));
        QCOMPARE(rig.tmrBPM.intervals, (std::vector<std::int32_t>{312}));
        rig.hsbBPM.setValue(64);
        QCOMPARE(QString::fromStdString(rig.txtBPM.text), QString("64"));
        QCOMPARE(rig.tmrBPM.intervals.back(), 938);
    }
};

QTEST_APPLESS_MAIN(TestTempo)
#include "tst_tempo.moc"
