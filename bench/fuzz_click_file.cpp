// SPDX-License-Identifier: GPL-3.0-or-later
// Everything a sound file reaches: decoding, rate conversion and the mixer that plays it.
#include "sound/click_loader.h"
#include "sound/click_mixer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the stream rate, so conversion runs both ways.
    static constexpr int Rates[] = {48000, 44100, 8000, 96000};
    const int rate = size > 0 ? Rates[data[0] % 4] : 48000;
    const sound::ClickPtr click = sound::loadClickBytes(data, size, rate);
    if (!click)
        return 0;
    if (click->empty() ||
        click->size() > static_cast<std::size_t>(sound::MaxClickSeconds * rate) + 64)
        __builtin_trap();
    for (float s : *click)
        if (!(s >= -1.0f && s <= 1.0f))
            __builtin_trap();
    sound::ClickMixer mixer(rate);
    sound::Plan plan;
    plan.asked[0] = {60'000'000, click.get()};
    plan.asked[1] = {61'000'000, click.get()};
    plan.askedCount = 2;
    plan.foreseen = {70'000'000, click.get()};
    plan.intervalNs = 150'000'000;
    mixer.publish(plan);
    std::vector<std::int16_t> out;
    for (int i = 0; i < 8; ++i) {
        mixer.timing(i * 20'000'000LL, i * rate / 50, 0, 0);
        mixer.write(mixer.openFrameAt(i * 20'000'000LL), 1024, out);
    }
    return 0;
}
