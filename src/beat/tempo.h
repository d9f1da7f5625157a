// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls.h"

#include <cstdint>

namespace beat {

// The beat interval in ms for a tempo: 60 / t * 1000 in double precision, ties to even.
std::int32_t BeatInterval(std::int16_t tempo);

// The tempo scroll bar's change handler.
class Tempo {
  public:
    explicit Tempo(Controls& controls) : m_c(controls) {}

    // Shows the new tempo and sets the beat interval from it.
    void hsbBPM_Change();

  private:
    Controls& m_c;
};

} // namespace beat
