#pragma once

#include "beat/beat_timer.h"
#include "beat/controls.h"
#include "beat/speed_practice.h"
#include "beat/tempo.h"
#include "flash_hold.h"
#include "form_timer.h"
#include "gdi.h"
#include "qt_controls.h"
#include "round_window.h"
#include "screen_metrics.h"
#include "sound/click_player.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace window {

// The metronome's one window: builds its controls from the design table, owns the beat
// logic and wires the controls' events to it.
class FrmMetronome : public QWidget, private RoundTarget {
    Q_OBJECT
  public:
    // `sound` plays the click; `screen` gives the geometry. Neither is owned.
    FrmMetronome(const ScreenMetrics& screen, sound::TimedPlayer& sound, QWidget* parent = nullptr);
    ~FrmMetronome() override;

    // The first show runs the load handler before the window appears.
    void setVisible(bool visible) override;

    // The widget built for a control of the design table (nullptr for the timers).
    QWidget* control(std::string_view name) const;
    QScrollBar& hsbBPM() const { return *m_hsbBPM; }
    QLineEdit& txtBPM() const { return *m_txtBPM; }
    QLabel& lblBPM() const { return *m_lblBPM; }
    QLabel& lblTimer() const { return *m_lblTimer; }
    QLabel& lblTimer2() const { return *m_lblTimer2; }
    QCheckBox& chkMute() const { return *m_chkMute; }
    QCheckBox& chkSound() const { return *m_chkSound; }
    QCheckBox& chkSpeed() const { return *m_chkSpeed; }
    QPushButton& cmdExit() const { return *m_cmdExit; }
    QPushButton& Command1() const { return *m_command1; }
    FormTimer& tmrBPM() { return m_tmrBPM; }
    FormTimer& tmr2() { return m_tmr2; }
    std::int64_t BeatCount() const { return m_beatTimer->BeatCount(); }
    std::int64_t PracticeCount() const { return m_speedPractice->PracticeCount(); }

    gdi::Gdi& gdi() { return m_gdi; }
    std::uint32_t ForeColor() const { return m_foreColor; }
    std::int32_t DrawWidth() const { return m_drawWidth; }

    // Event handlers, by their design names.
    void Form_Load();
    void Form_Paint();
    void cmdExit_Click();
    void Command1_Click();

    // How much sooner than its click a beat's flash is painted: the flash takes about that
    // long to reach the screen, and shows a hair before the click rather than after it.
    static constexpr std::chrono::milliseconds FlashLead{5};

    // The credits box's texts.
    static constexpr const char* CreditsTitle = "Credits";
    static QString creditsText();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // The beat's click, timed at the tick's due time rather than when the handler ran.
    class BeatSound : public beat::SoundPlayer {
      public:
        BeatSound(sound::TimedPlayer& player, const FormTimer& timer)
            : m_player(player), m_timer(timer) {}
        void PlaySoundA(const char* path, void* hmod, std::uint32_t flags) override;

      private:
        sound::TimedPlayer& m_player;
        const FormTimer& m_timer;
    };

    float Width() const override;
    float Height() const override;
    gdi::HWND hWnd() override { return this; }
    gdi::HDC hDC() override { return m_surface; }
    void setForeColor(std::uint32_t color) override;
    void setDrawWidth(std::int32_t width) override;

    void buildControls();
    void wireEvents();
    QRect pixelRect(int left, int top, int width, int height) const;

    const ScreenMetrics& m_screen;
    sound::TimedPlayer& m_sound;
    FlashHold m_flashHold{*this};
    const double m_fx, m_fy; // twips per pixel of the layout
    bool m_loaded = false;
    gdi::Gdi m_gdi;
    RoundWindow m_round;
    std::uint32_t m_foreColor = 0x80000012; // button text, until the bevel sets it
    std::int32_t m_drawWidth = 1;
    gdi::Surface* m_surface = nullptr;
    std::optional<QPoint> m_dragOffset; // while dragged by hand, mouse to window corner
    std::map<std::string, QWidget*, std::less<>> m_widgets;

    QPushButton* m_command1 = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QCheckBox* m_chkMute = nullptr;
    QCheckBox* m_chkSound = nullptr;
    QCheckBox* m_chkSpeed = nullptr;
    QScrollBar* m_hsbBPM = nullptr;
    QLineEdit* m_txtBPM = nullptr;
    QLabel* m_image1 = nullptr;
    QLabel* m_lblPointless = nullptr;
    QLabel* m_lblTimer2 = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblTimer = nullptr;
    QLabel* m_lblBPM = nullptr;
    QLabel* m_lblBackground = nullptr;
    FormTimer m_tmrBPM;
    FormTimer m_tmr2;

    // Adapters and logic; built after the widgets they point at.
    BeatSound m_beatSound;
    std::unique_ptr<QtScrollBar> m_hsbAdapter;
    std::unique_ptr<QtTextBox> m_txtAdapter;
    std::unique_ptr<QtCheckBox> m_muteAdapter, m_soundAdapter, m_speedAdapter;
    std::unique_ptr<QtLabel> m_lblBPMAdapter, m_lblTimerAdapter, m_lblTitleAdapter,
        m_lblTimer2Adapter, m_lblPointlessAdapter;
    std::unique_ptr<beat::Controls> m_controls;
    std::unique_ptr<beat::Tempo> m_tempo;
    std::unique_ptr<beat::BeatTimer> m_beatTimer;
    std::unique_ptr<beat::SpeedPractice> m_speedPractice;
};

} // namespace window
