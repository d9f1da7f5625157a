#pragma once

#include "audio_output.h"

#include <QThread>

#include <atomic>
#include <memory>

namespace sound {

class SinkWorker;

// One QAudioSink in pull mode, on its own thread, fed by the mixer. A sink that cannot
// open or that stops with an error is retried every few seconds.
class QtAudioOutput : public AudioOutput {
  public:
    QtAudioOutput();
    ~QtAudioOutput() override;

    void start(ClickMixer& mixer) override;
    bool isOpen() const override;

    // The sink's buffer: at 100 ms this Qt often stalls the stream for up to two seconds
    // after it starts (its first writes fall short of what the server waits for).
    static constexpr int BufferMs = 120;
    static constexpr int RetryMs = 3000;

  private:
    QThread m_thread;
    SinkWorker* m_worker = nullptr;
};

} // namespace sound
