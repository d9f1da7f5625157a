// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio_output.h"
#include "click_mixer.h"
#include "click_source.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

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

    // SND_FILENAME | SND_ASYNC behaviour; SND_NODEFAULT (0x2) keeps a missing file silent.
    void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) override;
    std::chrono::nanoseconds delay() const override;
    void prepare(const char* path) override;
    void foresee(std::optional<BeatGrid> grid, bool clicks) override;

    const ClickMixer& mixer() const { return *m_mixer; }
    const ClickSource& source() const { return m_source; }

  private:
    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<ClickMixer> m_mixer;
    ClickSource m_source;
    ClickPtr m_last; // the last beat's click, or the one prepared
    struct Foreseen {
        BeatGrid grid;
        ClickPtr click;
    };
    std::optional<Foreseen> m_foreseen; // what the mixer was last told
};

} // namespace sound
