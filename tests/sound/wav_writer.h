#pragma once

#include <sndfile.h>

#include <cmath>
#include <string>
#include <vector>

// Writes a test sound: silence, then a 10 ms burst at `level` starting at `onsetSeconds`,
// on every channel, in the given libsndfile format.
inline bool writeTestSound(const std::string& path, int format, int rate, int channels,
                           double seconds, double onsetSeconds, float level) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> data(frames * static_cast<std::size_t>(channels), 0.0f);
    const auto onset = static_cast<std::size_t>(onsetSeconds * rate);
    const auto burst = static_cast<std::size_t>(0.01 * rate);
    for (std::size_t i = onset; i < std::min(frames, onset + burst); ++i)
        for (int c = 0; c < channels; ++c)
            data[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = level;
    sf_writef_float(f, data.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
    return true;
}
