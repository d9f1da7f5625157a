#include "pulse_output.h"

#include "click_mixer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <vector>

namespace sound {

namespace {

std::int64_t monotonicNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint32_t bytesFor(int ms, int rate) {
    return static_cast<std::uint32_t>(rate / 1000 * ms * sizeof(std::int16_t));
}

} // namespace

PulseOutput::~PulseOutput() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->wake.notify_all();
    // A write returns within a block unless the server hangs; then the thread is left to
    // end with the process rather than keep the program from closing.
    std::unique_lock lock(m_state->mutex);
    if (m_state->wake.wait_for(lock, std::chrono::seconds(1),
                               [this] { return m_state->done.load(); }))
        m_thread.join();
    else
        m_thread.detach();
}

std::int64_t PulseOutput::latencyNs() const {
    // The server's buffer, full; a block being rendered ahead of it; up to two blocks
    // until the audio thread sees a request; a margin. Measured, the least a click's
    // sample was still ahead of the writing came to 1 ms without the third block.
    return std::int64_t{BufferMs + 3 * BlockMs + 10} * 1'000'000;
}

void PulseOutput::start(std::shared_ptr<ClickMixer> mixer) {
    if (m_thread.joinable() || !mixer)
        return;
    m_thread = std::thread(&PulseOutput::run, m_state, std::move(mixer));
}

void PulseOutput::run(std::shared_ptr<State> state, std::shared_ptr<ClickMixer> mixer) {
    const int rate = mixer->rate();
    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), 1};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(BufferMs, rate);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = bytesFor(BlockMs, rate);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    std::vector<std::int16_t> block(static_cast<std::size_t>(rate / 1000 * BlockMs));

    while (!state->stop) {
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "Metronome", PA_STREAM_PLAYBACK, nullptr,
                                          "click", &spec, nullptr, &attr, &error);
        if (stream) {
            mixer->restart();
            while (!state->stop) {
                mixer->render(block.data(), block.size(), monotonicNs());
                // Blocks until the server has room: this paces the loop.
                if (pa_simple_write(stream, block.data(), block.size() * sizeof(std::int16_t),
                                    &error) < 0)
                    break;
            }
            pa_simple_free(stream);
        }
        std::unique_lock lock(state->mutex);
        state->wake.wait_for(lock, std::chrono::milliseconds(RetryMs),
                             [&] { return state->stop.load(); });
    }
    std::lock_guard lock(state->mutex);
    state->done = true;
    state->wake.notify_all();
}

} // namespace sound
