// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "click_loader.h"
#include "stream_clock.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sound {

// Places clicks on exact stream samples. The GUI thread says which beats click: each beat as
// its handler runs, and the beats it foresees from then on, every interval. The audio thread
// writes the stream far ahead of what is heard, with the foreseen clicks in it, and writes it
// again from the first sample that a change alters. Hand-over is a lock-free ring, so the GUI
// thread never waits for the audio thread.
//
// The one rule: every beat that is to click is heard at its due time plus the delay, on the
// sample the stream clock gives; whatever is written and still ahead of what the server has
// taken is written again to match; a beat the server has taken is never moved, and never
// heard twice; one asked for too late to be on time is heard as soon as the server allows.
class ClickMixer {
  public:
    // The most a click may come late rather than not at all.
    static constexpr std::int64_t LateLimitNs = 100'000'000;
    // What is kept of the stream written, to see what a change alters; more than any buffer.
    static constexpr std::int64_t KeptFrames = std::int64_t{1} << 17;

    explicit ClickMixer(int rate);

    // GUI thread: the beat due at `dueNs` clicks with `click`. Asking again for the same beat
    // only changes its sound. False when the audio thread has not kept up.
    bool request(ClickPtr click, std::int64_t dueNs);
    // GUI thread: from `fromNs` on, a beat every `intervalNs` clicks with `click`, until told
    // otherwise; no click: none is foreseen. Replaces what was foreseen before.
    bool foresee(ClickPtr click, std::int64_t fromNs, std::int64_t intervalNs);
    // Any thread: the due time of the last beat asked for, or INT64_MIN.
    std::int64_t lastRequestNs() const { return m_lastRequest.load(std::memory_order_relaxed); }
    // Any thread: whether it is known when the stream's samples are heard.
    bool mappedNow() const { return m_mapped.load(std::memory_order_relaxed); }
    // Any thread: from a beat's due time to its click being heard, as the output now needs.
    std::int64_t delayNs() const { return m_delayNs.load(std::memory_order_relaxed); }

    // Audio thread: a new stream at `nowNs`; its first sample is frame 0 and nothing is known
    // of when it is heard, nor of what the output needs.
    void restart(std::int64_t nowNs);
    // Audio thread: one of the server's timing readings (see StreamClock::reading). True
    // when it changed where clicks go: the stream is to be written again now.
    bool timing(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                std::int64_t transportNs);
    // Audio thread: the stream stood still or jumped; `output`: it moved to another sink.
    void resync(bool output = false);
    // Audio thread, or any thread while the audio thread is held: brings what is written in
    // line with what was asked for at `nowNs`, and adds `ahead` new frames. `out` gets the
    // samples from the returned frame up to the new end; the frame is at most `written()`
    // from before the call, and less where samples already written are written again.
    std::int64_t write(std::int64_t nowNs, std::size_t ahead, std::vector<std::int16_t>& out);
    // Audio thread: the stream's write index, in frames.
    std::int64_t written() const { return m_written; }
    // Audio thread: whether a click is foreseen or waiting to be heard.
    bool busy() const;

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
    struct Message {
        ClickPtr click;
        std::int64_t dueNs = 0;
        std::int64_t intervalNs = 0; // 0: one beat; otherwise what is foreseen
        bool foresee = false;
    };
    struct Beat {
        std::int64_t dueNs = 0;
        ClickPtr click;
    };
    struct Start {
        std::int64_t frame = 0;
        std::int64_t dueNs = 0;
        ClickPtr click;
    };
    static constexpr std::size_t RingSize = 64;

    bool push(Message&& message);
    void accept();
    void commit(std::int64_t upTo);
    void place(std::int64_t from, std::int64_t to);
    void put(std::int64_t dueNs, const ClickPtr& click, bool asked, std::int64_t from,
             std::int64_t to);
    void render(std::int64_t from, std::int64_t to, std::int16_t* out) const;
    bool heard(std::int64_t dueNs) const;

    const int m_rate;
    StreamClock m_clock;

    std::array<Message, RingSize> m_ring;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
    std::atomic<std::int64_t> m_lastRequest{INT64_MIN};
    std::atomic<std::int64_t> m_delayNs{0};
    std::atomic<bool> m_mapped{false};

    // Audio thread only.
    std::vector<Beat> m_asked; // by due time
    Beat m_foreseen;           // the first beat foreseen, and its click
    std::int64_t m_intervalNs = 0;
    std::vector<Start> m_starts;             // by frame: where clicks start in the stream
    std::vector<std::int64_t> m_placedAgain; // scratch: beats placed before the last change
    std::array<std::int64_t, 32> m_heardDue{};
    std::size_t m_heardCount = 0;
    std::vector<std::int16_t> m_kept; // the stream as written, by frame modulo its size
    std::vector<std::int16_t> m_scratch;
    std::int64_t m_written = 0;
    std::int64_t m_taken = 0; // frames before it are the server's

    std::atomic<std::int64_t> m_started{0};
    std::atomic<std::int64_t> m_dropped{0};
    std::atomic<std::int64_t> m_late{0};
    std::atomic<std::int64_t> m_rewrites{0};
};

} // namespace sound
