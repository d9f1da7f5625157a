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
constexpr std::int64_t Delay = 28 * Ms;

ClickPtr clickOf(std::size_t n, float level) {
    return std::make_shared<const ClickSamples>(n, level);
}

// The output the player is given: it hands the mixer to the test, which plays the server.
struct TestOutput : AudioOutput {
    explicit TestOutput(std::shared_ptr<ClickMixer>& mixer) : m_mixer(mixer) {}
    void start(std::shared_ptr<ClickMixer> mixer) override { m_mixer = std::move(mixer); }
    std::int64_t delayNs() const override { return Delay; }
    std::shared_ptr<ClickMixer>& m_mixer;
};

// A server that asks for 5 ms blocks and plays each sample `lead` after it was written,
// its timing readings off by `error(now)`. Beats are ticked when the GUI thread gets to
// them, `late(k)` after they were due, and click unless `silent(k)`: Mute is toggled 50 ms
// before the first silent beat and before the first one after. Records where clicks start.
struct Run {
    std::int64_t lead = 20 * Ms;
    std::function<std::int64_t(std::int64_t)> error = [](std::int64_t) { return 0; };
    std::function<std::int64_t(int)> late = [](int) { return 0; };
    std::function<bool(int)> silent = [](int) { return false; };
    std::int64_t firstDue = 1000 * Ms;
    std::int64_t interval = 150 * Ms;

    std::vector<std::int16_t> stream;
    std::shared_ptr<ClickMixer> shared;
    ClickPlayer player{std::make_unique<TestOutput>(shared), clickOf(50, 0.5f)};
    ClickMixer& mixer = *shared;

    static TimedPlayer::Clock::time_point at(std::int64_t ns) {
        return TimedPlayer::Clock::time_point(std::chrono::nanoseconds(ns));
    }
    std::int64_t due(int k) const { return firstDue + k * interval; }

    // Renders `seconds`, the clock starting at 0 when frame 0 is written.
    void play(double seconds) {
        std::vector<std::int64_t> toggles;
        for (int k = 1; due(k) < seconds * 1e9; ++k)
            if (silent(k) != silent(k - 1))
                toggles.push_back(due(k) - 50 * Ms);
        auto toggle = toggles.begin();
        const std::size_t block = Rate / 200;
        int beat = 0;
        for (std::size_t pos = 0; pos < seconds * Rate; pos += block) {
            const std::int64_t now = static_cast<std::int64_t>(pos) * 1'000'000'000 / Rate;
            for (;;) {
                const std::int64_t tick = due(beat) + late(beat);
                if (toggle != toggles.end() && *toggle <= std::min(now, tick)) {
                    player.withdraw();
                    ++toggle;
                } else if (tick <= now) {
                    if (!silent(beat))
                        player.PlaySoundA("", 0, at(due(beat)));
                    player.ticked(at(due(beat + 1)));
                    ++beat;
                } else {
                    break;
                }
            }
            mixer.timing(now, now - lead + error(now));
            stream.resize(pos + block);
            mixer.render(stream.data() + pos, block);
        }
    }
    std::vector<std::int64_t> starts() const {
        std::vector<std::int64_t> found;
        for (std::size_t i = 0; i < stream.size(); ++i)
            if (stream[i] != 0 && (i == 0 || stream[i - 1] == 0))
                found.push_back(static_cast<std::int64_t>(i));
        return found;
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
        QTest::newRow("8-bit 8 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 8000 << 1;
        QTest::newRow("24-bit 96 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 96000 << 2;
        QTest::newRow("FLAC 22.05 kHz stereo") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 22050 << 2;
        QTest::newRow("Ogg Vorbis 44.1 kHz") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << 1;
    }
    void decodesToTheStreamRate() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QVERIFY(writeSound(path("format"), 0.2, 0.5f, format, rate, channels, 0.05));
        const ClickPtr click = loadClickFile(path("format"));
        QVERIFY(click && std::abs(static_cast<int>(click->size()) - 9600) <= 48);
        const auto loud = std::find_if(click->begin(), click->end(),
                                       [](float v) { return std::fabs(v) > 0.25f; });
        QVERIFY(std::abs(static_cast<int>(loud - click->begin()) - 2400) <= 48);
        const float peak = *std::max_element(click->begin(), click->end());
        QVERIFY2(peak > 0.45f && peak < 0.62f, qPrintable(QString::number(peak)));
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

    // Each click is heard `Delay` after its beat was due, as the server says, through late
    // ticks, Mute, reading jitter and moves of the server's latency and clock.
    void clicksAreHeardTheirDelayAfterTheirDueTime() {
        Run run;
        // Beats 1 and 2 are muted and beat 1 comes 100 ms late: its click, placed ahead, is
        // taken back when Mute is ticked before it is due. Beats 6 and 9 to 11 come 140 ms
        // late, nearly a whole beat: each was placed when the beat before it was done.
        run.silent = [](int k) { return k == 1 || k == 2; };
        run.late = [](int k) {
            return k == 1 ? 100 * Ms : (k == 6 || (k >= 9 && k <= 11)) ? 140 * Ms : 0;
        };
        // Readings off by up to 0.4 ms either way; between beats 4 and 5 the server's latency
        // grows by 7 ms (a device that settled, a sink restarted); from 2 s the device clock
        // drifts 1000 ppm.
        run.error = [](std::int64_t now) {
            std::int64_t e = (now / (5 * Ms) * 7919 % 801 - 400) * 1000;
            if (now > 1670 * Ms)
                e -= 7 * Ms;
            if (now > 2000 * Ms)
                e -= (now - 2000 * Ms) / 1000;
            return e;
        };
        run.play(3.9);
        std::vector<std::int64_t> heard;
        const auto starts = run.starts();
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::int64_t written = starts[i] * 1'000'000'000 / Rate;
            const std::int64_t after = written + run.lead - run.error(written + run.lead) - Delay;
            const std::int64_t k = (after - run.firstDue + run.interval / 2) / run.interval;
            heard.push_back(k);
            const std::int64_t offset = after - run.due(static_cast<int>(k));
            QVERIFY2(std::llabs(offset) <= ClickMixer::ToleranceNs + Ms / 2,
                     qPrintable(QString("beat %1 heard %2 ms off").arg(k).arg(offset / 1e6)));
            if (i > 0 && k < 5) // before the step, jitter alone: exactly whole beats apart
                QCOMPARE(starts[i] - starts[i - 1], 7200 * (k - heard[i - 1]));
        }
        QCOMPARE(heard, (std::vector<std::int64_t>{0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                                   16, 17, 18, 19}));
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(0));
        QCOMPARE(run.mixer.clicksWithdrawn(), std::int64_t(1));
        QVERIFY(run.mixer.mappingMoves() >= 3);
        // The delay covers the buffer and a block, with time to spare for a late GUI thread.
        QVERIFY(run.mixer.minSlackNs() >= 2 * Ms);
    }

