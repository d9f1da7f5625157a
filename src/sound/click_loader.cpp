// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_loader.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sound {

namespace {

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndPtr = std::unique_ptr<SNDFILE, SndCloser>;

ClickPtr fail(std::string* why, const char* reason) {
    if (why) {
        *why = reason;
        if (!why->empty() && why->back() == '.')
            why->pop_back();
    }
    return nullptr;
}

ClickPtr decode(SNDFILE* raw, const SF_INFO& info, int rate, std::string* why) {
    SndPtr file(raw);
    if (!file)
        return fail(why, sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 1)
        return fail(why, "No samples in it");
    // Bound what a file can make us hold, whatever its header claims.
    constexpr sf_count_t MaxSamples = 4 << 20;
    const auto cap = static_cast<sf_count_t>(MaxClickSeconds * info.samplerate);
    const sf_count_t frames = std::min({info.frames, cap, MaxSamples / info.channels});
    if (frames < 1)
        return fail(why, "No samples in it");
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * info.channels);
    const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), frames);
    if (got < 1)
        return fail(why, "Its samples cannot be read");

    std::vector<float> mono(static_cast<std::size_t>(got));
    for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (int c = 0; c < info.channels; ++c)
            sum += interleaved[static_cast<std::size_t>(i * info.channels + c)];
        // A float file may hold NaN or infinities; they must not reach the stream.
        const float v = sum / info.channels;
        mono[static_cast<std::size_t>(i)] = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }
    if (info.samplerate == rate)
        return std::make_shared<const ClickSamples>(std::move(mono));

    const double ratio = static_cast<double>(rate) / info.samplerate;
    std::vector<float> out(static_cast<std::size_t>(mono.size() * ratio) + 16);
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(mono.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_FASTEST, 1) != 0 || data.output_frames_gen < 1)
        return fail(why, "Its sample rate cannot be converted");
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    for (float& s : out)
        s = std::clamp(s, -1.0f, 1.0f);
    return std::make_shared<const ClickSamples>(std::move(out));
}

// libsndfile reading from a byte range in memory.
struct Memory {
    const unsigned char* data;
    sf_count_t size;
    sf_count_t pos;
};

sf_count_t memLength(void* user) {
    return static_cast<Memory*>(user)->size;
}
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Memory*>(user);
    sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
    m->pos = std::clamp<sf_count_t>(base + offset, 0, m->size);
    return m->pos;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(m->size - m->pos, 0, count);
    std::memcpy(ptr, m->data + m->pos, static_cast<std::size_t>(n));
    m->pos += n;
    return n;
}
sf_count_t memWrite(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t memTell(void* user) {
    return static_cast<Memory*>(user)->pos;
}

} // namespace

ClickPtr loadClickFile(const std::string& path, int rate, std::string* why) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; then only regular files pass.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(why, std::strerror(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(why, std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail(why, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file");
    if (st.st_size == 0)
        return fail(why, "Empty file");
    SF_INFO info{};
    return decode(sf_open_fd(fd, SFM_READ, &info, SF_FALSE), info, rate, why);
}

ClickPtr loadClickBytes(const void* data, std::size_t size, int rate) {
    if (!data || size == 0)
        return nullptr;
    Memory mem{static_cast<const unsigned char*>(data), static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    return decode(sf_open_virtual(&io, SFM_READ, &info, &mem), info, rate, nullptr);
}

} // namespace sound
