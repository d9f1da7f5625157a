// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/click_mixer.h"
#include "sound/click_player.h"
#include "sound/click_source.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sndfile.h>
#include <sys/stat.h>
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

// A sound server, simulated a tenth of a millisecond at a time. Frame f of the stream is heard
// at `zero` + f / rate. PulseAudio's kind takes each sample `pull` before it is heard and
// reports that as its sink latency, its readings scattered by `jitter`; PipeWire's kind takes
// a whole `quantum` at the start of each cycle, plays it during the cycle and reports a sink
// latency of 0. Either asks for more when it holds less than `buffer` - `block`, accepts
// writes over what it holds, and keeps what it took as heard.
struct Server : AudioOutput {
    std::int64_t pull = 10 * Ms;
    std::int64_t quantum = 0;
    std::int64_t buffer = Rate / 2, block = Rate / 4;
    std::function<std::int64_t(std::int64_t)> jitter = [](std::int64_t) { return 0; };

    std::shared_ptr<ClickMixer> mixer;
    std::int64_t now = 0, zero = 0;
    std::vector<std::int16_t> held;
    std::vector<std::int64_t> clicks; // when each was heard
    std::int16_t last = 0;
    std::int64_t taken = 0, nextReading = 0;
    int writesIntoTaken = 0;
    std::vector<std::int16_t> out;

