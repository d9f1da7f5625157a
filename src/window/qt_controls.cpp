// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_controls.h"

#include "desktop_path.h"

#include "beat/beat_timer.h"

namespace window {

QtBeatLabel::QtBeatLabel(QLabel& w, FlashHold& hold) : m_w(w), m_hold(hold) {
    m_w.setProperty(Flag, !m_w.isHidden());
}

void QtBeatLabel::setVisible(bool visible) {
    m_w.setProperty(Flag, visible);
    m_hold.show(visible);
}

BeatSound::BeatSound(sound::TimedPlayer& player, const FormTimer& timer)
    : m_player(player), m_timer(timer) {
    m_player.prepare(desktopPath(beat::BeatTimer::SoundPath).c_str());
}

void BeatSound::PlaySoundA(const char* path, void*, std::uint32_t flags) {
    m_player.PlaySoundA(desktopPath(path).c_str(), flags,
                        m_timer.currentDue().value_or(FormTimer::Clock::now()));
}

} // namespace window
