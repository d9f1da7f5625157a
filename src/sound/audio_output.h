// SPDX-License-Identifier: GPL-3.0-or-later
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
    // A click may be asked for soon: an output resting its device gets it going again.
    virtual void wake() {}
    // Clicks were asked for or foreseen: an output that can hold its thread writes them into
    // the stream now, rather than when the server next asks for samples.
    virtual void deliver() {}
};

} // namespace sound
