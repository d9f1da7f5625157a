// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls.h"

#include <cstdint>

namespace beat {

// The beat tick: counts, flips the beat area and starts the click.
class BeatTimer {
  public:
    // The click file; on this platform it names no file, so the fallback click plays.
    static constexpr const char* SoundPath =
        "C:\\WINDOWS\\Desktop\\Cool Folder\\Music\\metronome.wav";

    explicit BeatTimer(Controls& controls) : m_c(controls) {}

    // Load time: the count starts again from 0.
    void resetCount() { m_beatCount = 0; }
    // One beat.
    void tmrBPM_Timer();
    // Whether a beat ticking now would play the click, as Mute and Pause stand; the sound
    // writes the next beats' clicks ahead on it.
    bool clicksNext() const;
    // Beats counted since load; 64 bits so that hours of beats never wrap.
    std::int64_t BeatCount() const { return m_beatCount; }

  private:
    Controls& m_c;
    std::int64_t m_beatCount = 0;
};

} // namespace beat
