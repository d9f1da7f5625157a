#include "sound/click_mixer.h"

#include <QTest>

#include <vector>

using sound::ClickMixer;

namespace {
constexpr std::int64_t Ms = 1'000'000;
constexpr int Rate = 48000;

sound::ClickPtr clickOf(std::size_t n, float level) {
    return std::make_shared<const sound::ClickSamples>(n, level);
}

// Renders `seconds` of stream in blocks, the clock advancing with the samples written
// plus a constant lead, as a sink that keeps its buffer full would ask for them.
std::vector<std::int16_t> renderFor(ClickMixer& mixer, double seconds, std::int64_t startNs,
                                    std::size_t block = 480) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(seconds * Rate));
    for (std::size_t pos = 0; pos < out.size(); pos += block) {
        const std::size_t n = std::min(block, out.size() - pos);
        const std::int64_t now = startNs + static_cast<std::int64_t>(pos) * 1'000'000'000 / Rate;
        mixer.render(out.data() + pos, n, now);
    }
    return out;
}

std::vector<std::size_t> starts(const std::vector<std::int16_t>& s) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] != 0 && (i == 0 || s[i - 1] == 0))
            found.push_back(i);
    return found;
}
} // namespace

class TestClickMixer : public QObject {
    Q_OBJECT
  private slots:
    void clicksLandOnTheSampleOfTheirTime() {
        ClickMixer mixer(Rate, 50 * Ms);
        const std::int64_t t0 = 1000 * Ms;
        // Asked for with GUI-thread jitter: the times, not the moment of asking, count.
        QVERIFY(mixer.request(clickOf(100, 0.5f), t0 + 0));
        QVERIFY(mixer.request(clickOf(100, 0.5f), t0 + 600 * Ms));
        QVERIFY(mixer.request(clickOf(100, 0.5f), t0 + 1200 * Ms));
        const auto out = renderFor(mixer, 1.5, t0);
        // 50 ms latency = 2400 samples; 600 ms = 28800 samples.
        QCOMPARE(starts(out), (std::vector<std::size_t>{2400, 31200, 60000}));
        QCOMPARE(out[2400], std::int16_t(16384));
        QCOMPARE(out[2499], std::int16_t(16384));
        QCOMPARE(out[2500], std::int16_t(0));
        QCOMPARE(mixer.clicksStarted(), std::int64_t(3));
        QCOMPARE(mixer.lateClicks(), std::int64_t(0));
    }

    void aNewClickCutsOneStillSounding() {
        ClickMixer mixer(Rate, 0);
        mixer.request(clickOf(1000, 0.25f), 0);
        mixer.request(clickOf(10, -0.5f), 10 * Ms); // 480 samples in
        std::vector<std::int16_t> out(2000);
        mixer.render(out.data(), out.size(), 0);
        QCOMPARE(out[479], std::int16_t(8192));
        QCOMPARE(out[480], std::int16_t(-16384));
        QCOMPARE(out[489], std::int16_t(-16384));
        QCOMPARE(out[490], std::int16_t(0)); // the first click does not come back
    }

    void aClickAskedForTooLateMovesTheMappingOnce() {
        ClickMixer mixer(Rate, 0);
        std::vector<std::int16_t> out(4800);
        std::int64_t now = 0;
        for (; now < 2000 * Ms; now += 100 * Ms)
            mixer.render(out.data(), out.size(), now); // each 100 ms ahead of its time
        mixer.request(clickOf(10, 0.5f), 1920 * Ms);
        mixer.request(clickOf(10, 0.5f), 1950 * Ms);
        mixer.render(out.data(), out.size(), 1950 * Ms);
        // Its sample was written already: it comes 10 ms after the write position, and
        // the next keeps its distance of 30 ms.
        QCOMPARE(starts(out), (std::vector<std::size_t>{480, 480 + 1440}));
        QCOMPARE(mixer.lateClicks(), std::int64_t(0));
        QVERIFY(mixer.minSlackFrames() < 0);
        QCOMPARE(mixer.reanchors(), std::int64_t(2));
    }

