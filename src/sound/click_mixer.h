// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "click_loader.h"
#include "stream_clock.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// Words used here, beside the audio words a newcomer brings:
//   taken        the server has the sample and will play it as it is (read index, pulled)
//   heard        the sample comes out of the device (played, presented)
//   foreseen     beats written before their handler ran, on the grid the window expects
//                (look-ahead)
//   asked        a beat whose handler ran and wants its click
//   written again  samples the server holds but has not taken, replaced (rewrite)
//   plan         what the window wants heard: the foreseen grid and the beats asked for
namespace sound {

// What the window wants heard, handed to the audio thread whole. Clicks are plain pointers:
// whoever publishes a plan keeps its clicks alive until `ClickMixer::inUseFrom` passes the
// plan's number (ClickPlayer does), so that the audio thread never frees one.
struct Plan {
    static constexpr std::size_t MaxAsked = 16;
    struct Beat {
        std::int64_t dueNs = 0;
        const ClickSamples* click = nullptr;
        // Asked for: when its flash was told the click is heard (0: as the delay says). It is
        // heard then if the stream still allows, so the delay shrinking takes nothing back.
        std::int64_t heardNs = 0;
    };
    std::uint64_t number = 0; // set by ClickMixer::publish
    Beat foreseen;            // the first beat foreseen; no click: none is
    std::int64_t intervalNs = 0;
    std::array<Beat, MaxAsked> asked{}; // the latest beats asked for, oldest first
    std::size_t askedCount = 0;
};

// Places clicks on exact stream samples, by one rule: every beat that is to click is heard at
// its due time plus the delay, on the sample the stream clock gives; whatever is written and
// not yet taken is written again to match; a beat the server has taken is never moved and
// never heard twice; one asked for too late to be on time is heard as soon as the server
// allows, within LateLimitNs, and dropped after that. Clicks are heard in beat order, at
// least half their beats' distance apart, also while the delay shrinks.
//
// Threads: the GUI thread publishes plans and reads the figures; the audio thread does the
// rest. Neither ever waits for the other: a plan goes through a three-slot hand-over (the
// latest wins, none is queued, so none is lost while the audio thread is away), and what the
// audio thread tells back is in atomics. The audio thread neither allocates nor frees in
// steady state, nor locks anything.
class ClickMixer {
  public:
    static constexpr std::int64_t LateLimitNs = 100'000'000;
    // What is kept of the stream written, to see what a change alters; more than any buffer.
    static constexpr std::int64_t KeptFrames = std::int64_t{1} << 17;
    // Clicks that may start in what is written and kept; more are not placed.
    static constexpr std::size_t MaxStarts = 128;

    explicit ClickMixer(int rate);

    // GUI thread: `plan` replaces the one before.
    void publish(const Plan& plan);
    // GUI thread: the number of the last plan published.
    std::uint64_t published() const { return m_published; }
    // Any thread: the oldest plan whose clicks the audio thread may still use.
    std::uint64_t inUseFrom() const { return m_inUse.load(std::memory_order_acquire); }
    // Any thread: when the click of the beat due at `dueNs` is heard, as it is written; where
    // it is not written yet, as the delay and the clicks before it say.
    std::int64_t heardAt(std::int64_t dueNs) const;
    // Any thread: from a beat's due time to its click being heard, as the output now needs.
    std::int64_t delayNs() const { return m_delayNs.load(std::memory_order_relaxed); }

