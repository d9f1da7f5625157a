#pragma once

#include "sound/click_player.h"
#include "window/frm_metronome.h"
#include "window/screen_metrics.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

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

// Records the clicks the window asks for, with the time each was due, and what it says of
// the next beat: P played, T ticked, R retimed, W withdraw.
struct RecordingPlayer : sound::TimedPlayer {
    std::vector<Clock::time_point> times;
    std::string calls;
    std::optional<Clock::time_point> next;
    void PlaySoundA(const char*, std::uint32_t, Clock::time_point at) override {
        times.push_back(at);
        calls += 'P';
    }
    void ticked(std::optional<Clock::time_point> n) override { calls += 'T', next = n; }
    void retimed(std::optional<Clock::time_point> n) override { calls += 'R', next = n; }
    void withdraw() override { calls += 'W'; }
};

// The window on a screen (1024 × 768 at 15 twips per pixel unless given), clicks recorded.
struct WindowRig {
    explicit WindowRig(FakeScreen s = FakeScreen()) : screen(s) {}
    FakeScreen screen;
    RecordingPlayer player;
    window::FrmMetronome frm{screen, player};
};

// Closes every modal box as soon as it opens, noting its title.
struct BoxCloser {
    QStringList titles;
    QTimer timer;

    BoxCloser() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles << box->windowTitle();
                box->accept();
            }
        });
        timer.start(0);
    }
};