    void clicksFromBeforeTheStreamAreDropped() {
        ClickMixer mixer(Rate, 0);
        // Asked for while there was no stream: seconds ago, and just before it opened.
        mixer.request(clickOf(10, 0.5f), 1000 * Ms);
        mixer.request(clickOf(10, 0.5f), 4990 * Ms);
        mixer.request(clickOf(10, 0.5f), 5020 * Ms);
        std::vector<std::int16_t> out(4800);
        mixer.render(out.data(), out.size(), 5000 * Ms);
        QCOMPARE(starts(out), (std::vector<std::size_t>{960}));
        QCOMPARE(mixer.clicksDropped(), std::int64_t(2));
        QCOMPARE(mixer.reanchors(), std::int64_t(1));
    }

    void theMappingFollowsAStalledStreamButNotItsBuffer() {
        ClickMixer mixer(Rate, 0);
        std::vector<std::int16_t> out(480); // 10 ms blocks
        std::int64_t now = 0;
        for (int i = 0; i < 10; ++i, now += 10 * Ms)
            mixer.render(out.data(), out.size(), now);
        QCOMPARE(mixer.reanchors(), std::int64_t(1));
        // The sink fills its buffer 60 ms ahead, then drains it 80 ms behind that for a
        // while: the buffer breathing, not playback moving. The mapping stays.
        for (int i = 0; i < 6; ++i)
            mixer.render(out.data(), out.size(), now);
        now += 140 * Ms;
        for (int i = 0; i < 10; ++i, now += 10 * Ms)
            mixer.render(out.data(), out.size(), now);
        QCOMPARE(mixer.reanchors(), std::int64_t(1));
        // The sink stalls for a second and then runs on from there: the mapping follows.
        now += 1000 * Ms;
        for (int i = 0; i < 8; ++i, now += 10 * Ms)
            mixer.render(out.data(), out.size(), now);
        QCOMPARE(mixer.reanchors(), std::int64_t(2));
        // A click asked for 25 ms from now lands 25 ms from now in the stream.
        mixer.request(clickOf(10, 0.5f), now + 25 * Ms);
        std::vector<std::int16_t> block(4800);
        mixer.render(block.data(), block.size(), now);
        QCOMPARE(starts(block), (std::vector<std::size_t>{1200}));
        QCOMPARE(mixer.lateClicks(), std::int64_t(0));
    }

    void aClockThatRunsFastMovesTheMappingForwardWhenItMust() {
        ClickMixer mixer(Rate, 20 * Ms);
        std::vector<std::int16_t> out(480);
        // The device takes 10 ms of samples every 9.9 ms: 1 % fast, so the stream runs
        // ahead of the clock and a click's sample would be written before it is asked for.
        std::int64_t now = 0;
        std::size_t clicks = 0;
        for (int i = 0; i < 1000; ++i, now += 9'900'000) {
            if (i % 50 == 0)
                mixer.request(clickOf(10, 0.5f), now);
            mixer.render(out.data(), out.size(), now);
            clicks += starts(out).size();
        }
        QCOMPARE(clicks, std::size_t(20));
        QCOMPARE(mixer.lateClicks(), std::int64_t(0));
        QVERIFY(mixer.reanchors() >= 2);
        QVERIFY(mixer.minSlackFrames() < 0); // it did have to move
    }

    void aFullRingDropsInsteadOfBlocking() {
        ClickMixer mixer(Rate, 0);
        int accepted = 0;
        for (int i = 0; i < 100; ++i)
            accepted += mixer.request(clickOf(1, 0.1f), i) ? 1 : 0;
        QCOMPARE(accepted, 64);
        std::vector<std::int16_t> out(480);
        mixer.render(out.data(), out.size(), 0);
        QVERIFY(mixer.request(clickOf(1, 0.1f), 0));
    }
};

QTEST_APPLESS_MAIN(TestClickMixer)
#include "tst_click_mixer.moc"
