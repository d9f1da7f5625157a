#pragma once

#include "sound/click_player.h"
#include "window/frm_metronome.h"
#include "window/screen_metrics.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>
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

// The window on a 1024 × 768 screen at 15 twips per pixel, clicks recorded.
struct WindowRig {
    FakeScreen screen;
    RecordingPlayer player;
    window::FrmMetronome frm{screen, player};
};

// What a modal message box showed.
struct SeenBox {
    bool shown = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    bool hasOk = false;
};

// Reads the modal box open `afterMs` from now, runs `whileOpen`, and closes it.
inline void closeNextBox(int afterMs, SeenBox& seen, std::function<void()> whileOpen = {}) {
    QTimer::singleShot(afterMs, [&seen, whileOpen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {true,
                box->windowTitle(),
                box->text(),
                box->icon(),
                static_cast<int>(box->buttons().size()),
                box->button(QMessageBox::Ok) != nullptr};
        if (whileOpen)
            whileOpen();
        box->accept();
    });
}
