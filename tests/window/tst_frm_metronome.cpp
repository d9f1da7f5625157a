#include "window/error_dispatch.h"
#include "window_rig.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>

using window::FrmMetronome;

namespace {
QColor pixel(QWidget& w, int x, int y) {
    return w.grab().toImage().pixelColor(x, y);
}
} // namespace

class TestFrmMetronome : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QApplication::setStyle("Fusion"); }

    void layoutInPixels() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        QCOMPARE(frm.size(), QSize(423, 518));
        QVERIFY(frm.windowFlags() & Qt::FramelessWindowHint);
        // Rectangles worked out by hand at 15 twips per pixel.
        QCOMPARE(frm.control("lblBPM").geometry(), QRect(16, 96, 393, 273));
        QCOMPARE(frm.control("Image1").geometry(), QRect(72, 8, 285, 92));
        QCOMPARE(frm.control("Command1").geometry(), QRect(40, 456, 161, 49));
        QCOMPARE(frm.control("txtBPM").geometry(), QRect(104, 376, 65, 41));
        QCOMPARE(frm.hsbBPM().geometry(), QRect(24, 424, 153, 25));
        QVERIFY(!frm.control("txtBPM").isEnabled());
        QVERIFY(frm.control("lblTimer").isHidden() && frm.control("lblTimer2").isHidden());
    }

    void captionsFitInTheirControls() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        const auto fits = [&](const char* name, const QString& text, int chrome) {
            QWidget& w = frm.control(name);
            return QFontMetrics(w.font()).horizontalAdvance(text) + chrome <= w.width();
        };
        QVERIFY(fits("Command1", "CREDITS", 8));
        QVERIFY(fits("cmdExit", "EXIT", 8));
        QVERIFY(fits("txtBPM", "400", 8)); // frame and the line edit's margins
        // The label is transparent and has no margin: the ink must lie inside it.
        QWidget& title = frm.control("lblTitle");
        QVERIFY(QFontMetrics(title.font()).boundingRect("BPM:").right() < title.width());
        for (const char* name : {"chkSpeed", "chkSound", "chkMute"})
            QVERIFY2(frm.control(name).sizeHint().width() <= frm.control(name).width(), name);
    }

    void colorsAndFrontToBackOrder() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        const QColor yellow(255, 255, 192), green(0, 255, 0), red(255, 0, 0);
        QCOMPARE(pixel(frm, 212, 300), green);
        QCOMPARE(pixel(frm, 30, 30), yellow);
        QCOMPARE(pixel(frm, 330, 420), yellow);               // inside chkMute, right of its text
        QCOMPARE(pixel(frm, 44, 480), QColor(192, 255, 255)); // CREDITS
        // The banner's transparent corner over the beat area shows the beat area.
        QCOMPARE(pixel(frm, 73, 99), green);
        frm.control("lblBPM").show();
        QCOMPARE(pixel(frm, 16, 96), red);
        QCOMPARE(pixel(frm, 408, 368), red);
        QCOMPARE(pixel(frm, 73, 99), red);
    }

    void startsInsideItsScreen_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("pos");
        const QRect xga(0, 0, 1024, 768);
        QTest::newRow("centred, 300.5 ties to even") << xga << xga << QPoint(300, 125);
        QTest::newRow("right of another screen")
            << xga.translated(1920, 0) << xga.translated(1920, 0) << QPoint(2220, 125);
        QTest::newRow("above and left of the primary")
            << xga.translated(-1024, -768) << xga.translated(-1024, -768) << QPoint(-724, -643);
        QTest::newRow("too low, top kept below the panel")
            << QRect(0, 0, 640, 480) << QRect(0, 24, 640, 456) << QPoint(108, 24);
        QTest::newRow("too low and off the origin")
            << QRect(2000, 300, 640, 480) << QRect(2000, 300, 640, 480) << QPoint(2108, 300);
        QTest::newRow("1366x768 at scale 1.5")
            << QRect(0, 0, 911, 512) << QRect(0, 0, 911, 512) << QPoint(244, 0);
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
        QCOMPARE(rig.frm.tmrBPM().interval(), 600);
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
        // Laid out at 15 twips per pixel, and centred.
        QCOMPARE(rig.frm.geometry(), QRect(300, 125, 423, 518));
        QCOMPARE(rig.frm.hsbBPM().geometry(), QRect(24, 424, 153, 25));
        QCOMPARE(boxes.titles(), errorBoxes);
        QCOMPARE(rig.frm.tmrBPM().interval(), 600);
        rig.frm.grab(); // a paint that fails is reported, not fatal
    }

    void focusCyclesThroughTheTabOrder() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QApplication::setActiveWindow(&frm);
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QCOMPARE(QApplication::focusWidget(), &frm.hsbBPM());
        for (const char* next :
             {"chkSpeed", "chkSound", "chkMute", "cmdExit", "Command1", "hsbBPM"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), &frm.control(next));
        }
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
        QTest::keyClick(&bar, Qt::Key_PageUp);
        QCOMPARE(txt.text(), QString("111"));
        bar.setValue(1000);
        QCOMPARE(txt.text(), QString("400"));
        QCOMPARE(frm.tmrBPM().interval(), 150);
        bar.setValue(1);
        QCOMPARE(frm.tmrBPM().interval(), 3000);

        // Dragging the thumb changes nothing until it is let go.
        bar.setSliderDown(true);
        bar.setSliderPosition(192);
        QCOMPARE(txt.text(), QString("20"));
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
        QCOMPARE(frm.control<QLabel>("lblTimer").text(), QString("4"));
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

    void creditsAndExit() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        BoxCloser boxes;
        QTest::mouseClick(&frm.control("Command1"), Qt::LeftButton);
        QCOMPARE(boxes.titles(), QStringList("Credits"));
        QVERIFY(boxes.seen[0].text.startsWith("Designed and implemented by Velkaro ("));
        QCOMPARE(boxes.seen[0].buttons, 1);
        QVERIFY(frm.isVisible());
        QTest::mouseClick(&frm.control("cmdExit"), Qt::LeftButton);
        QVERIFY(!frm.isVisible());
    }

    void unhandledErrorsAreReportedOnceAndSwallowed() {
        const int before = window::ErrorDispatch::count();
        for (int i = 0; i < 3; ++i)
            window::ErrorDispatch::run("tmrTest_Timer", [] { beat::BeatInterval(0); });
        QCOMPARE(window::ErrorDispatch::count(), before + 3);
        QCOMPARE(QString::fromStdString(window::ErrorDispatch::lastReport()),
                 QString("Run-time error 11 in tmrTest_Timer: Division by zero"));
        window::ErrorDispatch::run("other", [] { throw std::bad_alloc(); });
        QVERIFY(window::ErrorDispatch::lastReport().find("other") != std::string::npos);
    }
};

QTEST_MAIN(TestFrmMetronome)
#include "tst_frm_metronome.moc"
