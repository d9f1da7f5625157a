// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/click_player.h"
#include "window/desktop_path.h"
#include "window/form_timer.h"
#include "window/frm_metronome.h"
#include "window/screen_metrics.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using window::FormTimer;
using window::FrmMetronome;

namespace {
// A screen of a chosen place, size and twips-per-pixel factor.
struct FakeScreen : window::ScreenMetrics {
    FakeScreen(double f = 15.0, QRect w = {0, 0, 1024, 768}, QRect a = {})
        : factor(f), whole(w), available(a.isNull() ? w : a) {}
    double factor;
    QRect whole, available;
    double twipsPerPixelX() const override { return factor; }
    double twipsPerPixelY() const override { return factor; }
    QRect geometry() const override { return whole; }
    QRect availableGeometry() const override { return available; }
};

// Records the clicks the window asks for, with the time each was due, and what it foresees
// of the next beats: P played, F foreseen clicking, f none foreseen. Its clicks are heard
// `heardAfter` after they are due.
struct RecordingPlayer : sound::TimedPlayer {
    std::vector<Clock::time_point> times;
    std::string calls;
    std::optional<sound::BeatGrid> grid;
    std::chrono::nanoseconds heardAfter{};
    void PlaySoundA(const char*, std::uint32_t, Clock::time_point at) override {
        times.push_back(at);
        calls += 'P';
    }
    void foresee(std::optional<sound::BeatGrid> g, bool clicks) override {
        calls += clicks && g ? 'F' : 'f';
        grid = g;
    }
    std::chrono::nanoseconds delay() const override { return heardAfter; }
};

// The window on a screen (1024 × 768 at 15 twips per pixel unless given), clicks recorded,
// its timers and flash on a clock that moves only when the test says so.
struct WindowRig {
    static constexpr FormTimer::Clock::time_point Start{1h};
    explicit WindowRig(FakeScreen s = FakeScreen()) : screen(s) {}
    FakeScreen screen;
    RecordingPlayer player;
    FormTimer::Clock::time_point now = Start;
    window::FrmMetronome frm{screen, player, [this] { return now; }};
    // The clock reaches `since` after the start; the beat's timer and the flash wake.
    void at(FormTimer::Clock::duration since) {
        now = Start + since;
        frm.tmrBPM().wake();
        frm.flashHold().wake();
    }
};

// The objects whose accessibility events pass the window's filter.
struct Spy {
    static inline QStringList passed;
    static void record(QAccessibleEvent* e) { passed << e->object()->objectName(); }
};

// Contrast of two colours as the web's accessibility guidelines measure it, 1 to 21.
double contrast(QColor a, QColor b) {
    const auto lum = [](QColor c) {
        const auto lin = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF()) + 0.05;
    };
    return std::max(lum(a), lum(b)) / std::min(lum(a), lum(b));
}

} // namespace