    void aNewStreamDropsWhatWasMeantForTheOldOneAndWaitsForReadings() {
        ClickMixer mixer(Rate, Delay);
        std::vector<std::int16_t> out(Rate / 10);
        for (std::int64_t t = 0; t < 30 * Ms; t += 5 * Ms) {
            mixer.timing(t, t);
            mixer.render(out.data(), 240);
        }
        mixer.request(clickOf(10, 0.5f), 100 * Ms);
        mixer.render(out.data(), 240); // placed, not yet sounding
        mixer.restart();
        // Asked for before the new stream is heard: one click meant for the old, one for it.
        mixer.request(clickOf(10, 0.5f), 0);
        mixer.request(clickOf(10, 0.5f), 5050 * Ms);
        mixer.render(out.data(), 240); // no reading yet: nothing is known
        for (int i = 1; i < 20; ++i) {
            mixer.timing(5000 * Ms + i * 5 * Ms, i * 5 * Ms);
            mixer.render(out.data() + i * 240, 240);
        }
        QCOMPARE(mixer.clicksStarted(), std::int64_t(1));
        QCOMPARE(mixer.clicksDropped(), std::int64_t(2));
        QCOMPARE(out[(50 + 28) * 48 - 1], std::int16_t(0));
        QCOMPARE(out[(50 + 28) * 48], std::int16_t(16384));
    }

    void oneClickForEachDueTimeAndANewOneCutsTheLast() {
        ClickMixer mixer(Rate, 0);
        for (std::size_t i = 0; i < ClickMixer::MinReadings; ++i)
            mixer.timing(0, 0);
        std::vector<std::int16_t> out(Rate / 10);
        mixer.request(clickOf(1000, 0.25f), 0);
        mixer.request(clickOf(10, 0.5f), 10 * Ms);  // 480 samples in
        mixer.request(clickOf(10, -0.5f), 10 * Ms); // the same beat, a new sound
        mixer.request(clickOf(10, 0.5f), 20 * Ms);
        mixer.withdraw(20 * Ms); // taken back before it starts
        mixer.render(out.data(), 960);
        mixer.request(clickOf(10, 0.5f), 10 * Ms); // started already: heard once
        mixer.withdraw(10 * Ms);
        mixer.render(out.data() + 960, out.size() - 960);
        QCOMPARE(out[479], std::int16_t(8192));
        QCOMPARE(out[480], std::int16_t(-16384));
        QCOMPARE(out[489], std::int16_t(-16384));
        // The first click does not come back, and nothing else sounds.
        QCOMPARE(std::count(out.begin() + 490, out.end(), std::int16_t(0)),
                 std::ptrdiff_t(out.size() - 490));
        QCOMPARE(mixer.clicksWithdrawn(), std::int64_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
