// SPDX-License-Identifier: GPL-3.0-or-later
#include "speed_practice.h"

#include "checked.h"

#include <string>

namespace beat {

void SpeedPractice::tmr2_Timer() {
    m_practiceCount = checkedIncrement64(m_practiceCount);
    m_c.lblTimer2.setCaption(std::to_string(m_practiceCount));

    const std::int16_t v = m_c.hsbBPM.value();
    const std::int16_t s = m_c.chkSpeed.value();
    if (v < RiseBelow && s == 1) {
        // lblPointless's visibility is the ramp's phase: rise only on every second tick.
        if (!m_c.lblPointless.visible())
            m_c.hsbBPM.setValue(checkedAdd16(m_c.hsbBPM.value(), Step));
    } else if (m_c.hsbBPM.value() > RiseBelow - 1 && m_c.chkSpeed.value() == 1) {
        m_c.hsbBPM.setValue(Cap);
    }
    m_c.lblPointless.setVisible(!m_c.lblPointless.visible());
}

void SpeedPractice::chkSpeed_Click() {
    m_c.hsbBPM.setEnabled(!m_c.hsbBPM.enabled());
}

} // namespace beat
