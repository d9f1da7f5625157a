// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipewire_output.h"

#include "click_mixer.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace sound {

namespace {

std::int64_t monotonicNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::int64_t NsPerSecond = 1'000'000'000;
constexpr std::int64_t NsPerMs = 1'000'000;
constexpr const char* AppId = "org.velkaro.Metronome";

void initOnce() {
    static const bool done = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)done;
}

// Whether the PipeWire library we run with, not the one we were built with, is that new.
bool libraryAtLeast(int major, int minor) {
    int a = 0, b = 0;
    return std::sscanf(pw_get_library_version(), "%d.%d", &a, &b) == 2 &&
           (a > major || (a == major && b >= minor));
}

} // namespace

struct PipeWireOutput::Hooks {
    spa_hook core{};
    spa_hook stream{};
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};

    explicit Hooks() {
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.error = [](void* self, std::uint32_t id, int, int res, const char*) {
            // The daemon went away: the timer drops what is left and tries again.
            auto* out = static_cast<PipeWireOutput*>(self);
            if (id == PW_ID_CORE && res == -EPIPE) {
                out->m_lost = true;
                out->arm(0);
            }
        };
        streamEvents.version = PW_VERSION_STREAM_EVENTS;
        streamEvents.process = &PipeWireOutput::Hooks::process;
        streamEvents.state_changed = [](void* self, pw_stream_state, pw_stream_state state,
                                        const char*) {
            auto* out = static_cast<PipeWireOutput*>(self);
            if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
                out->m_lost = true;
                out->arm(0);
            }
        };
    }

    // The graph wants the next cycle's samples: render them from the latest plan, knowing
    // from the stream's timing when the first of them is heard.
    static void process(void* self) {
        auto* out = static_cast<PipeWireOutput*>(self);
        pw_buffer* b = pw_stream_dequeue_buffer(out->m_stream);
        if (!b)
            return;
        spa_data& d = b->buffer->datas[0];
        if (!d.data) {
            pw_stream_queue_buffer(out->m_stream, b);
            return;
        }
        auto frames = static_cast<std::uint32_t>(d.maxsize / sizeof(std::int16_t));
        if (b->requested)
            frames = std::min(frames, static_cast<std::uint32_t>(b->requested));
        ClickMixer& mixer = *out->m_mixer;
        pw_time t{};
        pw_stream_get_time_n(out->m_stream, &t, sizeof t);
        const std::int64_t now = monotonicNs();
        if (t.now > 0 && t.rate.denom > 0) {
            const int rate = mixer.rate();
            // Heard after the device's delay, and after what waits in the stream and in the
            // resampler ahead of these samples.
            const std::int64_t ahead =
                t.delay * NsPerSecond * t.rate.num / t.rate.denom +
                static_cast<std::int64_t>(t.queued + t.buffered) * NsPerSecond / rate;
            mixer.cycle(now, t.now + ahead, std::int64_t{frames} * NsPerSecond / rate);
        }
        mixer.write(mixer.written(), frames, out->m_out);
        const std::size_t n = std::min<std::size_t>(out->m_out.size(), frames);
        std::memcpy(d.data, out->m_out.data(), n * sizeof(std::int16_t));
        d.chunk->offset = 0;
        d.chunk->stride = sizeof(std::int16_t);
        d.chunk->size = static_cast<std::uint32_t>(n * sizeof(std::int16_t));
        b->size = n; // what the stream's time counts as queued: frames
        pw_stream_queue_buffer(out->m_stream, b);
        const std::int64_t last =
            std::max(mixer.lastAskedNs(), out->m_activeSinceNs.load(std::memory_order_relaxed));
        out->m_idle.store(now - last > std::int64_t{IdleMs} * NsPerMs && !mixer.busy() &&
                              !mixer.planWaiting(),
                          std::memory_order_relaxed);
    }
};

