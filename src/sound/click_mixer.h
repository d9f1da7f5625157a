#pragma once

#include "click_loader.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sound {

// Places clicks on exact stream samples. The GUI thread asks for a click at a beat's due
// time on the monotonic clock; the audio thread renders the stream and starts the click at
// the sample that the server says will be heard at that time plus a constant delay.
// Hand-over is a lock-free ring, so the audio thread never waits for the GUI thread.
//
// The one rule: a click starts on the sample heard at its time plus the delay, as the
// mapping says when that sample is written; if the sample has already been written when the
// click is asked for, the click is dropped. Which sample is heard when comes from the
// server's timing readings: the mapping is the median of the last few readings, and it
// moves only when that median is off by more than a tolerance, so clicks on one grid stay
// exactly whole intervals apart.
//
// A click may be asked for ahead of its beat and taken back until it starts; asking again
// for the same due time only replaces the sound, so a click is never heard twice.
class ClickMixer {
  public:
    // Readings kept, how many make a mapping, and how far it may be off before it moves.
    static constexpr std::size_t Readings = 31;
    static constexpr std::size_t MinReadings = 5;
    static constexpr std::int64_t ToleranceNs = 1'000'000;

    ClickMixer(int rate, std::int64_t delayNs);

    // GUI thread: sound `click` at monotonic time `dueNs` plus the delay, cutting a click
    // still sounding. False when the audio thread has not kept up (the click is dropped).
    bool request(ClickPtr click, std::int64_t dueNs);
    // GUI thread: take back the click asked for `dueNs`, unless it has started.
    bool withdraw(std::int64_t dueNs);
    // Any thread: the due time of the last click asked for, or INT64_MIN.
    std::int64_t lastRequestNs() const { return m_lastRequest.load(std::memory_order_relaxed); }

    // Audio thread: a new stream; its first sample is frame 0, and nothing is known of when
    // it is heard. What was placed or sounding for the old stream is gone.
    void restart();
    // Audio thread: the server's reading that stream time `streamNs` is heard at `nowNs`.
    void timing(std::int64_t nowNs, std::int64_t streamNs);
    // Audio thread: the stream paused or jumped (underrun, cork): what was known of when its
    // samples are heard no longer holds. Clicks wait for new readings.
    void resync();
    // Audio thread, or any thread while the audio thread is held: place the clicks asked
    // for so far, so that they need not wait for the next block to be rendered.
    void accept();
    // Audio thread: the next `frames` mono samples of the stream.
    void render(std::int16_t* out, std::size_t frames);
    // Audio thread: whether it is known when the stream's samples are heard.
    bool mapped() const { return m_mapped; }
    // Audio thread: whether a click is sounding or waiting to.
    bool busy() const { return m_current || m_placedCount > 0 || m_waitingCount > 0; }

    int rate() const { return m_rate; }
    std::int64_t delayNs() const { return m_delayNs; }
    // Figures for tests and benchmarks.
    std::int64_t clicksStarted() const { return m_started.load(std::memory_order_relaxed); }
    std::int64_t clicksDropped() const { return m_dropped.load(std::memory_order_relaxed); }
    std::int64_t clicksWithdrawn() const { return m_withdrawn.load(std::memory_order_relaxed); }
    std::int64_t mappingMoves() const { return m_moves.load(std::memory_order_relaxed); }
    // The least time by which a click's sample was still ahead of the writing when the
    // audio thread received it; what the delay has to spare.
    std::int64_t minSlackNs() const { return m_minSlack.load(std::memory_order_relaxed); }

  private:
    struct Request {
        ClickPtr click; // none: withdraw the click for atNs
        std::int64_t atNs = 0;
        std::int64_t frame = 0;
    };
    static constexpr std::size_t RingSize = 64;

    bool push(Request&& request);
    bool pop(Request& out);
    void take(Request&& request);
    void place(Request&& request);
    std::int64_t frameFor(std::int64_t atNs) const;

    const int m_rate;
    const std::int64_t m_delayNs;

    std::array<Request, RingSize> m_ring;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
    std::atomic<std::int64_t> m_lastRequest{INT64_MIN};

    // Audio thread only. Frame f is heard at m_zeroNs + f / rate.
    std::int64_t m_written = 0;
    bool m_mapped = false;
    std::int64_t m_zeroNs = 0;
    std::array<std::int64_t, Readings> m_readings{};
    std::size_t m_readingCount = 0;
    std::size_t m_readingNext = 0;
    // Received before there was a mapping; placed as soon as there is one.
    std::array<Request, RingSize> m_waiting;
    std::size_t m_waitingCount = 0;
    // Placed, in stream order, not started yet.
    std::array<Request, RingSize> m_placed;
    std::size_t m_placedCount = 0;
    ClickPtr m_current;
    std::int64_t m_currentStart = 0;
    std::int64_t m_startedNs = INT64_MIN; // the due time of the last click started

    std::atomic<std::int64_t> m_started{0};
    std::atomic<std::int64_t> m_dropped{0};
    std::atomic<std::int64_t> m_withdrawn{0};
    std::atomic<std::int64_t> m_moves{0};
    std::atomic<std::int64_t> m_minSlack{INT64_MAX};
};

} // namespace sound
