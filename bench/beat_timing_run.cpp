// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real window and click in-process at one tempo for a while, then prints what
// the program itself knows: beats, clicks placed late, GUI-thread lateness, CPU, memory.
// Only what the mixer tells any thread is read: the rest is the audio thread's.
// Usage: beat_timing_run BPM SECONDS [STALL_MS]: with STALL_MS, the GUI thread is blocked
// for that long from just before every fourth beat, as a busy machine or a slow paint does.
#include "sound/click_player.h"
#include "window/built_in_click.h"
#include "window/frm_metronome.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>
#include <vector>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    const int tempo = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int stallMs = argc > 3 ? std::atoi(argv[3]) : 0;

    window::QtScreenMetrics screen;
    sound::ClickPlayer player(sound::openAudioOutput(), window::builtInClick());
    window::FrmMetronome frm(screen, player);
    frm.show();

    std::vector<double> lateMs;
    QObject::connect(&frm.tmrBPM(), &window::FormTimer::tick, [&] {
        const auto late = window::FormTimer::Clock::now() - *frm.tmrBPM().currentDue();
        lateMs.push_back(std::chrono::duration<double, std::milli>(late).count());
        const auto next = frm.tmrBPM().nextDue();
        if (stallMs > 0 && lateMs.size() % 4 == 3 && next) {
            QTimer::singleShot(
                std::chrono::ceil<std::chrono::milliseconds>(*next - std::chrono::milliseconds(2) -
                                                             window::FormTimer::Clock::now()),
                Qt::PreciseTimer, &app,
                [stallMs] { std::this_thread::sleep_for(std::chrono::milliseconds(stallMs)); });
        }
    });
    frm.hsbBPM().setValue(static_cast<int>(tempo));

    const auto wallStart = std::chrono::steady_clock::now();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QTimer::singleShot(seconds * 1000, &app, [&] {
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const auto cpu = [](const rusage& r) {
            return r.ru_utime.tv_sec + r.ru_stime.tv_sec +
                   (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
        };
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        std::sort(lateMs.begin(), lateMs.end());
        const double p99 = lateMs.empty() ? 0 : lateMs[lateMs.size() * 99 / 100];
        const auto& mixer = player.mixer();
        std::printf("beats=%zu clicks_started=%lld clicks_dropped=%lld clicks_late=%lld "
                    "rewrites=%lld tick_late_p99_ms=%.2f tick_late_max_ms=%.2f "
                    "cpu_pct=%.2f peak_rss_mb=%.1f click_delay_ms=%.0f\n",
                    lateMs.size(), static_cast<long long>(mixer.clicksStarted()),
                    static_cast<long long>(mixer.clicksDropped()),
                    static_cast<long long>(mixer.clicksLate()),
                    static_cast<long long>(mixer.rewrites()), p99,
                    lateMs.empty() ? 0 : lateMs.back(), 100.0 * (cpu(after) - cpu(before)) / wall,
                    after.ru_maxrss / 1024.0, mixer.delayNs() / 1e6);
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}
