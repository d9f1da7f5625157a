// SPDX-License-Identifier: GPL-3.0-or-later
// Soak: hours of beats at 400 BPM through the real window (offscreen) and the click
// mixer, on an injected clock, then a real-time stretch. Prints memory and what is alive.
#include "sound/click_player.h"
#include "window/built_in_click.h"
#include "window/frm_metronome.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

long rssKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// An output that renders nothing by itself: the soak pulls the stream on its own clock, as
// a server would that takes each sample `leadNs` before it is heard.
struct ManualOutput : sound::AudioOutput {
    std::shared_ptr<sound::ClickMixer> mixer;
    std::optional<std::int64_t> originNs; // when frame 0 is heard
    std::vector<std::int16_t> out;
    void start(std::shared_ptr<sound::ClickMixer> m) override { mixer = std::move(m); }
    void pull(std::size_t frames, std::int64_t nowNs, std::int64_t leadNs) {
        if (!originNs)
            originNs = nowNs;
        mixer->timing(nowNs, (nowNs - *originNs + leadNs) * 48 / 1'000'000, leadNs, 0);
        mixer->write(mixer->openFrameAt(nowNs), frames, out);
    }
};

// Passes the window's clicks on to the real player at the soak's own time.
struct SimulatedTimePlayer : sound::TimedPlayer {
    sound::ClickPlayer& player;
    std::int64_t nowNs = 0;
    explicit SimulatedTimePlayer(sound::ClickPlayer& p) : player(p) {}
    void PlaySoundA(const char* path, std::uint32_t flags, Clock::time_point at) override {
        player.PlaySoundA(path, flags,
                          nowNs < 0 ? at : Clock::time_point(std::chrono::nanoseconds(nowNs)));
    }
    void foresee(std::optional<sound::BeatGrid> grid, bool clicks) override {
        if (grid && nowNs >= 0)
            grid->next = Clock::time_point(std::chrono::nanoseconds(nowNs) + grid->interval);
        player.foresee(grid, clicks);
    }
};

struct ScreenAt15 : window::ScreenMetrics {
    double twipsPerPixelX() const override { return 15; }
    double twipsPerPixelY() const override { return 15; }
    QRect geometry() const override { return {0, 0, 1024, 768}; }
    QRect availableGeometry() const override { return geometry(); }
};

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 6.0;
    const int realSeconds = argc > 2 ? std::atoi(argv[2]) : 180;

    auto output = std::make_unique<ManualOutput>();
    ManualOutput* manual = output.get();
    sound::ClickPlayer player(std::move(output), window::builtInClick());
    SimulatedTimePlayer simulated(player);
    ScreenAt15 screen;
    window::FrmMetronome frm(screen, simulated);
    frm.show();
    frm.hsbBPM().setValue(400);

    const long rssStart = rssKb();
    std::printf("start: rss_kb=%ld\n", rssStart);
    std::fflush(stdout);
    const std::int64_t beatNs = 150'000'000;
    const auto beats = static_cast<std::int64_t>(hours * 3600 * 1e9 / beatNs);
    QElapsedTimer wall;
    wall.start();
    std::int64_t now = 0;
    const std::int64_t beatsPerHour = 3600 * 1'000'000'000LL / beatNs;
    for (std::int64_t b = 0; b < beats; ++b) {
        simulated.nowNs = now;
        emit frm.tmrBPM().tick();
        if (b % 33 == 0) // a slow tick every 5 s
            emit frm.tmr2().tick();
        if (b % 5000 == 0) {
            frm.grab(); // paints the bevel: regions made and freed
            frm.control<QCheckBox>("chkSpeed").click();
        }
        manual->pull(48000 * 15 / 100, now, 20'000'000);
        now += beatNs;
        // As the real loop would between ticks: deliver what the beat posted.
        QCoreApplication::processEvents();
        if ((b + 1) % beatsPerHour == 0)
            std::printf("  hour %lld: rss_kb=%ld\n", static_cast<long long>((b + 1) / beatsPerHour),
                        rssKb());
    }
    std::printf("simulated: hours=%.1f beats=%lld beat_count=%lld wall_s=%.1f rss_kb=%ld "
                "live_regions=%d clicks_started=%lld file_decodes=%d\n",
                hours, static_cast<long long>(beats), static_cast<long long>(frm.BeatCount()),
                wall.elapsed() / 1000.0, rssKb(), frm.gdi().liveRegions(),
                static_cast<long long>(player.mixer().clicksStarted()), player.source().decodes());

    // Real time: the window's own timers at 400 BPM, the stream pulled every 20 ms, on the
    // real clock from here on.
    simulated.nowNs = -1;
    manual->originNs.reset();
    manual->mixer->restart(std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
    QTimer pull;
    pull.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pull, &QTimer::timeout, [&] {
        const auto t = std::chrono::steady_clock::now().time_since_epoch();
        manual->pull(960, std::chrono::duration_cast<std::chrono::nanoseconds>(t).count(),
                     20'000'000);
    });
    pull.start(20);
    const std::int64_t before = frm.BeatCount();
    QTest::qWait(realSeconds * 1000);
    std::printf("real time: seconds=%d beats=%lld rss_kb=%ld live_regions=%d\n", realSeconds,
                static_cast<long long>(frm.BeatCount() - before), rssKb(), frm.gdi().liveRegions());
    std::printf("rss growth kb=%ld\n", rssKb() - rssStart);
    return 0;
}
