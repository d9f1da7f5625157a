// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_mixer.h"

#include <algorithm>
#include <cmath>

namespace sound {

ClickMixer::ClickMixer(int rate)
    : m_rate(rate), m_clock(rate), m_kept(static_cast<std::size_t>(KeptFrames), 0) {
    m_asked.reserve(RingSize);
    m_starts.reserve(RingSize);
    m_placedAgain.reserve(RingSize);
}

bool ClickMixer::request(ClickPtr click, std::int64_t dueNs) {
    m_lastRequest.store(dueNs, std::memory_order_relaxed);
    return click && push(Message{std::move(click), dueNs, 0, false});
}

bool ClickMixer::foresee(ClickPtr click, std::int64_t fromNs, std::int64_t intervalNs) {
    if (intervalNs <= 0)
        click.reset();
    return push(Message{std::move(click), fromNs, intervalNs, true});
}

bool ClickMixer::push(Message&& message) {
    const std::size_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) == RingSize)
        return false;
    m_ring[head % RingSize] = std::move(message);
    m_head.store(head + 1, std::memory_order_release);
    return true;
}

void ClickMixer::accept() {
    for (;;) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire))
            return;
        Message m = std::move(m_ring[tail % RingSize]);
        m_ring[tail % RingSize] = Message{};
        m_tail.store(tail + 1, std::memory_order_release);
        if (m.foresee) {
            m_foreseen = {m.dueNs, std::move(m.click)};
            m_intervalNs = m.intervalNs;
            continue;
        }
        const auto it =
            std::lower_bound(m_asked.begin(), m_asked.end(), m.dueNs,
                             [](const Beat& b, std::int64_t due) { return b.dueNs < due; });
        if (it != m_asked.end() && it->dueNs == m.dueNs) {
            it->click = std::move(m.click);
            continue;
        }
        m_asked.insert(it, Beat{m.dueNs, std::move(m.click)});
        // A stream that never says when it plays: the oldest beats are given up.
        if (m_asked.size() > RingSize) {
            if (!heard(m_asked.front().dueNs))
                m_dropped.fetch_add(1, std::memory_order_relaxed);
            m_asked.erase(m_asked.begin());
        }
    }
}

void ClickMixer::restart(std::int64_t nowNs) {
    accept();
    // What the old stream's server had taken is heard, or as good as: never again.
    if (m_clock.mapped())
        commit(std::clamp(m_clock.frameAt(nowNs + m_clock.leadNs()), m_taken, m_written));
    m_clock.resync(true);
    m_delayNs.store(m_clock.delayNs(), std::memory_order_relaxed);
    m_mapped.store(false, std::memory_order_relaxed);
    m_starts.clear();
    std::fill(m_kept.begin(), m_kept.end(), 0);
    m_written = 0;
    m_taken = 0;
}

bool ClickMixer::timing(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                        std::int64_t transportNs) {
    const std::int64_t moves = m_clock.moves(), delay = m_clock.delayNs();
    m_clock.reading(atNs, readFrames, sinkNs, transportNs);
    m_delayNs.store(m_clock.delayNs(), std::memory_order_relaxed);
    m_mapped.store(m_clock.mapped(), std::memory_order_relaxed);
    return m_clock.moves() != moves || m_clock.delayNs() != delay;
}

void ClickMixer::resync(bool output) {
    m_clock.resync(output);
    m_mapped.store(false, std::memory_order_relaxed);
}

bool ClickMixer::heard(std::int64_t dueNs) const {
    const std::size_t n = std::min(m_heardCount, m_heardDue.size());
    return std::find(m_heardDue.begin(), m_heardDue.begin() + static_cast<std::ptrdiff_t>(n),
                     dueNs) != m_heardDue.begin() + static_cast<std::ptrdiff_t>(n);
}

bool ClickMixer::busy() const {
    if (m_foreseen.click)
        return true;
    return std::any_of(m_asked.begin(), m_asked.end(),
                       [this](const Beat& b) { return !heard(b.dueNs); });
}

