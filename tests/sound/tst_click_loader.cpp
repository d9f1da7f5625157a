#include "sound/click_loader.h"
#include "wav_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>

using namespace sound;

class TestClickLoader : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::string path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }
    void write(const char* name, const QByteArray& bytes) {
        QFile f(QString::fromStdString(path(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

  private slots:
    // Whatever the file's format, rate and channels: the stream's rate, the burst where it
    // was, at the file's own level (not normalised, not summed over channels).
    void decodesToTheStreamRate_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("8-bit 8 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 8000 << 1;
        QTest::newRow("16-bit 44.1 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 44100 << 2;
        QTest::newRow("24-bit 96 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 96000 << 2;
        QTest::newRow("float 48 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 48000 << 1;
        QTest::newRow("FLAC 22.05 kHz stereo") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 22050 << 2;
        QTest::newRow("Ogg Vorbis 44.1 kHz mono")
            << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << 1;
    }
    void decodesToTheStreamRate() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QVERIFY(writeTestSound(path("format"), format, rate, channels, 0.2, 0.05, 0.5f));
        const ClickPtr click = loadClickFile(path("format"));
        QVERIFY(click);
        QVERIFY(std::abs(static_cast<int>(click->size()) - 9600) <= 48);
        const auto loud = std::find_if(click->begin(), click->end(),
                                       [](float v) { return std::fabs(v) > 0.25f; });
        QVERIFY(std::abs(static_cast<int>(loud - click->begin()) - 2400) <= 48);
        const float peak = *std::max_element(click->begin(), click->end());
        QVERIFY2(peak > 0.45f && peak < 0.62f, qPrintable(QString::number(peak)));
    }

    // Each gives no click and a reason, and none of them blocks.
    void badFilesGiveNothing() {
        QVERIFY(writeTestSound(path("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1, 0,
                               0.5f));
        QFile good(QString::fromStdString(path("good.wav")));
        QVERIFY(good.open(QIODevice::ReadOnly));
        write("truncated.wav", good.readAll().left(20));
        write("empty.wav", {});
        QByteArray noise(4096, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 7919 + 13) % 251);
        write("garbage.wav", noise);
        QCOMPARE(::mkfifo(path("fifo.wav").c_str(), 0600), 0); // would hang if opened blocking
        QVERIFY(QDir(m_dir.path()).mkdir("folder.wav"));

        for (const char* name : {"missing.wav", "empty.wav", "truncated.wav", "garbage.wav",
                                 "fifo.wav", "folder.wav"}) {
            std::string why;
            QVERIFY2(!loadClickFile(path(name), StreamRate, &why), name);
            QVERIFY2(!why.empty(), name);
        }
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
        const float frames[] = {0.5f, 0.5f, nan, 0.1f, inf, -inf, 2.0f, 2.0f, 0.25f, 0.25f};
        sf_writef_float(f, frames, 5);
        sf_close(f);
        const ClickPtr click = loadClickFile(path("nan.wav"));
        QVERIFY(click);
        for (float s : *click)
            QVERIFY2(std::isfinite(s) && s >= -1.0f && s <= 1.0f, qPrintable(QString::number(s)));
    }

    // A header may claim 2 GB of samples; a real file may hold minutes. Neither is held whole.
    void lengthIsBounded() {
        QVERIFY(writeTestSound(path("lying.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.1,
                               0, 0.5f));
        QFile file(QString::fromStdString(path("lying.wav")));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const int data = bytes.indexOf("data");
        QVERIFY(data > 0);
        bytes.replace(data + 4, 4, "\xF0\xFF\xFF\x7F", 4);
        file.seek(0);
        file.write(bytes);
        file.close();
        ClickPtr click = loadClickFile(path("lying.wav"));
        QVERIFY(click);
        QCOMPARE(click->size(), std::size_t(4800));

        QVERIFY(writeTestSound(path("long.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 10.0,
                               0, 0.1f));
        click = loadClickFile(path("long.wav"));
        QVERIFY(click);
        QVERIFY(std::abs(static_cast<int>(click->size()) - int(MaxClickSeconds * StreamRate)) <=
                48);
    }
};

QTEST_GUILESS_MAIN(TestClickLoader)
#include "tst_click_loader.moc"
