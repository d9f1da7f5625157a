// SPDX-License-Identifier: GPL-3.0-or-later
#include "pulse_output.h"

#include "click_mixer.h"

#include <pulse/pulseaudio.h>

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace sound {

namespace {

std::int64_t monotonicNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint32_t bytesFor(int ms, int rate) {
    return static_cast<std::uint32_t>(rate / 1000 * ms * sizeof(std::int16_t));
}

// An audio thread that waits behind busy programs lets the server's buffer run dry. Ask
// for real-time scheduling where we may have it; carry on quietly where we may not.
void tryRealtime() {
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
}

constexpr std::int64_t NsPerMs = 1'000'000;

// What the desktop's mixer shows for us, and how it treats the stream.
constexpr const char* AppId = "org.velkaro.Metronome";

pa_proplist* appProperties() {
    pa_proplist* p = pa_proplist_new();
    pa_proplist_sets(p, PA_PROP_APPLICATION_NAME, "Metronome");
    pa_proplist_sets(p, PA_PROP_APPLICATION_ID, AppId);
    pa_proplist_sets(p, PA_PROP_APPLICATION_ICON_NAME, AppId);
    return p;
}

} // namespace

PulseOutput::~PulseOutput() {
    if (m_loop) {
        pa_threaded_mainloop_lock(m_loop);
        drop();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        if (m_timer)
            api->time_free(m_timer);
        if (m_wakeEvent)
            api->io_free(m_wakeEvent);
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void PulseOutput::start(std::shared_ptr<ClickMixer> mixer) {
    if (m_loop || !mixer)
        return;
    m_mixer = std::move(mixer);
    m_out.reserve(static_cast<std::size_t>(ClickMixer::KeptFrames));
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        return;
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    pa_threaded_mainloop_lock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) == 0) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        timeval now{};
        m_timer = api->time_new(api, pa_gettimeofday(&now), &PulseOutput::onTimer, this);
        if (m_wakeFd >= 0)
            m_wakeEvent = api->io_new(
                api, m_wakeFd, PA_IO_EVENT_INPUT,
                [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
                    std::uint64_t count = 0;
                    (void)!::read(fd, &count, sizeof count);
                    static_cast<PulseOutput*>(self)->woken();
                },
                this);
        m_retryAtNs = monotonicNs() + std::int64_t{RetryMs} * NsPerMs;
        connect();
    }
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseOutput::wake() {
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0)
        (void)!::write(m_wakeFd, &one, sizeof one);
}

// The GUI thread's news, on the mainloop's own thread: a corked stream plays again, and the
// plan is written into the stream now rather than when the server next asks for samples.
void PulseOutput::woken() {
    if (m_corked) {
        cork(false);
        arm(0);
    } else if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        push(0);
    }
}

// The mixer's samples to the server: where it wrote over samples already there, back from
// the write index by as much, so that the stream's timeline stays as it was.
void PulseOutput::push(std::size_t frames) {
    const std::int64_t end = m_mixer->written();
    const std::int64_t from = m_mixer->write(m_mixer->openFrameAt(monotonicNs()), frames, m_out);
    if (m_out.empty())
        return;
    const auto back = static_cast<std::int64_t>((end - from) * sizeof(std::int16_t));
    pa_stream_write(m_stream, m_out.data(), m_out.size() * sizeof(std::int16_t), nullptr, -back,
                    PA_SEEK_RELATIVE);
}

void PulseOutput::connect() {
    pa_proplist* props = appProperties();
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Metronome", props);
    pa_proplist_free(props);
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        lost();
}

void PulseOutput::onContextState(pa_context* context, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        // PipeWire's PulseAudio server runs its graph at a quantum near the block asked
        // for, and its readings are of another kind (see StreamClock).
        if (pa_operation* op = pa_context_get_server_info(
                context,
                [](pa_context* c, const pa_server_info* info, void* self) {
                    auto* out = static_cast<PulseOutput*>(self);
                    if (c != out->m_context || out->m_stream ||
                        pa_context_get_state(c) != PA_CONTEXT_READY)
                        return;
                    const bool pipewire =
                        info && info->server_name && std::strstr(info->server_name, "PipeWire");
                    out->m_bufferMs = pipewire ? PipeWireBufferMs : BufferMs;
                    out->m_blockMs = pipewire ? PipeWireBlockMs : BlockMs;
                    out->m_timingMs = pipewire ? PipeWireTimingMs : TimingMs;
                    out->m_mixer->clock().setKind(pipewire ? StreamClock::Kind::Quantized
                                                           : StreamClock::Kind::Pulse);
                    out->openStream();
                },
                out))
            pa_operation_unref(op);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        out->lost();
        break;
    default:
        break;
    }
}

void PulseOutput::openStream() {
    const int rate = m_mixer->rate();
    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), 1};
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Metronome click");
    // A musician's tool, heard along with the music played to it; not an event sound.
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    m_stream = pa_stream_new_with_proplist(m_context, "Metronome click", &spec, nullptr, props);
    pa_proplist_free(props);
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
    pa_stream_set_moved_callback(m_stream, &PulseOutput::onMoved, this);
    pa_stream_set_suspended_callback(m_stream, &PulseOutput::onSuspended, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytesFor(m_bufferMs, rate);
    // Playing from the first sample and on through an underrun keeps the stream's samples
    // on one timeline with the clock: what comes too late is lost, nothing shifts.
    attr.prebuf = 0;
    attr.minreq = bytesFor(m_blockMs, rate);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    m_mixer->restart(monotonicNs());
    m_timingAsked = false;
    m_corked = false;
    m_activeSinceNs = monotonicNs();
    arm(0);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0) {
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
}

