// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

// What the beat logic may read and write of the window's controls. The window hands it
// adapters over real widgets; tests hand it in-memory fakes that keep the same promises.
namespace beat {

// The tempo scroll bar. Writing a new value raises the change handler at once, nested.
class ScrollBar {
  public:
    virtual ~ScrollBar() = default;
    virtual std::int16_t value() const = 0;
    virtual void setValue(std::int16_t value) = 0;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

// A check box: 0 unchecked, 1 checked; other values are never set by the window.
class CheckBox {
  public:
    virtual ~CheckBox() = default;
    virtual std::int16_t value() const = 0;
};

// A label whose visibility and caption the logic drives.
class Label {
  public:
    virtual ~Label() = default;
    virtual bool visible() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual void setCaption(const std::string& caption) = 0;
};

// The text box that shows the tempo.
class TextBox {
  public:
    virtual ~TextBox() = default;
    virtual void setText(const std::string& text) = 0;
};

// A timer: interval 0 means no ticks; assigning an interval restarts the count-down.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void setInterval(std::int32_t milliseconds) = 0;
};

// Flags of the click call, with their platform values.
inline constexpr std::uint32_t SND_ASYNC = 0x1;
inline constexpr std::uint32_t SND_FILENAME = 0x20000;

// Starts a sound and returns at once; a new sound cuts one still playing.
class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    virtual void PlaySoundA(const char* pszSound, void* hmod, std::uint32_t fdwSound) = 0;
};

// The controls the handlers use, by their design names. Build it with designated
// initializers, so that every control is named where it is wired.
struct Controls {
    ScrollBar& hsbBPM;
    TextBox& txtBPM;
    Timer& tmrBPM;
    CheckBox& chkMute;
    CheckBox& chkSound;
    CheckBox& chkSpeed;
    Label& lblBPM;
    Label& lblTimer;
    Label& lblTitle;
    Label& lblTimer2;
    Label& lblPointless;
    SoundPlayer& sound;
};

} // namespace beat
