// SPDX-License-Identifier: GPL-3.0-or-later
#include "stream_clock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace sound {

namespace {
constexpr double NsPerSecond = 1e9;
constexpr std::int64_t Ms = 1'000'000;
} // namespace

void StreamClock::reading(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                          std::int64_t transportNs) {
    // Right after a move the server reports the new sink's latency before the read index
    // moves there: such readings map the stream by the old sink's position.
    if (m_awaitStep) {
        if (m_firstRead < 0) {
            m_firstRead = readFrames;
            if (m_timelineKept) {
                // PulseAudio keeps the stream's timeline across a move: the old sink plays what
                // it took, the new one from when it is heard, and what lies between is skipped.
                // The mapping holds; until the read index moves, the need is the larger of
                // the two sinks'.
                const std::int64_t to = frameAt(atNs + sinkNs);
                if (to - readFrames > m_rate / 100)
                    m_skipped = {readFrames, to};
                need(atNs, sinkNs);
            }
        }
        if (readFrames <= m_firstRead)
            return;
        m_awaitStep = false;
        if (m_timelineKept) {
            m_fresh = true;
            m_needNow = m_needBefore = -1;
        }
    }
    if (m_lastRead >= 0 && readFrames > m_lastRead) {
        m_steps[m_stepCount % m_steps.size()] = readFrames - m_lastRead;
        ++m_stepCount;
        ++m_stepsSeen;
    }
    m_lastRead = readFrames;
    m_sinkNs = sinkNs;
    const bool quantized = m_kind == Kind::Quantized;
    // A step between readings close together is one quantum; the readings after a step
    // make sure there are such (see nextReadingNs).
    if (quantized) {
        const std::size_t n = std::min(m_stepCount, m_steps.size());
        m_quantum =
            n ? *std::min_element(m_steps.begin(), m_steps.begin() + static_cast<std::ptrdiff_t>(n))
              : 0;
    }
    const auto readNs =
        static_cast<std::int64_t>(static_cast<double>(readFrames) * NsPerSecond / m_rate);
    // The transport is left out: a write reaches a local server in well under the safety
    // margin, and the server's figure for it jumps to tens of ms when a reply is late.
    (void)transportNs;
    m_readings[m_next] = {atNs - readNs + sinkNs, sinkNs};
    m_next = (m_next + 1) % Readings;
    m_count = std::min(m_count + 1, Readings);
    // Readings early by up to a quantum tell the truth only from the one just before the
    // read index moves: wait for a step, and for the quantum.
    if (!quantized || (m_stepsSeen >= 1 && m_quantum > 0))
        rederive(atNs);
}

void StreamClock::rederive(std::int64_t atNs) {
    if (m_count < MinReadings) {
        // A mapping kept across a move: the new sink's need is known from its first reading.
        if (m_mapped && m_kind == Kind::Pulse)
            need(atNs, m_sinkNs);
        return;
    }
    std::array<std::int64_t, Readings> zeros{};
    for (std::size_t i = 0; i < m_count; ++i)
        zeros[i] = m_readings[i].zeroNs;
    const auto end = zeros.begin() + static_cast<std::ptrdiff_t>(m_count);
    if (m_kind == Kind::Quantized) {
        mapTo(*std::max_element(zeros.begin(), end));
        const auto quantumNs =
            static_cast<std::int64_t>(static_cast<double>(m_quantum) * NsPerSecond / m_rate);
        need(atNs, m_sinkNs + quantumNs + quantumNs / QuantumShare);
    } else {
        const auto mid = zeros.begin() + static_cast<std::ptrdiff_t>(m_count / 2);
        std::nth_element(zeros.begin(), mid, end);
        mapTo(*mid);
        need(atNs, m_sinkNs);
    }
}

void StreamClock::exact(std::int64_t nowNs, std::int64_t frame, std::int64_t heardNs,
                        std::int64_t cycleNs) {
    // The graph's delay or quantum changed, or the stream moved: its need is learnt anew.
    const std::int64_t zero =
        heardNs - static_cast<std::int64_t>(static_cast<double>(frame) * NsPerSecond / m_rate);
    if (m_mapped && (std::llabs(zero - m_zeroNs) > JumpNs || cycleNs != m_cycleNs)) {
        m_fresh = true;
        m_needNow = m_needBefore = -1;
    }
    m_cycleNs = cycleNs;
    mapTo(zero);
    need(nowNs, std::max<std::int64_t>(heardNs - nowNs, 0) + cycleNs);
}

