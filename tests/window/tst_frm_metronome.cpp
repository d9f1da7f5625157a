#include "window/error_dispatch.h"
#include "window_rig.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <cmath>

using window::FrmMetronome;

class TestFrmMetronome : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QApplication::setStyle("Fusion"); }

    void startsInsideItsScreen_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("pos");
        const QRect xga(0, 0, 1024, 768);
        QTest::newRow("centred, 300.5 ties to even") << xga << xga << QPoint(300, 125);
        QTest::newRow("right of another screen")
            << xga.translated(1920, 0) << xga.translated(1920, 0) << QPoint(2220, 125);
        QTest::newRow("too low, top kept below the panel")
            << QRect(0, 0, 640, 480) << QRect(0, 24, 640, 456) << QPoint(108, 24);
        QTest::newRow("too low and off the origin")
            << QRect(2000, 300, 640, 480) << QRect(2000, 300, 640, 480) << QPoint(2108, 300);
        QTest::newRow("side panel on the right")
            << QRect(0, 0, 800, 600) << QRect(0, 0, 600, 600) << QPoint(177, 41);
    }
    void startsInsideItsScreen() {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QPoint, pos);
        WindowRig rig(FakeScreen(15, screen, available));
        rig.frm.show();
        QCOMPARE(rig.frm.pos(), pos);
    }

    void startsWithoutAUsableDpi_data() {
        QTest::addColumn<double>("factor");
        QTest::addColumn<QStringList>("errorBoxes"); // shaping sees the reported factor
        QTest::newRow("0") << 0.0 << QStringList(3, "ERROR NUMBER: 11");
        QTest::newRow("negative") << -15.0 << QStringList();
        QTest::newRow("absurd") << 1e9 << QStringList();
        QTest::newRow("not a number") << std::nan("") << QStringList(3, "ERROR NUMBER: 6");
    }
    void startsWithoutAUsableDpi() {
        QFETCH(double, factor);
        QFETCH(QStringList, errorBoxes);
        BoxCloser boxes;
        WindowRig rig(FakeScreen{factor});
        rig.frm.show();
        QVERIFY(rig.frm.isVisible());
        // Laid out at 15 twips per pixel, centred, beating at the design tempo.
        QCOMPARE(rig.frm.geometry(), QRect(300, 125, 423, 518));
        QCOMPARE(rig.frm.hsbBPM().geometry(), QRect(24, 424, 153, 25));
        QCOMPARE(boxes.titles, errorBoxes);
        QCOMPARE(rig.frm.tmrBPM().interval(), 600);
        rig.frm.grab(); // a paint that fails is reported, not fatal
        // Where shaping gave up, no region is left behind; else only the window's own.
        QCOMPARE(rig.frm.gdi().liveRegions(), errorBoxes.isEmpty() ? 1 : 0);
    }

    // Return and keypad Enter press the focused button; the focused scroll bar shows it.
    void keyboard() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QApplication::setActiveWindow(&frm);
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QCOMPARE(QApplication::focusWidget(), &frm.hsbBPM());
        const QImage focused = frm.hsbBPM().grab().toImage();
        frm.control("chkSpeed").setFocus();
        QVERIFY(frm.hsbBPM().grab().toImage() != focused);
        BoxCloser boxes;
        QTest::keyClick(&frm.control("Command1"), Qt::Key_Return);
        QCOMPARE(boxes.titles, QStringList("Credits"));
        QTest::keyClick(&frm.control("cmdExit"), Qt::Key_Enter);
        QVERIFY(!frm.isVisible());
    }

    void scrollBarChangesTempoAndInterval() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QScrollBar& bar = frm.hsbBPM();
        QLineEdit& txt = frm.control<QLineEdit>("txtBPM");
        QTest::keyClick(&bar, Qt::Key_Right);
        QCOMPARE(txt.text(), QString("101"));
        QCOMPARE(frm.tmrBPM().interval(), 594);
        // Dragging the thumb changes nothing until it is let go.
        bar.setSliderDown(true);
        bar.setSliderPosition(192);
        QCOMPARE(txt.text(), QString("101"));
        bar.setSliderDown(false);
        QCOMPARE(txt.text(), QString("192"));
        QCOMPARE(frm.tmrBPM().interval(), 312);
    }

    void speedPracticeRaisesTheTempoAndLocksTheScrollBar() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QCheckBox& chkSpeed = frm.control<QCheckBox>("chkSpeed");
        QTest::mouseClick(&chkSpeed, Qt::LeftButton);
        QVERIFY(!frm.hsbBPM().isEnabled());
        emit frm.tmr2().tick();
        emit frm.tmr2().tick(); // the rising one
        QCOMPARE(frm.hsbBPM().value(), 105);
        QCOMPARE(frm.control<QLineEdit>("txtBPM").text(), QString("105"));
        QCOMPARE(frm.tmrBPM().interval(), 571);
        QTest::mouseClick(&chkSpeed, Qt::LeftButton);
        QVERIFY(frm.hsbBPM().isEnabled());
    }

    void beatsFlashAndClickUnlessMutedOrPaused() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QLabel& lblBPM = frm.control<QLabel>("lblBPM");
        const auto beat = [&] { emit frm.tmrBPM().tick(); };
        beat();
        QVERIFY(!lblBPM.isHidden());
        QCOMPARE(rig.player.times.size(), std::size_t(1));
        QTest::mouseClick(&frm.control("chkSound"), Qt::LeftButton); // Pause
        beat();
        beat();
        QVERIFY(!lblBPM.isHidden());
        QCOMPARE(rig.player.times.size(), std::size_t(1));
        QTest::mouseClick(&frm.control("chkSound"), Qt::LeftButton);
        QTest::mouseClick(&frm.control("chkMute"), Qt::LeftButton);
        beat();
        QVERIFY(lblBPM.isHidden());
        QCOMPARE(rig.player.times.size(), std::size_t(1));
    }

    void theNextBeatHearsOfEveryChange() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        RecordingPlayer& player = rig.player;
        player.calls.clear();
        emit frm.tmrBPM().tick();
        QCOMPARE(player.calls, std::string("PT"));
        QCOMPARE(player.next, frm.tmrBPM().nextDue());
        QTest::mouseClick(&frm.control("chkMute"), Qt::LeftButton);
        QTest::mouseClick(&frm.control("chkSound"), Qt::LeftButton);
        frm.hsbBPM().setValue(200);
        QCOMPARE(player.calls, std::string("PTWWR"));
        QCOMPARE(player.next, frm.tmrBPM().nextDue());
    }

    // Whatever a handler throws is reported, and the program runs on.
    void unhandledErrorsAreSwallowed() {
        const int before = window::ErrorDispatch::count();
        window::ErrorDispatch::run("tmrTest_Timer", [] { beat::BeatInterval(0); });
        window::ErrorDispatch::run("other", [] { throw std::bad_alloc(); });
        QCOMPARE(window::ErrorDispatch::count(), before + 2);
    }
};

QTEST_MAIN(TestFrmMetronome)
#include "tst_frm_metronome.moc"
