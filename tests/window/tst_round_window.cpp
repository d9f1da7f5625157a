#include "window/colors.h"
#include "window/gdi.h"
#include "window/round_window.h"
#include "window_rig.h"

#include <QApplication>
#include <QTest>

#include <string>
#include <vector>

using namespace window;

namespace {

// Logs every call with its arguments, then does what the real layer does.
struct RecordingGdi : gdi::Gdi {
    std::vector<std::string> calls;

    static std::string args(std::initializer_list<long long> values) {
        std::string s;
        for (long long v : values)
            s += (s.empty() ? "" : ",") + std::to_string(v);
        return s;
    }
    gdi::HRGN CreateRoundRectRgn(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                                 std::int32_t w, std::int32_t h) override {
        const auto r = Gdi::CreateRoundRectRgn(x1, y1, x2, y2, w, h);
        calls.push_back("CreateRoundRectRgn(" + args({x1, y1, x2, y2, w, h}) +
                        ")=" + std::to_string(r));
        return r;
    }
    gdi::HRGN CreatePolygonRgn(const gdi::POINT* p, std::int32_t n, std::int32_t mode) override {
        const auto r = Gdi::CreatePolygonRgn(p, n, mode);
        calls.push_back("CreatePolygonRgn(" +
                        args({p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y, n, mode}) +
                        ")=" + std::to_string(r));
        return r;
    }
    bool RoundRect(gdi::HDC hdc, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b,
                   std::int32_t w, std::int32_t h) override {
        char color[16];
        std::snprintf(color, sizeof color, "%08X", hdc ? hdc->foreColor : 0u);
        calls.push_back("RoundRect(" + args({l, t, r, b, w, h}) + ") " + color);
        return Gdi::RoundRect(hdc, l, t, r, b, w, h);
    }
    int SelectClipRgn(gdi::HDC hdc, gdi::HRGN region) override {
        calls.push_back("SelectClipRgn(" + std::to_string(region) + ")");
        return Gdi::SelectClipRgn(hdc, region);
    }
    bool DeleteObject(gdi::HRGN region) override {
        calls.push_back("DeleteObject(" + std::to_string(region) + ")");
        return Gdi::DeleteObject(region);
    }
    bool SetWindowRgn(gdi::HWND w, gdi::HRGN region, bool redraw) override {
        calls.push_back("SetWindowRgn(" + std::to_string(region) + "," + (redraw ? "-1" : "0") +
                        ")");
        return Gdi::SetWindowRgn(w, region, redraw);
    }
};

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

std::vector<std::string> ringCalls(const char* a, const char* b, const char* c, const char* d) {
    return {std::string("RoundRect(0,0,423,518,50,50) ") + a,
            std::string("RoundRect(1,1,422,517,48,48) ") + b,
            std::string("RoundRect(3,3,420,515,44,44) ") + c,
            std::string("RoundRect(4,4,419,514,42,42) ") + d};
}

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
    void workedExampleCallSequence() {
        RecordingGdi gdi;
        FakeScreen screen;
        RoundWindow round(gdi, screen, nullptr);
        Target target;
        round.ShapeRoundWindow(target, 50);
        QCOMPARE(gdi.calls, (std::vector<std::string>{"CreateRoundRectRgn(0,0,423,518,50,50)=1",
                                                      "SetWindowRgn(1,-1)"}));
        gdi.calls.clear();
        round.PaintRoundBevel(target, 50);
        std::vector<std::string> expected{"CreatePolygonRgn(0,0,423,0,0,518,3,1)=2"};
        for (auto& c : ringCalls("80000015", "80000010", "80000014", "80000016"))
            expected.push_back(c);
        expected.push_back("SelectClipRgn(2)");
        for (auto& c : ringCalls("80000016", "80000014", "80000010", "80000015"))
            expected.push_back(c);
        expected.push_back("SelectClipRgn(0)");
        expected.push_back("DeleteObject(2)");
        QCOMPARE(gdi.calls, expected);
        // Nothing left behind but the window's own region.
        QCOMPARE(gdi.liveRegions(), 1);
        QCOMPARE(gdi.windowRegion(&target.widget), gdi::HRGN(1));
        QVERIFY(!target.surface.clip);
        QCOMPARE(target.foreColor, 0x80000015u);
        QCOMPARE(target.drawWidth, 1);
    }

    void pixelSizeTiesGoToEven() {
        RecordingGdi gdi;
        FakeScreen screen(12);
        RoundWindow round(gdi, screen, nullptr);
        Target target;
        target.width = 6342;  // 528.5
        target.height = 7770; // 647.5
        round.ShapeRoundWindow(target, 50);
        QCOMPARE(gdi.calls.front(), std::string("CreateRoundRectRgn(0,0,528,648,50,50)=1"));
    }

    void regionHasRoundedCorners() {
        const QRegion r = gdi::roundRectRegion(0, 0, 423, 518, 50, 50);
        QVERIFY(r.contains(QPoint(25, 0)));
        QVERIFY(r.contains(QPoint(0, 25)));
        QVERIFY(r.contains(QPoint(397, 517)));
        QVERIFY(!r.contains(QPoint(0, 0)));
        QVERIFY(!r.contains(QPoint(422, 517)));
        QVERIFY(!r.contains(QPoint(423, 100))); // right edge excluded
        QVERIFY(!r.contains(QPoint(100, 518))); // bottom edge excluded
        // Symmetric corners: every row is as wide on both sides.
        for (const QRect& row : r)
            QCOMPARE(row.left(), 422 - row.right());
    }

    void windowMaskFollowsTheRegion() {
        WindowRig rig;
        FrmMetronome& frm = rig.frm;
        frm.show();
        const QRegion mask = frm.mask();
        QVERIFY(mask.contains(QPoint(25, 0)));
        QVERIFY(mask.contains(QPoint(0, 25)));
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(!mask.contains(QPoint(422, 517)));
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
        RecordingGdi gdi;
        FakeScreen screen(0);
        int boxes = 0;
        RoundWindow round(gdi, screen, [&](const beat::RunTimeError&) { ++boxes; });
        Target target;
        round.ShapeRoundWindow(target, 50);
        QCOMPARE(boxes, RoundWindow::MaxAttempts);
        QVERIFY(gdi.calls.empty());
        QVERIFY(target.widget.mask().isEmpty()); // rectangular
        QVERIFY_THROWS_EXCEPTION(beat::RunTimeError, round.PaintRoundBevel(target, 50));
        QCOMPARE(gdi.liveRegions(), 0);
    }

    void anErrorPartWayThroughAPaintLeavesNoRegion() {
        RecordingGdi gdi;
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
