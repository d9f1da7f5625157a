// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio_output.h"
#include "click_mixer.h"
#include "click_source.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace sound {

// When the beats after the one just done are due: from `next` on, every `interval`.
struct BeatGrid {
    std::chrono::steady_clock::time_point next;
    std::chrono::nanoseconds interval{};
};

// Starts a click for a file, to sound at a given monotonic time; returns at once.
class TimedPlayer {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~TimedPlayer() = default;
    // The click is heard `delay()` after `at`.
    virtual void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) = 0;
    // How long after its due time a click is heard now; it follows the output.
    virtual std::chrono::nanoseconds delay() const { return {}; }
    // When the click of the beat due at `due` is heard: where it is written already, as it
    // is written; otherwise `delay()` after it.
    virtual Clock::time_point heardAt(Clock::time_point due) const { return due + delay(); }
    // The file the beats will ask for: read it now, so that the first beat can play it.
    virtual void prepare(const char* path) { (void)path; }

    // Clicks ahead of their beats, so that a late tick loses nothing and an output that
    // needs its samples long before they are heard has them: the beats on `grid` click, or
    // (`clicks` false, or no grid) none does, until told otherwise. What was foreseen before
    // and has not sounded is taken back.
    virtual void foresee(std::optional<BeatGrid> grid, bool clicks) {
        (void)grid;
        (void)clicks;
    }
};

// Our PlaySoundA: starts the click for a file and returns at once. The click sounds at the
// stream sample heard at the time it was asked for, plus the delay the output needs.
class ClickPlayer : public TimedPlayer {
  public:
    // Plays through `output`; the built-in click comes from `fallback`.
    ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback);
    // The output's thread stops before the clicks it may be playing go.
    ~ClickPlayer() override;
    ClickPlayer(const ClickPlayer&) = delete;
    ClickPlayer& operator=(const ClickPlayer&) = delete;

    // SND_FILENAME | SND_ASYNC behaviour; SND_NODEFAULT (0x2) keeps a missing file silent.
    void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) override;
    std::chrono::nanoseconds delay() const override;
    Clock::time_point heardAt(Clock::time_point due) const override;
    void prepare(const char* path) override;
    void foresee(std::optional<BeatGrid> grid, bool clicks) override;

    const ClickMixer& mixer() const { return *m_mixer; }
    const ClickSource& source() const { return m_source; }

  private:
    // Hands the plan over; `changed`: it differs from the last in more than the beats
    // asked for, and the output hears of it at once.
    void publish(bool changed);
    const ClickSamples* keep(const ClickPtr& click);

    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<ClickMixer> m_mixer;
    ClickSource m_source;
    ClickPtr m_last; // the last beat's click, or the one prepared
    Plan m_plan;     // what the mixer was last told
    // The clicks plans refer to, and the last plan that did: freed only once the audio
    // thread is past that plan, so that it never frees one itself.
    std::vector<std::pair<ClickPtr, std::uint64_t>> m_kept;
};

} // namespace sound
