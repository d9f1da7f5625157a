// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_player.h"

#include <algorithm>
#include <utility>

namespace sound {

namespace {
constexpr std::uint32_t SND_NODEFAULT = 0x2;

std::int64_t nsOf(TimedPlayer::Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// Whether the beat due at `dueNs` is on the plan's grid, with `click`.
bool foreseen(const Plan& plan, std::int64_t dueNs, const ClickSamples* click) {
    const Plan::Beat& first = plan.foreseen;
    return first.click == click && plan.intervalNs > 0 && dueNs >= first.dueNs &&
           (dueNs - first.dueNs) % plan.intervalNs == 0;
}
} // namespace

ClickPlayer::ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback)
    : m_output(std::move(output)), m_mixer(std::make_shared<ClickMixer>(StreamRate)),
      m_source(std::move(fallback)) {
    if (m_output)
        m_output->start(m_mixer);
}

ClickPlayer::~ClickPlayer() {
    m_output.reset();
}

void ClickPlayer::PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) {
    ClickPtr click = m_source.clickFor(path ? path : "");
    if (!click || (m_source.usedFallback() && (flags & SND_NODEFAULT)))
        return;
    m_last = click;
    const std::int64_t due = nsOf(at);
    const ClickSamples* samples = keep(click);
    // Asked for even when it was foreseen: the sound may have changed, or the stream that
    // held it may be gone; a beat asked for is heard, late if need be.
    const bool known = foreseen(m_plan, due, samples);
    auto* const begin = m_plan.asked.begin();
    auto* const end = begin + m_plan.askedCount;
    auto* same = std::find_if(begin, end, [due](const Plan::Beat& b) { return b.dueNs == due; });
    if (same == end) {
        if (m_plan.askedCount == Plan::MaxAsked) {
            std::move(begin + 1, end, begin);
            --m_plan.askedCount;
        }
        same = begin + m_plan.askedCount++;
    }
    // Heard when its flash is told it is, if the stream still allows.
    *same = Plan::Beat{due, samples, m_mixer->heardAt(due)};
    publish(!known);
}

void ClickPlayer::prepare(const char* path) {
    m_last = m_source.clickFor(path ? path : "");
}

void ClickPlayer::foresee(std::optional<BeatGrid> grid, bool clicks) {
    const bool beats = clicks && grid && m_last && grid->interval.count() > 0;
    const Plan before = m_plan;
    if (beats) {
        m_plan.foreseen = Plan::Beat{nsOf(grid->next), keep(m_last)};
        m_plan.intervalNs = grid->interval.count();
    } else {
        m_plan.foreseen = Plan::Beat{};
        m_plan.intervalNs = 0;
    }
    // The same beats as foreseen before, a beat on: the stream has them already.
    const bool same = beats ? foreseen(before, m_plan.foreseen.dueNs, m_plan.foreseen.click) &&
                                  before.intervalNs == m_plan.intervalNs
                            : !before.foreseen.click;
    publish(!same);
}

void ClickPlayer::publish(bool changed) {
    const std::uint64_t number = m_mixer->published() + 1;
    for (auto& [click, last] : m_kept)
        if (click.get() == m_plan.foreseen.click ||
            std::any_of(m_plan.asked.begin(), m_plan.asked.begin() + m_plan.askedCount,
                        [&](const Plan::Beat& b) { return b.click == click.get(); }))
            last = number;
    m_mixer->publish(m_plan);
    const std::uint64_t inUse = m_mixer->inUseFrom();
    std::erase_if(m_kept,
                  [inUse, number](const auto& k) { return k.second < inUse && k.second < number; });
    if (changed && m_output)
        m_output->wake();
}

const ClickSamples* ClickPlayer::keep(const ClickPtr& click) {
    if (std::none_of(m_kept.begin(), m_kept.end(), [&](const auto& k) { return k.first == click; }))
        m_kept.emplace_back(click, m_mixer->published() + 1);
    return click.get();
}

std::chrono::nanoseconds ClickPlayer::delay() const {
    return std::chrono::nanoseconds(m_mixer->delayNs());
}

TimedPlayer::Clock::time_point ClickPlayer::heardAt(Clock::time_point due) const {
    return Clock::time_point(std::chrono::nanoseconds(m_mixer->heardAt(nsOf(due))));
}

} // namespace sound
