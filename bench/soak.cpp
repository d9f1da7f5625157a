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

// An output that renders nothing by itself: the soak pulls the stream on its own clock.
struct ManualOutput : sound::AudioOutput {
    std::shared_ptr<sound::ClickMixer> mixer;
    void start(std::shared_ptr<sound::ClickMixer> m) override { mixer = std::move(m); }
    std::int64_t delayNs() const override { return 50'000'000; }
    std::int64_t writtenNs = 0;
    // Pulls `frames` as a server would that plays the stream `leadNs` behind the writing.
    void pull(std::int16_t* out, std::size_t frames, std::int64_t nowNs, std::int64_t leadNs) {
        mixer->timing(nowNs, writtenNs - leadNs);
        mixer->render(out, frames);
        writtenNs += static_cast<std::int64_t>(frames) * 1'000'000'000 / 48000;
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
    std::vector<std::int16_t> block(static_cast<std::size_t>(48000 * 0.15));
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
        manual->pull(block.data(), block.size(), now, 0);
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
    QTimer pull;
    pull.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pull, &QTimer::timeout, [&] {
        std::vector<std::int16_t> chunk(960);
        const auto t = std::chrono::steady_clock::now().time_since_epoch();
        manual->pull(chunk.data(), chunk.size(),
                     std::chrono::duration_cast<std::chrono::nanoseconds>(t).count(), 20'000'000);
    });
    pull.start(20);
    const std::int64_t before = frm.BeatCount();
    QTest::qWait(realSeconds * 1000);
    std::printf("real time: seconds=%d beats=%lld rss_kb=%ld live_regions=%d\n", realSeconds,
                static_cast<long long>(frm.BeatCount() - before), rssKb(), frm.gdi().liveRegions());
    std::printf("rss growth kb=%ld\n", rssKb() - rssStart);
    return 0;
}
