#include "window/artwork.h"
#include "window/gdi.h"
#include "window/keyboard.h"

#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTest>

using namespace window;

namespace {
// Opens up the style option the bar paints with, to find its thumb.
struct ProbeBar : QScrollBar {
    explicit ProbeBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}
    using QScrollBar::initStyleOption;
};
} // namespace

// How the window behaves on the desktops it runs on: keyboard, HiDPI art, Wayland's shape.
class TestDesktop : public QObject {
    Q_OBJECT
  private slots:
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void focusedScrollBarShowsIt();
    void bannerCoversTheSameLayoutAtEveryScale();
    void waylandPaintsOnlyInsideTheRegion();
};

void TestDesktop::enterPressesTheFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("clicks");
    QTest::newRow("Return") << int(Qt::Key_Return) << 1;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << 1;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << 0;
}

void TestDesktop::enterPressesTheFocusedButton() {
    QFETCH(int, key);
    QFETCH(int, clicks);
    QWidget window;
    auto* first = new QPushButton("CREDITS", &window);
    auto* second = new QPushButton("EXIT", &window);
    applyKeyboardConventions(window);
    QSignalSpy firstClicked(first, &QPushButton::clicked);
    QSignalSpy secondClicked(second, &QPushButton::clicked);
    QTest::keyClick(second, Qt::Key(key));
    QCOMPARE(secondClicked.count(), clicks);
    QCOMPARE(firstClicked.count(), 0);
}

void TestDesktop::focusedScrollBarShowsIt() {
    QWidget window;
    window.resize(200, 60);
    auto* bar = new ProbeBar(&window);
    bar->setGeometry(10, 10, 153, 25);
    bar->setRange(20, 400);
    bar->setValue(100);
    auto* button = new QPushButton("EXIT", &window);
    button->setGeometry(10, 40, 80, 20);
    applyKeyboardConventions(window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    const QImage unfocused = bar->grab().toImage();
    bar->setFocus();
    QTRY_VERIFY(bar->hasFocus());
    const QImage focused = bar->grab().toImage();
    QCOMPARE(focused.size(), unfocused.size());

    // The frame lies inside the thumb, and nothing else of the bar changes.
    QStyleOptionSlider option;
    bar->initStyleOption(&option);
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, bar);
    QVERIFY(!thumb.isEmpty());
    int changedInThumb = 0;
    for (int y = 0; y < focused.height(); ++y)
        for (int x = 0; x < focused.width(); ++x)
            if (focused.pixel(x, y) != unfocused.pixel(x, y)) {
                QVERIFY2(thumb.contains(x, y), qPrintable(QString("changed at %1,%2 outside the "
                                                                  "thumb")
                                                              .arg(x)
                                                              .arg(y)));
                ++changedInThumb;
            }
    // A frame around the thumb, not a speck.
    QVERIFY2(changedInThumb >= thumb.width() / 2, qPrintable(QString::number(changedInThumb)));
}

void TestDesktop::bannerCoversTheSameLayoutAtEveryScale() {
    for (qreal dpr : {1.0, 1.5, 2.0}) {
        const QPixmap pixmap = banner(dpr);
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(285, 92));
        // Drawn at its size rather than enlarged from the 1x art.
        QCOMPARE(pixmap.width(), dpr > 1.0 ? 570 : 285);
    }
}

namespace {
// A window as the metronome's: light yellow, painted in full, cut to a rounded region.
struct ShapedWindow {
    explicit ShapedWindow(bool maskInputOnly) : gdi(maskInputOnly) {
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, QColor(255, 255, 192));
        window.setPalette(pal);
        window.setAutoFillBackground(true);
        window.resize(100, 80);
        gdi.SetWindowRgn(&window, gdi.CreateRoundRectRgn(0, 0, 100, 80, 50, 50), true);
    }
    QWidget window;
    gdi::Gdi gdi;
};
} // namespace

void TestDesktop::waylandPaintsOnlyInsideTheRegion() {
    ShapedWindow shaped(true);
    QVERIFY(shaped.window.testAttribute(Qt::WA_TranslucentBackground));
    // The mask stays, as the input region.
    QCOMPARE(shaped.window.mask(), *shaped.gdi.region(shaped.gdi.windowRegion(&shaped.window)));
    const QImage image = shaped.window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(99, 0), QPoint(0, 79), QPoint(99, 79), QPoint(3, 3), QPoint(96, 76)})
        QCOMPARE(qAlpha(image.pixel(corner)), 0);
    QCOMPARE(QColor(image.pixel(50, 40)), QColor(255, 255, 192));
    QCOMPARE(QColor(image.pixel(50, 0)), QColor(255, 255, 192));
    QCOMPARE(QColor(image.pixel(0, 40)), QColor(255, 255, 192));

    // A new region later (the window reshaped) keeps a single background painter.
    shaped.gdi.SetWindowRgn(&shaped.window, shaped.gdi.CreateRoundRectRgn(0, 0, 100, 80, 20, 20),
                            true);
    const QImage again = shaped.window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(again.pixel(0, 0)), 0);
    QCOMPARE(QColor(again.pixel(3, 3)), QColor(255, 255, 192));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
