#include "click_player.h"

namespace sound {

namespace {
constexpr std::uint32_t SND_NODEFAULT = 0x2;
}

ClickPlayer::ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback)
    : m_output(std::move(output)),
      m_mixer(std::make_shared<ClickMixer>(StreamRate, m_output ? m_output->delayNs() : 0)),
      m_source(std::move(fallback)) {
    if (m_output)
        m_output->start(m_mixer);
}

void ClickPlayer::PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) {
    wake();
    ClickPtr click = m_source.clickFor(path ? path : "");
    if (!click || (m_source.usedFallback() && (flags & SND_NODEFAULT)))
        return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch());
    if (m_mixer->request(std::move(click), ns.count()) && m_output)
        m_output->deliver();
}

std::chrono::nanoseconds ClickPlayer::delay() const {
    return std::chrono::nanoseconds(m_mixer->delayNs());
}

void ClickPlayer::wake() {
    if (m_output)
        m_output->wake();
}

} // namespace sound
