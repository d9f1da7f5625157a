#include "sound/click_loader.h"
#include "sound/click_source.h"
#include "wav_writer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <thread>

using namespace sound;

namespace {
std::size_t firstLoud(const ClickSamples& s, float threshold) {
    const auto it =
        std::find_if(s.begin(), s.end(), [&](float v) { return std::fabs(v) > threshold; });
    return static_cast<std::size_t>(it - s.begin());
}
} // namespace

class TestClickLoader : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::string path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }

  private slots:
    void everyFormatDecodesToTheStreamRate_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("8-bit 8 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 8000 << 1;
        QTest::newRow("16-bit 44.1 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 44100 << 2;
        QTest::newRow("16-bit 48 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 48000 << 1;
        QTest::newRow("24-bit 96 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 96000 << 2;
        QTest::newRow("32-bit 22.05 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_32) << 22050 << 1;
        QTest::newRow("float 32 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 32000 << 2;
    }
    void everyFormatDecodesToTheStreamRate() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const std::string file = path("format.wav");
        QVERIFY(writeTestSound(file, format, rate, channels, 0.2, 0.05, 0.5f));
        const ClickPtr click = loadClickFile(file);
        QVERIFY(click);
        // 0.2 s at 48 kHz, give or take the converter's edges.
        QVERIFY(std::abs(static_cast<int>(click->size()) - 9600) <= 48);
        // The burst stays where it was in time (50 ms = 2400 samples) and keeps its level.
        QVERIFY(std::abs(static_cast<int>(firstLoud(*click, 0.25f)) - 2400) <= 24);
        const float peak = *std::max_element(click->begin(), click->end());
        QVERIFY2(peak > 0.45f && peak <= 1.0f, qPrintable(QString::number(peak)));
    }

    void brokenFilesGiveNothing() {
        QVERIFY(!loadClickFile(path("missing.wav")));
        QFile(QString::fromStdString(path("empty.wav"))).open(QIODevice::WriteOnly);
        QVERIFY(!loadClickFile(path("empty.wav")));

        QVERIFY(writeTestSound(path("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1, 0,
                               0.5f));
        QFile good(QString::fromStdString(path("good.wav")));
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray bytes = good.readAll();

        QFile truncated(QString::fromStdString(path("truncated.wav")));
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write(bytes.left(20));
        truncated.close();
        QVERIFY(!loadClickFile(path("truncated.wav")));

        QFile garbage(QString::fromStdString(path("garbage.wav")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 7919 + 13) % 251);
        garbage.write(noise);
        garbage.close();
        QVERIFY(!loadClickFile(path("garbage.wav")));

        QVERIFY(!loadClickFile(m_dir.path().toStdString())); // a directory
        QVERIFY(!loadClickBytes(nullptr, 0));
        QVERIFY(!loadClickBytes(noise.constData(), static_cast<std::size_t>(noise.size())));
    }

    void nonFiniteFloatSamplesBecomeSilence() {
        SF_INFO info{};
        info.samplerate = 32000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(path("nan.wav").c_str(), SFM_WRITE, &info);
        QVERIFY(f);
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        std::vector<float> frames{0.5f, 0.5f, nan, 0.1f, inf, -inf, 2.0f, 2.0f, 0.25f, 0.25f};
        sf_writef_float(f, frames.data(), 5);
        sf_close(f);
        const ClickPtr click = loadClickFile(path("nan.wav"));
        QVERIFY(click);
        for (float s : *click)
            QVERIFY2(std::isfinite(s) && s >= -1.0f && s <= 1.0f, qPrintable(QString::number(s)));
    }

    void oversizedDataChunkPlaysWhatIsThere() {
        QVERIFY(writeTestSound(path("big.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1, 0,
                               0.5f));
        QFile file(QString::fromStdString(path("big.wav")));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const int data = bytes.indexOf("data");
        QVERIFY(data > 0);
        const char huge[4] = {'\xF0', '\xFF', '\xFF', '\x7F'};
        bytes.replace(data + 4, 4, huge, 4);
        file.seek(0);
        file.write(bytes);
        file.close();
        const ClickPtr click = loadClickFile(path("big.wav"));
        QVERIFY(click);
        QCOMPARE(click->size(), std::size_t(4800));
    }

    void longFilesAreCut() {
        QVERIFY(writeTestSound(path("long.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 10.0,
                               0, 0.1f));
        const ClickPtr click = loadClickFile(path("long.wav"));
        QVERIFY(click);
        QCOMPARE(click->size(), std::size_t(MaxClickSeconds * StreamRate));
    }

    void hugeSparseFilesAreReadOnlyAsFarAsTheCap() {
        // 2 GB of nothing: no header at all.
        QFile zeros(QString::fromStdString(path("sparse.wav")));
        QVERIFY(zeros.open(QIODevice::WriteOnly));
        QVERIFY(zeros.resize(qint64(2) << 30));
        zeros.close();
        QVERIFY(!loadClickFile(path("sparse.wav")));

        // A real header over 2 GB of silence: cut at the cap, not read to the end.
        QVERIFY(writeTestSound(path("long_sparse.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                               0.01, 0, 0.5f));
        QFile longFile(QString::fromStdString(path("long_sparse.wav")));
        QVERIFY(longFile.open(QIODevice::ReadWrite));
        QByteArray bytes = longFile.read(64);
        const int data = bytes.indexOf("data");
        const char big[4] = {'\x00', '\x00', '\x00', '\x7F'};
        longFile.seek(data + 4);
        longFile.write(big, 4);
        QVERIFY(longFile.resize(qint64(2) << 30));
        longFile.close();
        const ClickPtr click = loadClickFile(path("long_sparse.wav"));
        QVERIFY(click);
        QCOMPARE(click->size(), std::size_t(MaxClickSeconds * StreamRate));
    }

    void aFifoDoesNotBlock() {
        const std::string fifo = path("fifo.wav");
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        QVERIFY(!loadClickFile(fifo)); // would hang here if it waited for a writer
        ClickSource source(std::make_shared<const ClickSamples>(1, 0.5f));
        QVERIFY(source.clickFor(fifo));
        QVERIFY(source.usedFallback());
    }

    void sourceFollowsTheFileAndFallsBack() {
        const auto fallback = std::make_shared<const ClickSamples>(7, 0.5f);
        ClickSource source(fallback);
        QCOMPARE(source.clickFor("C:\\WINDOWS\\Desktop\\Cool Folder\\Music\\metronome.wav"),
                 fallback);
        QCOMPARE(source.clickFor("relative.wav"), fallback);
        QCOMPARE(source.decodes(), 0);

        const std::string file = path("click.wav");
        QVERIFY(writeTestSound(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.05, 0, 0.5f));
        const ClickPtr first = source.clickFor(file);
        QVERIFY(first && first != fallback);
        QCOMPARE(source.clickFor(file), first);
        QCOMPARE(source.decodes(), 1); // unchanged: not decoded again

        QVERIFY(writeTestSound(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.08, 0, 0.5f));
        const ClickPtr second = source.clickFor(file);
        QCOMPARE(source.decodes(), 2);
        QCOMPARE(second->size(), std::size_t(3840));

        QFile::remove(QString::fromStdString(file));
        QCOMPARE(source.clickFor(file), fallback);
        QVERIFY(source.usedFallback());

        QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly); // now empty
        QCOMPARE(source.clickFor(file), fallback);
    }
};

QTEST_GUILESS_MAIN(TestClickLoader)
#include "tst_click_loader.moc"