    // Audio thread: a new stream at `nowNs`; its first sample is frame 0 and nothing is known
    // of when it is heard, nor of what the output needs.
    void restart(std::int64_t nowNs);
    // Audio thread: a PulseAudio timing reading (see StreamClock::reading). True when it
    // changed where clicks go: the stream is to be written again now.
    bool timing(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                std::int64_t transportNs);
    // Audio thread: a graph cycle (see StreamClock::exact): the next frame written is heard at
    // `heardNs`, and whatever was written before is taken.
    void cycle(std::int64_t nowNs, std::int64_t heardNs, std::int64_t cycleNs);
    // Audio thread: the stream stood still or jumped, or its output changed (see StreamClock).
    void resync(StreamClock::Change change = StreamClock::Change::Timeline);
    // Audio thread: brings what is written in line with the latest plan and adds `ahead` new
    // frames. Frames before `openFrame` are the server's. `out` gets the samples from the
    // returned frame up to the new end; that frame is at most `written()` from before the
    // call, and less where samples already written are written again. `out` keeps its
    // capacity: reserve KeptFrames in it once and no write allocates.
    std::int64_t write(std::int64_t openFrame, std::size_t ahead, std::vector<std::int16_t>& out);
    // Audio thread: the first frame the server has not taken by `nowNs`, by the clock.
    std::int64_t openFrameAt(std::int64_t nowNs) const;
    // Audio thread: the stream's write index, in frames.
    std::int64_t written() const { return m_written; }
    // Audio thread: whether a click is foreseen or waiting to be heard.
    bool busy() const;
    // Audio thread: the due time of the last beat asked for, or INT64_MIN.
    std::int64_t lastAskedNs() const;
    // Audio thread: whether a newer plan than the one in use is waiting.
    bool planWaiting() const;

    StreamClock& clock() { return m_clock; }
    const StreamClock& clock() const { return m_clock; }
    int rate() const { return m_rate; }
    // Figures for tests and benchmarks: clicks the server took, asked for and never heard,
    // heard late, and writes that went back over samples already written.
    std::int64_t clicksStarted() const { return m_started.load(std::memory_order_relaxed); }
    std::int64_t clicksDropped() const { return m_dropped.load(std::memory_order_relaxed); }
    std::int64_t clicksLate() const { return m_late.load(std::memory_order_relaxed); }
    std::int64_t rewrites() const { return m_rewrites.load(std::memory_order_relaxed); }

  private:
    struct Start {
        std::int64_t frame = 0;
        std::int64_t dueNs = 0;
        std::int64_t heardNs = 0; // as the clock said when it was placed
        const ClickSamples* click = nullptr;
        std::uint64_t plan = 0; // the plan the click came with
    };
    // One placed click as the GUI thread may read it: a small seqlock of its own.
    struct Placed {
        std::atomic<std::int64_t> dueNs{INT64_MIN};
        std::atomic<std::int64_t> heardNs{0};
    };
    static constexpr unsigned Fresh = 4; // the middle slot holds a plan not yet taken
    static constexpr std::size_t DoneSize = 64;
    static constexpr std::size_t PlacedSize = 64;

    void take();
    void commit(std::int64_t upTo);
    void place(std::int64_t from, std::int64_t to);
    void put(const Plan::Beat& beat, bool asked, std::int64_t from, std::int64_t to);
    void render(std::int64_t from, std::int64_t to, std::int16_t* out) const;
    bool done(std::int64_t dueNs) const;
    void markDone(std::int64_t dueNs);
    void tellBack();

    const int m_rate;
    StreamClock m_clock;

    // The hand-over: the GUI thread fills its own slot and swaps it with the middle one; the
    // audio thread swaps its slot with the middle one when that is fresh.
    std::array<Plan, 3> m_slots{};
    std::atomic<unsigned> m_middle{1};
    unsigned m_back = 2;           // GUI thread
    std::uint64_t m_published = 0; // GUI thread
    unsigned m_front = 0;          // audio thread

    std::atomic<std::uint64_t> m_inUse{0};
    std::atomic<std::int64_t> m_delayNs{0};
    std::array<Placed, PlacedSize> m_placed{};
    std::size_t m_placedNext = 0;

    // Audio thread only.
    std::vector<Start> m_starts;                 // by frame: where clicks start in the stream
    std::vector<Start> m_placedAgain;            // scratch: clicks placed before the last change
    std::array<std::int64_t, DoneSize> m_done{}; // beats heard or given up: never placed again
    std::size_t m_doneCount = 0;
    std::vector<std::int16_t> m_kept; // the stream as written, by frame modulo its size
    std::vector<std::int16_t> m_scratch;
    std::int64_t m_written = 0;
    std::int64_t m_taken = 0; // frames before it are the server's
    std::int64_t m_read = 0;  // the server's read index, as last read: taken for sure

    std::atomic<std::int64_t> m_started{0};
    std::atomic<std::int64_t> m_dropped{0};
    std::atomic<std::int64_t> m_late{0};
    std::atomic<std::int64_t> m_rewrites{0};
};

} // namespace sound
