// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_player.h"

#include <utility>

namespace sound {

namespace {
constexpr std::uint32_t SND_NODEFAULT = 0x2;

std::int64_t nsOf(TimedPlayer::Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}
} // namespace

ClickPlayer::ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback)
    : m_output(std::move(output)), m_mixer(std::make_shared<ClickMixer>(StreamRate)),
      m_source(std::move(fallback)) {
    if (m_output)
        m_output->start(m_mixer);
}

void ClickPlayer::PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) {
    ClickPtr click = m_source.clickFor(path ? path : "");
    if (!click || (m_source.usedFallback() && (flags & SND_NODEFAULT)))
        return;
    m_last = click;
    // Asked for even when it was foreseen: the sound may have changed, or the stream that
    // held it may be gone. It reaches the stream with what is foreseen after the beat.
    m_mixer->request(std::move(click), nsOf(at));
}

void ClickPlayer::prepare(const char* path) {
    m_last = m_source.clickFor(path ? path : "");
}

void ClickPlayer::foresee(std::optional<BeatGrid> grid, bool clicks) {
    const bool beats = clicks && grid && m_last && grid->interval.count() > 0;
    // The same beats as foreseen before, a beat on: the stream has them already.
    if (beats && m_foreseen && m_foreseen->click == m_last &&
        m_foreseen->grid.interval == grid->interval &&
        (grid->next - m_foreseen->grid.next) % grid->interval == Clock::duration{} &&
        m_mixer->mappedNow())
        return;
    m_foreseen.reset();
    if (beats) {
        m_foreseen = Foreseen{*grid, m_last};
        if (m_output)
            m_output->wake();
        m_mixer->foresee(m_last, nsOf(grid->next), grid->interval.count());
    } else {
        m_mixer->foresee(nullptr, 0, 0);
    }
    if (m_output)
        m_output->deliver();
}

std::chrono::nanoseconds ClickPlayer::delay() const {
    return std::chrono::nanoseconds(m_mixer->delayNs());
}

} // namespace sound
