// SPDX-License-Identifier: GPL-3.0-or-later
#include "beat/checked.h"
#include "beat/engine.h"

#include <QTest>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using beat::BeatInterval;

namespace {
// One in-memory control that can stand for any kind, keeping the window's promises: a
// scroll bar's write clamps to its range and runs the change handler nested.
struct Control : beat::ScrollBar,
                 beat::CheckBox,
                 beat::Label,
                 beat::TextBox,
                 beat::Timer,
                 beat::SoundPlayer {
    std::int16_t v = 0;
    bool en = true, vis = false;
    std::string text;
    std::vector<std::int32_t> intervals;
    int clicks = 0;
    std::function<void()> onChange;
    std::int16_t value() const override { return v; }
    void setValue(std::int16_t value) override {
        value = std::clamp<std::int16_t>(value, 20, 400);
        if (value != std::exchange(v, value) && onChange)
            onChange();
    }
    bool enabled() const override { return en; }
    void setEnabled(bool enabled) override { en = enabled; }
    bool visible() const override { return vis; }
    void setVisible(bool visible) override { vis = visible; }
    void setCaption(const std::string& caption) override { text = caption; }
    void setText(const std::string& t) override { text = t; }
    void setInterval(std::int32_t ms) override { intervals.push_back(ms); }
    void PlaySoundA(const char*, void*, std::uint32_t) override { ++clicks; }
};

// The engine on fakes in their design state, wired as the window wires it.
struct Rig {
    Control hsbBPM, txtBPM, tmrBPM, chkMute, chkSound, chkSpeed;
    Control lblBPM, lblTimer, lblTitle, lblTimer2, lblPointless, sound;
    beat::Engine engine{{.hsbBPM = hsbBPM,
                         .txtBPM = txtBPM,
                         .tmrBPM = tmrBPM,
                         .chkMute = chkMute,
                         .chkSound = chkSound,
                         .chkSpeed = chkSpeed,
                         .lblBPM = lblBPM,
                         .lblTimer = lblTimer,
                         .lblTitle = lblTitle,
                         .lblTimer2 = lblTimer2,
                         .lblPointless = lblPointless,
                         .sound = sound}};

    Rig() {
        hsbBPM.v = 100;
        txtBPM.text = "100";
        lblTitle.vis = lblPointless.vis = true;
        hsbBPM.onChange = [this] { engine.hsbBPM_Change(); };
    }
    // Clicking "Speed Practice" as a user would: the value changes, then the click event.
    void clickSpeed() {
        chkSpeed.v = chkSpeed.v ? 0 : 1;
        engine.chkSpeed_Click();
    }
};
} // namespace

class TestEngine : public QObject {
    Q_OBJECT
  private slots:
    void beatInterval_data() {
        QTest::addColumn<int>("tempo");
        QTest::addColumn<int>("interval");
        // Ties to even: a floor, a ceiling or a tie away from zero is off in one of them.
        QTest::newRow("937.5 up") << 64 << 938;
        QTest::newRow("312.5 down") << 192 << 312;
    }
    void beatInterval() {
        QFETCH(int, tempo);
        QFETCH(int, interval);
        QCOMPARE(BeatInterval(static_cast<std::int16_t>(tempo)), interval);
    }

    void muteAndPause_data() {
        QTest::addColumn<int>("mute");
        QTest::addColumn<int>("pause");
        QTest::addColumn<bool>("flips");
        QTest::addColumn<bool>("clicks");
        QTest::addColumn<bool>("titleWritten"); // over the fake's empty caption
        QTest::newRow("neither") << 0 << 0 << true << true << false;
        QTest::newRow("pause") << 0 << 1 << false << false << true;
        QTest::newRow("mute") << 1 << 0 << true << false << false;
        QTest::newRow("both") << 1 << 1 << false << false << true;
    }
    void muteAndPause() {
        QFETCH(int, mute);
        QFETCH(int, pause);
        QFETCH(bool, flips);
        QFETCH(bool, clicks);
        QFETCH(bool, titleWritten);
        Rig rig;
        rig.chkMute.v = static_cast<std::int16_t>(mute);
        rig.chkSound.v = static_cast<std::int16_t>(pause);
        rig.engine.tmrBPM_Timer();
        QCOMPARE(rig.lblBPM.vis, flips);
        QCOMPARE(rig.sound.clicks, clicks ? 1 : 0);
        QCOMPARE(rig.lblTitle.text, std::string(titleWritten ? "BPM:" : ""));
        // Counting goes on whatever the boxes say.
        QCOMPARE(rig.lblTimer.text, std::string("1"));
    }

    void countersKeepGoingPast16Bits() {
        Rig rig;
        for (int i = 0; i < 32769; ++i) {
            rig.engine.tmrBPM_Timer();
            rig.engine.tmr2_Timer();
        }
        QCOMPARE(rig.lblTimer.text, std::string("32769"));
        QCOMPARE(rig.lblTimer2.text, std::string("32769"));
    }

    // The slow ticks, with "Speed Practice" clicked before tick `onAfter` (never when -1).
    void speedPractice_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("onAfter");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("tempo");
        QTest::newRow("off") << 100 << -1 << 6 << 100;
        QTest::newRow("rises on the second tick") << 100 << 0 << 2 << 105;
        QTest::newRow("not on the third") << 100 << 0 << 3 << 105;
        QTest::newRow("phase counts from creation") << 100 << 1 << 2 << 105;
        QTest::newRow("up to 400 and no further") << 100 << 0 << 130 << 400;
        QTest::newRow("394 to 399") << 394 << 0 << 2 << 399;
        QTest::newRow("396 sets 400 on any tick") << 396 << 0 << 1 << 400;
    }
    void speedPractice() {
        QFETCH(int, start);
        QFETCH(int, onAfter);
        QFETCH(int, ticks);
        QFETCH(int, tempo);
        Rig rig;
        rig.hsbBPM.setValue(static_cast<std::int16_t>(start));
        const std::size_t changes = rig.tmrBPM.intervals.size();
        for (int tick = 0; tick < ticks; ++tick) {
            if (tick == onAfter)
                rig.clickSpeed();
            rig.engine.tmr2_Timer();
        }
        QCOMPARE(rig.hsbBPM.v, std::int16_t(tempo));
        QCOMPARE(rig.hsbBPM.en, onAfter < 0); // locked while practising
        // Each rise went through the change handler, nested.
        QCOMPARE(rig.txtBPM.text, std::to_string(tempo));
        if (tempo != start)
            QCOMPARE(rig.tmrBPM.intervals.back(), BeatInterval(std::int16_t(tempo)));
        else
            QCOMPARE(rig.tmrBPM.intervals.size(), changes);
    }
};

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
