#pragma once

#include "audio_output.h"
#include "click_mixer.h"
#include "click_source.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace sound {

// Starts a click for a file, to sound at a given monotonic time; returns at once.
class TimedPlayer {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~TimedPlayer() = default;
    virtual void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) = 0;
};

// Our PlaySoundA: starts the click for a file and returns at once. The click sounds at the
// stream sample of the time it was asked for, plus the output's constant latency.
class ClickPlayer : public TimedPlayer {
  public:
    // Plays through `output`; the built-in click comes from `fallback`.
    ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback);

    // SND_FILENAME | SND_ASYNC behaviour; SND_NODEFAULT (0x2) keeps a missing file silent.
    void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) override;

    const ClickMixer& mixer() const { return *m_mixer; }
    const ClickSource& source() const { return m_source; }

  private:
    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<ClickMixer> m_mixer;
    ClickSource m_source;
};

} // namespace sound
