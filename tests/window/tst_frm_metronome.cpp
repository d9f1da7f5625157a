#include "window/colors.h"
#include "window/design.h"
#include "window/error_dispatch.h"
#include "window_rig.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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

    void controlsMatchTheDesignTable() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        QCOMPARE(frm.size(), QSize(423, 518));
        QCOMPARE(frm.windowTitle(), QString("Metronome - By Velkaro"));
        QVERIFY(frm.windowFlags() & Qt::FramelessWindowHint);
        for (const auto& d : window::design::Controls) {
            QWidget* w = frm.control(d.name);
            if (d.kind == window::design::Kind::Timer) {
                QVERIFY(!w);
                continue;
            }
            QVERIFY2(w, d.name.data());
            QCOMPARE(w->isHidden(), !d.visible);
            QCOMPARE(w->isEnabled(), d.enabled);
        }
        // Rectangles worked out by hand at 15 twips per pixel.
        QCOMPARE(frm.control("lblBackground")->geometry(), QRect(16, 96, 393, 273));
        QCOMPARE(frm.control("lblBPM")->geometry(), QRect(16, 96, 393, 273));
        QCOMPARE(frm.control("Image1")->geometry(), QRect(72, 8, 285, 92));
        QCOMPARE(frm.control("Command1")->geometry(), QRect(40, 456, 161, 49));
        QCOMPARE(frm.control("txtBPM")->geometry(), QRect(104, 376, 65, 41));
        QCOMPARE(frm.control("hsbBPM")->geometry(), QRect(24, 424, 153, 25));
        QCOMPARE(frm.Command1().text(), QString("CREDITS"));
        QCOMPARE(frm.cmdExit().text(), QString("EXIT"));
        QCOMPARE(frm.chkSpeed().text(), QString("Speed Practice"));
        QCOMPARE(frm.txtBPM().text(), QString("100"));
        QCOMPARE(frm.hsbBPM().minimum(), 20);
        QCOMPARE(frm.hsbBPM().maximum(), 400);
        QCOMPARE(frm.hsbBPM().value(), 100);
        QVERIFY(!frm.hsbBPM().hasTracking());
        QCOMPARE(frm.tmr2().interval(), 5000);
        QCOMPARE(frm.tmrBPM().interval(), 0);
    }

    void captionsFitInTheirControls() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        const auto fits = [](QWidget* w, const QString& text, int chrome) {
            const int need = QFontMetrics(w->font()).horizontalAdvance(text) + chrome;
            return need <= w->width();
        };
        QVERIFY(fits(&frm.Command1(), "CREDITS", 8));
        QVERIFY(fits(&frm.cmdExit(), "EXIT", 8));
        QVERIFY(fits(&frm.txtBPM(), "400", 8)); // frame and the line edit's margins
        // The label is transparent and has no margin: the ink must lie inside it.
        QWidget* title = frm.control("lblTitle");
        QVERIFY(QFontMetrics(title->font()).boundingRect("BPM:").right() < title->width());
        for (QCheckBox* box : {&frm.chkSpeed(), &frm.chkSound(), &frm.chkMute()})
            QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->text()));
        QCOMPARE(frm.Command1().font().pointSizeF(), 24.0);
        QCOMPARE(frm.chkMute().font().pointSizeF(), 13.5);
        QVERIFY(frm.chkMute().font().bold());
    }

    void colorsAndFrontToBackOrder() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        const QColor yellow(255, 255, 192), green(0, 255, 0), red(255, 0, 0);
        QCOMPARE(pixel(frm, 212, 300), green);
        QCOMPARE(pixel(frm, 30, 30), yellow);
        QCOMPARE(pixel(frm, 330, 420), yellow); // inside chkMute, right of its text
        // The banner's transparent corner over the beat area shows the beat area.
        QCOMPARE(pixel(frm, 73, 99), green);
        frm.lblBPM().show();
        QCOMPARE(pixel(frm, 212, 300), red);
        QCOMPARE(pixel(frm, 16, 96), red);
        QCOMPARE(pixel(frm, 408, 368), red);
        QCOMPARE(pixel(frm, 73, 99), red);
        frm.lblBPM().hide();
        QCOMPARE(pixel(frm, 408, 368), green);
        QCOMPARE(frm.Command1().palette().color(QPalette::Button), QColor(192, 255, 255));
        QCOMPARE(window::resolveColor(0x00C0FFFF, frm.palette()), yellow);
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
        QCOMPARE(rig.frm.size(), QSize(423, 518));
        QCOMPARE(rig.frm.tmrBPM().interval(), 600);
    }

    void startsWithoutAUsableDpi_data() {
        QTest::addColumn<double>("factor");
        QTest::addColumn<QStringList>("errorBoxes"); // shaping sees the reported factor
        const QStringList thrice(3, "ERROR NUMBER: 11");
        QTest::newRow("0") << 0.0 << thrice;
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
        QCOMPARE(rig.frm.control("hsbBPM")->geometry(), QRect(24, 424, 153, 25));
        QCOMPARE(boxes.titles, errorBoxes);
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
        const std::vector<QWidget*> cycle{&frm.chkSpeed(), &frm.chkSound(), &frm.chkMute(),
                                          &frm.cmdExit(),  &frm.Command1(), &frm.hsbBPM()};
        for (QWidget* next : cycle) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void scrollBarChangesTempoAndInterval() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QScrollBar& bar = frm.hsbBPM();
        QTest::keyClick(&bar, Qt::Key_Right);
        QCOMPARE(frm.txtBPM().text(), QString("101"));
        QCOMPARE(frm.tmrBPM().interval(), 594);
        QTest::keyClick(&bar, Qt::Key_PageUp);
        QCOMPARE(frm.txtBPM().text(), QString("111"));
        QTest::keyClick(&bar, Qt::Key_Left);
        QCOMPARE(frm.txtBPM().text(), QString("110"));
        bar.setValue(1000);
        QCOMPARE(frm.txtBPM().text(), QString("400"));
        QCOMPARE(frm.tmrBPM().interval(), 150);
        bar.setValue(1);
        QCOMPARE(frm.txtBPM().text(), QString("20"));
        QCOMPARE(frm.tmrBPM().interval(), 3000);

        // Dragging the thumb changes nothing until it is let go.
        bar.setSliderDown(true);
        bar.setSliderPosition(192);
        QCOMPARE(frm.txtBPM().text(), QString("20"));
        QCOMPARE(frm.tmrBPM().interval(), 3000);
        bar.setSliderDown(false);
        QCOMPARE(frm.txtBPM().text(), QString("192"));
        QCOMPARE(frm.tmrBPM().interval(), 312);
    }

    void speedPracticeLocksTheScrollBar() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QTest::mouseClick(&frm.chkSpeed(), Qt::LeftButton);
        QVERIFY(frm.chkSpeed().isChecked());
        QVERIFY(!frm.hsbBPM().isEnabled());
        QTest::mouseClick(&frm.chkSpeed(), Qt::LeftButton);
        QVERIFY(frm.hsbBPM().isEnabled());
    }

    void beatsFlashAndClickOnAFixedGrid() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        frm.hsbBPM().setValue(400);
        QTRY_VERIFY_WITH_TIMEOUT(rig.player.times.size() >= 4, 3000);
        for (std::size_t i = 1; i < rig.player.times.size(); ++i)
            QCOMPARE(rig.player.times[i] - rig.player.times[i - 1], std::chrono::milliseconds(150));
        QCOMPARE(frm.BeatCount(), std::int64_t(rig.player.times.size()));
        QCOMPARE(frm.lblTimer().text(), QString::number(frm.BeatCount()));
        QCOMPARE(frm.lblBPM().isHidden(), frm.BeatCount() % 2 == 0);
    }

    void creditsBoxIsModalAndBeatsGoOn() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        frm.hsbBPM().setValue(400);
        SeenBox seen;
        std::int64_t beatsWhileOpen = -1;
        closeNextBox(700, seen, [&] { beatsWhileOpen = frm.BeatCount(); });
        const std::int64_t before = frm.BeatCount();
        QTest::mouseClick(&frm.Command1(), Qt::LeftButton);
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QString("Credits"));
        QVERIFY(seen.text.startsWith("Designed and implemented by Velkaro ("));
        QVERIFY(seen.text.endsWith("@example.com)"));
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
        QCOMPARE(seen.buttons, 1);
        QVERIFY(seen.hasOk);
        QVERIFY(beatsWhileOpen >= before + 3);
    }

    void exitClosesTheWindow() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QTest::mouseClick(&frm.cmdExit(), Qt::LeftButton);
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
