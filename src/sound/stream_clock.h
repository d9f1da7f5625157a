// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sound {

// When each sample of the stream is heard, and how far ahead of that the server has taken it,
// from the server's timing readings. Everything here is on the monotonic clock, in ns.
//
// A reading says: at `atNs` the server had taken the stream up to `readFrames`, and the sink
// plays that sample `sinkNs` later. PulseAudio's readings scatter a little around the truth,
// so the mapping is their median. PipeWire's server moves the read index a whole quantum at a
// time and always reports a sink latency of 0, so every reading is early by up to a quantum:
// there the latest reading is the true one, and a quantum more is taken ahead of the heard
// sample. The mapping moves only when it is off by more than a tolerance, so clicks on one grid
// stay whole intervals apart.
//
// The delay, from a beat's due time to its click, is what the output needs ahead of the heard
// sample (the sink's latency, or a quantum) plus a margin for a GUI thread that
// comes late; it grows at once and shrinks only when the smaller need has held for a while.
class StreamClock {
  public:
    static constexpr std::size_t Readings = 31;
    static constexpr std::size_t MinReadings = 5;
    static constexpr std::int64_t ToleranceNs = 1'000'000;
    // Kept beyond what the server needs, for the write to reach it in time; where readings
    // are early by up to a quantum, also an eighth of the quantum, for the mapping's own
    // error and for PipeWire taking a little more than a quantum ahead (100 ms at 4096).
    static constexpr std::int64_t SafetyNs = 3'000'000;
    static constexpr std::int64_t QuantumShare = 8;
    // How late a beat's handler may run and still have its click taken back on time.
    static constexpr std::int64_t GuiMarginNs = 4'000'000;
    // A smaller need must be this much smaller before the delay shrinks.
    static constexpr std::int64_t ShrinkNs = 3'000'000;
    // How long before and after the read index is due to move readings are taken.
    static constexpr std::int64_t JustBeforeNs = 1'000'000;
    static constexpr std::int64_t JustAfterNs = 2'000'000;
    static constexpr int MaxAfterTries = 8;

    explicit StreamClock(int rate) : m_rate(rate) {}

    // PipeWire's kind of readings (see above), or PulseAudio's.
    void setQuantized(bool quantized) { m_quantized = quantized; }
    // One reading of the server's; see above.
    void reading(std::int64_t atNs, std::int64_t readFrames, std::int64_t sinkNs,
                 std::int64_t transportNs);
    // The stream stood still or jumped (cork, underrun, suspend): the mapping no longer holds.
    // The output's need is kept unless `output` says the output itself changed.
    void resync(bool output = false);

    bool mapped() const { return m_mapped; }
    // The sample heard at `ns`, and when sample `frame` is heard; only while mapped.
    std::int64_t frameAt(std::int64_t ns) const;
    std::int64_t timeOf(std::int64_t frame) const;
    // How long before it is heard a sample must be with the server to be heard as written.
    std::int64_t leadNs() const { return m_leadNs + SafetyNs; }
    // From a beat's due time to its click being heard; 0 until there is a reading.
    std::int64_t delayNs() const { return m_delayNs; }
    // The quantum seen in the read index's steps, in frames (0 where there is none).
    std::int64_t quantum() const { return m_quantum; }
    std::int64_t moves() const { return m_moves; }
    // When to take the next reading, about `paceNs` from `nowNs`. Where the read index moves
    // by quanta, just before it moves: that reading is the one closest to the truth.
    std::int64_t nextReadingNs(std::int64_t nowNs, std::int64_t paceNs);

  private:
    void rederive();

    const int m_rate;
    bool m_quantized = false;
    bool m_mapped = false;
    bool m_fresh = true; // the next delay derived is taken as it is
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
