#pragma once

#include "beat/beat_timer.h"
#include "beat/controls.h"
#include "beat/speed_practice.h"
#include "beat/tempo.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

// In-memory controls that keep the window's promises: a scroll bar clamps to its range and
// runs its change handler nested inside a write that changes the value.
namespace fakes {

using Log = std::vector<std::string>;

struct ScrollBar : beat::ScrollBar {
    std::int16_t v = 100, min = 20, max = 400;
    bool en = true;
    std::function<void()> onChange;
    std::int16_t value() const override { return v; }
    void setValue(std::int16_t value) override {
        value = std::clamp(value, min, max);
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
    std::string name;
    bool vis;
    std::string caption;
    int captionWrites = 0;
    Log& log;
    bool visible() const override { return vis; }
    void setVisible(bool visible) override {
        vis = visible;
        log.push_back(name + (visible ? " shown" : " hidden"));
    }
    void setCaption(const std::string& c) override {
        caption = c;
        ++captionWrites;
    }
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
    std::vector<std::string> paths;
    std::vector<std::uint32_t> flags;
    void PlaySoundA(const char* path, void* hmod, std::uint32_t f) override {
        paths.emplace_back(path);
        flags.push_back(f);
        log.push_back(hmod ? "click with module" : "click");
    }
};

// The whole engine on fakes, in its design state, wired as the window wires it.
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
    beat::Controls controls{hsbBPM, txtBPM,   tmrBPM,   chkMute,   chkSound,     chkSpeed,
                            lblBPM, lblTimer, lblTitle, lblTimer2, lblPointless, sound};
    beat::Tempo tempo{controls};
    beat::BeatTimer beatTimer{controls};
    beat::SpeedPractice practice{controls};

    Rig() {
        hsbBPM.onChange = [this] { tempo.hsbBPM_Change(); };
    }

    // Clicking "Speed Practice" as a user would: the value changes, then the click event.
    void clickSpeed() {
        chkSpeed.v = chkSpeed.v ? 0 : 1;
        practice.chkSpeed_Click();
    }
    int clicks() const { return static_cast<int>(sound.paths.size()); }
};

} // namespace fakes
