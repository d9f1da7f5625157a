// SPDX-License-Identifier: GPL-3.0-or-later
#include "beat_timer.h"

#include "checked.h"

#include <string>

namespace beat {

void BeatTimer::tmrBPM_Timer() {
    m_beatCount = checkedIncrement64(m_beatCount);
    m_c.lblTimer.setCaption(std::to_string(m_beatCount));

    const std::int16_t mute = m_c.chkMute.value();
    const std::int16_t pause = m_c.chkSound.value();
    const bool known = (mute == 0 || mute == 1) && (pause == 0 || pause == 1);
    if (!known)
        return;
    if (pause == 1) {
        m_c.lblTitle.setCaption("BPM:");
        return;
    }
    m_c.lblBPM.setVisible(!m_c.lblBPM.visible());
    // The indicator first, then the sound, so the click never runs ahead of the flash.
    if (mute == 0)
        m_c.sound.PlaySoundA(SoundPath, nullptr, SND_FILENAME | SND_ASYNC);
}

bool BeatTimer::clicksNext() const {
    return m_c.chkMute.value() == 0 && m_c.chkSound.value() == 0;
}

} // namespace beat
