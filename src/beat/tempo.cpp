// SPDX-License-Identifier: GPL-3.0-or-later
#include "tempo.h"

#include "checked.h"

#include <string>

namespace beat {

std::int32_t BeatInterval(std::int16_t tempo) {
    const double t = tempo;
    // 60 / t first and then * 1000, not 60000 / t: the two round differently.
    const double q = checkedDivide(60.0, t);
    return roundToInt32(checkedMultiply(q, 1000.0));
}

void Tempo::hsbBPM_Change() {
    m_c.txtBPM.setText(std::to_string(m_c.hsbBPM.value()));
    m_c.tmrBPM.setInterval(BeatInterval(m_c.hsbBPM.value()));
}

} // namespace beat
