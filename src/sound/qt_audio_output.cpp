#include "qt_audio_output.h"

#include "click_mixer.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <chrono>

namespace sound {

namespace {

std::int64_t monotonicNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// The sink pulls the mixed stream from here; every read is rendered on the spot.
class MixerDevice : public QIODevice {
  public:
    explicit MixerDevice(ClickMixer& mixer) : m_mixer(mixer) {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1 << 20; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const auto frames = static_cast<std::size_t>(maxSize / qint64(sizeof(std::int16_t)));
        m_mixer.render(reinterpret_cast<std::int16_t*>(data), frames, monotonicNs());
        return static_cast<qint64>(frames * sizeof(std::int16_t));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    ClickMixer& m_mixer;
};

} // namespace

class SinkWorker : public QObject {
  public:
    // The timer is a child so that it moves to the audio thread with the worker.
    explicit SinkWorker(ClickMixer& mixer) : m_mixer(mixer), m_device(mixer), m_retry(this) {
        m_retry.setInterval(QtAudioOutput::RetryMs);
        connect(&m_retry, &QTimer::timeout, this, &SinkWorker::check);
    }

    void begin() {
        m_device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        open();
        m_retry.start();
    }

    void end() {
        m_retry.stop();
        close();
    }

    std::atomic<bool> open_{false};

  private:
    void open() {
        QAudioFormat format;
        format.setSampleRate(m_mixer.rate());
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_sink->setBufferSize(format.bytesForDuration(QtAudioOutput::BufferMs * 1000));
        m_mixer.restart();
        m_sink->start(&m_device);
        open_ = m_sink->state() != QAudio::StoppedState && m_sink->error() == QAudio::NoError;
    }

    void close() {
        if (m_sink)
            m_sink->stop();
        m_sink.reset();
        open_ = false;
    }

    // A lost or never-found server shows as a stopped sink: try again, quietly.
    void check() {
        if (m_sink && m_sink->state() != QAudio::StoppedState && m_sink->error() == QAudio::NoError)
            return;
        close();
        open();
    }

    ClickMixer& m_mixer;
    MixerDevice m_device;
    std::unique_ptr<QAudioSink> m_sink;
    QTimer m_retry;
};

QtAudioOutput::QtAudioOutput() {
    m_thread.setObjectName("audio");
}

QtAudioOutput::~QtAudioOutput() {
    if (m_worker) {
        QMetaObject::invokeMethod(
            m_worker,
            [w = m_worker] {
                w->end();
                delete w;
            },
            Qt::BlockingQueuedConnection);
    }
    m_thread.quit();
    m_thread.wait();
}

void QtAudioOutput::start(ClickMixer& mixer) {
    if (m_worker)
        return;
    m_worker = new SinkWorker(mixer);
    m_worker->moveToThread(&m_thread);
    m_thread.start(QThread::TimeCriticalPriority);
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->begin(); });
}

bool QtAudioOutput::isOpen() const {
    return m_worker && m_worker->open_.load();
}

} // namespace sound
