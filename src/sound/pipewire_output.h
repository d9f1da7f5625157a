// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio_output.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_thread_loop;
struct spa_source;

namespace sound {

// PipeWire's own stream. The graph asks for each cycle's samples when it needs them and says,
// every cycle, when the first of them is heard (the delay to the device, filters and
// Bluetooth included), so the mixer renders exactly one cycle at a time and a change reaches
// the stream at the next cycle: nothing is written ahead, nothing written again.
//
// Threads: the graph's own real-time thread renders (`onProcess`), and only it touches the
// mixer. PipeWire's loop thread connects, reconnects every second when the daemon is gone, and
// rests the stream after a few seconds without clicks. The GUI thread only signals an event
// (`wake`), which never waits.
class PipeWireOutput : public AudioOutput {
  public:
    static constexpr int RetryMs = 1000;
    static constexpr int IdleMs = 5000;

    PipeWireOutput();
    ~PipeWireOutput() override;
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;

    void start(std::shared_ptr<ClickMixer> mixer) override;
    void wake() override;

    // Whether a PipeWire daemon with a sound output answers, within `timeoutMs`.
    static bool playsHere(int timeoutMs);

  private:
    struct Hooks; // libpipewire's listeners, kept out of this header

    static void onWake(void* self, std::uint64_t count);
    static void onTimer(void* self, std::uint64_t expirations);

    void connect();
    void openStream();
    void drop();
    void arm(int ms);
    void setActive(bool active);

    std::shared_ptr<ClickMixer> m_mixer;
    std::unique_ptr<Hooks> m_hooks;
    pw_thread_loop* m_loop = nullptr;
    // The loop thread only, or with the loop locked.
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_source* m_wakeEvent = nullptr;
    spa_source* m_timer = nullptr;
    bool m_active = false;
    bool m_saidMissing = false;
    bool m_lost = false;
    // The graph's thread.
    std::vector<std::int16_t> m_out;
    // Told across threads.
    std::atomic<std::int64_t> m_activeSinceNs{0};
    std::atomic<bool> m_idle{false}; // nothing to click for a while: the stream may rest
};

} // namespace sound
