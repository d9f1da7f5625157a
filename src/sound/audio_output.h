#pragma once

#include <cstdint>
#include <memory>

namespace sound {

class ClickMixer;

// Where the mixed stream goes. An output pulls samples from the mixer on a thread of its
// own for as long as it lives, tells it when each sample is heard, and keeps trying to
// reach the audio device when it is gone.
class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Starts pulling from `mixer`; the output keeps it alive as long as it needs it.
    virtual void start(std::shared_ptr<ClickMixer> mixer) = 0;
    // How long after its due time a click is heard: the longest a click may take from
    // being asked for to being written, with the server's buffer ahead of it.
    virtual std::int64_t delayNs() const = 0;
    // A click may be asked for soon: an output resting its device gets it going again.
    virtual void wake() {}
    // A click was just asked for: an output that can hold its thread places it now, which
    // leaves it more time than waiting for the next block.
    virtual void deliver() {}
};

} // namespace sound