void StreamClock::mapTo(std::int64_t zeroNs) {
    if (!m_mapped || std::llabs(zeroNs - m_zeroNs) > ToleranceNs) {
        m_zeroNs = zeroNs;
        m_mapped = true;
        ++m_moves;
    }
}

void StreamClock::need(std::int64_t atNs, std::int64_t needNs) {
    if (m_needNow < 0 || atNs - m_needSince >= HoldNs / 2) {
        m_needBefore = m_needNow;
        m_needNow = needNs;
        m_needSince = atNs;
    } else {
        m_needNow = std::max(m_needNow, needNs);
    }
    m_leadNs = std::max({m_needNow, m_needBefore, m_needFloor});
    // Whole milliseconds, so that jitter in the readings does not move the clicks.
    const std::int64_t wanted = (m_leadNs + SafetyNs + GuiMarginNs + Ms - 1) / Ms * Ms;
    if (m_fresh || wanted > m_delayNs || m_delayNs - wanted >= ShrinkNs)
        m_delayNs = wanted;
    m_fresh = false;
}

void StreamClock::resync(Change change) {
    // PulseAudio itself keeps a moved stream's timeline; PipeWire's server links it anew.
    m_timelineKept = change == Change::Move && m_mapped && m_kind == Kind::Pulse;
    m_mapped = m_timelineKept;
    m_count = 0;
    m_next = 0;
    m_lastRead = -1;
    m_stepsSeen = 0;
    m_watch = Watch::None;
    if (change == Change::Timeline)
        return;
    // A new output may need less, or more: its need is learnt anew and the next delay taken
    // as it is (after a move, once the read index moved there). Until then the old one holds,
    // so that the flash does not run ahead of clicks still placed by it.
    m_fresh = !m_timelineKept;
    if (!m_timelineKept)
        m_needNow = m_needBefore = -1;
    m_needFloor = 0;
    m_stepCount = 0;
    m_quantum = 0;
    m_awaitStep = m_kind == Kind::Pulse;
    m_firstRead = -1;
}

std::int64_t StreamClock::nextReadingNs(std::int64_t nowNs, std::int64_t paceNs) {
    const std::int64_t target = nowNs + paceNs;
    if (m_kind != Kind::Quantized || !m_mapped || m_quantum <= 0 || m_lastRead < 0)
        return target;
    // The read index moves on a sink latency before the last sample it reached is heard, and
    // every quantum after. The reading just before that is the one closest to the truth; the
    // ones just after it see a step of one quantum, which keeps the quantum in view.
    const std::int64_t step = timeOf(m_lastRead) - m_sinkNs;
    switch (m_watch) {
    case Watch::Before:
        m_watch = Watch::After;
        m_watchedRead = m_lastRead;
        m_afterTries = 0;
        return std::max(nowNs, step) + JustAfterNs;
    case Watch::After:
        if (m_lastRead == m_watchedRead && ++m_afterTries < MaxAfterTries)
            return nowNs + JustAfterNs;
        m_watch = Watch::None;
        break;
    case Watch::None:
        break;
    }
    const auto quantumNs =
        static_cast<std::int64_t>(static_cast<double>(m_quantum) * NsPerSecond / m_rate);
    const std::int64_t k = target > step ? (target - step + quantumNs - 1) / quantumNs : 0;
    m_watch = Watch::Before;
    return std::max(nowNs, step + k * quantumNs - JustBeforeNs);
}

std::pair<std::int64_t, std::int64_t> StreamClock::takeSkipped() {
    return std::exchange(m_skipped, {0, 0});
}

std::int64_t StreamClock::frameAt(std::int64_t ns) const {
    return std::llround(static_cast<double>(ns - m_zeroNs) * m_rate / NsPerSecond);
}

std::int64_t StreamClock::timeOf(std::int64_t frame) const {
    return m_zeroNs + std::llround(static_cast<double>(frame) * NsPerSecond / m_rate);
}

} // namespace sound
