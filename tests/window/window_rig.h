#pragma once

#include "sound/click_player.h"
#include "window/frm_metronome.h"
#include "window/screen_metrics.h"

#include <vector>

// A screen of a chosen size and twips-per-pixel factor.
struct FakeScreen : window::ScreenMetrics {
    double factor = 15.0;
    int widthPx = 1024, heightPx = 768;
    double twipsPerPixelX() const override { return factor; }
    double twipsPerPixelY() const override { return factor; }
    double widthTwips() const override { return widthPx * factor; }
    double heightTwips() const override { return heightPx * factor; }
};

// Records the clicks the window asks for, with the time each was due.
struct RecordingPlayer : sound::TimedPlayer {
    std::vector<Clock::time_point> times;
    void PlaySoundA(const char*, std::uint32_t, Clock::time_point at) override {
        times.push_back(at);
    }
};
