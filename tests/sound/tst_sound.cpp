// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/click_mixer.h"
#include "sound/click_player.h"
#include "sound/click_source.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <new>
#include <sndfile.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace sound;
using namespace std::chrono_literals;

namespace {
constexpr std::int64_t Ms = 1'000'000;
constexpr int Rate = 48000;

ClickPtr clickOf(std::size_t n, float level) {
    return std::make_shared<const ClickSamples>(n, level);
}

using Clock = TimedPlayer::Clock;
Clock::time_point at(std::int64_t ns) {
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

// Allocations made while `counting` is set on the calling thread: the audio thread's share.
thread_local bool counting = false;
std::atomic<long> allocations{0};

// A sound server, simulated a tenth of a millisecond at a time. Frame f of the stream is heard
// at `zero` + f / rate, except on a graph. Three kinds:
// - PulseAudio: takes each sample `pull(now)` before it is heard and reports that as its sink
//   latency, its readings scattered by `jitter`;
// - PipeWire's PulseAudio server: takes a whole `quantum` at the start of each cycle, and
//   `ahead` frames more, plays it during the cycle and reports a sink latency of 0;
// - PipeWire's own stream (`graph`): asks for one quantum each cycle, and says that its first
//   sample is heard `delay(now)` after the cycle starts.
// The first two ask for more when they hold less than `buffer` - `block`, accept writes over
// what they hold, and keep what they took as heard. PulseAudio may move the stream to another
// sink at each of `moves`, as it does: the timeline stays, a sink that takes longer skips what
// it would have played sooner, and for 45 ms the read index is the old one.
struct Server : AudioOutput {
    std::function<std::int64_t(std::int64_t)> pull = [](std::int64_t) { return 10 * Ms; };
    std::int64_t quantum = 0, ahead = 0;
    bool graph = false;
    std::function<std::int64_t(std::int64_t)> delay = [](std::int64_t) { return 10 * Ms; };
    std::int64_t buffer = Rate / 2, block = Rate / 4;
    std::function<std::int64_t(std::int64_t)> jitter = [](std::int64_t) { return 0; };
    std::vector<std::int64_t> moves;

    std::shared_ptr<ClickMixer> mixer;
    std::int64_t now = 0, zero = 0;
    std::vector<std::int16_t> held;
    std::vector<std::int64_t> clicks; // when each was heard
    std::int16_t last = 0;
    std::int64_t taken = 0, nextReading = 0, nextCycle = 0;
    std::int64_t shownRead = 0, shownUntil = -1;
    int writesIntoTaken = 0;
    bool away = false;
    std::vector<std::int16_t> out;

    void start(std::shared_ptr<ClickMixer> m) override {
        mixer = std::move(m);
        out.reserve(ClickMixer::KeptFrames);
    }
    // As the outputs do on the GUI thread's word: a long buffer is written again at once.
    void wake() override {
        if (!graph && !away)
            take(write(mixer->openFrameAt(now), 0));
    }
    std::int64_t write(std::int64_t open, std::size_t frames) {
        counting = true;
        const std::int64_t from = mixer->write(open, frames, out);
        counting = false;
        return from;
    }
    void take(std::int64_t from) {
        held.resize(std::max(held.size(), static_cast<std::size_t>(from) + out.size()));
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (from + static_cast<std::int64_t>(i) < taken && !writesIntoTaken++)
                qWarning("write into frame %lld, taken %lld, at %lld ms",
                         static_cast<long long>(from + i), static_cast<long long>(taken),
                         static_cast<long long>(now / Ms));
            else
                held[static_cast<std::size_t>(from) + i] = out[i];
        }
    }
    void hear(std::int16_t s, std::int64_t at) {
        if (s != 0 && last == 0)
            clicks.push_back(at);
        last = s;
    }
    std::int64_t frameAt(std::int64_t ns) const { return (ns - zero) * Rate / 1'000'000'000; }
    // The clock moves to `ns`: the server asks for more, takes what it plays, and reads.
    void run(std::int64_t ns) {
        now = ns;
        if (away)
            return;
        if (graph) {
            // Cycles on the graph's own clock, a quantum apart.
            if (now < nextCycle)
                return;
            const std::int64_t cycle = nextCycle, heard = cycle + delay(cycle);
            counting = true;
            mixer->cycle(now, heard, quantum * 1'000'000'000 / Rate);
            counting = false;
            write(mixer->written(), static_cast<std::size_t>(quantum));
            for (std::size_t i = 0; i < out.size(); ++i)
                hear(out[i], heard + static_cast<std::int64_t>(i) * 1'000'000'000 / Rate);
            nextCycle = cycle + quantum * 1'000'000'000 / Rate;
            return;
        }
        mixer->clock().setKind(quantum ? StreamClock::Kind::Quantized : StreamClock::Kind::Pulse);
        if (!moves.empty() && now >= moves.front()) {
            moves.erase(moves.begin());
            mixer->resync(StreamClock::Change::Move);
            shownRead = taken;
            shownUntil = now + 45 * Ms;
            taken = std::max(taken, frameAt(now + pull(now)));
            held.resize(std::max(held.size(), static_cast<std::size_t>(taken)));
            nextReading = now;
        }
        if (mixer->written() - taken < buffer - block)
            take(write(mixer->openFrameAt(now),
                       static_cast<std::size_t>(buffer - (mixer->written() - taken))));
        const std::int64_t q = quantum;
        const std::int64_t upTo =
            q ? ((frameAt(now) + ahead) / q + 1) * q : frameAt(now + pull(now));
        held.resize(std::max(held.size(), static_cast<std::size_t>(upTo)));
        for (; taken < upTo; ++taken)
            hear(held[static_cast<std::size_t>(taken)], zero + taken * 1'000'000'000 / Rate);
        // Read as the output does: often until there is a mapping, then seldom.
        if (now >= nextReading) {
            counting = true;
            const bool moved = mixer->timing(now, now < shownUntil ? shownRead : taken,
                                             q ? 0 : pull(now) + jitter(now), 0);
            counting = false;
            if (moved)
                wake();
            nextReading = mixer->clock().mapped() ? mixer->clock().nextReadingNs(now, 100 * Ms)
                                                  : now + 5 * Ms;
        }
    }
    // A new stream on a server that came back: frame 0 is heard from `ns` on.
    void restart(std::int64_t ns) {
        away = false;
        if (graph)
            mixer->clock().setKind(StreamClock::Kind::Exact);
        mixer->restart(ns);
        zero = ns;
        nextReading = nextCycle = ns;
        held.clear();
        taken = 0;
    }
};

// The beat as the window drives it, at 400 BPM from 0.6 s: each beat ticks `late(k)` after
// it is due, is shown when the player says its click is heard, and clicks unless muted;
// Mute flips at each time in `toggles`; at `retimeAt` the tempo changes to `newInterval`;
// the server is gone from `awayAt` and back as a new stream at `backAt`.
struct Beats {
    std::int64_t interval = 150 * Ms;
    std::function<std::int64_t(int)> late = [](int) { return 0; };
    std::vector<std::int64_t> toggles;
    std::int64_t retimeAt = -1, newInterval = 0, awayAt = -1, backAt = -1;

    Server* server = new Server; // the player's
    ClickPlayer player{std::unique_ptr<AudioOutput>(server), clickOf(50, 0.5f)};
    std::vector<std::int64_t> clicked; // due times of the beats that clicked
    std::vector<std::int64_t> flashed; // when each of them was shown, as asked at its time
    std::vector<std::int64_t> silent;  // due times of muted beats

    void run(std::int64_t until) {
        std::int64_t next = 600 * Ms;
        bool muted = false;
        int k = 0;
        auto toggle = toggles.begin();
        const auto foresee = [&] {
            player.foresee(BeatGrid{at(next), std::chrono::nanoseconds(interval)}, !muted);
        };
        if (server->graph)
            server->restart(0);
        player.prepare("");
        foresee();
        std::vector<std::int64_t> showAt; // flashes waiting, as at their tick
        for (std::int64_t t = 0; t < until; t += Ms / 10) {
            if (awayAt >= 0 && t >= awayAt) {
                awayAt = -1;
                server->away = true;
            }
            if (backAt >= 0 && t >= backAt) {
                backAt = -1;
                server->restart(t);
            }
            server->run(t);
            // The flash asks again when its time comes, as the window's does.
            for (std::size_t i = 0; i < showAt.size(); ++i)
                if (flashed[i] < 0 && t >= showAt[i]) {
                    const std::int64_t again =
                        player.heardAt(at(clicked[i])).time_since_epoch().count();
                    if (t >= again)
                        flashed[i] = again;
                    else
                        showAt[i] = again;
                }
            if (toggle != toggles.end() && *toggle <= t) {
                muted = !muted;
                ++toggle;
                foresee();
            }
            if (retimeAt >= 0 && t >= retimeAt) {
                retimeAt = -1;
                interval = newInterval;
                next = t + interval;
                foresee();
            }
            if (t >= next + late(k)) {
                const std::int64_t due = next;
                next += interval;
                ++k;
                if (muted) {
                    silent.push_back(due);
                } else {
                    showAt.push_back(player.heardAt(at(due)).time_since_epoch().count());
                    player.PlaySoundA("", 0, at(due));
                    clicked.push_back(due);
                    flashed.push_back(-1);
                }
                foresee();
            }
        }
        // What is still to be shown, as it would be.
        for (std::size_t i = 0; i < flashed.size(); ++i)
            if (flashed[i] < 0)
                flashed[i] = player.heardAt(at(clicked[i])).time_since_epoch().count();
    }
};

// Silence, then a 10 ms burst at `level` from `onset` seconds, on every channel.
bool writeSound(const std::string& path, double seconds, float level = 0.5f,
                int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, int rate = 48000, int channels = 1,
                double onset = 0) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const auto frame = [&](double at) { return static_cast<std::size_t>(at * rate) * channels; };
    std::vector<float> data(frame(seconds), 0.0f);
    std::fill(data.begin() + frame(onset), data.begin() + frame(std::min(seconds, onset + 0.01)),
              level);
    sf_writef_float(f, data.data(), static_cast<sf_count_t>(data.size()) / channels);
    sf_close(f);
    return true;
}
} // namespace

// Counts what the audio thread's calls allocate (see Server). GCC 14 takes the free() below
// for a mismatch, not seeing that new is replaced too.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (counting)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

// The user's own click, decoded and followed while the beat goes on; where the mixer puts
// each click on the stream, as the player asks for it and the server says what is heard.
class TestSound : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const ClickPtr m_fallback = std::make_shared<const ClickSamples>(7, 0.5f);
    std::vector<std::string> m_lines;

    std::string path(const QString& name) const {
        return (m_dir.path() + "/" + name).toStdString();
    }
    ClickSource::Reporter reporter() {
        return [this](const std::string& line) { m_lines.push_back(line); };
    }
    // The click of the beat after the one that asked for a decode.
    static ClickPtr nextBeat(ClickSource& source, const std::string& file) {
        return source.waitForDecode(10s) ? source.clickFor(file) : nullptr;
    }

  private slots:
    void init() { m_lines.clear(); }

    // Whatever the file's format, rate and channels: the stream's rate, the burst where it
    // was, at the file's own level (not normalised, not summed over channels).
    void decodesToTheStreamRate_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<float>("level"); // float files may go past full scale
        QTest::newRow("8-bit 8 kHz mono")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 8000 << 1 << 0.5f;
        QTest::newRow("24-bit 96 kHz stereo")
            << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 96000 << 2 << 0.5f;
        QTest::newRow("FLAC 22.05 kHz stereo")
            << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 22050 << 2 << 0.5f;
        QTest::newRow("Ogg Vorbis 44.1 kHz")
            << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << 1 << 0.5f;
        QTest::newRow("float 48 kHz, too loud")
            << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 48000 << 1 << 1.5f;
    }
    void decodesToTheStreamRate() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(float, level);
        QVERIFY(writeSound(path("format"), 0.2, level, format, rate, channels, 0.05));
        const ClickPtr click = loadClickFile(path("format"));
        QVERIFY(click && std::abs(static_cast<int>(click->size()) - 9600) <= 48);
        const auto loud = std::find_if(click->begin(), click->end(),
                                       [](float v) { return std::fabs(v) > 0.25f; });
        QVERIFY(std::abs(static_cast<int>(loud - click->begin()) - 2400) <= 48);
        // At the file's own level, and never past full scale.
        const float peak = *std::max_element(click->begin(), click->end());
        const float want = std::min(level, 1.0f);
        QVERIFY2(peak > want - 0.05f && peak <= std::min(want + 0.12f, 1.0f),
                 qPrintable(QString::number(peak)));
        // A long file is cut.
        QVERIFY(writeSound(path("long"), 10.0, 0.1f, format, rate, channels));
        QCOMPARE(loadClickFile(path("long"))->size() / 48, std::size_t(MaxClickSeconds * 1000));
    }

