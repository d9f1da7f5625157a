#include "window/flash_hold.h"

#include <QLabel>
#include <QTest>

using window::FlashHold;

namespace {
// Counts the paints a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

class TestFlashHold : public QObject {
    Q_OBJECT
  private slots:
    void aBeatIsPaintedWhenItsHoldEnds() {
        QWidget window;
        window.resize(200, 200);
        auto* beat = new QLabel(&window);
        beat->setGeometry(10, 10, 100, 100);
        PaintCounter seen;
        window.installEventFilter(&seen);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        FlashHold hold(window);
        QCoreApplication::processEvents();
        seen.paints = 0;

        hold.holdUntil(FlashHold::Clock::now() + std::chrono::hours(1));
        beat->hide(); // what a beat does: the area under it needs painting
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(seen.paints, 0);
        QVERIFY(beat->isHidden()); // the state changed at once; only the paint waits

        hold.holdUntil(FlashHold::Clock::now()); // a time already past: paint now
        QVERIFY(seen.paints > 0);
        QVERIFY(!hold.holding());
    }
};

QTEST_MAIN(TestFlashHold)
#include "tst_flash_hold.moc"
