#include "click_mixer.h"

#include <algorithm>
#include <cmath>

namespace sound {

namespace {
constexpr double NsPerSecond = 1e9;
} // namespace

ClickMixer::ClickMixer(int rate, std::int64_t delayNs) : m_rate(rate), m_delayNs(delayNs) {}

bool ClickMixer::request(ClickPtr click, std::int64_t dueNs) {
    m_lastRequest.store(dueNs, std::memory_order_relaxed);
    return click && push(Request{std::move(click), dueNs, 0});
}

bool ClickMixer::withdraw(std::int64_t dueNs) {
    return push(Request{nullptr, dueNs, 0});
}

bool ClickMixer::push(Request&& request) {
    const std::size_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) == RingSize)
        return false;
    m_ring[head % RingSize] = std::move(request);
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
    m_written = 0;
    m_mapped = false;
    m_readingCount = 0;
    m_readingNext = 0;
    // Clicks asked for before this stream existed were due when nothing could play them.
    Request stale;
    while (pop(stale))
        if (stale.click)
            m_dropped.fetch_add(1, std::memory_order_relaxed);
    m_dropped.fetch_add(static_cast<std::int64_t>(m_waitingCount + m_placedCount),
                        std::memory_order_relaxed);
    m_waitingCount = 0;
    m_placedCount = 0;
    m_current.reset();
    m_startedNs = INT64_MIN;
}

void ClickMixer::resync() {
    m_mapped = false;
    m_readingCount = 0;
    m_readingNext = 0;
}

void ClickMixer::timing(std::int64_t nowNs, std::int64_t streamNs) {
    m_readings[m_readingNext] = nowNs - streamNs;
    m_readingNext = (m_readingNext + 1) % Readings;
    m_readingCount = std::min(m_readingCount + 1, Readings);
    if (m_readingCount < MinReadings)
        return;
    std::array<std::int64_t, Readings> sorted = m_readings;
    const auto mid = sorted.begin() + static_cast<std::ptrdiff_t>(m_readingCount / 2);
    std::nth_element(sorted.begin(), mid,
                     sorted.begin() + static_cast<std::ptrdiff_t>(m_readingCount));
    if (!m_mapped || std::llabs(*mid - m_zeroNs) > ToleranceNs) {
        m_zeroNs = *mid;
        m_mapped = true;
        m_moves.fetch_add(1, std::memory_order_relaxed);
        // Clicks placed ahead follow; one whose sample has gone by now starts at once.
        for (std::size_t i = 0; i < m_placedCount; ++i)
            m_placed[i].frame = std::max(frameFor(m_placed[i].atNs), m_written);
    }
}

std::int64_t ClickMixer::frameFor(std::int64_t atNs) const {
    const double seconds = static_cast<double>(atNs + m_delayNs - m_zeroNs) / NsPerSecond;
    return std::llround(seconds * m_rate);
}

void ClickMixer::place(Request&& request) {
    request.frame = frameFor(request.atNs);
    const std::int64_t slack = request.frame - m_written;
    const std::int64_t slackNs =
        static_cast<std::int64_t>(static_cast<double>(slack) * NsPerSecond / m_rate);
    if (slackNs < m_minSlack.load(std::memory_order_relaxed))
        m_minSlack.store(slackNs, std::memory_order_relaxed);
    if (slack < 0 || m_placedCount == m_placed.size()) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // Beats come in order, so this is nearly always the end.
    std::size_t at = m_placedCount;
    while (at > 0 && m_placed[at - 1].frame > request.frame) {
        m_placed[at] = std::move(m_placed[at - 1]);
        --at;
    }
    m_placed[at] = std::move(request);
    ++m_placedCount;
}

void ClickMixer::take(Request&& request) {
    // A click asked for again keeps its place and takes the new sound; one that has started
    // is heard once, as it is.
    for (auto* list : {&m_placed, &m_waiting}) {
        std::size_t& count = list == &m_placed ? m_placedCount : m_waitingCount;
        const auto end = list->begin() + static_cast<std::ptrdiff_t>(count);
        const auto it = std::find_if(list->begin(), end,
                                     [&](const Request& r) { return r.atNs == request.atNs; });
        if (it == end)
            continue;
        if (request.click) {
            it->click = std::move(request.click);
        } else {
            std::move(it + 1, end, it);
            (*list)[--count] = Request{};
            m_withdrawn.fetch_add(1, std::memory_order_relaxed);
        }
        return;
    }
    if (!request.click || m_startedNs == request.atNs)
        return;
    if (m_mapped) {
        place(std::move(request));
    } else if (m_waitingCount < m_waiting.size()) {
        m_waiting[m_waitingCount++] = std::move(request);
    } else {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
    }
}

void ClickMixer::accept() {
    Request incoming;
    while (pop(incoming))
        take(std::move(incoming));
    if (m_mapped && m_waitingCount > 0) {
        for (std::size_t i = 0; i < m_waitingCount; ++i)
            place(std::move(m_waiting[i]));
        m_waitingCount = 0;
    }
}

void ClickMixer::render(std::int16_t* out, std::size_t frames) {
    accept();
    const std::int64_t end = m_written + static_cast<std::int64_t>(frames);
    std::size_t next = 0; // placed clicks started so far in this block
    for (std::int64_t pos = m_written; pos < end; ++pos) {
        while (next < m_placedCount && m_placed[next].frame <= pos) {
            m_current = std::move(m_placed[next].click);
            m_currentStart = pos;
            m_startedNs = m_placed[next].atNs;
            ++next;
            m_started.fetch_add(1, std::memory_order_relaxed);
        }
        float s = 0.0f;
        if (m_current) {
            const auto n = static_cast<std::size_t>(pos - m_currentStart);
            if (n < m_current->size())
                s = (*m_current)[n];
            else
                m_current.reset();
        }
        out[pos - m_written] = static_cast<std::int16_t>(std::lrint(s * 32767.0f));
    }
    std::move(m_placed.begin() + static_cast<std::ptrdiff_t>(next),
              m_placed.begin() + static_cast<std::ptrdiff_t>(m_placedCount), m_placed.begin());
    m_placedCount -= next;
    m_written = end;
}

} // namespace sound