    // The fallback, at once and later, and why said once unless there is simply no file; what
    // is no regular file is never opened, nor waited for when it is a FIFO.
    void aFileThatIsNoClick_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("decodes");
        QTest::addColumn<int>("lines");
        QTest::newRow("missing") << "missing.wav" << QByteArray() << 0 << 0;
        QTest::newRow("folder") << "folder" << QByteArray() << 0 << 1;
        QTest::newRow("FIFO") << "fifo" << QByteArray() << 0 << 1;
        QTest::newRow("no path") << "" << QByteArray() << 0 << 0;
        QTest::newRow("empty") << "empty.wav" << QByteArray("") << 1 << 1;
        QTest::newRow("truncated")
            << "cut.wav" << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) << 1 << 1;
        QTest::newRow("garbage") << "garbage.wav" << QByteArray(1000, 'x') << 1 << 1;
    }
    void aFileThatIsNoClick() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, decodes);
        QFETCH(int, lines);
        const std::string place = name.isEmpty() ? "" : path(name);
        QFile file(QString::fromStdString(place));
        if (name == "folder")
            QVERIFY(QDir(m_dir.path()).mkdir(name));
        else if (name == "fifo")
            QCOMPARE(::mkfifo(place.c_str(), 0600), 0);
        else if (!bytes.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        ClickSource source(m_fallback, {}, reporter());
        for (int beat = 0; beat < 3; ++beat) {
            QCOMPARE(source.clickFor(place), m_fallback);
            QVERIFY(source.waitForDecode(10s));
        }
        QCOMPARE(source.decodes(), decodes);
        QCOMPARE(m_lines.size(), std::size_t(lines));
        std::string why;
        QVERIFY(!loadClickFile(place, StreamRate, &why) && !why.empty());
    }

    // A change is noticed at the next beat and heard once decoded, the click it replaces
    // playing until then, and said once; a file removed gives the fallback at once.
    void followsTheFile() {
        ClickSource source(m_fallback, {}, reporter());
        const std::string file = path("click.wav"), other = path("other.wav");
        QVERIFY(writeSound(file, 0.05) && writeSound(other, 0.05, 0.25f));
        const timespec same[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, file.c_str(), same, 0), 0);
        QCOMPARE(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
        QCOMPARE(source.clickFor(file), m_fallback); // decoding
        const ClickPtr first = nextBeat(source, file);
        QVERIFY(first && first->size() == 2400 && !source.usedFallback());
        // mv over it: the same size and mtime, but another inode.
        QCOMPARE(::rename(other.c_str(), file.c_str()), 0);
        QCOMPARE(source.clickFor(file), first);
        const ClickPtr second = nextBeat(source, file);
        QVERIFY(second && *std::max_element(second->begin(), second->end()) < 0.3f);
        QVERIFY(QFile::remove(QString::fromStdString(file)));
        QCOMPARE(source.clickFor(file), m_fallback);
        QCOMPARE(source.decodes(), 2);
        QCOMPARE(m_lines.size(), std::size_t(1));
        QVERIFY(m_lines[0].find("playing \"" + file + '"') != std::string::npos);
    }

    // What the fuzzer once crashed on, at every rate it tried: samples in range, or none.
    void inputsTheFuzzerFound() {
        const QDir found(FUZZ_REGRESSIONS);
        QVERIFY(!found.isEmpty(QDir::Files));
        for (const QString& name : found.entryList(QDir::Files))
            for (int rate : {48000, 44100, 8000, 96000}) {
                const ClickPtr click = loadClickFile(found.filePath(name).toStdString(), rate);
                QVERIFY(!click || std::all_of(click->begin(), click->end(),
                                              [](float s) { return s >= -1.0f && s <= 1.0f; }));
            }
    }

    // Every beat that clicks is heard once, when its flash shows, and no muted beat is heard:
    // on outputs that take the stream from 10 to 200 ms ahead, one whose reported latency
    // saws, a PulseAudio stream moved between a fast and a slow sink, PipeWire's server taking
    // more than a quantum ahead, and PipeWire's graph with a delay that grows and falls back;
    // through late ticks, Mute ticked just before a beat and unticked, and a server away for more
    // than 64 beats while the tempo changed.
    void everyBeatIsHeardOnceWithItsFlash_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<std::int64_t>("tolerance");
        QTest::newRow("PulseAudio, 10 ms") << "pulse 10" << Ms / 2;
        QTest::newRow("PulseAudio, saws 100 to 200 ms") << "pulse saw" << Ms / 2;
        QTest::newRow("PulseAudio, moved 20 to 200 ms and back") << "pulse moves" << Ms / 2;
        // Readings early by up to a quantum, from a server that takes a tenth of one more
        // than a quantum ahead: off by as much as that.
        QTest::newRow("PipeWire's PulseAudio server, quantum 4096")
            << "quantized 4096" << std::int64_t(3 * Ms + 4096 * 1'000'000'000LL / Rate / 8);
        QTest::newRow("PipeWire graph, 200 ms at quantum 1024") << "graph 200" << Ms / 2;
        QTest::newRow("PipeWire graph, 10 to 200 ms and back") << "graph steps" << Ms / 2;
    }
    void everyBeatIsHeardOnceWithItsFlash() {
        QFETCH(QString, kind);
        QFETCH(std::int64_t, tolerance);
        Beats beats;
        Server& server = *beats.server;
        if (kind == "pulse saw") {
            // Down from 200 to 100 ms over 4 s, then up at once, as a network sink reports it.
            server.pull = [](std::int64_t t) { return 200 * Ms - (t % (4000 * Ms)) / 40; };
        } else if (kind == "pulse moves") {
            // At 3727 ms the click of the beat due at 3750 is skipped, and the next beat's is
            // the server's already: the skipped one cannot come in its place.
            server.pull = [](std::int64_t t) {
                return (t >= 2000 * Ms && t < 3200 * Ms) || t >= 3727 * Ms ? 200 * Ms : 20 * Ms;
            };
            server.moves = {2000 * Ms, 3200 * Ms, 3727 * Ms};
        } else if (kind.startsWith("quantized")) {
            server.quantum = 4096;
            server.ahead = 4096 / 10; // as PipeWire takes at 4096
            server.buffer = 3 * 4096;
            server.block = 4096;
        } else if (kind.startsWith("graph")) {
            server.graph = true;
            server.quantum = 1024;
            server.delay = [&kind](std::int64_t t) {
                if (kind == "graph 200")
                    return 200 * Ms;
                return t > 2000 * Ms && t < 3200 * Ms ? 200 * Ms : 10 * Ms;
            };
        }
        server.jitter = [](std::int64_t now) { return (now / (5 * Ms) * 7919 % 801 - 400) * 1000; };
        // Beats 6 and 9 to 11 tick 140 ms late, nearly a whole beat. Mute is ticked 20 ms
        // before beat 14 is due (its click is written already) and unticked 20 ms before 17.
        beats.late = [](int k) { return k == 6 || (k >= 9 && k <= 11) ? 140 * Ms : 0; };
        beats.toggles = {600 * Ms + 14 * 150 * Ms - 20 * Ms, 600 * Ms + 17 * 150 * Ms - 20 * Ms};
        // Gone for 10.5 s (over 64 beats); the tempo changes to 380 meanwhile.
        beats.awayAt = 4500 * Ms;
        beats.retimeAt = 6000 * Ms;
        beats.newInterval = 158 * Ms;
        beats.backAt = 15000 * Ms;
        beats.run(18000 * Ms);

        QCOMPARE(server.writesIntoTaken, 0);
        // Given up: only beats asked for while the server was away, the last few of them.
        QVERIFY(beats.player.mixer().clicksDropped() <= std::int64_t(Plan::MaxAsked));
        // In beat order: the window shows one beat's colour at a time.
        const auto backwards =
            std::adjacent_find(beats.flashed.begin(), beats.flashed.end(), std::greater_equal<>());
        QVERIFY2(backwards == beats.flashed.end(),
                 qPrintable(QString("beat due %1 ms shown at %2 ms, the next at %3 ms")
                                .arg(beats.clicked[backwards - beats.flashed.begin()] / Ms)
                                .arg(*backwards / 1e6)
                                .arg(backwards[1] / 1e6)));
        std::vector<int> heard(beats.clicked.size(), 0);
        for (std::int64_t onset : server.clicks) {
            const auto i = static_cast<std::size_t>(
                std::min_element(beats.flashed.begin(), beats.flashed.end(),
                                 [&](std::int64_t a, std::int64_t b) {
                                     return std::llabs(onset - a) < std::llabs(onset - b);
                                 }) -
                beats.flashed.begin());
            const std::int64_t off = onset - beats.flashed[i];
            // Right after the server came back the mapping is new: late, never early. Readings
            // early by up to a quantum are early at first.
            const bool back = beats.clicked[i] >= 15000 * Ms && beats.clicked[i] < 15500 * Ms;
            const bool first = kind.startsWith("quantized") && beats.clicked[i] < 1000 * Ms;
            QVERIFY2(first || std::llabs(off) <= tolerance || (back && off > 0 && off < 150 * Ms),
                     qPrintable(QString("beat due %1 ms heard %2 ms from its flash")
                                    .arg(beats.clicked[i] / Ms)
                                    .arg(off / 1e6)));
            ++heard[i];
        }
        const std::int64_t delay = beats.player.mixer().delayNs();
        for (std::size_t i = 0; i < heard.size(); ++i) {
            const std::int64_t due = beats.clicked[i];
            // While the server is away nothing is heard; after it, every beat is.
            const bool away = due + delay + ClickMixer::LateLimitNs > 4500 * Ms && due < 15000 * Ms;
            const bool lost = kind == "pulse moves" && due == 3750 * Ms;
            QVERIFY2(
                heard[i] == (away || lost ? 0 : 1) || (away && heard[i] <= 1),
                qPrintable(QString("beat due %1 ms heard %2 times").arg(due / Ms).arg(heard[i])));
            // After it came back, on the new grid only.
            if (due > 15000 * Ms)
                QCOMPARE((due - 6000 * Ms) % (158 * Ms), std::int64_t(0));
        }
        QVERIFY(std::count(heard.begin(), heard.end(), 1) >= 35); // the driver did its part
        QCOMPARE(beats.silent.size(), std::size_t(3));
        // The delay is what the output needs and a little: a quantum more on a graph.
        const std::int64_t need = kind == "pulse 10"             ? 10 * Ms
                                  : kind == "pulse saw"          ? 200 * Ms
                                  : kind == "pulse moves"        ? 200 * Ms
                                  : kind.startsWith("quantized") ? 4096 * 1'000'000'000LL / Rate
                                  : kind == "graph 200" ? 200 * Ms + 1024 * 1'000'000'000LL / Rate
                                                        : 10 * Ms + 1024 * 1'000'000'000LL / Rate;
        QVERIFY2(delay >= need && delay <= need + 40 * Ms,
                 qPrintable(QString::number(delay / 1e6)));
    }

    // Steady writes on the audio thread allocate nothing, whatever the output.
    void theAudioThreadDoesNotAllocate() {
        for (const bool graph : {false, true}) {
            Beats beats;
            beats.server->graph = graph;
            beats.server->quantum = graph ? 1024 : 0;
            beats.run(2000 * Ms); // settled: what grows once has grown
            allocations = 0;
            const std::int64_t clicks = static_cast<std::int64_t>(beats.server->clicks.size());
            beats.run(16000 * Ms); // ~300 writes or cycles more, with clicks in them
            QVERIFY(beats.server->clicks.size() > static_cast<std::size_t>(clicks) + 50);
            QCOMPARE(allocations.load(), 0L);
        }
    }

    // The GUI thread publishes while the audio thread renders, neither waiting: the latest
    // plan always arrives, whole (ThreadSanitizer watches the hand-over in scripts/test).
    void plansCrossThreadsWhole() {
        ClickMixer mixer(Rate);
        const ClickPtr click = clickOf(50, 0.5f);
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            std::vector<std::int16_t> out;
            out.reserve(ClickMixer::KeptFrames);
            const std::int64_t cycle = 1024 * 1'000'000'000LL / Rate;
            for (std::int64_t t = 0, last = 0; last < 2; t += cycle) {
                last += stop.load() ? 1 : 0;
                mixer.cycle(t, t + 10 * Ms, cycle);
                mixer.write(mixer.written(), 1024, out);
            }
        });
        Plan plan;
        plan.intervalNs = 150 * Ms;
        for (int i = 1; i <= 20000; ++i) {
            plan.foreseen = {i * Ms, click.get()};
            mixer.publish(plan);
        }
        stop = true;
        audio.join();
        QVERIFY(!mixer.planWaiting());
        QVERIFY(mixer.inUseFrom() > 0 && mixer.inUseFrom() <= mixer.published());
        QCOMPARE(mixer.published(), std::uint64_t(20000));
    }

    // One sound at a time: a click cuts the one before; asking again for a beat only changes
    // its sound, also after the click was written; a click the server has taken stays.
    void oneClickForEachBeatAndANewOneCutsTheLast() {
        Server* server = new Server;
        ClickPlayer player(std::unique_ptr<AudioOutput>(server), clickOf(7, 0.5f));
        ClickMixer& mixer = *server->mixer;
        for (std::int64_t t = 0; t < 100 * Ms; t += Ms)
            server->run(t);
        const std::int64_t delay = mixer.delayNs();
        const ClickPtr first = clickOf(7, 0.5f), longOne = clickOf(1000, 0.25f),
                       up = clickOf(10, 0.5f), down = clickOf(10, -0.5f);
        Plan plan;
        plan.asked[0] = {100 * Ms, first.get()};
        plan.asked[1] = {200 * Ms, longOne.get()};
        plan.asked[2] = {210 * Ms, up.get()}; // 480 samples into the long one
        plan.askedCount = 3;
        mixer.publish(plan);
        plan.asked[2].click = down.get(); // the same beat, a new sound
        mixer.publish(plan);
        server->wake();
        for (std::int64_t t = 100 * Ms; t < 400 * Ms; t += Ms / 10)
            server->run(t);
        plan.asked[2].click = up.get(); // taken already: stays
        mixer.publish(plan);
        server->wake();
        for (std::int64_t t = 400 * Ms; t < 800 * Ms; t += Ms / 10)
            server->run(t);
        QCOMPARE(server->clicks.size(), std::size_t(2));
        QVERIFY(std::llabs(server->clicks[0] - 100 * Ms - delay) < Ms / 10);
        const auto second = static_cast<std::size_t>(server->clicks[1] * Rate / 1'000'000'000);
        QCOMPARE(server->held[second + 479], std::int16_t(8192));
        QCOMPARE(server->held[second + 480], std::int16_t(-16384));
        QCOMPARE(server->held[second + 489], std::int16_t(-16384));
        QCOMPARE(std::count(server->held.begin() + static_cast<std::ptrdiff_t>(second) + 490,
                            server->held.end(), std::int16_t(0)),
                 static_cast<std::ptrdiff_t>(server->held.size() - second - 490));
    }

    // PipeWire's own stream where its daemon plays sound, PulseAudio's otherwise; either
    // when asked for by name, without looking.
    void theOutputIsChosenOnce() {
        struct Case {
            const char* forced;
            bool pipeWirePlays, native;
            int looks;
        };
        for (const Case c : {Case{nullptr, true, true, 1}, Case{nullptr, false, false, 1},
                             Case{"pulse", true, false, 0}, Case{"pipewire", false, true, 0},
                             Case{"alsa", false, false, 1}}) {
            int looked = 0;
            const OutputKind kind = chooseOutput(c.forced, [&] {
                ++looked;
                return c.pipeWirePlays;
            });
            QCOMPARE(kind == OutputKind::PipeWire, c.native);
            QCOMPARE(looked, c.looks);
        }
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