std::int64_t ClickMixer::write(std::int64_t nowNs, std::size_t ahead,
                               std::vector<std::int16_t>& out) {
    accept();
    const std::int64_t end = m_written + static_cast<std::int64_t>(ahead);
    std::int64_t from = m_written;
    if (m_clock.mapped()) {
        // Only what the server has not taken yet may change.
        from = m_clock.frameAt(nowNs + m_clock.leadNs());
        from = std::clamp(from, std::max(m_taken, m_written - KeptFrames + 1), end);
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
    return first;
}

void ClickMixer::commit(std::int64_t upTo) {
    for (const Start& s : m_starts)
        if (s.frame >= m_taken && s.frame < upTo) {
            m_heardDue[m_heardCount++ % m_heardDue.size()] = s.dueNs;
            m_started.fetch_add(1, std::memory_order_relaxed);
        }
    m_taken = upTo;
}

void ClickMixer::place(std::int64_t from, std::int64_t to) {
    // Whatever starts before `from` is the server's now: heard as it was written.
    commit(from);
    // Keep the last start before it, which may still be sounding, and forget the rest before.
    const auto firstOpen =
        std::lower_bound(m_starts.begin(), m_starts.end(), from,
                         [](const Start& s, std::int64_t frame) { return s.frame < frame; });
    m_placedAgain.clear();
    for (auto it = firstOpen; it != m_starts.end(); ++it)
        m_placedAgain.push_back(it->dueNs);
    m_starts.erase(firstOpen, m_starts.end());
    if (m_starts.size() > 1)
        m_starts.erase(m_starts.begin(), m_starts.end() - 1);

    // A beat asked for and not heard long after its time is gone.
    const std::int64_t delay = m_clock.delayNs();
    const std::int64_t oldest = m_clock.timeOf(from) - delay - LateLimitNs;
    const auto kept = std::remove_if(m_asked.begin(), m_asked.end(), [&](const Beat& b) {
        if (b.dueNs >= oldest)
            return false;
        if (!heard(b.dueNs) &&
            std::find(m_placedAgain.begin(), m_placedAgain.end(), b.dueNs) == m_placedAgain.end()) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
        }
        return true;
    });
    m_asked.erase(kept, m_asked.end());

    for (const Beat& b : m_asked)
        put(b.dueNs, b.click, true, from, to);
    if (m_foreseen.click) {
        const std::int64_t until = m_clock.timeOf(to) - delay;
        std::int64_t k = std::max<std::int64_t>(0, (oldest - m_foreseen.dueNs + m_intervalNs - 1) /
                                                       m_intervalNs);
        for (std::int64_t due = m_foreseen.dueNs + k * m_intervalNs; due < until;
             due = m_foreseen.dueNs + ++k * m_intervalNs)
            if (!std::binary_search(m_asked.begin(), m_asked.end(), Beat{due, nullptr},
                                    [](const Beat& a, const Beat& b) { return a.dueNs < b.dueNs; }))
                put(due, m_foreseen.click, false, from, to);
    }
    std::stable_sort(m_starts.begin(), m_starts.end(),
                     [](const Start& a, const Start& b) { return a.frame < b.frame; });
}

void ClickMixer::put(std::int64_t dueNs, const ClickPtr& click, bool asked, std::int64_t from,
                     std::int64_t to) {
    if (heard(dueNs))
        return;
    std::int64_t frame = m_clock.frameAt(dueNs + m_clock.delayNs());
    if (frame >= to)
        return;
    if (frame < from) {
        // Too late for its sample. Once written it stays; asked for, it comes late; merely
        // foreseen, it waits to be asked for.
        const bool written =
            std::find(m_placedAgain.begin(), m_placedAgain.end(), dueNs) != m_placedAgain.end();
        if (!written && !asked)
            return;
        if (!written)
            m_late.fetch_add(1, std::memory_order_relaxed);
        frame = from;
    }
    m_starts.push_back(Start{frame, dueNs, click});
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
