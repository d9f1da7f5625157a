#pragma once

namespace sound {

class ClickMixer;

// Where the mixed stream goes. An output pulls samples from the mixer on a thread of its
// own for as long as it lives, and keeps trying to reach the audio device when it is gone.
class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Starts pulling from `mixer`, which must outlive the output.
    virtual void start(ClickMixer& mixer) = 0;
    // Whether a stream is open right now.
    virtual bool isOpen() const = 0;
};

} // namespace sound
