#pragma once

#include "audio_output.h"

#include <atomic>
#include <cstdint>
#include <memory>

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct timeval;

namespace sound {

// The stream to the PulseAudio server (PipeWire's too), on libpulse's own thread. It keeps
// the server's buffer short, fills it when the server asks, and asks the server often where
// playback is, so that the mixer knows when each sample is heard. A server that is missing
// or goes away is tried again every second. After a few seconds without clicks the stream
// is corked so that the device can rest.
class PulseOutput : public AudioOutput {
  public:
    // The latency asked of the server (its buffer and the device's), and the block it asks
    // for at a time; larger blocks cost less CPU and do not add to the latency, as clicks
    // are placed the moment they are asked for.
    static constexpr int TargetMs = 12;
    static constexpr int BlockMs = 10;
    static constexpr int SmallBlockMs = 4; // see PA_CONTEXT_READY
    // From due time to heard: the latency, and what the GUI thread may be late.
    static constexpr int DelayMs = 28;
    // How often the server is asked where playback is, once the mapping stands.
    static constexpr int TimingMs = 100;
    static constexpr int RetryMs = 1000;
    static constexpr int IdleMs = 5000;

    PulseOutput() = default;
    ~PulseOutput() override;

    void start(std::shared_ptr<ClickMixer> mixer) override;
    std::int64_t delayNs() const override { return std::int64_t{DelayMs} * 1'000'000; }
    void wake() override;
    void deliver() override;

  private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onTiming(pa_stream* stream, int success, void* self);
    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const timeval* tv, void* self);

    void connect();
    void openStream();
    void drop();
    void lost();
    void tick();
    void askTiming();
    void cork(bool cork);

    std::shared_ptr<ClickMixer> m_mixer;
    pa_threaded_mainloop* m_loop = nullptr;
    // Mainloop thread only, or with the mainloop locked.
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_timer = nullptr;
    int m_ticks = 0;
    int m_blockMs = BlockMs;
    bool m_realtimeTried = false;
    bool m_saidMissing = false;
    bool m_timingAsked = false;
    std::int64_t m_activeSinceNs = 0; // opened or woken
    std::atomic<bool> m_corked{false};
};

} // namespace sound
