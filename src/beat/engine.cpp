// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine.h"

namespace beat {

void Engine::startBeat() {
    m_controls.tmrBPM.setInterval(BeatInterval(m_controls.hsbBPM.value()));
    m_beatTimer.resetCount();
}

} // namespace beat
