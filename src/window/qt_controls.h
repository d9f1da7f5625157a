// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beat/controls.h"
#include "flash_hold.h"
#include "form_timer.h"
#include "sound/click_player.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

// Adapters that let the beat engine drive the window's widgets, timer and click through
// its control model.
namespace window {

// Writing a value emits valueChanged at once, so the change handler runs nested.
class QtScrollBar : public beat::ScrollBar {
  public:
    explicit QtScrollBar(QScrollBar& w) : m_w(w) {}
    std::int16_t value() const override { return static_cast<std::int16_t>(m_w.value()); }
    void setValue(std::int16_t value) override { m_w.setValue(value); }
    bool enabled() const override { return m_w.isEnabled(); }
    void setEnabled(bool enabled) override { m_w.setEnabled(enabled); }

  private:
    QScrollBar& m_w;
};

class QtCheckBox : public beat::CheckBox {
  public:
    explicit QtCheckBox(QCheckBox& w) : m_w(w) {}
    std::int16_t value() const override { return m_w.isChecked() ? 1 : 0; }

  private:
    QCheckBox& m_w;
};

// Visible is the label's own flag, not whether it is on screen right now.
class QtLabel : public beat::Label {
  public:
    explicit QtLabel(QLabel& w) : m_w(w) {}
    bool visible() const override { return !m_w.isHidden(); }
    void setVisible(bool visible) override { m_w.setVisible(visible); }
    void setCaption(const std::string& caption) override {
        m_w.setText(QString::fromStdString(caption));
    }

  private:
    QLabel& m_w;
};

// The beat area. Its flag is the label's own, read and written at once; whether the label is
// on the screen follows as the flash hold says, when the beat's click is heard.
class QtBeatLabel : public beat::Label {
  public:
    QtBeatLabel(QLabel& w, FlashHold& hold);
    bool visible() const override { return m_w.property(Flag).toBool(); }
    void setVisible(bool visible) override;
    void setCaption(const std::string& caption) override {
        m_w.setText(QString::fromStdString(caption));
    }

  private:
    static constexpr const char* Flag = "Visible";
    QLabel& m_w;
    FlashHold& m_hold;
};

class QtTextBox : public beat::TextBox {
  public:
    explicit QtTextBox(QLineEdit& w) : m_w(w) {}
    void setText(const std::string& text) override { m_w.setText(QString::fromStdString(text)); }

  private:
    QLineEdit& m_w;
};

// The beat's click, timed at the tick's due time rather than when the handler ran.
class BeatSound : public beat::SoundPlayer {
  public:
    // The beat's file is looked at now, not first at the first beat.
    BeatSound(sound::TimedPlayer& player, const FormTimer& timer);
    void PlaySoundA(const char* path, void* hmod, std::uint32_t flags) override;

  private:
    sound::TimedPlayer& m_player;
    const FormTimer& m_timer;
};

// Every control the engine uses, over the window's own widgets and timer.
struct QtControls {
    QtScrollBar hsbBPM;
    QtTextBox txtBPM;
    FormTimer& tmrBPM;
    QtCheckBox chkMute, chkSound, chkSpeed;
    QtBeatLabel lblBPM;
    QtLabel lblTimer, lblTitle, lblTimer2, lblPointless;
    BeatSound sound;

    // The engine's view of them.
    beat::Controls model() {
        return {.hsbBPM = hsbBPM,
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
                .sound = sound};
    }
};

} // namespace window
