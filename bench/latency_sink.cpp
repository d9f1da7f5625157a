// SPDX-License-Identifier: GPL-3.0-or-later
// PipeWire sinks that report a latency and truly delay by it, as a Bluetooth headset does,
// for bench/av_sync --latency: each NAME:MS is an Audio/Sink node that holds what it is
// played for exactly MS and then plays it to TARGET (a null sink whose monitor is recorded),
// and tells the graph those MS on top of TARGET's own latency, so that a stream playing to
// it sees them in its delay.
//
// Usage: latency_sink --target TARGET NAME:MS...
// Mono, 48 kHz; runs until it is killed.
//
// PipeWire's own parts do not do both: module-loopback's target.delay.sec delays without
// reporting it, and the pulse tunnel reports its configured latency while its real one
// creeps towards it under a rate-limited loop.

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>

#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 48000;

// One sink: its capture stream is the node others play to; a playback stream into the
// target, run by the capture stream's cycle, takes the samples out a fixed count later.
class DelaySink {
  public:
    DelaySink(pw_core* core, const std::string& name, std::uint32_t ms, const char* target)
        : m_delay(kRate * ms / 1000), m_ring(m_delay + kMaxQuantum, 0.0f) {
        pw_properties* in = pw_properties_new(PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_NAME,
                                              name.c_str(), PW_KEY_NODE_DESCRIPTION, name.c_str(),
                                              PW_KEY_AUDIO_CHANNELS, "1", nullptr);
        m_capture = pw_stream_new(core, name.c_str(), in);
        pw_properties* out = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_NODE_NAME,
                                               (name + "-out").c_str(), PW_KEY_TARGET_OBJECT,
                                               target, PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
        m_playback = pw_stream_new(core, (name + " out").c_str(), out);
        m_captureEvents.version = PW_VERSION_STREAM_EVENTS;
        m_captureEvents.process = [](void* self) {
            auto* s = static_cast<DelaySink*>(self);
            pw_stream_trigger_process(s->m_playback);
        };
        m_playbackEvents.version = PW_VERSION_STREAM_EVENTS;
        m_playbackEvents.process = [](void* self) { static_cast<DelaySink*>(self)->process(); };
        m_playbackEvents.param_changed = [](void* self, std::uint32_t id, const spa_pod* param) {
            if (id == SPA_PARAM_Latency)
                static_cast<DelaySink*>(self)->report(param);
        };
        pw_stream_add_listener(m_capture, &m_captureHook, &m_captureEvents, this);
        pw_stream_add_listener(m_playback, &m_playbackHook, &m_playbackEvents, this);

        std::uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = kRate;
        info.channels = 1;
        info.position[0] = SPA_AUDIO_CHANNEL_MONO;
        const spa_pod* params[] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
        // The playback side first, so that it is there when the capture side runs it.
        pw_stream_connect(
            m_playback, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                         PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_TRIGGER),
            params, 1);
        pw_stream_connect(m_capture, PW_DIRECTION_INPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                       PW_STREAM_FLAG_MAP_BUFFERS |
                                                       PW_STREAM_FLAG_RT_PROCESS),
                          params, 1);
        report(nullptr);
    }

    ~DelaySink() {
        pw_stream_destroy(m_capture);
        pw_stream_destroy(m_playback);
    }

  private:
    // Enough for any quantum the graph runs at (8192 is PipeWire's largest by default).
    static constexpr std::uint32_t kMaxQuantum = 16384;

    // What is downstream of us, plus our own delay, is what a stream playing to us waits.
    void report(const spa_pod* downstream) {
        spa_latency_info latency = SPA_LATENCY_INFO(SPA_DIRECTION_INPUT);
        if (downstream) {
            spa_latency_info seen{};
            if (spa_latency_parse(downstream, &seen) < 0 || seen.direction != SPA_DIRECTION_INPUT)
                return;
            latency = seen;
        }
        latency.min_rate += m_delay;
        latency.max_rate += m_delay;
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[] = {spa_latency_build(&b, SPA_PARAM_Latency, &latency)};
        pw_stream_update_params(m_capture, params, 1);
    }

    // Each cycle the samples taken in go to the ring's end and as many leave its start, so
    // they leave exactly m_delay samples after they came; silence where nothing came. The
    // ring moves with the graph's clock, not with our calls: a cycle we missed (a busy
    // machine) is silence, not a quantum more delay for everything after it.
    void process() {
        pw_buffer* out = pw_stream_dequeue_buffer(m_playback);
        pw_buffer* in = pw_stream_dequeue_buffer(m_capture);
        pw_time t{};
        pw_stream_get_time_n(m_playback, &t, sizeof t);
        if (m_running && t.ticks > m_nextTicks) {
            const std::uint64_t missed =
                std::min<std::uint64_t>(t.ticks - m_nextTicks, m_ring.size());
            for (std::uint64_t i = 0; i < missed; ++i) {
                m_ring[(m_head + m_delay) % m_ring.size()] = 0.0f;
                m_head = (m_head + 1) % m_ring.size();
            }
        }
        if (out) {
            spa_data& d = out->buffer->datas[0];
            auto n = d.maxsize / static_cast<std::uint32_t>(sizeof(float));
            if (out->requested)
                n = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(out->requested));
            n = std::min(n, kMaxQuantum);
            const float* src = nullptr;
            std::uint32_t have = 0;
            if (in) {
                const spa_data& s = in->buffer->datas[0];
                const std::uint32_t offset = std::min(s.chunk->offset, s.maxsize);
                have = std::min(s.chunk->size, s.maxsize - offset) /
                       static_cast<std::uint32_t>(sizeof(float));
                src = static_cast<const float*>(SPA_PTROFF(s.data, offset, void));
            }
            auto* dst = static_cast<float*>(d.data);
            const std::size_t size = m_ring.size();
            for (std::uint32_t i = 0; i < n; ++i) {
                m_ring[(m_head + m_delay) % size] = src && i < have ? src[i] : 0.0f;
                dst[i] = m_ring[m_head];
                m_head = (m_head + 1) % size;
            }
            m_nextTicks = t.ticks + n;
            m_running = true;
            d.chunk->offset = 0;
            d.chunk->stride = sizeof(float);
            d.chunk->size = n * static_cast<std::uint32_t>(sizeof(float));
            pw_stream_queue_buffer(m_playback, out);
        }
        if (in)
            pw_stream_queue_buffer(m_capture, in);
    }

    const std::uint32_t m_delay;
    std::vector<float> m_ring;
    std::size_t m_head = 0;
    bool m_running = false;
    std::uint64_t m_nextTicks = 0; // the graph's position our next cycle should start at
    pw_stream* m_capture = nullptr;
    pw_stream* m_playback = nullptr;
    spa_hook m_captureHook{}, m_playbackHook{};
    pw_stream_events m_captureEvents{}, m_playbackEvents{};
};

} // namespace

