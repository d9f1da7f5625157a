#include "sound/click_mixer.h"
#include "sound/click_player.h"

#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

using sound::ClickMixer;

namespace {
constexpr std::int64_t Ms = 1'000'000;
constexpr int Rate = 48000;
constexpr std::int64_t Delay = 28 * Ms;

sound::ClickPtr clickOf(std::size_t n, float level) {
    return std::make_shared<const sound::ClickSamples>(n, level);
}

// The output the player is given: it hands the mixer to the test, which plays the server.
struct TestOutput : sound::AudioOutput {
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
    sound::ClickPlayer player{std::make_unique<TestOutput>(shared), clickOf(50, 0.5f)};
    ClickMixer& mixer = *shared;

    static sound::TimedPlayer::Clock::time_point at(std::int64_t ns) {
        return sound::TimedPlayer::Clock::time_point(std::chrono::nanoseconds(ns));
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
    // The beats heard, in order: -1 for a click off its beat's sample, which is the one
    // heard `Delay` after the beat was due.
    std::vector<std::int64_t> beats() const {
        std::vector<std::int64_t> found;
        for (std::int64_t f : starts()) {
            const int k = static_cast<int>(
                (f * 1'000'000'000 / Rate + lead - Delay - firstDue + interval / 2) / interval);
            found.push_back(f == (due(k) + Delay - lead) * Rate / 1'000'000'000 ? k : -1);
        }
        return found;
    }
};
} // namespace

class TestClickMixer : public QObject {
    Q_OBJECT
  private slots:
    void clicksAreHeardTheirDelayAfterTheirDueTime() {
        Run run;
        run.play(3.0);
        // Beats due from 1.0 s to 2.95 s, each on its own sample.
        QCOMPARE(run.beats(),
                 (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(0));
        QCOMPARE(run.mixer.mappingMoves(), std::int64_t(1));
        // The delay covers the buffer and a block, with time to spare for a late GUI thread.
        QVERIFY(run.mixer.minSlackNs() >= 2 * Ms);
    }

    void lateTicksKeepTheirClickOnItsSample_data() {
        QTest::addColumn<int>("lateMs");
        QTest::newRow("60 ms") << 60;
        QTest::newRow("100 ms") << 100;
        QTest::newRow("140 ms, nearly a whole beat") << 140;
    }
    void lateTicksKeepTheirClickOnItsSample() {
        QFETCH(int, lateMs);
        Run run;
        // Beats 3 and 7 to 9 come late: one stall, then a run of them. Each was placed when
        // the beat before it was done.
        run.late = [&](int k) { return (k == 3 || (k >= 7 && k <= 9)) ? lateMs * Ms : 0; };
        run.play(3.0);
        QCOMPARE(run.beats(),
                 (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(0));
    }

    void muteTakesBackTheClickPlacedAhead() {
        Run run;
        // Beats 4 to 6 are muted, and beat 4 comes 100 ms late: its click, placed when beat
        // 3 was done, is taken back when Mute is ticked before it is due.
        run.silent = [](int k) { return k >= 4 && k <= 6; };
        run.late = [](int k) { return k == 4 ? 100 * Ms : 0; };
        run.play(3.0);
        QCOMPARE(run.beats(), (std::vector<std::int64_t>{0, 1, 2, 3, 7, 8, 9, 10, 11, 12, 13}));
        QCOMPARE(run.mixer.clicksWithdrawn(), std::int64_t(1));
    }

    void readingJitterNeverMovesAClick() {
        Run run;
        std::srand(7);
        run.error = [](std::int64_t) { return (std::rand() % 800 - 400) * 1000LL; }; // ±0.4 ms
        run.play(3.0);
        const auto starts = run.starts();
        QCOMPARE(starts.size(), std::size_t(14));
        for (std::size_t i = 1; i < starts.size(); ++i)
            QCOMPARE(starts[i] - starts[i - 1], std::int64_t(7200)); // exactly 150 ms
    }

    void theMappingFollowsTheServer() {
        Run run;
        // The server's latency grows by 7 ms between two beats (a device that settled, a
        // sink restarted), and later the device clock drifts 1000 ppm: clicks follow what
        // the server says is heard.
        run.error = [](std::int64_t now) {
            std::int64_t e = now > 1670 * Ms ? -7 * Ms : 0;
            if (now > 2000 * Ms)
                e -= (now - 2000 * Ms) / 1000;
            return e;
        };
        run.play(4.0);
        const auto starts = run.starts();
        QCOMPARE(starts.size(), std::size_t(20));
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const std::int64_t written = starts[k] * 1'000'000'000 / Rate;
            const std::int64_t heard = written + run.lead - run.error(written + run.lead);
            const std::int64_t offset =
                heard - (run.firstDue + static_cast<std::int64_t>(k) * run.interval);
            QVERIFY2(
                std::llabs(offset - Delay) <= ClickMixer::ToleranceNs + Ms / 10,
                qPrintable(
                    QString("beat %1 heard %2 ms after its due time").arg(k).arg(offset / 1e6)));
        }
        QVERIFY(run.mixer.mappingMoves() >= 3);
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(0));
    }

    void aNewStreamDropsWhatWasMeantForTheOldOne() {
        ClickMixer mixer(Rate, Delay);
        std::vector<std::int16_t> out(240);
        for (std::int64_t t = 0; t < 30 * Ms; t += 5 * Ms) {
            mixer.timing(t, t);
            mixer.render(out.data(), out.size());
        }
        mixer.request(clickOf(10, 0.5f), 100 * Ms);
        mixer.render(out.data(), out.size()); // placed, not yet sounding
        mixer.restart();
        mixer.request(clickOf(10, 0.5f), 0); // asked for before the new stream was heard
        std::vector<std::int16_t> block(Rate);
        for (std::int64_t t = 0; t < 30 * Ms; t += 5 * Ms) {
            mixer.timing(5000 * Ms + t, t);
            mixer.render(block.data(), 240);
        }
        mixer.render(block.data(), block.size());
        QCOMPARE(mixer.clicksStarted(), std::int64_t(0));
        QCOMPARE(mixer.clicksDropped(), std::int64_t(2));
    }

    void clicksWaitForTheFirstReadings() {
        ClickMixer mixer(Rate, Delay);
        mixer.request(clickOf(10, 0.5f), 50 * Ms);
        std::vector<std::int16_t> out(240 * 20);
        mixer.render(out.data(), 240); // no reading yet: nothing is known
        for (int i = 1; i < 20; ++i) {
            mixer.timing(i * 5 * Ms, i * 5 * Ms);
            mixer.render(out.data() + i * 240, 240);
        }
        QCOMPARE(mixer.clicksStarted(), std::int64_t(1));
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

QTEST_GUILESS_MAIN(TestClickMixer)
#include "tst_click_mixer.moc"