void PulseOutput::onStreamState(pa_stream* stream, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
        out->askSink();
        if (out->m_saidMissing)
            std::fprintf(stderr, "metronome: sound server found; the click sounds again\n");
        out->m_saidMissing = false;
        break;
    }
    case PA_STREAM_FAILED:
        // The server is still there, the stream is not: the timer opens a new one.
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        out->m_stream = nullptr;
        out->arm(TimingMs);
        break;
    default:
        break;
    }
}

void PulseOutput::onWrite(pa_stream*, std::size_t bytes, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    if (!out->m_realtimeTried) {
        out->m_realtimeTried = true;
        tryRealtime();
    }
    out->push(bytes / sizeof(std::int16_t));
}

// Another sink, or the same one woken from a suspend: its timing and its needs are new.
void PulseOutput::onMoved(pa_stream*, void* self) {
    static_cast<PulseOutput*>(self)->changed(StreamClock::Change::Move);
}

void PulseOutput::onSuspended(pa_stream*, void* self) {
    static_cast<PulseOutput*>(self)->changed(StreamClock::Change::Output);
}

void PulseOutput::changed(StreamClock::Change change) {
    m_mixer->resync(change);
    askSink();
    arm(0);
}

// A sink's latency may saw as it takes data in chunks (a network sink does): the latency it
// was configured for is the most it reports, known before its readings show it.
void PulseOutput::askSink() {
    if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    if (pa_operation* op = pa_context_get_sink_info_by_index(
            m_context, pa_stream_get_device_index(m_stream),
            [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                auto* out = static_cast<PulseOutput*>(self);
                if (eol == 0 && info && out->m_stream &&
                    info->index == pa_stream_get_device_index(out->m_stream))
                    out->m_mixer->clock().needAtLeast(
                        static_cast<std::int64_t>(info->configured_latency) * 1000);
            },
            this))
        pa_operation_unref(op);
}

void PulseOutput::askTiming() {
    if (m_timingAsked || !m_stream || m_corked || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    if (pa_operation* op = pa_stream_update_timing_info(m_stream, &PulseOutput::onTiming, this)) {
        m_timingAsked = true;
        pa_operation_unref(op);
    }
}

void PulseOutput::onTiming(pa_stream* stream, int success, void* self) {
    auto* out = static_cast<PulseOutput*>(self);
    out->m_timingAsked = false;
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (!success || !info || info->read_index_corrupt || !info->playing || out->m_corked)
        return;
    // The server's answer holds for the moment it was given (its timestamp, on the same
    // wall clock as ours): the sample at the read index is heard a sink latency later.
    timeval now{};
    pa_gettimeofday(&now);
    const auto age = static_cast<std::int64_t>(pa_timeval_diff(&now, &info->timestamp)) * 1000;
    const std::int64_t at = monotonicNs() - age;
    if (out->m_mixer->timing(at, info->read_index / static_cast<std::int64_t>(sizeof(std::int16_t)),
                             static_cast<std::int64_t>(info->sink_usec) * 1000,
                             static_cast<std::int64_t>(info->transport_usec) * 1000))
        out->push(0);
    StreamClock& clock = out->m_mixer->clock();
    if (clock.mapped()) {
        const std::int64_t now = monotonicNs();
        out->armNs(clock.nextReadingNs(now, std::int64_t{out->m_timingMs} * NsPerMs) - now);
    }
}

void PulseOutput::cork(bool corked) {
    if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    if (pa_operation* op = pa_stream_cork(m_stream, corked ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
    m_corked = corked;
    // Corked, the stream's timeline stood still while the clock went on.
    m_mixer->resync();
    // Woken, it gets the same few seconds as a new stream before it may rest again.
    if (!corked)
        m_activeSinceNs = monotonicNs();
}

void PulseOutput::drop() {
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    m_corked = false;
}

void PulseOutput::arm(int ms) {
    armNs(std::int64_t{ms} * NsPerMs);
}

void PulseOutput::armNs(std::int64_t ns) {
    if (!m_timer)
        return;
    timeval next{};
    pa_timeval_add(pa_gettimeofday(&next),
                   static_cast<pa_usec_t>(std::max<std::int64_t>(ns, 0) / 1000));
    pa_threaded_mainloop_get_api(m_loop)->time_restart(m_timer, &next);
}

void PulseOutput::lost() {
    if (!m_saidMissing)
        std::fprintf(stderr, "metronome: no sound server; the beat flashes silently and the "
                             "click starts when one appears\n");
    m_saidMissing = true;
    drop();
    arm(TimingMs);
}

void PulseOutput::onTimer(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<PulseOutput*>(self)->tick();
}

// Armed again by itself while there is a stream to watch or a server to find; a corked stream
// needs neither, and the thread sleeps until a click is asked for.
void PulseOutput::tick() {
    const std::int64_t now = monotonicNs();
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_READY || !m_stream) {
        if (now >= m_retryAtNs) {
            m_retryAtNs = now + std::int64_t{RetryMs} * NsPerMs;
            if (!m_context)
                connect();
            else if (pa_context_get_state(m_context) == PA_CONTEXT_READY && !m_stream)
                openStream();
        }
        if (m_stream)
            arm(FirstTimingMs);
        else
            armNs(m_retryAtNs - now);
        return;
    }
    if (m_corked)
        return;
    const std::int64_t last = std::max(m_mixer->lastAskedNs(), m_activeSinceNs);
    const bool idle = now - last > std::int64_t{IdleMs} * NsPerMs;
    if (idle && !m_mixer->busy()) {
        cork(true);
        return;
    }
    // The reply arms the timer for the reading after it; this only keeps the timer going.
    askTiming();
    arm(m_mixer->clock().mapped() ? m_timingMs : FirstTimingMs);
}

} // namespace sound
