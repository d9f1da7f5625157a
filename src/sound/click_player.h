#pragma once

#include "audio_output.h"
#include "click_mixer.h"
#include "click_source.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace sound {

// Starts a click for a file, to sound at a given monotonic time; returns at once.
class TimedPlayer {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~TimedPlayer() = default;
    // The click is heard `delay()` after `at`.
    virtual void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) = 0;
    // How long after its due time every click is heard.
    virtual std::chrono::nanoseconds delay() const { return {}; }
    // A click may be asked for soon (Mute or Pause changed): have the sound ready for it.
    virtual void wake() {}
    // The file the beats will ask for: read it now, so that the first beat can play it.
    virtual void prepare(const char* path) { (void)path; }

    // Clicks ahead of their beat. A beat that clicked is likely to be followed by one that
    // does the same, so its click is placed as soon as the beat before it is done: a late
    // tick then no longer loses it. It is taken back when anything changes first.
    //
    // A beat's handler is done; the next beat is due at `next`, if at all.
    virtual void ticked(std::optional<Clock::time_point> next) { (void)next; }
    // The beat's timer started again, its next beat due at `next`, if at all.
    virtual void retimed(std::optional<Clock::time_point> next) { (void)next; }
    // Something that decides whether the next beat clicks has changed.
    virtual void withdraw() {}
};

// Our PlaySoundA: starts the click for a file and returns at once. The click sounds at the
// stream sample heard at the time it was asked for, plus the output's constant delay.
class ClickPlayer : public TimedPlayer {
  public:
    // Plays through `output`; the built-in click comes from `fallback`.
    ClickPlayer(std::unique_ptr<AudioOutput> output, ClickPtr fallback);

    // SND_FILENAME | SND_ASYNC behaviour; SND_NODEFAULT (0x2) keeps a missing file silent.
    void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) override;
    std::chrono::nanoseconds delay() const override;
    void wake() override;
    void prepare(const char* path) override;
    void ticked(std::optional<Clock::time_point> next) override;
    void retimed(std::optional<Clock::time_point> next) override;
    void withdraw() override;

    const ClickMixer& mixer() const { return *m_mixer; }
    const ClickSource& source() const { return m_source; }

  private:
    void send(bool sent);
    void foresee(std::optional<Clock::time_point> next);
    void takeBack();

    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<ClickMixer> m_mixer;
    ClickSource m_source;
    ClickPtr m_last;                          // the last beat's click
    bool m_clickedThisBeat = false;           // since the last `ticked`
    bool m_repeats = false;                   // the next beat is expected to click like the last
    std::optional<std::int64_t> m_foreseenNs; // placed ahead, not yet asked for by its beat
};

} // namespace sound
