// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beat/engine.h"
#include "flash_hold.h"
#include "form_timer.h"
#include "gdi.h"
#include "qt_controls.h"
#include "round_window.h"
#include "screen_metrics.h"
#include "sound/click_player.h"

#include <QScrollBar>
#include <QWidget>

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace window {

// The metronome's one window: builds its controls from the design table, hands them to the
// beat engine and wires their events to it; the load, paint and button handlers are its own.
class FrmMetronome : public QWidget, private RoundTarget {
    Q_OBJECT
  public:
    // `sound` plays the click; `screen` gives the geometry. Neither is owned. The timers and
    // the flash are on the clock `now`; tests give one of their own.
    FrmMetronome(const ScreenMetrics& screen, sound::TimedPlayer& sound,
                 FormTimer::Now now = &FormTimer::Clock::now);
    ~FrmMetronome() override;

    // The first show runs the load handler before the window appears.
    void setVisible(bool visible) override;

    // The widget built for a control of the design table; the timers have none.
    template <class Widget = QWidget> Widget& control(std::string_view name) const {
        return *qobject_cast<Widget*>(&widget(name));
    }
    QScrollBar& hsbBPM() const { return control<QScrollBar>("hsbBPM"); }
    FormTimer& tmrBPM() { return m_tmrBPM; }
    FormTimer& tmr2() { return m_tmr2; }
    FlashHold& flashHold() { return *m_flashHold; }
    std::int64_t BeatCount() const { return m_engine->BeatCount(); }
    std::int64_t PracticeCount() const { return m_engine->PracticeCount(); }

    gdi::Gdi& gdi() { return m_gdi; }
    std::uint32_t ForeColor() const { return m_foreColor; }
    std::int32_t DrawWidth() const { return m_drawWidth; }

    // The window's own event handlers, by their design names.
    void Form_Load();
    void Form_Paint();
    void cmdExit_Click();
    void Command1_Click();

    // How much sooner than its click a beat's flash is painted: the flash takes about that
    // long to reach the screen, and shows a hair before the click rather than after it.
    static constexpr std::chrono::milliseconds FlashLead{5};

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    float Width() const override;
    float Height() const override;
    gdi::HWND hWnd() override { return this; }
    gdi::HDC hDC() override { return m_surface; }
    void setForeColor(std::uint32_t color) override;
    void setDrawWidth(std::int32_t width) override;

    QWidget& widget(std::string_view name) const;
    void buildControls();
    void wireEvents();
    // Tells the sound where the next beats fall and whether they click, so that their
    // clicks are in the stream before they are due.
    void foresee();
    QRect pixelRect(int left, int top, int width, int height) const;

    const ScreenMetrics& m_screen;
    sound::TimedPlayer& m_sound;
    const double m_fx, m_fy; // twips per pixel of the layout
    bool m_loaded = false;
    gdi::Gdi m_gdi;
    RoundWindow m_round;
    std::uint32_t m_foreColor = 0x80000012; // button text, until the bevel sets it
    std::int32_t m_drawWidth = 1;
    gdi::Surface* m_surface = nullptr;
    std::optional<QPoint> m_dragOffset; // while dragged by hand, mouse to window corner

    std::map<std::string, QWidget*, std::less<>> m_widgets; // by design name
    FormTimer m_tmrBPM;
    FormTimer m_tmr2;
    std::optional<FlashHold> m_flashHold; // of the beat area, once it exists
    std::optional<QtControls> m_controls; // built once the widgets exist
    std::optional<beat::Engine> m_engine;
};

} // namespace window
