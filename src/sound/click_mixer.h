#pragma once

#include "click_loader.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sound {

// Places clicks on exact stream samples. The GUI thread asks for a click at a monotonic
// time; the audio thread renders the stream and starts the click at the sample that
// belongs to that time plus a constant latency. Hand-over is a lock-free ring, so the
// audio thread never waits for the GUI thread.
class ClickMixer {
  public:
    ClickMixer(int rate, std::int64_t latencyNs);

    // GUI thread: start `click` at monotonic time `atNs` (plus the latency), cutting a click
    // still sounding. False when the audio thread has not kept up (the click is dropped).
    bool request(ClickPtr click, std::int64_t atNs);

    // Audio thread: fill `frames` mono samples; `nowNs` is the monotonic time of the call.
    void render(std::int16_t* out, std::size_t frames, std::int64_t nowNs);
    // Audio thread: the stream (re)started; time is mapped afresh on the next render, and
    // what was pending for the old stream is dropped.
    void restart();

    // The stream's write position moves against the clock as the sink's buffer fills and
    // drains (up to its whole length) without playback moving at all. Within that range
    // the mapping stays put, so no click ever shifts. Only a stream that falls further
    // behind (late start, underrun) moves it back, and a click that would come too late
    // for the stream (clock drift) moves it forward by what it lacks plus a margin.
    static constexpr std::int64_t BehindNs = 100'000'000;
    static constexpr std::int64_t MarginNs = 10'000'000;
    // A click this late, or late at all this soon after the stream (re)started, belongs to
    // a time when there was no stream to play it: it is dropped, and nothing moves.
    static constexpr std::int64_t StaleNs = 100'000'000;
    static constexpr std::int64_t SettleNs = 1'000'000'000;
    // How long the stream must stay that far behind before the mapping follows it.
    static constexpr std::int64_t SustainNs = 60'000'000;

    int rate() const { return m_rate; }
    std::int64_t latencyNs() const { return m_latencyNs; }
    // Figures for tests and benchmarks.
    std::int64_t clicksStarted() const { return m_started.load(std::memory_order_relaxed); }
    std::int64_t clicksDropped() const { return m_dropped.load(std::memory_order_relaxed); }
    std::int64_t lateClicks() const { return m_late.load(std::memory_order_relaxed); }
    std::int64_t reanchors() const { return m_reanchors.load(std::memory_order_relaxed); }
    // The smallest margin, in frames, by which a click's sample was still ahead of the
    // write position when the audio thread received it; negative means it came late.
    std::int64_t minSlackFrames() const { return m_minSlack.load(std::memory_order_relaxed); }

  private:
    struct Request {
        ClickPtr click;
        std::int64_t atNs = 0;
    };
    static constexpr std::size_t RingSize = 64;

    bool pop(Request& out);
    std::int64_t frameFor(std::int64_t atNs) const;
    void follow(std::int64_t written, std::int64_t nowNs);
    void moveBase(std::int64_t base);

    const int m_rate;
    const std::int64_t m_latencyNs;

    std::array<Request, RingSize> m_ring;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};

    // Audio thread only.
    // Frame for time t: m_base + (t - m_anchorNs) * rate, m_base being the stream's
    // offset against the clock when it started (or last had to be followed).
    bool m_anchored = false;
    std::int64_t m_anchorNs = 0;
    std::int64_t m_base = 0;
    bool m_behind = false;
    std::int64_t m_behindSinceNs = 0;
    std::array<Request, RingSize> m_pending;
    std::size_t m_pendingCount = 0;
    ClickPtr m_current;
    std::int64_t m_currentStart = 0;

    std::atomic<std::int64_t> m_written{0};
    std::atomic<std::int64_t> m_started{0};
    std::atomic<std::int64_t> m_dropped{0};
    std::atomic<std::int64_t> m_late{0};
    std::atomic<std::int64_t> m_reanchors{0};
    std::atomic<std::int64_t> m_minSlack{INT64_MAX};
};

} // namespace sound