int main(int argc, char** argv) {
    const char* target = nullptr;
    std::vector<std::pair<std::string, std::uint32_t>> sinks;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--target" && i + 1 < argc) {
            target = argv[++i];
        } else if (const auto colon = a.find(':'); colon != std::string::npos) {
            sinks.emplace_back(a.substr(0, colon),
                               static_cast<std::uint32_t>(std::stoul(a.substr(colon + 1))));
        } else {
            std::fprintf(stderr, "usage: latency_sink --target TARGET NAME:MS...\n");
            return 2;
        }
    }
    if (!target || sinks.empty()) {
        std::fprintf(stderr, "usage: latency_sink --target TARGET NAME:MS...\n");
        return 2;
    }
    // A headset's sink runs in the daemon's real-time thread: ours should miss no more
    // cycles than it would. Carries on without it if refused.
    sched_param sp{};
    sp.sched_priority = 88;
    sched_setscheduler(0, SCHED_FIFO, &sp);
    pw_init(&argc, &argv);
    pw_main_loop* loop = pw_main_loop_new(nullptr);
    pw_context* context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
    pw_core* core = pw_context_connect(context, nullptr, 0);
    if (!core) {
        std::fprintf(stderr, "latency_sink: no PipeWire daemon\n");
        return 1;
    }
    std::vector<std::unique_ptr<DelaySink>> nodes;
    for (const auto& [name, ms] : sinks)
        nodes.push_back(std::make_unique<DelaySink>(core, name, ms, target));
    pw_main_loop_run(loop);
    return 0;
}
