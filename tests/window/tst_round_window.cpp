#include "window/colors.h"
#include "window/gdi.h"
#include "window/round_window.h"
#include "window_rig.h"

#include <QApplication>
#include <QTest>

#include <vector>

using namespace window;

namespace {

// A window of a chosen size in twips that paints onto an image.
struct Target : RoundTarget {
    float width = 6345, height = 7770;
    QWidget widget;
    QImage image{423, 518, QImage::Format_RGB32};
    QPainter painter;
    gdi::Surface surface;
    std::uint32_t foreColor = 0;
    std::int32_t drawWidth = 0;

    Target() {
        image.fill(Qt::white);
        painter.begin(&image);
        surface.painter = &painter;
        surface.palette = QApplication::palette();
    }
    float Width() const override { return width; }
    float Height() const override { return height; }
    gdi::HWND hWnd() override { return &widget; }
    gdi::HDC hDC() override { return &surface; }
    void setForeColor(std::uint32_t c) override { foreColor = surface.foreColor = c; }
    void setDrawWidth(std::int32_t w) override { drawWidth = surface.drawWidth = w; }
};

// A palette whose four bevel roles can be told apart on screen.
QPalette bevelPalette(QPalette pal, int shift) {
    pal.setColor(QPalette::Midlight, QColor(250, 10 + shift, 10)); // 3DLIGHT
    pal.setColor(QPalette::Light, QColor(10, 250, 10 + shift));    // BTNHIGHLIGHT
    pal.setColor(QPalette::Dark, QColor(10 + shift, 10, 250));     // BTNSHADOW
    pal.setColor(QPalette::Shadow, QColor(120, 60 + shift, 30));   // 3DDKSHADOW
    return pal;
}

} // namespace

class TestRoundWindow : public QObject {
    Q_OBJECT
  private slots:
    void pixelSizeTiesGoToEven() {
        gdi::Gdi gdi;
        FakeScreen screen(12);
        RoundWindow round(gdi, screen, nullptr);
        Target target;
        target.width = 6342;  // 528.5
        target.height = 7770; // 647.5
        round.ShapeRoundWindow(target, 50);
        QCOMPARE(gdi.region(gdi.windowRegion(&target.widget))->boundingRect(),
                 QRect(0, 0, 528, 648));
    }

    void windowIsCutToARoundedRectangle() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        frm.grab();
        const QRegion mask = frm.mask();
        QCOMPARE(mask.boundingRect(), QRect(0, 0, 423, 518));
        QVERIFY(mask.contains(QPoint(25, 0)) && mask.contains(QPoint(0, 25)));
        QVERIFY(mask.contains(QPoint(397, 517)));
        QVERIFY(!mask.contains(QPoint(0, 0)) && !mask.contains(QPoint(422, 517)));
        for (const QRect& row : mask) // symmetric corners
            QCOMPARE(row.left(), 422 - row.right());
        // The window's own region is all a shaped and painted window keeps.
        QCOMPARE(frm.gdi().liveRegions(), 1);
    }

    void bevelColoursOnEveryEdge() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        const QPalette pal = bevelPalette(frm.palette(), 0);
        frm.setPalette(pal);
        const QColor bg(255, 255, 192);
        const QColor light = pal.color(QPalette::Midlight), hi = pal.color(QPalette::Light),
                     dark = pal.color(QPalette::Dark), dk = pal.color(QPalette::Shadow);
        const QImage first = frm.grab().toImage();
        const std::vector<QColor> upperLeft{light, hi, bg, dark, dk};
        const std::vector<QColor> lowerRight{dk, dark, bg, hi, light};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(first.pixelColor(211, i), upperLeft[i]);        // top
            QCOMPARE(first.pixelColor(i, 259), upperLeft[i]);        // left
            QCOMPARE(first.pixelColor(211, 517 - i), lowerRight[i]); // bottom
            QCOMPARE(first.pixelColor(422 - i, 259), lowerRight[i]); // right
        }
        QCOMPARE(first.pixelColor(211, 5), bg); // nothing inside ring 4 is filled
        QCOMPARE(frm.gdi().liveRegions(), 0);   // never shaped: no region at all

        QCOMPARE(frm.grab().toImage(), first); // a repaint is identical

        frm.setPalette(bevelPalette(frm.palette(), 100)); // the colour scheme changed
        const QImage after = frm.grab().toImage();
        QCOMPARE(after.pixelColor(211, 0), QColor(250, 110, 10));
        QCOMPARE(after.pixelColor(211, 517), QColor(120, 160, 30));
    }

    void aFactorOf0LeavesNoRegionBehind() {
        gdi::Gdi gdi;
        FakeScreen screen(0);
        int boxes = 0;
        RoundWindow round(gdi, screen, [&](const beat::RunTimeError&) { ++boxes; });
        Target target;
        round.ShapeRoundWindow(target, 50);
        QCOMPARE(boxes, RoundWindow::MaxAttempts);
        QVERIFY(target.widget.mask().isEmpty()); // rectangular
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, round.PaintRoundBevel(target, 50));
        QCOMPARE(gdi.liveRegions(), 0);
    }

    void anErrorPartWayThroughAPaintLeavesNoRegion() {
        gdi::Gdi gdi;
        FakeScreen screen;
        RoundWindow round(gdi, screen, nullptr);
        Target target;
        const std::int32_t corner = INT32_MIN + 1; // C - 2 overflows on ring 1
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, round.PaintRoundBevel(target, corner));
        QCOMPARE(gdi.liveRegions(), 0);
        QVERIFY(!target.surface.clip);
    }
};

QTEST_MAIN(TestRoundWindow)
#include "tst_round_window.moc"