bool PipeWireOutput::playsHere(int timeoutMs) {
    // No daemon's socket, no PipeWire: not even loaded, which would complain of its missing
    // configuration on a desktop that has the library but not the daemon.
    const char* remote = std::getenv("PIPEWIRE_REMOTE");
    const std::string name = remote && *remote ? remote : "pipewire-0";
    bool socket = name.front() == '/' && ::access(name.c_str(), F_OK) == 0;
    for (const char* dir : {std::getenv("PIPEWIRE_RUNTIME_DIR"), std::getenv("XDG_RUNTIME_DIR")})
        socket = socket || (dir && ::access((std::string(dir) + "/" + name).c_str(), F_OK) == 0);
    if (!socket)
        return false;
    initOnce();
    pw_main_loop* loop = pw_main_loop_new(nullptr);
    if (!loop)
        return false;
    pw_context* context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
    pw_core* core = context ? pw_context_connect(context, nullptr, 0) : nullptr;
    struct Look {
        pw_main_loop* loop;
        bool sink = false;
    } look{loop};
    if (core) {
        // Some desktops run PipeWire for screen sharing only, and play sound through
        // PulseAudio: a daemon with no audio sink is not ours to play on.
        pw_registry* registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
        pw_registry_events registryEvents{};
        registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        registryEvents.global = [](void* data, std::uint32_t, std::uint32_t, const char* type,
                                   std::uint32_t, const spa_dict* props) {
            const char* kind = props ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
            if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0 && kind &&
                std::strcmp(kind, "Audio/Sink") == 0)
                static_cast<Look*>(data)->sink = true;
        };
        spa_hook registryHook{}, coreHook{};
        pw_registry_add_listener(registry, &registryHook, &registryEvents, &look);
        pw_core_events coreEvents{};
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.done = [](void* data, std::uint32_t id, int) {
            if (id == PW_ID_CORE)
                pw_main_loop_quit(static_cast<Look*>(data)->loop);
        };
        coreEvents.error = [](void* data, std::uint32_t, int, int, const char*) {
            pw_main_loop_quit(static_cast<Look*>(data)->loop);
        };
        pw_core_add_listener(core, &coreHook, &coreEvents, &look);
        pw_core_sync(core, PW_ID_CORE, 0);
        spa_source* timer = pw_loop_add_timer(
            pw_main_loop_get_loop(loop),
            [](void* data, std::uint64_t) { pw_main_loop_quit(static_cast<Look*>(data)->loop); },
            &look);
        timespec after{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * NsPerMs};
        pw_loop_update_timer(pw_main_loop_get_loop(loop), timer, &after, nullptr, false);
        pw_main_loop_run(loop);
        pw_loop_destroy_source(pw_main_loop_get_loop(loop), timer);
        spa_hook_remove(&registryHook);
        spa_hook_remove(&coreHook);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        pw_core_disconnect(core);
    }
    if (context)
        pw_context_destroy(context);
    pw_main_loop_destroy(loop);
    return look.sink;
}

PipeWireOutput::PipeWireOutput() = default;

PipeWireOutput::~PipeWireOutput() {
    if (!m_loop)
        return;
    pw_thread_loop_lock(m_loop);
    drop();
    pw_loop* loop = pw_thread_loop_get_loop(m_loop);
    if (m_timer)
        pw_loop_destroy_source(loop, m_timer);
    if (m_wakeEvent)
        pw_loop_destroy_source(loop, m_wakeEvent);
    pw_thread_loop_unlock(m_loop);
    pw_thread_loop_stop(m_loop);
    if (m_context)
        pw_context_destroy(m_context);
    pw_thread_loop_destroy(m_loop);
}

void PipeWireOutput::start(std::shared_ptr<ClickMixer> mixer) {
    if (m_loop || !mixer)
        return;
    initOnce();
    m_mixer = std::move(mixer);
    m_mixer->clock().setKind(StreamClock::Kind::Exact);
    m_out.reserve(static_cast<std::size_t>(ClickMixer::KeptFrames));
    m_hooks = std::make_unique<Hooks>();
    m_loop = pw_thread_loop_new("metronome-sound", nullptr);
    if (!m_loop)
        return;
    pw_loop* loop = pw_thread_loop_get_loop(m_loop);
    m_wakeEvent = pw_loop_add_event(loop, &PipeWireOutput::onWake, this);
    m_timer = pw_loop_add_timer(loop, &PipeWireOutput::onTimer, this);
    // The graph's thread renders our cycles: at normal priority a busy machine makes it miss
    // them, and the click of a missed cycle is lost or a quantum late. Before 1.4 only
    // client-rt.conf asks for real-time priority (1.4 folded it into client.conf and warns of
    // the old name).
    pw_properties* conf = libraryAtLeast(1, 4)
                              ? nullptr
                              : pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr);
    m_context = pw_context_new(loop, conf, 0);
    // A system without that file still plays, at normal priority.
    if (!m_context && conf)
        m_context = pw_context_new(loop, nullptr, 0);
    pw_thread_loop_lock(m_loop);
    if (pw_thread_loop_start(m_loop) == 0)
        connect();
    pw_thread_loop_unlock(m_loop);
}