    void start(std::shared_ptr<ClickMixer> m) override { mixer = std::move(m); }
    void deliver() override { take(mixer->write(now, 0, out)); }

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
    std::int64_t frameAt(std::int64_t ns) const { return (ns - zero) * Rate / 1'000'000'000; }
    // The clock moves to `ns`: the server asks for more, takes what it plays, and reads.
    void run(std::int64_t ns) {
        now = ns;
        mixer->clock().setQuantized(quantum > 0);
        if (mixer->written() - taken < buffer - block)
            take(mixer->write(now, static_cast<std::size_t>(buffer - (mixer->written() - taken)),
                              out));
        const std::int64_t q = quantum;
        const std::int64_t upTo = q ? (frameAt(now) / q + 1) * q : frameAt(now + pull);
        held.resize(std::max(held.size(), static_cast<std::size_t>(upTo)));
        for (; taken < upTo; ++taken) {
            const std::int16_t s = held[static_cast<std::size_t>(taken)];
            if (s != 0 && last == 0)
                clicks.push_back(zero + taken * 1'000'000'000 / Rate);
            last = s;
        }
        // Read as the output does: often until there is a mapping, then seldom.
        if (now >= nextReading) {
            if (mixer->timing(now, taken, q ? 0 : pull + jitter(now), 0))
                deliver();
            nextReading = mixer->clock().mapped() ? mixer->clock().nextReadingNs(now, 100 * Ms)
                                                  : now + 5 * Ms;
        }
    }
    // A new stream on a server that came back: frame 0 is heard from `ns` on.
    void restart(std::int64_t ns) {
        mixer->restart(ns);
        zero = ns;
        nextReading = ns;
        held.clear();
        taken = 0;
    }
};

// The beat as the window drives it, at 400 BPM from 0.6 s: each beat ticks `late(k)` after
// it is due and clicks unless muted; Mute flips at each time in `toggles`; at `retimeAt` the
// tempo changes to `newInterval`; at `restartAt` the server comes back as a new stream.
struct Beats {
    std::int64_t interval = 150 * Ms;
    std::function<std::int64_t(int)> late = [](int) { return 0; };
    std::vector<std::int64_t> toggles;
    std::int64_t retimeAt = -1, newInterval = 0, restartAt = -1;

    Server* server = new Server; // the player's
    ClickPlayer player{std::unique_ptr<AudioOutput>(server), clickOf(50, 0.5f)};
    std::vector<std::int64_t> clicked; // due times of the beats that clicked

    void run(std::int64_t until) {
        std::int64_t next = 600 * Ms;
        bool muted = false;
        int k = 0;
        auto toggle = toggles.begin();
        const auto foresee = [&] {
            player.foresee(BeatGrid{at(next), std::chrono::nanoseconds(interval)}, !muted);
        };
        player.prepare("");
        foresee();
        for (std::int64_t t = 0; t < until; t += Ms / 10) {
            server->run(t);
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
            if (restartAt >= 0 && t >= restartAt) {
                restartAt = -1;
                server->restart(t);
            }
            if (t >= next + late(k)) {
                const std::int64_t due = next;
                next += interval;
                ++k;
                if (!muted) {
                    player.PlaySoundA("", 0, at(due));
                    clicked.push_back(due);
                }
                foresee();
            }
        }
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

    // Every beat that clicks is heard once, its delay after it was due, on outputs that take
    // the stream from 10 to 200 ms ahead, through late ticks, Mute ticked just before a beat
    // and unticked, a new tempo and a server that comes back.
    void everyBeatIsHeardOnceOnItsSample_data() {
        QTest::addColumn<std::int64_t>("pull");
        QTest::addColumn<std::int64_t>("quantum");
        QTest::newRow("PulseAudio, 10 ms") << 10 * Ms << std::int64_t(0);
        QTest::newRow("PulseAudio, 200 ms") << 200 * Ms << std::int64_t(0);
        QTest::newRow("PipeWire, quantum 1024") << std::int64_t(0) << std::int64_t(1024);
        QTest::newRow("PipeWire, quantum 8192") << std::int64_t(0) << std::int64_t(8192);
    }
    void everyBeatIsHeardOnceOnItsSample() {
        QFETCH(std::int64_t, pull);
        QFETCH(std::int64_t, quantum);
        Beats beats;
        Server& server = *beats.server;
        server.pull = pull;
        server.quantum = quantum;
        server.buffer = std::max<std::int64_t>(Rate / 2, 3 * quantum);
        server.jitter = [](std::int64_t now) { return (now / (5 * Ms) * 7919 % 801 - 400) * 1000; };
        // Beats 6 and 9 to 11 tick 140 ms late, nearly a whole beat. Mute is ticked 20 ms
        // before beat 14 is due (its click is written already) and unticked 20 ms before 17.
        beats.late = [](int k) { return k == 6 || (k >= 9 && k <= 11) ? 140 * Ms : 0; };
        beats.toggles = {600 * Ms + 14 * 150 * Ms - 20 * Ms, 600 * Ms + 17 * 150 * Ms - 20 * Ms};
        beats.retimeAt = 4010 * Ms;
        beats.newInterval = 200 * Ms;
        beats.restartAt = 5500 * Ms;
        beats.run(8000 * Ms);

        const std::int64_t delay = beats.player.mixer().delayNs();
        QVERIFY2(delay >= pull + quantum * 1'000'000'000 / Rate &&
                     delay <= pull + 40 * Ms + quantum * 1'000'000'000 / Rate,
                 qPrintable(QString::number(delay / 1e6)));
        QCOMPARE(server.writesIntoTaken, 0);
        // PipeWire's kind of readings settle on the truth from below, a few ms at first.
        const std::int64_t tolerance =
            quantum ? 3 * Ms + quantum * 1'000'000'000 / Rate / 24 : Ms / 2;
        std::vector<std::int64_t> heard(beats.clicked.size(), 0);
        for (std::int64_t onset : server.clicks) {
            const auto beat = std::min_element(
                beats.clicked.begin(), beats.clicked.end(), [&](std::int64_t a, std::int64_t b) {
                    return std::llabs(onset - a - delay) < std::llabs(onset - b - delay);
                });
            const std::int64_t off = onset - *beat - delay;
            // Right after the server came back the mapping is new: late, never twice.
            const bool restarting = *beat + delay > 5500 * Ms && *beat < 6000 * Ms;
            QVERIFY2(std::llabs(off) <= tolerance || (restarting && off > 0 && off < 150 * Ms),
                     qPrintable(
                         QString("beat due %1 ms heard %2 ms off").arg(*beat / Ms).arg(off / 1e6)));
            ++heard[static_cast<std::size_t>(beat - beats.clicked.begin())];
        }
        for (std::size_t i = 0; i < heard.size(); ++i)
            QVERIFY2(heard[i] == 1, qPrintable(QString("beat due %1 ms heard %2 times")
                                                   .arg(beats.clicked[i] / Ms)
                                                   .arg(heard[i])));
        QCOMPARE(beats.clicked.size(), std::size_t(23 - 3 + 19)); // the driver did its part
        QCOMPARE(beats.player.mixer().clicksDropped(), std::int64_t(0));
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
        player.PlaySoundA("", 0, at(100 * Ms));
        QVERIFY(mixer.request(clickOf(1000, 0.25f), 200 * Ms));
        QVERIFY(mixer.request(clickOf(10, 0.5f), 210 * Ms));  // 480 samples in
        QVERIFY(mixer.request(clickOf(10, -0.5f), 210 * Ms)); // the same beat, a new sound
        server->deliver();
        for (std::int64_t t = 100 * Ms; t < 400 * Ms; t += Ms / 10)
            server->run(t);
        QVERIFY(mixer.request(clickOf(10, 0.5f), 210 * Ms)); // taken already: stays
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
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
