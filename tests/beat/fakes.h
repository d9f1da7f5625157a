#pragma once

#include "beat/controls.h"
#include "beat/engine.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

// In-memory controls that keep the window's promises: a scroll bar clamps to its range and
// runs its change handler nested inside a write that changes the value.
namespace fakes {

using Log = std::vector<std::string>;

struct ScrollBar : beat::ScrollBar {
    std::int16_t v = 100;
    bool en = true;
    std::function<void()> onChange;
    std::int16_t value() const override { return v; }
    void setValue(std::int16_t value) override {
        value = std::clamp<std::int16_t>(value, 20, 400);
        if (value == v)
            return;
        v = value;
        if (onChange)
            onChange();
    }
    bool enabled() const override { return en; }
    void setEnabled(bool enabled) override { en = enabled; }
};

struct CheckBox : beat::CheckBox {
    std::int16_t v = 0;
    std::int16_t value() const override { return v; }
};

struct Label : beat::Label {
    Label(std::string n, bool visible, Log& log) : name(std::move(n)), vis(visible), log(log) {}
    std::string name, caption;
    bool vis;
    int captionWrites = 0;
    Log& log;
    bool visible() const override { return vis; }
    void setVisible(bool visible) override {
        vis = visible;
        log.push_back(name + (visible ? " shown" : " hidden"));
    }
    void setCaption(const std::string& c) override { caption = c, ++captionWrites; }
};

struct TextBox : beat::TextBox {
    std::string text = "100";
    void setText(const std::string& t) override { text = t; }
};

struct Timer : beat::Timer {
    std::vector<std::int32_t> intervals;
    void setInterval(std::int32_t ms) override { intervals.push_back(ms); }
};

struct Sound : beat::SoundPlayer {
    explicit Sound(Log& log) : log(log) {}
    Log& log;
    std::vector<std::uint32_t> flags;
    void PlaySoundA(const char*, void* hmod, std::uint32_t f) override {
        flags.push_back(f);
        log.push_back(hmod ? "click with module" : "click");
    }
};

// The engine on fakes in their design state, wired as the window wires it.
struct Rig {
    Log log;
    ScrollBar hsbBPM;
    TextBox txtBPM;
    Timer tmrBPM;
    CheckBox chkMute, chkSound, chkSpeed;
    Label lblBPM{"lblBPM", false, log}, lblTimer{"lblTimer", false, log},
        lblTitle{"lblTitle", true, log}, lblTimer2{"lblTimer2", false, log},
        lblPointless{"lblPointless", true, log};
    Sound sound{log};
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
        hsbBPM.onChange = [this] { engine.hsbBPM_Change(); };
    }
    // Clicking "Speed Practice" as a user would: the value changes, then the click event.
    void clickSpeed() {
        chkSpeed.v = chkSpeed.v ? 0 : 1;
        engine.chkSpeed_Click();
    }
    int clicks() const { return static_cast<int>(sound.flags.size()); }
};

} // namespace fakes
