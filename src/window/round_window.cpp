// SPDX-License-Identifier: GPL-3.0-or-later
#include "round_window.h"

#include "colors.h"

#include <QMessageBox>

#include <array>

namespace window {

namespace {
struct Ring {
    std::int32_t inset;
    std::uint32_t firstPass;
    std::uint32_t secondPass;
};

// Outer pair raised, inner pair sunken: the first pass paints the lower-right colours all
// round, the second repaints the upper-left half inside the clip triangle.
constexpr std::array<Ring, 4> Rings{{
    {0, COLOR_3DDKSHADOW, COLOR_3DLIGHT},
    {1, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT},
    {3, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW},
    {4, COLOR_3DLIGHT, COLOR_3DDKSHADOW},
}};
} // namespace

RoundWindow::RoundWindow(gdi::Gdi& gdi, const ScreenMetrics& screen, ErrorBox errorBox)
    : m_gdi(gdi), m_screen(screen), m_errorBox(std::move(errorBox)) {}

std::int32_t RoundWindow::pixelWidth(const RoundTarget& target) const {
    return toPixels(target.Width(), m_screen.twipsPerPixelX());
}

std::int32_t RoundWindow::pixelHeight(const RoundTarget& target) const {
    return toPixels(target.Height(), m_screen.twipsPerPixelY());
}

void RoundWindow::ShapeRoundWindow(RoundTarget& TargetForm, const std::int32_t& CornerSize) {
    std::int32_t w = 0, h = 0;
    gdi::HRGN region = 0;
    // Each step is tried again after its error box, as the user closes it.
    const auto attempt = [this](const std::function<void()>& step) {
        for (int failures = 0;;) {
            try {
                step();
                return true;
            } catch (const beat::RunTimeError& e) {
                if (m_errorBox)
                    m_errorBox(e);
                if (++failures == MaxAttempts)
                    return false;
            }
        }
    };
    if (!attempt([&] { w = pixelWidth(TargetForm); }) ||
        !attempt([&] { h = pixelHeight(TargetForm); }) ||
        !attempt([&] { region = m_gdi.CreateRoundRectRgn(0, 0, w, h, CornerSize, CornerSize); }))
        return;
    attempt([&] { m_gdi.SetWindowRgn(TargetForm.hWnd(), region, true); });
}

void RoundWindow::PaintRoundBevel(RoundTarget& TargetForm, const std::int32_t& CornerSize) {
    const std::int32_t w = pixelWidth(TargetForm);
    const std::int32_t h = pixelHeight(TargetForm);
    const std::array<gdi::POINT, 3> triangle{{{0, 0}, {w, 0}, {0, h}}};
    const gdi::HRGN clip = m_gdi.CreatePolygonRgn(triangle.data(), 3, gdi::ALTERNATE);
    TargetForm.setDrawWidth(1);

    const auto pass = [&](bool second) {
        for (const Ring& ring : Rings) {
            TargetForm.setForeColor(second ? ring.secondPass : ring.firstPass);
            const std::int32_t k = ring.inset;
            const std::int32_t ellipse = beat::checkedSub32(CornerSize, 2 * k);
            m_gdi.RoundRect(TargetForm.hDC(), k, k, beat::checkedSub32(w, k),
                            beat::checkedSub32(h, k), ellipse, ellipse);
        }
    };
    // A paint that stops on an error must still not leave its clip or its triangle behind,
    // or every failing repaint would leak one more region.
    struct Cleanup {
        gdi::Gdi& gdi;
        RoundTarget& target;
        gdi::HRGN clip;
        ~Cleanup() {
            gdi.SelectClipRgn(target.hDC(), 0);
            gdi.DeleteObject(clip);
        }
    } cleanup{m_gdi, TargetForm, clip};
    pass(false);
    m_gdi.SelectClipRgn(TargetForm.hDC(), clip);
    pass(true);
}

void RoundWindow::showErrorBox(const beat::RunTimeError& error) {
    QMessageBox box(QMessageBox::Critical, "ERROR NUMBER: " + QString::number(error.number()),
                    QString::fromStdString(error.description()), QMessageBox::Ok);
    box.exec();
}

} // namespace window
