// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPainter>
#include <QPalette>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <map>
#include <optional>

// Our stand-in for the platform's region and drawing calls, over QRegion and QPainter.
// Same names, arguments and effects; regions are handles that the layer accounts for.
namespace window::gdi {

using HRGN = std::uint32_t; // 0 is the null region
using HWND = QWidget*;

struct POINT {
    std::int32_t x;
    std::int32_t y;
};

inline constexpr int ALTERNATE = 1;
inline constexpr int WINDING = 2;

// What a region kind SelectClipRgn reports.
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

// A drawing surface during one paint: the painter, the colours of the moment, the pen
// (the window's ForeColor and DrawWidth) and the surface's own clip region.
struct Surface {
    QPainter* painter = nullptr;
    QPalette palette;
    std::uint32_t foreColor = 0;
    std::int32_t drawWidth = 1;
    std::optional<QRegion> clip;
};
using HDC = Surface*;

// The rounded rectangle from (x1, y1) to (x2, y2), right and bottom edges excluded, each
// corner cut by a quarter of a w × h ellipse: the pixels whose centres lie inside.
QRegion roundRectRegion(int x1, int y1, int x2, int y2, int w, int h);

// Whether the windowing system takes a window's mask for its input only and shows the
// rest of the surface all the same (Wayland), rather than cutting the window (X11).
bool maskShapesInputOnly();

class Gdi {
  public:
    // `maskInputOnly`: see maskShapesInputOnly(); there SetWindowRgn also makes the window
    // translucent and paints its background only inside the region.
    explicit Gdi(bool maskInputOnly = maskShapesInputOnly()) : m_maskInputOnly(maskInputOnly) {}
    virtual ~Gdi() = default;

    virtual HRGN CreateRoundRectRgn(std::int32_t x1, std::int32_t y1, std::int32_t x2,
                                    std::int32_t y2, std::int32_t w, std::int32_t h);
    virtual HRGN CreatePolygonRgn(const POINT* points, std::int32_t count, std::int32_t fillMode);
    // Outlines the rounded rectangle with the surface's pen; the fill is transparent.
    virtual bool RoundRect(HDC hdc, std::int32_t left, std::int32_t top, std::int32_t right,
                           std::int32_t bottom, std::int32_t w, std::int32_t h);
    // A copy of the region becomes the surface's clip; 0 removes it.
    virtual int SelectClipRgn(HDC hdc, HRGN region);
    virtual bool DeleteObject(HRGN region);
    // The window shows and takes input only inside the region, and owns it from now on.
    virtual bool SetWindowRgn(HWND window, HRGN region, bool redraw);

    // Regions alive, those the windows own included.
    int liveRegions() const { return static_cast<int>(m_regions.size()); }
    // The region a window owns, 0 for none.
    HRGN windowRegion(HWND window) const;
    // A live region's area, for tests.
    std::optional<QRegion> region(HRGN handle) const;

  private:
    HRGN add(QRegion region);

    bool m_maskInputOnly = false;
    HRGN m_next = 1;
    std::map<HRGN, QRegion> m_regions;
    std::map<HWND, HRGN> m_owned;
};

} // namespace window::gdi
