// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio_output.h"

#include "pipewire_output.h"
#include "pulse_output.h"

#include <cstdlib>
#include <string_view>

namespace sound {

OutputKind chooseOutput(const char* forced, const std::function<bool()>& pipeWirePlays) {
    const std::string_view want = forced ? forced : "";
    if (want == "pipewire")
        return OutputKind::PipeWire;
    if (want == "pulse")
        return OutputKind::Pulse;
    return pipeWirePlays() ? OutputKind::PipeWire : OutputKind::Pulse;
}

std::unique_ptr<AudioOutput> openAudioOutput() {
    // Long enough for a daemon that answers at all; a start with none waits no longer.
    constexpr int LookMs = 500;
    if (chooseOutput(std::getenv("METRONOME_AUDIO"),
                     [] { return PipeWireOutput::playsHere(LookMs); }) == OutputKind::PipeWire)
        return std::make_unique<PipeWireOutput>();
    return std::make_unique<PulseOutput>();
}

} // namespace sound
