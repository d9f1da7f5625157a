#pragma once

#include <cstdint>
#include <memory>

namespace sound {

class ClickMixer;

// Where the mixed stream goes. An output pulls samples from the mixer on a thread of its
// own for as long as it lives, and keeps trying to reach the audio device when it is gone.
class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Starts pulling from `mixer`; the output keeps it alive as long as it needs it.
    virtual void start(std::shared_ptr<ClickMixer> mixer) = 0;
    // How far ahead of a requested time a click must be placed so that its sample has not
    // been written yet: the output's buffer plus how late it picks requests up.
    virtual std::int64_t latencyNs() const = 0;
};

} // namespace sound
