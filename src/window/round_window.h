// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "beat/checked.h"
#include "gdi.h"
#include "screen_metrics.h"

#include <cstdint>
#include <functional>

namespace window {

// What the rounding routines use of a window.
class RoundTarget {
  public:
    virtual ~RoundTarget() = default;
    // Outer size in twips.
    virtual float Width() const = 0;
    virtual float Height() const = 0;
    virtual gdi::HWND hWnd() = 0;
    // The drawing surface of the paint under way.
    virtual gdi::HDC hDC() = 0;
    virtual void setForeColor(std::uint32_t color) = 0;
    virtual void setDrawWidth(std::int32_t width) = 0;
};

// The window's rounded outline and the 3-D bevel painted along it.
class RoundWindow {
  public:
    // Shows a shaping error to the user and returns when the user has closed it.
    using ErrorBox = std::function<void(const beat::RunTimeError&)>;
    // A shaping step that fails this often in a row is given up: the window stays
    // rectangular and starts all the same, rather than locking the user out.
    static constexpr int MaxAttempts = 3;

    RoundWindow(gdi::Gdi& gdi, const ScreenMetrics& screen, ErrorBox errorBox);

    // Cuts the window to a rounded rectangle with CornerSize × CornerSize corner ellipses.
    void ShapeRoundWindow(RoundTarget& TargetForm, const std::int32_t& CornerSize);
    // Paints the raised outer and sunken inner edge along that outline.
    void PaintRoundBevel(RoundTarget& TargetForm, const std::int32_t& CornerSize);

    // The box the platform shows: the description, "ERROR NUMBER: n", error icon, OK.
    static void showErrorBox(const beat::RunTimeError& error);

  private:
    std::int32_t pixelWidth(const RoundTarget& target) const;
    std::int32_t pixelHeight(const RoundTarget& target) const;

    gdi::Gdi& m_gdi;
    const ScreenMetrics& m_screen;
    ErrorBox m_errorBox;
};

} // namespace window