// The window on its screen, its controls and their wiring, its shape and paint; when a beat
// ticks, when its click is due, and when its flash is painted.
class TestWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QApplication::setStyle("Fusion");
        // Before any window: the window's filter passes on to it what it lets through.
        QAccessible::installUpdateHandler(&Spy::record);
    }

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
        QStringList boxes; // each closed as soon as it opens
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle();
                box->accept();
            }
        });
        closer.start(0);
        WindowRig rig(FakeScreen{factor});
        rig.frm.show();
        // Laid out at 15 twips per pixel, centred, beating at the design tempo.
        QCOMPARE(rig.frm.geometry(), QRect(300, 125, 423, 518));
        QCOMPARE(boxes, errorBoxes);
        QCOMPARE(rig.frm.tmrBPM().interval(), 600);
        rig.frm.grab(); // a paint that fails is reported, not fatal
        // Where shaping gave up, no region is left behind; else only the window's own.
        QCOMPARE(rig.frm.gdi().liveRegions(), errorBoxes.isEmpty() ? 1 : 0);
    }

    // The tempo by thumb, keys and screen reader, as a setting of 20 to 400 (a scroll bar's
    // percentage Orca gets wrong) whose number is one run of text attributes (or Orca cuts
    // its last digit off). Practice raises it and locks it, also to a screen reader: said
    // when it starts and at each rise while the focus stays on "Speed Practice", and left to
    // the number box's own change when the focus is there.
    void theTempoByHandKeysAndScreenReaderAndSpeedPractice() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        frm.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frm));
        QScrollBar& bar = frm.hsbBPM();
        QLineEdit& txt = frm.control<QLineEdit>("txtBPM");
        QCheckBox& chkSpeed = frm.control<QCheckBox>("chkSpeed");
        // Dragging the thumb changes nothing until it is let go.
        bar.setSliderDown(true);
        bar.setSliderPosition(192);
        QCOMPARE(txt.text(), QString("100"));
        bar.setSliderDown(false);
        QCOMPARE(txt.text(), QString("192"));
        QCOMPARE(frm.tmrBPM().interval(), 312);
        // The keyboard reaches both ends and no further.
        QTest::keyClick(&bar, Qt::Key_End);
        QCOMPARE(txt.text(), QString("400"));
        QTest::keyClick(&bar, Qt::Key_Home);
        QCOMPARE(txt.text(), QString("20"));
        QAccessibleInterface* tempo = QAccessible::queryAccessibleInterface(&bar);
        QCOMPARE(tempo->role(), QAccessible::SpinBox);
        QCOMPARE(tempo->text(QAccessible::Name), QString("Tempo"));
        QAccessibleValueInterface* value = tempo->valueInterface();
        QCOMPARE(value->minimumValue().toInt(), 20);
        QCOMPARE(value->maximumValue().toInt(), 400);
        value->setCurrentValue(115);
        QCOMPARE(txt.text(), QString("115"));
        QCOMPARE(tempo->textInterface()->text(0, -1), QString("115")); // what flat review reads
        QAccessibleTextInterface* text =
            QAccessible::queryAccessibleInterface(&txt)->textInterface();
        QCOMPARE(text->text(0, text->characterCount()), QString("115"));
        for (int offset = 0; offset < 3; ++offset) {
            int start = -1, end = -1;
            text->attributes(offset, &start, &end);
            QCOMPARE(std::pair(start, end), std::pair(0, 3));
        }

        QSignalSpy said(frm.findChild<QObject*>("tempoStandIn"), SIGNAL(announced(QString)));
        chkSpeed.setFocus();
        QTest::keyClick(&chkSpeed, Qt::Key_Space);
        QVERIFY(!bar.isEnabled() && tempo->state().readOnly);
        value->setCurrentValue(300);
        QCOMPARE(value->currentValue().toInt(), 115);
        emit frm.tmr2().tick();
        emit frm.tmr2().tick(); // the rising one
        QCOMPARE(txt.text(), QString("120"));
        QCOMPARE(frm.tmrBPM().interval(), 500);
        QCOMPARE(said.size(), 2);
        QCOMPARE(said.at(0).at(0).toString(), QString("Tempo now set by practice, 115. "
                                                      "Shift+Tab reads it."));
        QCOMPARE(said.at(1).at(0).toString(), QString("Tempo 120"));
        // Tab cannot reach the locked bar: the number box stands in, and takes no typing.
        QTest::keyClick(&chkSpeed, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), &txt);
        QTest::keyClicks(&txt, "9");
        QCOMPARE(txt.text(), QString("120"));
        emit frm.tmr2().tick();
        emit frm.tmr2().tick();
        QCOMPARE(txt.text(), QString("125"));
        QCOMPARE(said.size(), 2);
        QTest::keyClick(&txt, Qt::Key_Tab);
        QTest::keyClick(&chkSpeed, Qt::Key_Space);
        QVERIFY(bar.isEnabled());
        QTest::keyClick(&chkSpeed, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), &bar);
        QTest::keyClick(&bar, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), &frm.control("Command1"));
    }

    // Only what a listener can reach sends events: not the flipping beat area, nor the hidden
    // counters; the beat's colour is what the area behind it describes.
    void aScreenReaderIsToldOnlyWhatCarriesSomething() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&frm);
        QStringList reachable;
        for (int i = 0; i < window->childCount(); ++i)
            reachable << window->child(i)->object()->objectName();
        // Every control shown or hidden: only what can be reached says so. (Offscreen, Qt
        // sends no events itself: the window's filter is given them by hand.)
        const QAccessible::UpdateHandler filter = QAccessible::installUpdateHandler(nullptr);
        QAccessible::installUpdateHandler(filter);
        Spy::passed.clear();
        for (QWidget* w : frm.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QAccessibleEvent event(w, QAccessible::ObjectShow);
            filter(&event);
        }
        QCOMPARE(Spy::passed, reachable);
        for (const char* quiet : {"lblBPM", "lblPointless", "lblTimer", "lblTimer2"})
            QVERIFY2(!reachable.contains(quiet), quiet);
        QVERIFY(reachable.contains("lblBackground") && reachable.contains("txtBPM"));
        emit frm.tmrBPM().tick();
        QCOMPARE(QAccessible::queryAccessibleInterface(&frm.control("lblBackground"))
                     ->text(QAccessible::Description),
                 QString("red"));
    }

    // The window and button colours are fixed, the text colour is the desktop's: each
    // caption must still read on its own background, at least 4.5:1, in any scheme.
    void captionsReadInAnyScheme_data() {
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(Qt::black);
        QTest::newRow("dark") << QColor(Qt::white);
        // Mid-grey text: about 4:1 on the window's yellow, readable to some, not enough.
        QTest::newRow("grey") << QColor("#777777");
    }
    void captionsReadInAnyScheme() {
        QFETCH(QColor, text);
        const QPalette before = QApplication::palette();
        QPalette scheme = before;
        for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            scheme.setColor(role, text);
        QApplication::setPalette(scheme);
        WindowRig rig;
        QApplication::setPalette(before);
        FrmMetronome& frm = rig.frm;
        const QImage image = frm.grab().toImage();
        const int box = frm.style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        frm.style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        for (const char* name :
             {"lblTitle", "chkSpeed", "chkSound", "chkMute", "cmdExit", "Command1"}) {
            // The ink: the pixel that stands out most on the window's yellow or a button's
            // cyan, inside the edges and right of a check box's own box.
            const QWidget& control = frm.control(name);
            const QColor back =
                control.inherits("QPushButton") ? QColor(192, 255, 255) : QColor(255, 255, 192);
            QRect r = control.geometry().adjusted(3, 3, -3, -3);
            if (control.inherits("QCheckBox"))
                r.setLeft(r.left() + box);
            double best = 1;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    best = std::max(best, contrast(image.pixelColor(x, y), back));
            QVERIFY2(best >= 4.5, qPrintable(QString("%1: %2:1").arg(name).arg(best)));
        }
    }

    // After every beat and every change of Mute, Pause or tempo, the sound hears where the
    // next beats fall and whether they click, as the next tick will decide.
    void theSoundForeseesEveryChange() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        RecordingPlayer& player = rig.player;
        QCOMPARE(player.calls, std::string("fF")); // no beat at creation; the first, at load
        rig.at(600ms);
        QCOMPARE(player.calls, std::string("fFPF"));
        QCOMPARE(player.grid->next, WindowRig::Start + 1200ms);
        QCOMPARE(player.grid->interval, std::chrono::nanoseconds(600ms));
        player.calls.clear();
        for (const char* box : {"chkMute", "chkSound"})
            QTest::mouseClick(&frm.control(box), Qt::LeftButton);
        frm.hsbBPM().setValue(200);
        QCOMPARE(player.grid->next, WindowRig::Start + 900ms);
        for (const char* box : {"chkMute", "chkSound"})
            QTest::mouseClick(&frm.control(box), Qt::LeftButton);
        QCOMPARE(player.calls, std::string("ffffF"));
        QCOMPARE(player.grid->interval, std::chrono::nanoseconds(300ms));
    }

    // Each beat's flash shows when its click is heard, also when that is more than a beat
    // after the tick, and changes nothing else on the screen before then.
    void theFlashShowsWhenItsClickIsHeard() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        rig.player.heardAfter = 200ms;
        frm.show();
        frm.hsbBPM().setValue(400); // a beat every 150 ms from here
        auto& area = frm.control<QLabel>("lblBPM");
        const bool red = !area.isHidden();
        const auto lead = FrmMetronome::FlashLead;
        rig.at(150ms);
        QCOMPARE(area.property("Visible").toBool(), !red); // the beat's own state, at once
        rig.at(300ms);                                     // the next beat flips it back
        QCOMPARE(area.property("Visible").toBool(), red);
        QCOMPARE(area.isHidden(), !red);
        rig.at(350ms - lead - 1ms);
        QCOMPARE(area.isHidden(), !red);
        rig.at(350ms - lead);
        QCOMPARE(area.isHidden(), red);
        rig.at(500ms - lead - 1ms);
        QCOMPARE(area.isHidden(), red);
        rig.at(500ms - lead);
        QCOMPARE(area.isHidden(), !red);
        // With no delay a beat shows at once; the change still waiting from the beat before
        // it is dropped, as it would take the screen back.
        rig.player.heardAfter = {};
        rig.at(600ms);
        QCOMPARE(area.isHidden(), !red);
        rig.at(645ms);
        QCOMPARE(area.isHidden(), !red);
    }

    void bevelColoursOnEveryEdge() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        // The four bevel roles (3DLIGHT, BTNHIGHLIGHT, BTNSHADOW, 3DDKSHADOW), told apart.
        const QColor light(250, 10, 10), hi(10, 250, 10), dark(10, 10, 250), dk(120, 60, 30);
        const QColor bg(255, 255, 192);
        QPalette pal = frm.palette();
        pal.setColor(QPalette::Midlight, light);
        pal.setColor(QPalette::Light, hi);
        pal.setColor(QPalette::Dark, dark);
        pal.setColor(QPalette::Shadow, dk);
        frm.setPalette(pal);
        const QImage first = frm.grab().toImage();
        const std::vector<QColor> upperLeft{light, hi, bg, dark, dk};
        const std::vector<QColor> lowerRight{dk, dark, bg, hi, light};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(first.pixelColor(211, i), upperLeft[i]);        // top
            QCOMPARE(first.pixelColor(i, 259), upperLeft[i]);        // left
            QCOMPARE(first.pixelColor(211, 517 - i), lowerRight[i]); // bottom
            QCOMPARE(first.pixelColor(422 - i, 259), lowerRight[i]); // right
        }
        QCOMPARE(first.pixelColor(211, 5), bg); // nothing inside ring 4 is filled
        QCOMPARE(frm.gdi().liveRegions(), 0);   // never shaped: no region at all
    }

    // Interval 0 never ticks; assigning one restarts the count-down; late wakes keep the
    // grid, one blocked past several due times gets a single tick; the click of a tick
    // handled late carries its due time.
    void timerTicksOnTheGridOfTheLastAssignment() {
        WindowRig rig;
        FormTimer& timer = rig.frm.tmrBPM();
        timer.setInterval(20);
        timer.setInterval(0);
        rig.at(1s);
        for (int i = 1; i <= 6; ++i) {
            timer.setInterval(40); // keeps putting the tick off
            rig.at(1s + i * 30ms);
        }
        for (auto when : {1189ms, 1190ms, 1233ms, 1270ms, 1400ms, 1429ms, 1430ms})
            rig.at(when);
        // Each beat's click carries its due time, also the one handled at 1400 ms.
        std::vector<FormTimer::Clock::duration> dues;
        for (auto at : rig.player.times)
            dues.push_back(at - WindowRig::Start);
        QCOMPARE(dues,
                 (std::vector<FormTimer::Clock::duration>{1190ms, 1230ms, 1270ms, 1310ms, 1430ms}));
        QVERIFY(!timer.currentDue()); // only inside a tick
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, timer.setInterval(-1));
    }

    void mapsOntoTheDesktop_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); // on the desktop /d; empty: nowhere
        QTest::newRow("as written") << R"(C:\WINDOWS\Desktop\Cool Folder\Music\metronome.wav)"
                                    << "/d/Cool Folder/Music/metronome.wav";
        QTest::newRow("any case, any drive, '/' too") << R"(d:/windows\DESKTOP\Music/Click.WAV)"
                                                      << "/d/Music/Click.WAV";
        QTest::newRow("dots in names") << R"(C:\WINDOWS\Desktop\..a\b...wav)"
                                       << "/d/..a/b...wav";
        QTest::newRow("escapes") << R"(C:\WINDOWS\Desktop\..\..\etc\passwd)" << QString();
        QTest::newRow("escapes later") << R"(C:\WINDOWS\Desktop\Music\..\..\x.wav)" << QString();
        QTest::newRow("dot") << R"(C:\WINDOWS\Desktop\.\x.wav)" << QString();
        QTest::newRow("empty folder") << R"(C:\WINDOWS\Desktop\Music\\x.wav)" << QString();
        QTest::newRow("other folder of the drive") << R"(C:\Users\Desktop\x.wav)" << QString();
        QTest::newRow("drive-relative") << R"(C:WINDOWS\Desktop\x.wav)" << QString();
        QTest::newRow("network share") << R"(\\server\WINDOWS\Desktop\x.wav)" << QString();
    }
    void mapsOntoTheDesktop() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(window::desktopPath(path.toStdString(), "/d")), expected);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
