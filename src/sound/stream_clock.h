// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace sound {

// When each sample of the stream is heard, and how long before that a change must reach the
// stream, from the server's timing. Everything here is on the monotonic clock, in ns.
//
// Three kinds of server tell it differently:
// - PulseAudio (`Kind::Pulse`): a reading says that at `atNs` the server had taken the stream
//   up to `readFrames`, and the sink plays that sample `sinkNs` later. Readings scatter a
//   little around the truth, so the mapping is their median.
// - PipeWire through its PulseAudio server (`Kind::Quantized`): the read index moves a whole
//   quantum at a time and `sinkNs` is the sink's own latency, so every reading is early by up
//   to a quantum: the latest is the truest, and a quantum more is taken ahead.
// - PipeWire's own stream (`Kind::Exact`): every graph cycle says when the next sample written
//   is heard; nothing is guessed.
// The mapping moves only when it is off by more than a tolerance, so clicks on one grid stay
// whole intervals apart.
//
// The delay, from a beat's due time to its click, is what the output needs plus a margin for
// a GUI thread that comes late. The need is the largest seen over the last few seconds, so a
// sink whose reported latency saws does not move the clicks; the delay grows at once and
// shrinks only when the smaller need has held that long.
class StreamClock {
  public:
    enum class Kind { Pulse, Quantized, Exact };

    static constexpr std::size_t Readings = 31;
    static constexpr std::size_t MinReadings = 5;
    static constexpr std::int64_t ToleranceNs = 1'000'000;
    // Kept beyond what the server needs, for a change to reach it in time; where readings
    // are early by up to a quantum, also an eighth of the quantum, for the mapping's own
    // error and for PipeWire taking a little more than a quantum ahead (100 ms at 4096).
    static constexpr std::int64_t SafetyNs = 3'000'000;
    static constexpr std::int64_t QuantumShare = 8;
    // How late a beat's handler may run and still have its click on time.
    static constexpr std::int64_t GuiMarginNs = 4'000'000;
    // A smaller need must be this much smaller, for as long as the need is held, before the
    // delay shrinks.
    static constexpr std::int64_t ShrinkNs = 3'000'000;
    static constexpr std::int64_t HoldNs = 30'000'000'000;
    // A graph's timing that jumps by more than this changed its output, not its drift.
    static constexpr std::int64_t JumpNs = 5'000'000;
    // How long before and after the read index is due to move quantized readings are taken.
    static constexpr std::int64_t JustBeforeNs = 1'000'000;
    static constexpr std::int64_t JustAfterNs = 2'000'000;
    static constexpr int MaxAfterTries = 8;

    explicit StreamClock(int rate) : m_rate(rate) {}

    void setKind(Kind kind) { m_kind = kind; }
    Kind kind() const { return m_kind; }
    // A PulseAudio reading of either kind; see above.
    void reading(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                 std::int64_t transportNs);
    // A graph cycle at `nowNs`: sample `frame` is heard at `heardNs`, and a change made now
    // reaches the stream up to `cycleNs` later, in the next cycle.
    void exact(std::int64_t nowNs, std::int64_t frame, std::int64_t heardNs, std::int64_t cycleNs);
    // The output is known to need at least `ns` (a sink's configured latency), until it
    // changes.
    void needAtLeast(std::int64_t ns) { m_needFloor = ns; }
    // What happened to the stream: it stood still or jumped (a cork, an underrun); its output
    // changed (a new stream, a sink woken from suspend); or it moved to another sink, where
    // PulseAudio keeps its timeline.
    enum class Change { Timeline, Output, Move };
    // The mapping no longer holds, but across a move on PulseAudio. A new output's need is
    // learnt anew, from readings after the stream's read index moved there.
    void resync(Change change = Change::Timeline);

    bool mapped() const { return m_mapped; }
    // The sample heard at `ns`, and when sample `frame` is heard; only while mapped.
    std::int64_t frameAt(std::int64_t ns) const;
    std::int64_t timeOf(std::int64_t frame) const;
    // How long before it is heard a sample must be with the server to be heard as written.
    std::int64_t leadNs() const { return m_leadNs + SafetyNs; }
    // From a beat's due time to its click being heard; 0 until there is a reading.
    std::int64_t delayNs() const { return m_delayNs; }
    std::int64_t moves() const { return m_moves; }
    // After a move to a sink that takes longer, PulseAudio skips as much of the stream: the
    // frames it skipped, once, as [first, second); empty when none were.
    std::pair<std::int64_t, std::int64_t> takeSkipped();
    // When to take the next reading, about `paceNs` from `nowNs`. Where the read index moves
    // by quanta, just before it moves: that reading is the one closest to the truth.
    std::int64_t nextReadingNs(std::int64_t nowNs, std::int64_t paceNs);

  private:
    void rederive(std::int64_t atNs);
    void mapTo(std::int64_t zeroNs);
    void need(std::int64_t atNs, std::int64_t needNs);

    const int m_rate;
    Kind m_kind = Kind::Pulse;
    bool m_mapped = false;
    bool m_fresh = true; // the next delay derived is taken as it is
    // After a move: the read index when first read there, until it moves on.
    bool m_awaitStep = false;
    std::int64_t m_firstRead = -1;
    bool m_timelineKept = false; // moved: frames are heard when the old mapping said
    std::pair<std::int64_t, std::int64_t> m_skipped{0, 0};
    // Readings around a step of the read index (see nextReadingNs).
    enum class Watch { None, Before, After };
    Watch m_watch = Watch::None;
    std::int64_t m_watchedRead = 0;
    int m_afterTries = 0;
    std::int64_t m_zeroNs = 0; // when frame 0 is heard
    std::int64_t m_leadNs = 0;
    std::int64_t m_delayNs = 0;
    std::int64_t m_quantum = 0;
    std::int64_t m_moves = 0;
    std::int64_t m_sinkNs = 0; // the latest reading's
    std::int64_t m_needFloor = 0;
    std::int64_t m_cycleNs = 0;

    // The largest need, held over two half-windows.
    std::int64_t m_needSince = 0;
    std::int64_t m_needNow = -1;
    std::int64_t m_needBefore = -1;

    struct Reading {
        std::int64_t zeroNs = 0; // frame 0 heard, by this reading
        std::int64_t sinkNs = 0; // the sink's latency, by this reading
    };
    std::array<Reading, Readings> m_readings{};
    std::size_t m_count = 0;
    std::size_t m_next = 0;
    // The read index's last steps, for the quantum.
    std::array<std::int64_t, 4> m_steps{};
    std::size_t m_stepCount = 0;
    std::size_t m_stepsSeen = 0; // since the mapping was lost
    std::int64_t m_lastRead = -1;
};

} // namespace sound
