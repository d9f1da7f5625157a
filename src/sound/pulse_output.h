#pragma once

#include "audio_output.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace sound {

// The stream to the PulseAudio server (PipeWire's too), written from a thread of its own
// in small blocks. A server that is missing or goes away is tried again every few seconds,
// quietly; the clicks come back with it.
class PulseOutput : public AudioOutput {
  public:
    // The server's buffer and the block written at a time: together they bound the
    // latency of a click. With 40 ms the null sink underran now and then, moving clicks.
    static constexpr int BufferMs = 80;
    static constexpr int BlockMs = 10;
    static constexpr int RetryMs = 3000;

    PulseOutput() = default;
    ~PulseOutput() override;

    void start(std::shared_ptr<ClickMixer> mixer) override;
    std::int64_t latencyNs() const override;

  private:
    // Shared with the thread, so that a thread stuck in a hung server can be left behind.
    struct State {
        std::atomic<bool> stop{false};
        std::atomic<bool> done{false};
        std::mutex mutex;
        std::condition_variable wake;
    };
    static void run(std::shared_ptr<State> state, std::shared_ptr<ClickMixer> mixer);

    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
};

} // namespace sound
