#include "sound/click_source.h"
#include "window/desktop_path.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <sndfile.h>
#include <sys/stat.h>

using namespace sound;
using namespace std::chrono_literals;

namespace {
// Silence, then a 10 ms burst at `level` from `onset` seconds, on every channel.
bool writeSound(const std::string& path, double seconds, float level = 0.5f,
                int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, int rate = 48000, int channels = 1,
                double onset = 0) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const auto frame = [&](double at) { return static_cast<std::size_t>(at * rate) * channels; };
    std::vector<float> data(frame(seconds), 0.0f);
    std::fill(data.begin() + frame(onset), data.begin() + frame(std::min(seconds, onset + 0.01)),
              level);
    sf_writef_float(f, data.data(), static_cast<sf_count_t>(data.size()) / channels);
    sf_close(f);
    return true;
}
} // namespace

// The user's own click: where the design's path lands on this desktop, how the file there
// is decoded, and how its changes are followed while the beat goes on.
class TestOwnClick : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const ClickPtr m_fallback = std::make_shared<const ClickSamples>(7, 0.5f);
    std::vector<std::string> m_lines;

    std::string path(const QString& name) const {
        return (m_dir.path() + "/" + name).toStdString();
    }
    ClickSource::Reporter reporter() {
        return [this](const std::string& line) { m_lines.push_back(line); };
    }
    // The click of the beat after the one that asked for a decode.
    static ClickPtr nextBeat(ClickSource& source, const std::string& file) {
        return source.waitForDecode(10s) ? source.clickFor(file) : nullptr;
    }

  private slots:
    void init() { m_lines.clear(); }

    void mapsOntoTheDesktop_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); // on the desktop /d; empty: nowhere
        QTest::newRow("as written") << R"(C:\WINDOWS\Desktop\Cool Folder\Music\metronome.wav)"
                                    << "/d/Cool Folder/Music/metronome.wav";
        QTest::newRow("any case, any drive, '/' too") << R"(d:/windows\DESKTOP\Music/Click.WAV)"
                                                      << "/d/Music/Click.WAV";
        QTest::newRow("dots in names") << R"(C:\WINDOWS\Desktop\..a\b...wav)"
                                       << "/d/..a/b...wav";
        QTest::newRow("escapes") << R"(C:\WINDOWS\Desktop\..\..\etc\passwd)" << QString();
        QTest::newRow("escapes later") << R"(C:\WINDOWS\Desktop\Music\..\..\x.wav)" << QString();
        QTest::newRow("dot") << R"(C:\WINDOWS\Desktop\.\x.wav)" << QString();
        QTest::newRow("empty folder") << R"(C:\WINDOWS\Desktop\Music\\x.wav)" << QString();
        QTest::newRow("other folder of the drive") << R"(C:\Users\Desktop\x.wav)" << QString();
        QTest::newRow("drive-relative") << R"(C:WINDOWS\Desktop\x.wav)" << QString();
        QTest::newRow("network share") << R"(\\server\WINDOWS\Desktop\x.wav)" << QString();
    }
    void mapsOntoTheDesktop() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(window::desktopPath(path.toStdString(), "/d")), expected);
    }

    // Whatever the file's format, rate and channels: the stream's rate, the burst where it
    // was, at the file's own level (not normalised, not summed over channels).
    void decodesToTheStreamRate_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("8-bit 8 kHz mono") << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 8000 << 1;
        QTest::newRow("24-bit 96 kHz stereo") << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 96000 << 2;
        QTest::newRow("FLAC 22.05 kHz stereo") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 22050 << 2;
        QTest::newRow("Ogg Vorbis 44.1 kHz") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100 << 1;
    }
    void decodesToTheStreamRate() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QVERIFY(writeSound(path("format"), 0.2, 0.5f, format, rate, channels, 0.05));
        const ClickPtr click = loadClickFile(path("format"));
        QVERIFY(click && std::abs(static_cast<int>(click->size()) - 9600) <= 48);
        const auto loud = std::find_if(click->begin(), click->end(),
                                       [](float v) { return std::fabs(v) > 0.25f; });
        QVERIFY(std::abs(static_cast<int>(loud - click->begin()) - 2400) <= 48);
        const float peak = *std::max_element(click->begin(), click->end());
        QVERIFY2(peak > 0.45f && peak < 0.62f, qPrintable(QString::number(peak)));
        // A long file is cut.
        QVERIFY(writeSound(path("long"), 10.0, 0.1f, format, rate, channels));
        QCOMPARE(loadClickFile(path("long"))->size() / 48, std::size_t(MaxClickSeconds * 1000));
    }

    // The fallback, at once and later, and why said once; what is no regular file is never
    // opened, nor waited for when it is a FIFO.
    void aFileThatIsNoClick_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("decodes");
        QTest::newRow("missing") << "missing.wav" << QByteArray() << 0;
        QTest::newRow("folder") << "folder" << QByteArray() << 0;
        QTest::newRow("FIFO") << "fifo" << QByteArray() << 0;
        QTest::newRow("no path") << "" << QByteArray() << 0;
        QTest::newRow("empty") << "empty.wav" << QByteArray("") << 1;
        QTest::newRow("truncated") << "cut.wav" << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) << 1;
        QTest::newRow("garbage") << "garbage.wav" << QByteArray(1000, 'x') << 1;
    }
    void aFileThatIsNoClick() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, decodes);
        const std::string place = name.isEmpty() ? "" : path(name);
        QFile file(QString::fromStdString(place));
        if (name == "folder")
            QVERIFY(QDir(m_dir.path()).mkdir(name));
        else if (name == "fifo")
            QCOMPARE(::mkfifo(place.c_str(), 0600), 0);
        else if (!bytes.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        ClickSource source(m_fallback, {}, reporter());
        for (int beat = 0; beat < 3; ++beat) {
            QCOMPARE(source.clickFor(place), m_fallback);
            QVERIFY(source.waitForDecode(10s));
        }
        QCOMPARE(source.decodes(), decodes);
        QCOMPARE(m_lines.size(), std::size_t(1));
        std::string why;
        QVERIFY(!loadClickFile(place, StreamRate, &why) && !why.empty());
    }

    // Each change is noticed at the next beat and heard once decoded, the click it replaces
    // playing until then. Why a file is not used is said again when the file changes.
    void followsTheFile() {
        ClickSource source(m_fallback, {}, reporter());
        const std::string file = path("click.wav"), other = path("other.wav");
        QVERIFY(writeSound(file, 0.05));
        QVERIFY(writeSound(other, 0.05, 0.25f));
        const timespec same[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, file.c_str(), same, 0), 0);
        QCOMPARE(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
        QCOMPARE(source.clickFor(file), m_fallback); // decoding
        const ClickPtr first = nextBeat(source, file);
        QVERIFY(first && first->size() == 2400 && !source.usedFallback());
        // mv over it: the same size and mtime, but another inode.
        QCOMPARE(::rename(other.c_str(), file.c_str()), 0);
        QCOMPARE(source.clickFor(file), first);
        const ClickPtr second = nextBeat(source, file);
        QVERIFY(second && *std::max_element(second->begin(), second->end()) < 0.3f);
        QCOMPARE(source.decodes(), 2);

        QVERIFY(QFile::remove(QString::fromStdString(file)));
        QCOMPARE(source.clickFor(file), m_fallback); // at once, no decode needed
        QFile garbage(QString::fromStdString(file));
        for (const char* bytes : {"not a sound file", "nor is this one"}) {
            QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(bytes) > 0);
            garbage.close();
            source.clickFor(file);
            QCOMPARE(nextBeat(source, file), m_fallback);
            QCOMPARE(nextBeat(source, file), m_fallback);
        }
        QCOMPARE(m_lines.size(), std::size_t(3)); // removed, garbage, other garbage
    }

    // A beat never waits for a decode, and a file that changes while one runs ends up
    // decoded as it is now.
    void neverWaitsForADecode() {
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> waitedInVain = false;
        ClickSource source(
            m_fallback,
            [&](const std::string& file, std::string& why) {
                // Ten seconds run out only if the beat below waited for us.
                if (released.wait_for(10s) != std::future_status::ready)
                    waitedInVain = true;
                return loadClickFile(file, StreamRate, &why);
            },
            reporter());
        const std::string file = path("slow.wav");
        QVERIFY(writeSound(file, 0.05));
        QCOMPARE(source.clickFor(file), m_fallback);
        QVERIFY(writeSound(file, 0.1));
        QCOMPARE(source.clickFor(file), m_fallback);
        release.set_value();
        const ClickPtr click = nextBeat(source, file);
        QVERIFY(!waitedInVain);
        QVERIFY(click && click->size() == 4800);
    }
};

QTEST_GUILESS_MAIN(TestOwnClick)
#include "tst_own_click.moc"
