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
    // Asked for again even when it was placed ahead: the sound may have changed, or the
    // stream that held it may be gone.
    if (m_foreseenNs == nsOf(at))
        m_foreseenNs.reset();
    m_last = click;
    m_clickedThisBeat = true;
    send(m_mixer->request(std::move(click), nsOf(at)));
}

void ClickPlayer::prepare(const char* path) {
    m_source.clickFor(path ? path : "");
}

void ClickPlayer::ticked(std::optional<Clock::time_point> next) {
    m_repeats = std::exchange(m_clickedThisBeat, false);
    takeBack();
    foresee(next);
}

void ClickPlayer::retimed(std::optional<Clock::time_point> next) {
    takeBack();
    foresee(next);
}

void ClickPlayer::withdraw() {
    m_repeats = false;
    takeBack();
}

void ClickPlayer::foresee(std::optional<Clock::time_point> next) {
    if (!m_repeats || !m_last || !next)
        return;
    if (m_mixer->request(m_last, nsOf(*next))) {
        m_foreseenNs = nsOf(*next);
        send(true);
    }
}

void ClickPlayer::takeBack() {
    if (m_foreseenNs && m_mixer->withdraw(*m_foreseenNs))
        send(true);
    m_foreseenNs.reset();
}

void ClickPlayer::send(bool sent) {
    if (sent && m_output)
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
