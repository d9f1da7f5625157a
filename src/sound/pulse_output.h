// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio_output.h"
#include "stream_clock.h"

#include <cstdint>
#include <memory>
#include <vector>

struct pa_context;
struct pa_io_event;
struct pa_mainloop_api;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct timeval;

namespace sound {

// The stream to the PulseAudio server (PipeWire's too), on libpulse's own thread. The
// server holds a long buffer, so the machine wakes seldom; the mixer writes it far ahead and
// writes it again where a click comes or goes. The server is asked often where playback is,
// so that the mixer knows when each sample is heard and how far ahead of that the server
// takes it. A server that is missing or goes away is tried again every second. After a few
// seconds without clicks the stream is corked and the thread sleeps, so that the device and
// the machine can rest. The GUI thread only ever wakes the thread, through an eventfd: it
// never takes the mainloop's lock.
class PulseOutput : public AudioOutput {
  public:
    // The buffer asked of the server, and the block it asks for at a time. PulseAudio sets
    // the sink's own latency to (buffer - 2 blocks) / 2, 20 ms here: the least the server
    // wakes for while the click, with its margins, stays within 30 ms of its beat. PipeWire's
    // server runs its graph at a quantum that follows the buffer and the block: its default of 1024
    // samples here. Twice that would cost the server half as much, and the click 20 ms more.
    static constexpr int BufferMs = 500;
    static constexpr int BlockMs = 230;
    static constexpr int PipeWireBufferMs = 160;
    static constexpr int PipeWireBlockMs = 50;
    // How often the server is asked where playback is: often until the mapping stands.
    // PipeWire's readings come in pairs around a step of its read index (see StreamClock).
    static constexpr int TimingMs = 200;
    static constexpr int PipeWireTimingMs = 500;
    static constexpr int FirstTimingMs = 5;
    static constexpr int RetryMs = 1000;
    static constexpr int IdleMs = 5000;

    PulseOutput() = default;
    ~PulseOutput() override;

    void start(std::shared_ptr<ClickMixer> mixer) override;
    void wake() override;

  private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onTiming(pa_stream* stream, int success, void* self);
    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const timeval* tv, void* self);
    static void onMoved(pa_stream* stream, void* self);
    static void onSuspended(pa_stream* stream, void* self);

    void connect();
    void openStream();
    void drop();
    void lost();
    void tick();
    void askTiming();
    void cork(bool cork);
    void arm(int ms);
    void armNs(std::int64_t ns);
    void push(std::size_t frames);
    void askSink();
    void woken();
    void changed(StreamClock::Change change);

    std::shared_ptr<ClickMixer> m_mixer;
    pa_threaded_mainloop* m_loop = nullptr;
    // Mainloop thread only, or with the mainloop locked.
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_timer = nullptr;
    pa_io_event* m_wakeEvent = nullptr;
    int m_wakeFd = -1; // written by any thread, read by the mainloop
    std::int64_t m_retryAtNs = 0;
    std::vector<std::int16_t> m_out; // what the mixer has for the server
    int m_bufferMs = BufferMs;
    int m_blockMs = BlockMs;
    int m_timingMs = TimingMs;
    bool m_realtimeTried = false;
    bool m_saidMissing = false;
    bool m_timingAsked = false;
    std::int64_t m_activeSinceNs = 0; // opened or woken
    bool m_corked = false;
};

} // namespace sound
