// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls.h"

#include <cstdint>

namespace beat {

// Speed practice: the slow tick that ramps the tempo, and the box that locks the scroll bar.
class SpeedPractice {
  public:
    static constexpr std::int16_t Step = 5;
    static constexpr std::int16_t Cap = 400;
    // Below this a rise of Step still ends at Cap at most.
    static constexpr std::int16_t RiseBelow = 396;

    explicit SpeedPractice(Controls& controls) : m_c(controls) {}

    // One slow tick (every 5 s): counts, and raises the tempo on every second tick.
    void tmr2_Timer();
    // The "Speed Practice" box was clicked: flips the scroll bar's lock.
    void chkSpeed_Click();
    // Slow ticks since the window was created; 64 bits so that it never wraps.
    std::int64_t PracticeCount() const { return m_practiceCount; }

  private:
    Controls& m_c;
    std::int64_t m_practiceCount = 0;
};

} // namespace beat
