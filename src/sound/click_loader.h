// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace sound {

// A click ready to mix: mono float samples at the stream's rate.
using ClickSamples = std::vector<float>;
using ClickPtr = std::shared_ptr<const ClickSamples>;

// The stream's sample rate and the longest click kept; a longer file is cut.
inline constexpr int StreamRate = 48000;
inline constexpr double MaxClickSeconds = 3.0;

// Decodes a sound file of any format libsndfile reads, downmixes it to mono and converts it
// to `rate`. Anything that is not a regular, readable, decodable file with at least one
// sample gives nullptr, and says why in `why` when given. Never blocks on FIFOs or devices.
ClickPtr loadClickFile(const std::string& path, int rate = StreamRate, std::string* why = nullptr);
// The same for a file held in memory (the built-in click).
ClickPtr loadClickBytes(const void* data, std::size_t size, int rate = StreamRate);

} // namespace sound