void PipeWireOutput::wake() {
    m_activeSinceNs.store(monotonicNs(), std::memory_order_relaxed);
    if (m_wakeEvent)
        pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_wakeEvent);
}

void PipeWireOutput::onWake(void* self, std::uint64_t) {
    auto* out = static_cast<PipeWireOutput*>(self);
    out->m_idle.store(false, std::memory_order_relaxed);
    if (out->m_stream && !out->m_active)
        out->setActive(true);
}

void PipeWireOutput::connect() {
    if (!m_context)
        return;
    m_core = pw_context_connect(m_context, nullptr, 0);
    if (!m_core) {
        if (!m_saidMissing)
            std::fprintf(stderr, "metronome: no sound server; the beat flashes silently and "
                                 "the click starts when one appears\n");
        m_saidMissing = true;
        arm(RetryMs);
        return;
    }
    if (m_saidMissing)
        std::fprintf(stderr, "metronome: sound server found; the click sounds again\n");
    m_saidMissing = false;
    m_lost = false;
    pw_core_add_listener(m_core, &m_hooks->core, &m_hooks->coreEvents, this);
    openStream();
}

void PipeWireOutput::openStream() {
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
        // A musician's tool, heard along with the music played to it; not an event sound.
        PW_KEY_MEDIA_ROLE, "music", PW_KEY_MEDIA_NAME, "Metronome click", PW_KEY_APP_NAME,
        "Metronome", PW_KEY_APP_ID, AppId, PW_KEY_APP_ICON_NAME, AppId,
        // The name PulseAudio's clients look for, beside PipeWire's own.
        "application.icon_name", AppId, PW_KEY_NODE_NAME, AppId,
        // The graph's default quantum: a click within 30 ms of its beat, at a server cost that
        // a smaller one would double.
        PW_KEY_NODE_LATENCY, "1024/48000", nullptr);
    m_stream = pw_stream_new(m_core, "Metronome click", props);
    if (!m_stream)
        return;
    pw_stream_add_listener(m_stream, &m_hooks->stream, &m_hooks->streamEvents, this);
    std::uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16;
    info.rate = static_cast<std::uint32_t>(m_mixer->rate());
    info.channels = 1;
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    // Nothing of the old stream is rendering now: the graph's thread left it when it went.
    m_mixer->restart(monotonicNs());
    m_activeSinceNs.store(monotonicNs(), std::memory_order_relaxed);
    m_idle.store(false, std::memory_order_relaxed);
    m_active = true;
    // The graph's own thread renders: a cycle's samples are ready in the cycle that asks.
    const auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        pw_stream_destroy(m_stream);
        m_stream = nullptr;
        m_lost = true;
    }
    arm(m_lost ? RetryMs : IdleMs);
}

void PipeWireOutput::drop() {
    if (m_stream) {
        spa_hook_remove(&m_hooks->stream);
        pw_stream_destroy(m_stream);
        m_stream = nullptr;
    }
    if (m_core) {
        spa_hook_remove(&m_hooks->core);
        pw_core_disconnect(m_core);
        m_core = nullptr;
    }
}

void PipeWireOutput::setActive(bool active) {
    m_active = active;
    pw_stream_set_active(m_stream, active);
    if (active) {
        m_activeSinceNs.store(monotonicNs(), std::memory_order_relaxed);
        arm(IdleMs);
    }
}

void PipeWireOutput::arm(int ms) {
    if (!m_timer)
        return;
    // Zero would disarm the timer: a nanosecond is as good as at once.
    timespec after{ms / 1000, ms % 1000 ? static_cast<long>(ms % 1000) * NsPerMs : (ms ? 0 : 1)};
    pw_loop_update_timer(pw_thread_loop_get_loop(m_loop), m_timer, &after, nullptr, false);
}

// A lost daemon is looked for every second; a stream with nothing to click for a while
// rests, and asks nothing of the graph until a click is wanted again.
void PipeWireOutput::onTimer(void* self, std::uint64_t) {
    auto* out = static_cast<PipeWireOutput*>(self);
    if (out->m_lost || !out->m_core) {
        out->drop();
        out->connect();
        return;
    }
    if (!out->m_stream) {
        out->openStream();
        return;
    }
    if (out->m_active && out->m_idle.load(std::memory_order_relaxed)) {
        out->setActive(false);
        return;
    }
    if (out->m_active)
        out->arm(1000);
}

} // namespace sound
