#include "qt_controls.h"

#include "desktop_path.h"

namespace window {

void BeatSound::PlaySoundA(const char* path, void*, std::uint32_t flags) {
    m_player.PlaySoundA(desktopPath(path).c_str(), flags,
                        m_timer.currentDue().value_or(FormTimer::Clock::now()));
}

} // namespace window
