// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
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
    // Any thread, and it never waits: the mixer has a new plan. An output resting its device
    // gets it going again; one that holds a long buffer writes the change into it now.
    virtual void wake() {}
};

enum class OutputKind { PipeWire, Pulse };

// Which output to open: `forced` is METRONOME_AUDIO's value, if any ("pipewire" or "pulse");
// otherwise PipeWire's own where `pipeWirePlays` says its daemon plays sound here.
OutputKind chooseOutput(const char* forced, const std::function<bool()>& pipeWirePlays);

// The output for this desktop, chosen once: PipeWire's own stream where a PipeWire daemon
// that plays sound answers, PulseAudio's protocol otherwise (PulseAudio itself, or any server
// that comes later). METRONOME_AUDIO=pipewire or =pulse forces either.
std::unique_ptr<AudioOutput> openAudioOutput();

} // namespace sound
