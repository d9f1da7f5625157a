#include "fakes.h"

#include <QTest>

class TestBeatTimer : public QObject {
    Q_OBJECT
  private slots:
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
        rig.beatTimer.tmrBPM_Timer();
        QCOMPARE(rig.lblBPM.vis, flips);
        QCOMPARE(rig.clicks(), clicks ? 1 : 0);
        QCOMPARE(rig.lblTitle.captionWrites, titleWritten ? 1 : 0);
        QCOMPARE(QString::fromStdString(rig.lblTitle.caption), titleWritten ? "BPM:" : "");
        // Counting goes on whatever the boxes say.
        QCOMPARE(rig.beatTimer.BeatCount(), std::int64_t(1));
        QCOMPARE(QString::fromStdString(rig.lblTimer.caption), QString("1"));
    }

    void firstTwoTicksFlashThenClick() {
        fakes::Rig rig;
        rig.beatTimer.tmrBPM_Timer();
        rig.beatTimer.tmrBPM_Timer();
        QCOMPARE(rig.log, (fakes::Log{"lblBPM shown", "click", "lblBPM hidden", "click"}));
        QCOMPARE(QString::fromStdString(rig.lblTimer.caption), QString("2"));
        QCOMPARE(QString::fromStdString(rig.sound.paths.at(0)),
                 QString("C:\\WINDOWS\\Desktop\\Cool Folder\\Music\\metronome.wav"));
        QCOMPARE(rig.sound.flags.at(0), std::uint32_t(0x20001));
    }

    void pauseKeepsColourAndResumesFromIt() {
        fakes::Rig rig;
        rig.beatTimer.tmrBPM_Timer(); // red
        rig.chkSound.v = 1;
        for (int i = 0; i < 5; ++i)
            rig.beatTimer.tmrBPM_Timer();
        QVERIFY(rig.lblBPM.vis);
        QCOMPARE(rig.clicks(), 1);
        QCOMPARE(rig.beatTimer.BeatCount(), std::int64_t(6));
        rig.chkSound.v = 0;
        rig.beatTimer.tmrBPM_Timer();
        QVERIFY(!rig.lblBPM.vis);
        QCOMPARE(rig.clicks(), 2);
    }

    void loadResetsTheCount() {
        fakes::Rig rig;
        rig.beatTimer.tmrBPM_Timer();
        rig.beatTimer.resetCount();
        rig.beatTimer.tmrBPM_Timer();
        QCOMPARE(QString::fromStdString(rig.lblTimer.caption), QString("1"));
    }

    void countKeepsGoingPast16Bits() {
        fakes::Rig rig;
        rig.chkMute.v = 1;
        for (int i = 0; i < 32768; ++i)
            rig.beatTimer.tmrBPM_Timer();
        QCOMPARE(QString::fromStdString(rig.lblTimer.caption), QString("32768"));
        rig.beatTimer.tmrBPM_Timer();
        QCOMPARE(rig.beatTimer.BeatCount(), std::int64_t(32769));
        QVERIFY(rig.lblBPM.vis); // 32769 flips from green: red
    }
};

QTEST_APPLESS_MAIN(TestBeatTimer)
#include "tst_beat_timer.moc"
