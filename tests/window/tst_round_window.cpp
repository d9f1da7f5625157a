#include "window/gdi.h"
#include "window_rig.h"

#include <QTest>

#include <vector>

using window::FrmMetronome;

namespace {
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
        QCOMPARE(frm.grab().toImage(), first);  // a repaint is identical

        frm.setPalette(bevelPalette(frm.palette(), 100)); // the colour scheme changed
        const QImage after = frm.grab().toImage();
        QCOMPARE(after.pixelColor(211, 0), QColor(250, 110, 10));
        QCOMPARE(after.pixelColor(211, 517), QColor(120, 160, 30));
    }

    // Where a mask only takes input (Wayland), the window is translucent and its background
    // painted only inside the region, also after it is shaped anew.
    void maskForInputOnlyPaintsOnlyInsideTheRegion() {
        QWidget window;
        QPalette pal = window.palette();
        pal.setColor(QPalette::Window, QColor(255, 255, 192));
        window.setPalette(pal);
        window.setAutoFillBackground(true);
        window.resize(100, 80);
        window::gdi::Gdi gdi(true);
        for (int corner : {50, 20}) {
            gdi.SetWindowRgn(&window, gdi.CreateRoundRectRgn(0, 0, 100, 80, corner, corner), true);
            QCOMPARE(window.mask(), *gdi.region(gdi.windowRegion(&window)));
            const QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
            const auto alpha = [&](int x, int y) { return qAlpha(image.pixel(x, y)); };
            QCOMPARE(alpha(0, 0) + alpha(99, 0) + alpha(0, 79) + alpha(99, 79), 0);
            QCOMPARE(alpha(3, 3), corner == 50 ? 0 : 255);
            QCOMPARE(QColor(image.pixel(50, 40)), QColor(255, 255, 192));
            QCOMPARE(QColor(image.pixel(50, 0)), QColor(255, 255, 192));
            QCOMPARE(QColor(image.pixel(0, 40)), QColor(255, 255, 192));
        }
    }
};

QTEST_MAIN(TestRoundWindow)
#include "tst_round_window.moc"
