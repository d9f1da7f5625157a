// SPDX-License-Identifier: GPL-3.0-or-later
// How long a sound file takes to become a click, for the largest files we accept (3 s, or
// more cut to 3 s), and what a beat pays on the window's thread: the path look-up and the
// stat. Usage: click_decode [RUNS] (default 5). One line per figure, times in ms.
#include "sound/click_source.h"
#include "window/desktop_path.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A tone with noise, so compressed formats have something to decode.
bool writeSound(const std::string& path, int format, int rate, int channels, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> data(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            data[i * channels + c] =
                0.4f * static_cast<float>(std::sin(2 * M_PI * 880.0 * i / rate)) + noise(rng);
    const bool ok = sf_writef_float(f, data.data(), static_cast<sf_count_t>(frames)) ==
                    static_cast<sf_count_t>(frames);
    sf_close(f);
    return ok;
}

struct Stats {
    double min, median, max;
};

template <typename F> Stats timeRuns(int runs, F&& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        t.push_back(ms(Clock::now() - start));
    }
    std::sort(t.begin(), t.end());
    return {t.front(), t[t.size() / 2], t.back()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString() + "/";

    struct Case {
        const char* name;
        int format, rate, channels;
        double seconds;
    };
    const Case cases[] = {
        {"wav16_48k_mono_3s", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 3},
        {"wav16_44k1_stereo_3s", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 3},
        {"wav24_96k_stereo_3s", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 96000, 2, 3},
        {"float_192k_stereo_3s", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 192000, 2, 3},
        {"float_192k_8ch_3s", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 192000, 8, 3},
        {"u8_8k_mono_3s", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 3},
        {"wav16_44k1_stereo_60s_cut", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 60},
        {"flac24_96k_stereo_3s", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2, 3},
        {"ogg_vorbis_44k1_stereo_3s", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, 3},
        {"wav16_1M_mono_3s", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1000000, 1, 3},
        {"wav16_48k_mono_0.1s", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1},
    };
    double worst = 0;
    for (const Case& c : cases) {
        const std::string path = base + c.name;
        if (!writeSound(path, c.format, c.rate, c.channels, c.seconds)) {
            std::printf("decode %s: cannot write\n", c.name);
            continue;
        }
        std::size_t samples = 0;
        const Stats s = timeRuns(runs, [&] {
            const sound::ClickPtr click = sound::loadClickFile(path);
            samples = click ? click->size() : 0;
        });
        worst = std::max(worst, s.max);
        std::printf("decode %-26s samples=%zu min=%.2f median=%.2f max=%.2f ms\n", c.name, samples,
                    s.min, s.median, s.max);
    }
    std::printf("decode worst=%.2f ms\n", worst);

    // What each beat costs the window's thread once the file is known.
    const std::string click = base + "click.wav";
    writeSound(click, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1);
    sound::ClickSource source(std::make_shared<const sound::ClickSamples>(1, 0.5f));
    source.clickFor(click);
    source.waitForDecode(std::chrono::seconds(10));
    constexpr int Beats = 20000;
    const Stats stat = timeRuns(5, [&] {
        for (int i = 0; i < Beats; ++i)
            source.clickFor(click);
    });
    std::printf("beat clickFor (stat, unchanged file) median=%.4f ms\n", stat.median / Beats);
    const char* design = "C:\\WINDOWS\\Desktop\\Cool Folder\\Music\\metronome.wav";
    const Stats look = timeRuns(5, [&] {
        for (int i = 0; i < Beats / 10; ++i)
            window::desktopPath(design);
    });
    std::printf("beat desktopPath (user-dirs.dirs read) median=%.4f ms\n",
                look.median / (Beats / 10));

    // A replaced file: the beat that sees it pays only the stat and the hand-over; the
    // decode runs beside it, and the beat after it plays the new click.
    const std::string target = base + "target.wav", next = base + "next.wav";
    std::vector<double> beatCost, ready;
    for (int i = 0; i < runs; ++i) {
        writeSound(next, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 192000, 2, i % 2 ? 0.1 : 3);
        std::rename(next.c_str(), target.c_str());
        const auto start = Clock::now();
        source.clickFor(base + "target.wav");
        beatCost.push_back(ms(Clock::now() - start));
        source.waitForDecode(std::chrono::seconds(10));
        ready.push_back(ms(Clock::now() - start));
        source.clickFor(base + "target.wav");
    }
    std::sort(beatCost.begin(), beatCost.end());
    std::sort(ready.begin(), ready.end());
    std::printf("replaced file: beat that sees it median=%.3f max=%.3f ms; decoded after "
                "median=%.2f max=%.2f "
                "ms; heard from the next beat; decodes=%d\n",
                beatCost[beatCost.size() / 2], beatCost.back(), ready[ready.size() / 2],
                ready.back(), source.decodes());
    return 0;
}
