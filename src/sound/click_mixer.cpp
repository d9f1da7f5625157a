#include "click_mixer.h"

#include <algorithm>
#include <cmath>

namespace sound {

namespace {
constexpr std::int64_t NsPerSecond = 1'000'000'000;
} // namespace

ClickMixer::ClickMixer(int rate, std::int64_t latencyNs) : m_rate(rate), m_latencyNs(latencyNs) {}

bool ClickMixer::request(ClickPtr click, std::int64_t atNs) {
    const std::size_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) == RingSize)
        return false;
    m_ring[head % RingSize] = Request{std::move(click), atNs};
    m_head.store(head + 1, std::memory_order_release);
    return true;
}

bool ClickMixer::pop(Request& out) {
    const std::size_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail == m_head.load(std::memory_order_acquire))
        return false;
    out = std::move(m_ring[tail % RingSize]);
    m_ring[tail % RingSize] = Request{};
    m_tail.store(tail + 1, std::memory_order_release);
    return true;
}

void ClickMixer::restart() {
    m_anchored = false;
    m_pendingCount = 0;
    m_current.reset();
}

std::int64_t ClickMixer::frameFor(std::int64_t atNs) const {
    const double seconds = static_cast<double>(atNs + m_latencyNs - m_anchorNs) / NsPerSecond;
    return m_base + std::llround(seconds * m_rate);
}

void ClickMixer::moveBase(std::int64_t base) {
    m_base = base;
    m_reanchors.fetch_add(1, std::memory_order_relaxed);
}

void ClickMixer::follow(std::int64_t written, std::int64_t nowNs) {
    if (!m_anchored) {
        m_anchored = true;
        m_anchorNs = nowNs;
        m_behind = false;
        moveBase(written);
        return;
    }
    // How far the stream is ahead of the clock, as an offset of frame numbers.
    const std::int64_t offset =
        written - std::llround(static_cast<double>(nowNs - m_anchorNs) / NsPerSecond * m_rate);
    const auto frames = [this](std::int64_t ns) { return ns * m_rate / NsPerSecond; };
    if (offset < m_base - frames(BehindNs)) {
        if (!m_behind) {
            m_behind = true;
            m_behindSinceNs = nowNs;
        }
        if (nowNs - m_behindSinceNs >= SustainNs) {
            moveBase(offset);
            m_behind = false;
        }
        return;
    }
    m_behind = false;
}

void ClickMixer::render(std::int16_t* out, std::size_t frames, std::int64_t nowNs) {
    const std::int64_t written = m_written.load(std::memory_order_relaxed);
    follow(written, nowNs);

    Request incoming;
    while (pop(incoming)) {
        const std::int64_t slack = frameFor(incoming.atNs) - written;
        if (slack < 0) {
            const bool settling = nowNs - m_anchorNs < SettleNs;
            if (settling || slack < -StaleNs * m_rate / NsPerSecond) {
                m_dropped.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            moveBase(m_base - slack + MarginNs * m_rate / NsPerSecond);
        }
        if (slack < m_minSlack.load(std::memory_order_relaxed))
            m_minSlack.store(slack, std::memory_order_relaxed);
        if (m_pendingCount == m_pending.size()) // cannot happen with a sane tick rate
            std::move(m_pending.begin() + 1, m_pending.end(), m_pending.begin()), --m_pendingCount;
        m_pending[m_pendingCount++] = std::move(incoming);
    }

    std::size_t done = 0;
    while (done < frames) {
        const std::int64_t pos = written + static_cast<std::int64_t>(done);
        // Start the next pending click that is due at or before this sample.
        if (m_pendingCount > 0) {
            const std::int64_t target = frameFor(m_pending[0].atNs);
            if (target <= pos) {
                if (target < pos)
                    m_late.fetch_add(1, std::memory_order_relaxed);
                m_current = std::move(m_pending[0].click);
                m_currentStart = pos;
                m_started.fetch_add(1, std::memory_order_relaxed);
                std::move(m_pending.begin() + 1, m_pending.begin() + m_pendingCount,
                          m_pending.begin());
                --m_pendingCount;
                continue;
            }
        }
        // Render up to the next click's start or the end of the block.
        std::int64_t stop = written + static_cast<std::int64_t>(frames);
        if (m_pendingCount > 0)
            stop = std::min(stop, frameFor(m_pending[0].atNs));
        for (; written + static_cast<std::int64_t>(done) < stop; ++done) {
            const std::int64_t n = written + static_cast<std::int64_t>(done) - m_currentStart;
            float s = 0.0f;
            if (m_current && n < static_cast<std::int64_t>(m_current->size()))
                s = (*m_current)[static_cast<std::size_t>(n)];
            out[done] = static_cast<std::int16_t>(std::lrint(s * 32767.0f));
        }
        if (m_current && written + static_cast<std::int64_t>(done) - m_currentStart >=
                             static_cast<std::int64_t>(m_current->size()))
            m_current.reset();
    }
    m_written.store(written + static_cast<std::int64_t>(frames), std::memory_order_relaxed);
}

} // namespace sound
