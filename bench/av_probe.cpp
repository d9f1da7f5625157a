// SPDX-License-Identifier: GPL-3.0-or-later
// Watches the running metronome from outside: the beat area's pixel on the X server and the
// sink's monitor, both on CLOCK_MONOTONIC. Prints one CSV line per event, sorted by time:
//   flash,T,R,G,B,ERR_MS   the pixel changed to R,G,B at T (seconds), give or take ERR_MS
//   click,T                a click onset in the recording was heard at T
//   key,T,NAME             the X server took key NAME (pressed and released) at T
//   pip,T                  our own calibration pip, heard at T by its playback stream's timing
//   info,NAME=VALUE        figures about the measurement itself
//
// Usage: av_probe [--seconds S] [--key T:NAME]... [--title TITLE] [--source NAME] [--x X --y Y]
//                 [--fragment-ms MS]
//        av_probe --pips N [--sink NAME | --pw-sink NAME] [--source NAME]
// The first form waits for the window, then watches it for S seconds and presses each key
// T seconds after the window appeared. The second plays N pips of its own and records them,
// to check the recording's clock against a playback stream's; with --pw-sink, on PipeWire's
// own stream to that node, to check an output's reported latency. The recording asks for
// fragments of MS (default 2); on PipeWire that request also sets the graph's quantum
// unless the program asks for less.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <pipewire/pipewire.h>
#include <pulse/pulseaudio.h>
#include <spa/param/audio/format-utils.h>

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kThreshold = 1500; // as scripts/onsets.py
constexpr int kQuietSamples = kRate * 50 / 1000;
constexpr double kPollSeconds = 0.0005;

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void sleepUntil(double t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    ts.tv_nsec = static_cast<long>((t - static_cast<double>(ts.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

struct Event {
    double t;
    std::string line;
};

// One chunk handed to us by the server: when it came and the stream position after it.
struct Arrival {
    double t;
    std::int64_t end;
    double serverOrigin; // the same from the server's timing report, NaN if it had none

    double origin() const { return t - static_cast<double>(end) / kRate; }
};

// Records a source and finds click onsets in it. The time a sample was heard comes from
// when the data arrived: the sink hands each block to its monitor as it renders it, so the
// earliest arrivals, relative to their stream positions, trace the sink's own clock. A
// late wake-up of ours only makes an arrival later, never earlier, so the minimum over
// the arrivals around an onset is immune to it.
class Recorder {
  public:
    bool start(pa_context* ctx, const char* source, double fragmentMs) {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
        m_stream = pa_stream_new(ctx, "av_probe monitor", &spec, nullptr);
        if (!m_stream)
            return false;
        pa_stream_set_read_callback(m_stream, &Recorder::onRead, this);
        pa_stream_set_overflow_callback(
            m_stream, [](pa_stream*, void* r) { static_cast<Recorder*>(r)->m_overflows++; }, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(kRate * fragmentMs / 1000) * 2;
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
        return pa_stream_connect_record(m_stream, source, &attr, flags) == 0;
    }

    // Builds the position-to-time mapping and emits the clicks; call after the stream stopped.
    void finish(std::vector<Event>& out) {
        std::lock_guard lock(m_mutex);
        if (m_arrivals.size() < 2)
            return;
        if (const char* dump = std::getenv("AV_PROBE_ARRIVALS")) {
            if (FILE* f = std::fopen(dump, "w")) {
                for (const Arrival& a : m_arrivals)
                    std::fprintf(f, "%.6f %lld\n", a.t, static_cast<long long>(a.end));
                std::fclose(f);
            }
        }
        std::vector<double> serverMinusOurs;
        for (std::size_t k = 0; k < m_arrivals.size(); ++k)
            if (!std::isnan(m_arrivals[k].serverOrigin))
                serverMinusOurs.push_back(m_arrivals[k].serverOrigin - originNear(k));
        const double span = m_arrivals.back().t - m_arrivals.front().t;
        const std::size_t settled = std::min(m_arrivals.size() - 1, m_arrivals.size() / 10);
        const double gain = (originNear(settled) - originNear(m_arrivals.size() - 1 - settled)) /
                            (m_arrivals[m_arrivals.size() - 1 - settled].t - m_arrivals[settled].t);
        char buf[256];
        std::snprintf(buf, sizeof buf,
                      "info,record_seconds=%.1f,record_chunks=%zu,record_holes=%d,"
                      "record_overflows=%d,monitor_gain_ms_per_s=%.3f,"
                      "server_timing_minus_arrival_ms=%.3f",
                      span, m_arrivals.size(), m_holes, m_overflows.load(), gain * 1e3,
                      median(serverMinusOurs) * 1e3);
        out.push_back({0, buf});
        for (std::int64_t pos : m_onsets) {
            const auto it =
                std::lower_bound(m_arrivals.begin(), m_arrivals.end(), pos,
                                 [](const Arrival& a, std::int64_t p) { return a.end < p; });
            const auto k = static_cast<std::size_t>(
                std::min(it - m_arrivals.begin(), static_cast<long>(m_arrivals.size()) - 1));
            const double t = originNear(k) + static_cast<double>(pos) / kRate;
            std::snprintf(buf, sizeof buf, "click,%.6f", t);
            out.push_back({t, buf});
        }
    }

    pa_stream* stream() const { return m_stream; }

  private:
    // The monotonic time of stream position 0 as seen from the arrivals within kWindow of
    // arrival k. Local, because the monitor's timeline is not the sink's clock for long:
    // with PulseAudio it gains samples whenever the sink rewinds for a stream.
    double originNear(std::size_t k) const {
        static constexpr double kWindow = 0.1;
        const double tk = m_arrivals[k].t;
        double origin = INFINITY;
        for (std::size_t j = k; j < m_arrivals.size() && m_arrivals[j].t <= tk + kWindow; ++j)
            origin = std::min(origin, m_arrivals[j].origin());
        for (std::size_t j = k; j-- > 0 && m_arrivals[j].t >= tk - kWindow;)
            origin = std::min(origin, m_arrivals[j].origin());
        return origin;
    }

    static void onRead(pa_stream* s, std::size_t, void* self) {
        auto* r = static_cast<Recorder*>(self);
        const void* data = nullptr;
        std::size_t n = 0;
        while (pa_stream_peek(s, &data, &n) == 0 && n > 0) {
            const double t = now();
            std::lock_guard lock(r->m_mutex);
            const auto count = static_cast<std::int64_t>(n / 2);
            if (data) {
                const auto* samples = static_cast<const std::int16_t*>(data);
                for (std::int64_t i = 0; i < count; ++i)
                    r->sample(r->m_pos + i, samples[i]);
            } else {
                r->m_holes++;
            }
            r->m_pos += count;
            pa_usec_t usec = 0;
            // The server's own account of the position being captured now, to compare.
            const double server = pa_stream_get_time(s, &usec) == 0 && usec > 0
                                      ? t - static_cast<double>(usec) * 1e-6
                                      : NAN;
            r->m_arrivals.push_back({t, r->m_pos, server});
            pa_stream_drop(s);
        }
    }

    void sample(std::int64_t pos, std::int16_t v) {
        if (std::abs(static_cast<int>(v)) < kThreshold)
            return;
        if (m_lastLoud < 0 || pos - m_lastLoud > kQuietSamples)
            m_onsets.push_back(pos);
        m_lastLoud = pos;
    }

    pa_stream* m_stream = nullptr;
    std::mutex m_mutex;
    std::int64_t m_pos = 0;
    std::int64_t m_lastLoud = -1;
    int m_holes = 0;
    std::atomic<int> m_overflows{0};
    std::vector<Arrival> m_arrivals;
    std::vector<std::int64_t> m_onsets;
};

// Plays a short full-scale pip every kPipPeriod on a low-latency stream of its own and
// notes when its own timing says each was heard: a second opinion on the recorder's clock.
class Pipper {
  public:
    static constexpr int kPipPeriod = kRate * 3 / 10;
    static constexpr int kPipLength = kRate / 1000;

    bool start(pa_context* ctx, const char* sink, int pips) {
        m_pips = pips;
        const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
        m_stream = pa_stream_new(ctx, "av_probe pips", &spec, nullptr);
        if (!m_stream)
            return false;
        pa_stream_set_write_callback(m_stream, &Pipper::onWrite, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = kRate * 2 * 10 / 1000;
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
        return pa_stream_connect_playback(m_stream, sink, &attr, flags, nullptr, nullptr) == 0;
    }

    bool done() const { return m_written > static_cast<std::int64_t>(m_pips + 2) * kPipPeriod; }

    void finish(std::vector<Event>& out) {
        std::lock_guard lock(m_mutex);
        // Interpolated timing is unreliable until the stream has run a while.
        std::vector<double> settled(m_origins.begin() + std::min<std::size_t>(m_origins.size(), 50),
                                    m_origins.end());
        const double origin = median(settled);
        char buf[128];
        std::snprintf(buf, sizeof buf, "info,pip_timing_samples=%zu", settled.size());
        out.push_back({0, buf});
        for (int k = 1; k <= m_pips; ++k) {
            const double t = origin + static_cast<double>(k) * kPipPeriod / kRate;
            std::snprintf(buf, sizeof buf, "pip,%.6f", t);
            out.push_back({t, buf});
        }
    }

    pa_stream* stream() const { return m_stream; }

  private:
    static void onWrite(pa_stream* s, std::size_t n, void* self) {
        auto* p = static_cast<Pipper*>(self);
        std::vector<std::int16_t> buf(n / 2, 0);
        std::lock_guard lock(p->m_mutex);
        for (std::size_t i = 0; i < buf.size(); ++i) {
            const std::int64_t pos = p->m_written + static_cast<std::int64_t>(i);
            const std::int64_t k = pos / kPipPeriod;
            if (k >= 1 && k <= p->m_pips && pos % kPipPeriod < kPipLength)
                buf[i] = (pos % 8 < 4) ? 30000 : -30000;
        }
        pa_stream_write(s, buf.data(), buf.size() * 2, nullptr, 0, PA_SEEK_RELATIVE);
        p->m_written += static_cast<std::int64_t>(buf.size());
        pa_usec_t usec = 0;
        if (pa_stream_get_time(s, &usec) == 0 && usec > 0)
            p->m_origins.push_back(now() - static_cast<double>(usec) * 1e-6);
    }

    pa_stream* m_stream = nullptr;
    std::mutex m_mutex;
    int m_pips = 0;
    std::int64_t m_written = 0;
    std::vector<double> m_origins;
};

// The same pips on a native PipeWire stream, each timed by the arithmetic the program's
// PipeWire output uses: the cycle's `now`, plus the graph's reported delay, plus what waits
// in the stream and its resampler. Recorded at the far end of an output that reports its
// latency, they tell whether the output really delays by what it reports.
class PwPipper {
  public:
    ~PwPipper() { stop(); }

    bool start(const char* target, int pips) {
        m_pips = pips;
        pw_init(nullptr, nullptr);
        m_loop = pw_thread_loop_new("av_probe pips", nullptr);
        if (!m_loop)
            return false;
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        pw_thread_loop_lock(m_loop);
        pw_thread_loop_start(m_loop);
        m_core = m_context ? pw_context_connect(m_context, nullptr, 0) : nullptr;
        if (!m_core) {
            pw_thread_loop_unlock(m_loop);
            return false;
        }
        // The program's quantum, so that the graph runs as it does under the program.
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE,
            "Music", PW_KEY_NODE_NAME, "av_probe_pips", PW_KEY_NODE_LATENCY, "1024/48000",
            PW_KEY_TARGET_OBJECT, target, nullptr);
        m_stream = pw_stream_new(m_core, "av_probe pips", props);
        m_events.version = PW_VERSION_STREAM_EVENTS;
        m_events.process = &PwPipper::process;
        pw_stream_add_listener(m_stream, &m_hook, &m_events, this);
        std::uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16;
        info.rate = kRate;
        info.channels = 1;
        info.position[0] = SPA_AUDIO_CHANNEL_MONO;
        const spa_pod* params[] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
        const auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        const int res =
            pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
        pw_thread_loop_unlock(m_loop);
        return res >= 0;
    }

    bool done() const {
        return m_written.load() > static_cast<std::int64_t>(m_pips + 2) * Pipper::kPipPeriod;
    }

    void stop() {
        if (!m_loop)
            return;
        pw_thread_loop_lock(m_loop);
        if (m_stream)
            pw_stream_destroy(m_stream);
        m_stream = nullptr;
        if (m_core)
            pw_core_disconnect(m_core);
        m_core = nullptr;
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
        if (m_context)
            pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
    }

    void finish(std::vector<Event>& out) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "info,pw_delay_ms_min=%.2f,pw_delay_ms_max=%.2f,pw_ahead_ms_min=%.2f,"
                      "pw_ahead_ms_max=%.2f,pw_quantum=%d",
                      m_delayMin * 1e3, m_delayMax * 1e3, m_aheadMin * 1e3, m_aheadMax * 1e3,
                      m_quantum);
        out.push_back({0, buf});
        for (double t : m_heard) {
            std::snprintf(buf, sizeof buf, "pip,%.6f", t);
            out.push_back({t, buf});
        }
    }

  private:
    static void process(void* self) {
        auto* p = static_cast<PwPipper*>(self);
        pw_buffer* b = pw_stream_dequeue_buffer(p->m_stream);
        if (!b)
            return;
        spa_data& d = b->buffer->datas[0];
        auto frames = static_cast<std::int64_t>(d.maxsize / 2);
        if (b->requested)
            frames = std::min(frames, static_cast<std::int64_t>(b->requested));
        pw_time t{};
        pw_stream_get_time_n(p->m_stream, &t, sizeof t);
        auto* samples = static_cast<std::int16_t*>(d.data);
        const std::int64_t written = p->m_written.load();
        double first = NAN;
        if (t.now > 0 && t.rate.denom > 0) {
            const double delay = static_cast<double>(t.delay) * t.rate.num / t.rate.denom;
            const double ahead = delay + static_cast<double>(t.queued + t.buffered) / kRate;
            first = static_cast<double>(t.now) * 1e-9 + ahead;
            p->m_delayMin = std::min(p->m_delayMin, delay);
            p->m_delayMax = std::max(p->m_delayMax, delay);
            p->m_aheadMin = std::min(p->m_aheadMin, ahead);
            p->m_aheadMax = std::max(p->m_aheadMax, ahead);
            p->m_quantum = static_cast<int>(frames);
        }
        for (std::int64_t i = 0; i < frames; ++i) {
            const std::int64_t pos = written + i;
            const std::int64_t k = pos / Pipper::kPipPeriod;
            const std::int64_t in = pos % Pipper::kPipPeriod;
            const bool pip = k >= 1 && k <= p->m_pips && in < Pipper::kPipLength;
            samples[i] = pip ? static_cast<std::int16_t>(pos % 8 < 4 ? 30000 : -30000) : 0;
            // Only pips timed from a cycle's reading count.
            if (pip && in == 0 && !std::isnan(first))
                p->m_heard.push_back(first + static_cast<double>(i) / kRate);
        }
        d.chunk->offset = 0;
        d.chunk->stride = 2;
        d.chunk->size = static_cast<std::uint32_t>(frames * 2);
        b->size = static_cast<std::uint64_t>(frames); // queued, as the stream's time counts it
        pw_stream_queue_buffer(p->m_stream, b);
        p->m_written.store(written + frames);
    }

    int m_pips = 0;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_hook{};
    pw_stream_events m_events{};
    std::atomic<std::int64_t> m_written{0};
    std::vector<double> m_heard; // the graph's thread writes, finish reads after stop
    double m_delayMin = INFINITY, m_delayMax = -INFINITY;
    double m_aheadMin = INFINITY, m_aheadMax = -INFINITY;
    int m_quantum = 0;
};

// The X side: finds the window by title, samples one pixel of it, presses keys.
class Screen {
  public:
    explicit Screen(Display* d) : m_d(d), m_root(DefaultRootWindow(d)) {}

    std::optional<Window> find(const std::string& title) { return search(m_root, title); }

    // The pixel at window coordinates (x, y) in root coordinates; false if the window is gone.
    bool locate(Window w, int x, int y) {
        Window child = 0;
        return XTranslateCoordinates(m_d, w, m_root, x, y, &m_x, &m_y, &child) != 0;
    }

    unsigned long pixel() {
        XImage* im = XGetImage(m_d, m_root, m_x, m_y, 1, 1, AllPlanes, ZPixmap);
        if (!im)
            return ~0UL;
        const unsigned long p = XGetPixel(im, 0, 0);
        XDestroyImage(im);
        return p;
    }

    bool press(const std::string& name) {
        const KeySym sym = XStringToKeysym(name.c_str());
        const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(m_d, sym);
        if (!code)
            return false;
        XTestFakeKeyEvent(m_d, code, True, 0);
        XTestFakeKeyEvent(m_d, code, False, 0);
        XSync(m_d, False);
        return true;
    }

  private:
    std::optional<Window> search(Window w, const std::string& title) {
        if (titleOf(w) == title) {
            XWindowAttributes a{};
            if (XGetWindowAttributes(m_d, w, &a) && a.map_state == IsViewable)
                return w;
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(m_d, w, &root, &parent, &children, &n))
            return std::nullopt;
        std::optional<Window> found;
        for (unsigned i = 0; i < n && !found; ++i)
            found = search(children[i], title);
        if (children)
            XFree(children);
        return found;
    }

    std::string titleOf(Window w) {
        XTextProperty prop{};
        std::string result;
        const Atom net = XInternAtom(m_d, "_NET_WM_NAME", False);
        if ((XGetTextProperty(m_d, w, &prop, net) && prop.value) ||
            (XGetWMName(m_d, w, &prop) && prop.value)) {
            result.assign(reinterpret_cast<char*>(prop.value), prop.nitems);
            XFree(prop.value);
        }
        return result;
    }

    Display* m_d;
    Window m_root;
    int m_x = 0, m_y = 0;
};

struct Options {
    double seconds = 10;
    std::vector<std::pair<double, std::string>> keys;
    std::string title = "Metronome - By Velkaro";
    std::string source = "metronome.monitor";
    std::string sink = "metronome";
    std::string pwSink; // pips on PipeWire's own stream to this node instead
    int x = 212, y = 300;
    int pips = 0;
    double fragmentMs = 2;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--seconds")
            o.seconds = std::stod(v);
        else if (a == "--key")
            o.keys.emplace_back(std::stod(v.substr(0, v.find(':'))), v.substr(v.find(':') + 1));
        else if (a == "--title")
            o.title = v;
        else if (a == "--source")
            o.source = v;
        else if (a == "--sink")
            o.sink = v;
        else if (a == "--pw-sink")
            o.pwSink = v;
        else if (a == "--x")
            o.x = std::stoi(v);
        else if (a == "--y")
            o.y = std::stoi(v);
        else if (a == "--fragment-ms")
            o.fragmentMs = std::stod(v);
        else if (a == "--pips")
            o.pips = std::stoi(v);
        else {
            std::fprintf(stderr, "av_probe: unknown option %s\n", a.c_str());
            std::exit(2);
        }
    }
    std::sort(o.keys.begin(), o.keys.end());
    return o;
}

// Watches the pixel until the deadline; returns false if the window never appeared.
bool watch(const Options& o, std::vector<Event>& out) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "av_probe: no X display\n");
        return false;
    }
    Screen screen(d);
    std::optional<Window> w;
    for (const double giveUp = now() + 20; !w && now() < giveUp; sleepUntil(now() + 0.02))
        w = screen.find(o.title);
    if (!w || !screen.locate(*w, o.x, o.y)) {
        std::fprintf(stderr, "av_probe: window \"%s\" not found\n", o.title.c_str());
        XCloseDisplay(d);
        return false;
    }
    const double found = now();
    char buf[128];
    std::snprintf(buf, sizeof buf, "info,window_found=%.6f", found);
    out.push_back({found, buf});

    std::size_t nextKey = 0;
    unsigned long last = ~0UL;
    double lastRead = 0, next = found, relocate = found, worstGap = 0, worstRead = 0;
    long polls = 0;
    while (now() < found + o.seconds) {
        if (nextKey < o.keys.size() && now() >= found + o.keys[nextKey].first) {
            const auto& name = o.keys[nextKey++].second;
            const double before = now();
            const bool ok = screen.press(name);
            const double t = (before + now()) / 2;
            std::snprintf(buf, sizeof buf, "key,%.6f,%s%s", t, name.c_str(), ok ? "" : ",unknown");
            out.push_back({t, buf});
        }
        if (now() >= relocate) {
            screen.locate(*w, o.x, o.y); // the window may have been moved
            relocate = now() + 0.25;
        }
        const double t0 = now();
        const unsigned long p = screen.pixel();
        const double t1 = now();
        const double read = (t0 + t1) / 2;
        ++polls;
        worstRead = std::max(worstRead, t1 - t0);
        if (lastRead > 0)
            worstGap = std::max(worstGap, read - lastRead);
        if (p != last && lastRead > 0) {
            // It changed between the two reads: the midpoint, with half their distance as the
            // error, plus half the time a read takes.
            const double t = (lastRead + read) / 2;
            const double err = (read - lastRead) / 2 + (t1 - t0) / 2;
            std::snprintf(buf, sizeof buf, "flash,%.6f,%lu,%lu,%lu,%.3f", t, (p >> 16) & 0xff,
                          (p >> 8) & 0xff, p & 0xff, err * 1e3);
            out.push_back({t, buf});
        }
        last = p;
        lastRead = read;
        next += kPollSeconds;
        if (next < now() - kPollSeconds)
            next = now(); // fell behind: do not burst to catch up
        sleepUntil(next);
    }
    std::snprintf(buf, sizeof buf,
                  "info,polls_per_second=%.0f,worst_poll_gap_ms=%.3f,worst_read_ms=%.3f",
                  static_cast<double>(polls) / o.seconds, worstGap * 1e3, worstRead * 1e3);
    out.push_back({0, buf});
    XCloseDisplay(d);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);

    // The probe should see the program's timing, not its own scheduling: ask for real-time
    // priority (threads started later inherit it) and carry on without it if refused.
    sched_param sp{};
    sp.sched_priority = 10;
    const bool rt = sched_setscheduler(0, SCHED_FIFO, &sp) == 0;

    pa_threaded_mainloop* ml = pa_threaded_mainloop_new();
    pa_context* ctx = pa_context_new(pa_threaded_mainloop_get_api(ml), "av_probe");
    pa_context_set_state_callback(
        ctx,
        [](pa_context*, void* m) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(m), 0);
        },
        ml);
    if (pa_context_connect(ctx, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        std::fprintf(stderr, "av_probe: no audio server\n");
        return 1;
    }
    pa_threaded_mainloop_start(ml);
    pa_threaded_mainloop_lock(ml);
    while (true) {
        const auto st = pa_context_get_state(ctx);
        if (st == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(st)) {
            pa_threaded_mainloop_unlock(ml);
            std::fprintf(stderr, "av_probe: audio server refused us\n");
            return 1;
        }
        pa_threaded_mainloop_wait(ml);
    }
    Recorder rec;
    Pipper pipper;
    PwPipper pwPipper;
    const bool native = !o.pwSink.empty();
    bool ok = rec.start(ctx, o.source.c_str(), o.fragmentMs);
    if (ok && o.pips > 0 && !native)
        ok = pipper.start(ctx, o.sink.c_str(), o.pips);
    pa_threaded_mainloop_unlock(ml);
    if (ok && o.pips > 0 && native)
        ok = pwPipper.start(o.pwSink.c_str(), o.pips);
    if (!ok) {
        std::fprintf(stderr, "av_probe: could not open the streams\n");
        return 1;
    }

    std::vector<Event> out;
    out.push_back({0, std::string("info,realtime=") + (rt ? "yes" : "no")});
    if (o.pips > 0) {
        while (true) {
            pa_threaded_mainloop_lock(ml);
            const bool done = native ? pwPipper.done() : pipper.done();
            pa_threaded_mainloop_unlock(ml);
            if (done)
                break;
            sleepUntil(now() + 0.05);
        }
        sleepUntil(now() + 0.3); // the last pip reaches the monitor
    } else {
        ok = watch(o, out);
        sleepUntil(now() + 0.3); // the last clicks reach the monitor
    }

    pa_threaded_mainloop_lock(ml);
    pa_stream_disconnect(rec.stream());
    if (pipper.stream())
        pa_stream_disconnect(pipper.stream());
    pa_threaded_mainloop_unlock(ml);
    pa_threaded_mainloop_stop(ml);
    pwPipper.stop();
    rec.finish(out);
    if (o.pips > 0 && native)
        pwPipper.finish(out);
    else if (o.pips > 0)
        pipper.finish(out);
    std::stable_sort(out.begin(), out.end(),
                     [](const Event& a, const Event& b) { return a.t < b.t; });
    for (const Event& e : out)
        std::printf("%s\n", e.line.c_str());
    pa_context_disconnect(ctx);
    pa_context_unref(ctx);
    pa_threaded_mainloop_free(ml);
    return ok ? 0 : 1;
}
