// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_mixer.h"

#include <algorithm>
#include <cmath>

namespace sound {

namespace {
// Two beats never sound as one, nor out of order: a click is heard at least half its beat's
// distance after the one before.
std::int64_t notBefore(std::int64_t heardBefore, std::int64_t dueBefore, std::int64_t due) {
    return heardBefore + (due - dueBefore) / 2;
}
} // namespace

ClickMixer::ClickMixer(int rate)
    : m_rate(rate), m_clock(rate), m_kept(static_cast<std::size_t>(KeptFrames), 0) {
    m_starts.reserve(MaxStarts);
    m_placedAgain.reserve(MaxStarts);
    m_scratch.reserve(static_cast<std::size_t>(KeptFrames));
}

void ClickMixer::publish(const Plan& plan) {
    Plan& slot = m_slots[m_back];
    slot = plan;
    slot.number = ++m_published;
    m_back = m_middle.exchange(m_back | Fresh, std::memory_order_acq_rel) & 3u;
}

void ClickMixer::take() {
    if (m_middle.load(std::memory_order_acquire) & Fresh)
        m_front = m_middle.exchange(m_front, std::memory_order_acq_rel) & 3u;
}

bool ClickMixer::planWaiting() const {
    return (m_middle.load(std::memory_order_acquire) & Fresh) != 0;
}

std::int64_t ClickMixer::heardAt(std::int64_t dueNs) const {
    std::int64_t heard = dueNs + delayNs();
    for (const Placed& p : m_placed) {
        // All in one order (sequentially consistent): a heard time read between two reads
        // of the same due time belongs to it.
        const std::int64_t due = p.dueNs.load();
        if (due > dueNs || due == INT64_MIN)
            continue;
        const std::int64_t at = p.heardNs.load();
        if (p.dueNs.load() != due)
            continue;
        if (due == dueNs)
            return at;
        // Not placed yet: no sooner than the clicks before allow.
        heard = std::max(heard, notBefore(at, due, dueNs));
    }
    return heard;
}

void ClickMixer::restart(std::int64_t nowNs) {
    take();
    // What the old stream's server had taken is heard, or as good as: never again.
    if (m_clock.mapped())
        commit(std::clamp(openFrameAt(nowNs), m_taken, m_written));
    m_clock.resync(StreamClock::Change::Output);
    m_delayNs.store(m_clock.delayNs(), std::memory_order_relaxed);
    m_starts.clear();
    std::fill(m_kept.begin(), m_kept.end(), 0);
    m_written = 0;
    m_taken = 0;
    m_read = 0;
    tellBack();
}

bool ClickMixer::timing(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                        std::int64_t transportNs) {
    const std::int64_t moves = m_clock.moves(), delay = m_clock.delayNs();
    m_read = std::max(m_read, readFrames);
    m_clock.reading(atNs, readFrames, sinkNs, transportNs);
    m_delayNs.store(m_clock.delayNs(), std::memory_order_relaxed);
    // Clicks the server skipped in a move are not heard: they are placed again (see put).
    const auto [skipFrom, skipTo] = m_clock.takeSkipped();
    const auto skipped = std::erase_if(
        m_starts, [&](const Start& s) { return s.frame >= skipFrom && s.frame < skipTo; });
    return skipped || m_clock.moves() != moves || m_clock.delayNs() != delay;
}

void ClickMixer::cycle(std::int64_t nowNs, std::int64_t heardNs, std::int64_t cycleNs) {
    m_clock.exact(nowNs, m_written, heardNs, cycleNs);
    m_delayNs.store(m_clock.delayNs(), std::memory_order_relaxed);
}

void ClickMixer::resync(StreamClock::Change change) {
    m_clock.resync(change);
}

std::int64_t ClickMixer::openFrameAt(std::int64_t nowNs) const {
    return m_clock.mapped() ? m_clock.frameAt(nowNs + m_clock.leadNs()) : m_written;
}

bool ClickMixer::done(std::int64_t dueNs) const {
    const auto n = static_cast<std::ptrdiff_t>(std::min(m_doneCount, m_done.size()));
    return std::find(m_done.begin(), m_done.begin() + n, dueNs) != m_done.begin() + n;
}

void ClickMixer::markDone(std::int64_t dueNs) {
    m_done[m_doneCount++ % m_done.size()] = dueNs;
}

bool ClickMixer::busy() const {
    const Plan& plan = m_slots[m_front];
    if (plan.foreseen.click && plan.intervalNs > 0)
        return true;
    for (std::size_t i = 0; i < plan.askedCount; ++i)
        if (plan.asked[i].click && !done(plan.asked[i].dueNs))
            return true;
    return false;
}

std::int64_t ClickMixer::lastAskedNs() const {
    const Plan& plan = m_slots[m_front];
    return plan.askedCount ? plan.asked[plan.askedCount - 1].dueNs : INT64_MIN;
}

std::int64_t ClickMixer::write(std::int64_t openFrame, std::size_t ahead,
                               std::vector<std::int16_t>& out) {
    take();
    ahead = std::min<std::size_t>(ahead, KeptFrames / 2);
    const std::int64_t end = m_written + static_cast<std::int64_t>(ahead);
    std::int64_t from = m_written;
    if (m_clock.mapped()) {
        // Only what the server has not taken yet may change. Right after a move the clock
        // may think less is taken than the read index says.
        const std::int64_t taken = std::max({m_taken, m_read, m_written - KeptFrames / 2});
        from = std::clamp(openFrame, std::min(taken, end), end);
        place(from, end);
    }
    const std::int64_t begin = std::min(from, m_written);
    m_scratch.resize(static_cast<std::size_t>(end - begin));
    render(begin, end, m_scratch.data());
    // Write again only from the first sample that differs from what the server has.
    std::int64_t first = begin;
    while (first < m_written &&
           m_scratch[static_cast<std::size_t>(first - begin)] == m_kept[first % KeptFrames])
        ++first;
    if (first < m_written)
        m_rewrites.fetch_add(1, std::memory_order_relaxed);
    out.assign(m_scratch.begin() + (first - begin), m_scratch.end());
    for (std::int64_t f = first; f < end; ++f)
        m_kept[f % KeptFrames] = m_scratch[static_cast<std::size_t>(f - begin)];
    m_written = end;
    tellBack();
    return first;
}

void ClickMixer::commit(std::int64_t upTo) {
    for (const Start& s : m_starts)
        if (s.frame >= m_taken && s.frame < upTo) {
            markDone(s.dueNs);
            m_started.fetch_add(1, std::memory_order_relaxed);
        }
    m_taken = std::max(m_taken, upTo);
}

void ClickMixer::place(std::int64_t from, std::int64_t to) {
    // Whatever starts before `from` is the server's now: heard as it was written.
    commit(from);
    // Keep the last start before it, which may still be sounding, and forget the rest before.
    const auto firstOpen =
        std::lower_bound(m_starts.begin(), m_starts.end(), from,
                         [](const Start& s, std::int64_t frame) { return s.frame < frame; });
    m_placedAgain.assign(firstOpen, m_starts.end());
    m_starts.erase(firstOpen, m_starts.end());
    if (m_starts.size() > 1)
        m_starts.erase(m_starts.begin(), m_starts.end() - 1);

    const Plan& plan = m_slots[m_front];
    const auto asked = plan.asked.begin();
    const auto askedEnd = asked + static_cast<std::ptrdiff_t>(plan.askedCount);
    for (auto b = asked; b != askedEnd; ++b)
        if (b->click)
            put(*b, true, from, to);
    const std::int64_t delay = m_clock.delayNs();
    // From the oldest beat that may still come, or that is written (the delay shrank under it).
    std::int64_t oldest = m_clock.timeOf(from) - delay - LateLimitNs;
    for (const Start& s : m_placedAgain)
        oldest = std::min(oldest, s.dueNs);
    if (plan.foreseen.click && plan.intervalNs > 0) {
        const std::int64_t first = plan.foreseen.dueNs, step = plan.intervalNs;
        const std::int64_t until = m_clock.timeOf(to) - delay;
        std::int64_t k = std::max<std::int64_t>(0, (oldest - first + step - 1) / step);
        for (std::int64_t due = first + k * step; due < until; due = first + ++k * step)
            if (std::none_of(asked, askedEnd,
                             [due](const Plan::Beat& b) { return b.dueNs == due; }))
                put(Plan::Beat{due, plan.foreseen.click, 0}, false, from, to);
    }
    // A total order, so that sorting needs no buffer of its own.
    std::sort(m_starts.begin(), m_starts.end(), [](const Start& a, const Start& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.dueNs < b.dueNs;
    });
}

void ClickMixer::put(const Plan::Beat& beat, bool asked, std::int64_t from, std::int64_t to) {
    const std::int64_t dueNs = beat.dueNs;
    if (done(dueNs) || m_starts.size() >= MaxStarts)
        return;
    // Heard when its flash was told if the stream still allows, else at its due time plus the
    // delay; never sooner than the click before allows (where the delay shrank under clicks
    // placed by the old one, or several come late), also where that one is on an output's old
    // timeline.
    std::int64_t heard = dueNs + m_clock.delayNs();
    if (beat.heardNs && m_clock.frameAt(beat.heardNs) >= from)
        heard = beat.heardNs;
    if (!m_starts.empty()) {
        const Start& before = m_starts.back();
        if (before.dueNs > dueNs) {
            // A later beat's click is the server's already (this one's was skipped in a move):
            // heard now, it would come after it.
            if (asked)
                m_dropped.fetch_add(1, std::memory_order_relaxed);
            markDone(dueNs);
            return;
        }
        heard = std::max(heard, notBefore(before.heardNs, before.dueNs, dueNs));
    }
    std::int64_t frame = m_clock.frameAt(heard);
    if (frame >= to)
        return;
    if (frame < from) {
        // Too late for its sample. Once written it stays where it is; asked for, it comes
        // late, and is given up when that is long after its time; merely foreseen, it waits
        // to be asked for.
        const auto written = std::find_if(m_placedAgain.begin(), m_placedAgain.end(),
                                          [dueNs](const Start& s) { return s.dueNs == dueNs; });
        if (written != m_placedAgain.end()) {
            frame = written->frame;
        } else if (!asked) {
            return;
        } else {
            if (m_clock.timeOf(from) - heard > LateLimitNs) {
                m_dropped.fetch_add(1, std::memory_order_relaxed);
                markDone(dueNs);
                return;
            }
            m_late.fetch_add(1, std::memory_order_relaxed);
            frame = from;
        }
    }
    m_starts.push_back(
        Start{frame, dueNs, m_clock.timeOf(frame), beat.click, m_slots[m_front].number});
}

void ClickMixer::tellBack() {
    std::uint64_t inUse = m_slots[m_front].number;
    for (const Start& s : m_starts) {
        inUse = std::min(inUse, s.plan);
        // Taken, it is heard as it was placed: what was said of it then holds.
        if (!m_clock.mapped() || s.frame < m_taken)
            continue;
        // Where each click still to come, or sounding, is heard: the flash shows then.
        const std::int64_t heard = m_clock.timeOf(s.frame);
        Placed* slot = nullptr;
        for (Placed& p : m_placed)
            if (p.dueNs.load(std::memory_order_relaxed) == s.dueNs)
                slot = &p;
        if (slot && slot->heardNs.load(std::memory_order_relaxed) == heard)
            continue;
        if (!slot)
            slot = &m_placed[m_placedNext++ % m_placed.size()];
        slot->dueNs.store(INT64_MIN);
        slot->heardNs.store(heard);
        slot->dueNs.store(s.dueNs);
    }
    m_inUse.store(inUse, std::memory_order_release);
}

void ClickMixer::render(std::int64_t from, std::int64_t to, std::int16_t* out) const {
    // One sound at a time: each start cuts the one before.
    auto next =
        std::upper_bound(m_starts.begin(), m_starts.end(), from,
                         [](std::int64_t frame, const Start& s) { return frame < s.frame; });
    const Start* current = next == m_starts.begin() ? nullptr : &*(next - 1);
    for (std::int64_t f = from; f < to; ++f) {
        while (next != m_starts.end() && next->frame <= f)
            current = &*next++;
        float s = 0.0f;
        if (current && current->click) {
            const auto n = static_cast<std::size_t>(f - current->frame);
            if (n < current->click->size())
                s = std::clamp((*current->click)[n], -1.0f, 1.0f);
        }
        out[f - from] = static_cast<std::int16_t>(std::lrint(s * 32767.0f));
    }
}

} // namespace sound
