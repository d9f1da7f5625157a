#include "qt_controls.h"

namespace window {

void BeatSound::PlaySoundA(const char* path, void*, std::uint32_t flags) {
    m_player.PlaySoundA(path, flags, m_timer.currentDue().value_or(FormTimer::Clock::now()));
}

} // namespace window
