#include "sound/click_source.h"
#include "wav_writer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>

using namespace sound;
using namespace std::chrono_literals;

class TestClickSource : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const ClickPtr m_fallback = std::make_shared<const ClickSamples>(7, 0.5f);
    std::vector<std::string> m_lines;

    std::string path(const char* name) const { return (m_dir.path() + "/" + name).toStdString(); }
    bool write(const std::string& file, double seconds, float level = 0.5f) {
        return writeTestSound(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, seconds, 0, level);
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

    // Every change is noticed at the next beat and heard once decoded; until then the click
    // it replaces plays. Why a file is not used is said once per change of the file.
    void followsTheFile() {
        ClickSource source(m_fallback, {}, reporter());
        const std::string file = path("click.wav");
        QCOMPARE(source.clickFor(file), m_fallback);
        QVERIFY(source.usedFallback());
        QCOMPARE(source.clickFor(file), m_fallback);
        QCOMPARE(m_lines.size(), std::size_t(1));
        QVERIFY(m_lines[0].find("No such file") != std::string::npos);

        QVERIFY(write(file, 0.05));
        QCOMPARE(source.clickFor(file), m_fallback); // appeared: decoding
        const ClickPtr first = nextBeat(source, file);
        QVERIFY(first && first->size() == 2400 && !source.usedFallback());
        for (int i = 0; i < 5; ++i)
            QCOMPARE(source.clickFor(file), first);
        QCOMPARE(source.decodes(), 1);

        QVERIFY(write(file, 0.08)); // rewritten in place
        QCOMPARE(source.clickFor(file), first);
        const ClickPtr second = nextBeat(source, file);
        QVERIFY(second && second->size() == 3840);

        // mv over it: same size and mtime, another inode.
        const std::string other = path("other.wav");
        QVERIFY(write(other, 0.08, 0.25f));
        const timespec same[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, file.c_str(), same, 0), 0);
        QCOMPARE(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
        source.clickFor(file);
        const ClickPtr touched = nextBeat(source, file);
        QCOMPARE(::rename(other.c_str(), file.c_str()), 0);
        QCOMPARE(source.clickFor(file), touched);
        const ClickPtr third = nextBeat(source, file);
        QVERIFY(third && *std::max_element(third->begin(), third->end()) < 0.3f);
        QCOMPARE(m_lines.size(), std::size_t(1));

        QVERIFY(QFile::remove(QString::fromStdString(file)));
        QCOMPARE(source.clickFor(file), m_fallback); // at once, no decode needed
        QCOMPARE(m_lines.size(), std::size_t(2));

        QFile garbage(QString::fromStdString(file));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(1000, 'x'));
        garbage.close();
        source.clickFor(file);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(nextBeat(source, file), m_fallback);
        QCOMPARE(m_lines.size(), std::size_t(3));
        const int decodes = source.decodes();
        QVERIFY(garbage.open(QIODevice::Append)); // changed, still garbage: said again
        garbage.write("x");
        garbage.close();
        source.clickFor(file);
        QCOMPARE(nextBeat(source, file), m_fallback);
        QCOMPARE(m_lines.size(), std::size_t(4));
        QCOMPARE(source.decodes(), decodes + 1);
    }

    // None of these is opened or decoded; each is said once, and the fallback plays.
    void placesThatAreNoFile() {
        ClickSource source(m_fallback, {}, reporter());
        QCOMPARE(::mkfifo(path("fifo.wav").c_str(), 0600), 0);
        QVERIFY(QDir(m_dir.path()).mkdir("folder.wav"));
        QVERIFY(write(path("relative.wav"), 0.05)); // not read from the working folder
        QVERIFY(QDir::setCurrent(m_dir.path()));
        for (const std::string& place :
             {path("fifo.wav"), path("folder.wav"), std::string("relative.wav"), std::string()}) {
            for (int i = 0; i < 3; ++i)
                QCOMPARE(source.clickFor(place), m_fallback);
        }
        QCOMPARE(source.decodes(), 0);
        QCOMPARE(m_lines.size(), std::size_t(4));
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
        QVERIFY(write(file, 0.05));
        QCOMPARE(source.clickFor(file), m_fallback);
        QVERIFY(write(file, 0.1));
        QCOMPARE(source.clickFor(file), m_fallback);
        release.set_value();
        const ClickPtr click = nextBeat(source, file);
        QVERIFY(!waitedInVain);
        QVERIFY(click && click->size() == 4800);
    }
};

QTEST_GUILESS_MAIN(TestClickSource)
#include "tst_click_source.moc"
