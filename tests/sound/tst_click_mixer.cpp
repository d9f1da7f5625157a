#include "sound/click_mixer.h"

#include <QTest>

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

// A server that asks for 5 ms blocks and plays each sample `lead` after it was written,
// its timing readings off by `error(now)`; beats are asked for when the GUI thread gets
// to them, `late(k)` after they were due. Records the frames where clicks start.
struct Run {
    std::int64_t lead = 20 * Ms;
    std::function<std::int64_t(std::int64_t)> error = [](std::int64_t) { return 0; };
    std::function<std::int64_t(int)> late = [](int) { return 0; };
    std::int64_t firstDue = 1000 * Ms;
    std::int64_t interval = 150 * Ms;

    std::vector<std::int16_t> stream;
    ClickMixer mixer{Rate, Delay};

    // Renders `seconds`, the clock starting at 0 when frame 0 is written.
    void play(double seconds) {
        const std::size_t block = Rate / 200;
        int beat = 0;
        std::int64_t nextAsk = firstDue + late(0);
        for (std::size_t pos = 0; pos < seconds * Rate; pos += block) {
            const std::int64_t now = static_cast<std::int64_t>(pos) * 1'000'000'000 / Rate;
            while (nextAsk <= now) {
                mixer.request(clickOf(50, 0.5f), firstDue + beat * interval);
                ++beat;
                nextAsk = firstDue + beat * interval + late(beat);
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
    // The frame a click due at `dueNs` should start on: heard `Delay` later.
    std::int64_t heardFrame(std::int64_t dueNs) const {
        return (dueNs + Delay - lead) * Rate / 1'000'000'000;
    }
    std::int64_t beatOf(std::int64_t frame) const {
        const std::int64_t due = frame * 1'000'000'000 / Rate + lead - Delay;
        return (due - firstDue + interval / 2) / interval;
    }
};
} // namespace

class TestClickMixer : public QObject {
    Q_OBJECT
  private slots:
    void clicksAreHeardTheirDelayAfterTheirDueTime() {
        Run run;
        run.play(3.0);
        const auto starts = run.starts();
        QCOMPARE(starts.size(), std::size_t(14)); // beats due from 1.0 s to 2.95 s
        for (std::int64_t f : starts)
            QCOMPARE(f, run.heardFrame(run.firstDue + run.beatOf(f) * run.interval));
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(0));
        QCOMPARE(run.mixer.mappingMoves(), std::int64_t(1));
        // The delay covers the buffer and a block, with time to spare for a late GUI thread.
        QVERIFY(run.mixer.minSlackNs() >= 2 * Ms);
    }

    void lateTicksKeepTheirPlaceOrLoseTheirClick_data() {
        QTest::addColumn<int>("lateMs");
        QTest::newRow("60 ms") << 60;
        QTest::newRow("100 ms") << 100;
        QTest::newRow("150 ms, a whole beat") << 150;
    }
    void lateTicksKeepTheirPlaceOrLoseTheirClick() {
        QFETCH(int, lateMs);
        Run run;
        // Beats 3 and 7 to 9 come late: one stall, then a run of them.
        run.late = [&](int k) { return (k == 3 || (k >= 7 && k <= 9)) ? lateMs * Ms : 0; };
        run.play(3.0);
        std::vector<std::int64_t> beats;
        for (std::int64_t f : run.starts()) {
            QCOMPARE(f, run.heardFrame(run.firstDue + run.beatOf(f) * run.interval));
            beats.push_back(run.beatOf(f));
        }
        // Too late for their sample: dropped, and every other beat on its own sample.
        QCOMPARE(beats, (std::vector<std::int64_t>{0, 1, 2, 4, 5, 6, 10, 11, 12, 13}));
        QCOMPARE(run.mixer.clicksDropped(), std::int64_t(4));
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

    void aNewClickCutsOneStillSounding() {
        ClickMixer mixer(Rate, 0);
        for (std::size_t i = 0; i < ClickMixer::MinReadings; ++i)
            mixer.timing(0, 0);
        mixer.request(clickOf(1000, 0.25f), 0);
        mixer.request(clickOf(10, -0.5f), 10 * Ms); // 480 samples in
        std::vector<std::int16_t> out(2000);
        mixer.render(out.data(), out.size());
        QCOMPARE(out[479], std::int16_t(8192));
        QCOMPARE(out[480], std::int16_t(-16384));
        QCOMPARE(out[489], std::int16_t(-16384));
        QCOMPARE(out[490], std::int16_t(0)); // the first click does not come back
    }
};

QTEST_GUILESS_MAIN(TestClickMixer)
#include "tst_click_mixer.moc"
