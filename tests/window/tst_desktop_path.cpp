#include "window/desktop_path.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using window::desktopPath;

class TestDesktopPath : public QObject {
    Q_OBJECT

  private slots:
    void mapsOntoTheDesktop_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("expected");
        const QString d = "/home/ann/Bureau";
        QTest::newRow("as written") << R"(C:\WINDOWS\Desktop\Cool Folder\Music\metronome.wav)" << d
                                    << d + "/Cool Folder/Music/metronome.wav";
        QTest::newRow("any case, any drive, '/' too")
            << R"(d:/windows\DESKTOP\Music/Click.WAV)" << d << d + "/Music/Click.WAV";
        QTest::newRow("desktop is /") << R"(C:\WINDOWS\Desktop\a.wav)"
                                      << "/"
                                      << "/a.wav";
        QTest::newRow("a path of ours") << "/opt/click.wav" << d << "/opt/click.wav";
        QTest::newRow("dots inside a name")
            << R"(C:\WINDOWS\Desktop\..a\b...wav)" << d << d + "/..a/b...wav";

        // What names nothing here.
        QTest::newRow("escapes") << R"(C:\WINDOWS\Desktop\..\..\etc\passwd)" << d << "";
        QTest::newRow("escapes later") << R"(C:\WINDOWS\Desktop\Music\..\..\x.wav)" << d << "";
        QTest::newRow("dot") << R"(C:\WINDOWS\Desktop\.\x.wav)" << d << "";
        QTest::newRow("empty folder") << R"(C:\WINDOWS\Desktop\Music\\x.wav)" << d << "";
        QTest::newRow("trailing separator") << R"(C:\WINDOWS\Desktop\Music\)" << d << "";
        QTest::newRow("the desktop itself") << R"(C:\WINDOWS\Desktop)" << d << "";
        QTest::newRow("dot dot as WINDOWS") << R"(C:\..\WINDOWS\Desktop\x.wav)" << d << "";
        QTest::newRow("other folder of the drive") << R"(C:\Music\metronome.wav)" << d << "";
        QTest::newRow("prefix of a name") << R"(C:\WINDOWS\Desktops\x.wav)" << d << "";
        QTest::newRow("drive-relative") << R"(C:WINDOWS\Desktop\x.wav)" << d << "";
        QTest::newRow("network share") << R"(\\server\WINDOWS\Desktop\x.wav)" << d << "";
        QTest::newRow("relative") << "metronome.wav" << d << "";
        QTest::newRow("empty") << "" << d << "";
        QTest::newRow("no desktop") << R"(C:\WINDOWS\Desktop\x.wav)"
                                    << ""
                                    << "";
        QTest::newRow("relative desktop") << R"(C:\WINDOWS\Desktop\x.wav)"
                                          << "Desktop"
                                          << "";
    }
    void mapsOntoTheDesktop() {
        QFETCH(QString, path);
        QFETCH(QString, desktop);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(desktopPath(path.toStdString(), desktop.toStdString())),
                 expected);
    }

    // The desktop of this session, as the freedesktop user-dirs file names it, read anew
    // on every call so that a renamed desktop is followed while the program runs.
    void followsUserDirs() {
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        const char* path = R"(C:\WINDOWS\Desktop\Cool Folder\Music\metronome.wav)";
        const std::string tail = "/Cool Folder/Music/metronome.wav";
        const std::string h = home.path().toStdString();
        QCOMPARE(desktopPath(path), h + "/Desktop" + tail);

        QVERIFY(QDir(home.path()).mkpath(".config"));
        QFile dirs(home.path() + "/.config/user-dirs.dirs");
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        dirs.close();
        QCOMPARE(desktopPath(path), h + "/Schreibtisch" + tail);
        QVERIFY(dirs.remove());
        QCOMPARE(desktopPath(path), h + "/Desktop" + tail);
        QCOMPARE(desktopPath(nullptr), std::string());
    }
};

QTEST_GUILESS_MAIN(TestDesktopPath)
#include "tst_desktop_path.moc"
