// SPDX-License-Identifier: GPL-3.0-or-later
#include "gdi.h"

#include "colors.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace window::gdi {

QRegion roundRectRegion(int x1, int y1, int x2, int y2, int w, int h) {
    // Inverted rectangles are taken the other way round, as the platform does.
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    const double a = std::min(std::abs(w), x2 - x1) / 2.0;
    const double b = std::min(std::abs(h), y2 - y1) / 2.0;
    QRegion region;
    for (int y = y1; y < y2; ++y) {
        // Distance of the row's centre into the top or bottom corner band.
        const double cy = y + 0.5;
        const double dy = std::max({0.0, (y1 + b) - cy, cy - (y2 - b)});
        int inset = 0;
        if (b > 0 && dy > 0) {
            const double t = dy / b;
            if (t >= 1.0)
                continue;
            const double dx = a * std::sqrt(1.0 - t * t);
            inset = static_cast<int>(std::ceil(a - dx - 0.5));
        }
        if (x2 - x1 - 2 * inset > 0)
            region += QRect(x1 + inset, y, x2 - x1 - 2 * inset, 1);
    }
    return region;
}

namespace {
// Paints a translucent window's background inside its mask only, ahead of its own paint.
class ShapedBackground : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* window = static_cast<QWidget*>(watched);
            QPainter painter(window);
            painter.setClipRegion(window->mask());
            painter.fillRect(window->rect(), window->palette().color(window->backgroundRole()));
        }
        return false;
    }
};
} // namespace

bool maskShapesInputOnly() {
    return QGuiApplication::platformName().startsWith("wayland");
}

HRGN Gdi::add(QRegion region) {
    const HRGN handle = m_next++;
    m_regions.emplace(handle, std::move(region));
    return handle;
}

HRGN Gdi::CreateRoundRectRgn(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                             std::int32_t w, std::int32_t h) {
    return add(roundRectRegion(x1, y1, x2, y2, w, h));
}

HRGN Gdi::CreatePolygonRgn(const POINT* points, std::int32_t count, std::int32_t fillMode) {
    if (!points || count < 3)
        return 0;
    QPolygon polygon;
    for (std::int32_t i = 0; i < count; ++i)
        polygon << QPoint(points[i].x, points[i].y);
    return add(QRegion(polygon, fillMode == WINDING ? Qt::WindingFill : Qt::OddEvenFill));
}

bool Gdi::RoundRect(HDC hdc, std::int32_t left, std::int32_t top, std::int32_t right,
                    std::int32_t bottom, std::int32_t w, std::int32_t h) {
    if (!hdc || !hdc->painter)
        return false;
    const QRegion area = roundRectRegion(left, top, right, bottom, w, h);
    QRegion outline;
    const int width = std::max(1, hdc->drawWidth);
    // The pen runs along the inside of the shape, so ring 0 lies on the outermost pixels.
    QRegion inner = area;
    for (int i = 0; i < width; ++i) {
        const QRegion eroded = inner & inner.translated(1, 0) & inner.translated(-1, 0) &
                               inner.translated(0, 1) & inner.translated(0, -1);
        outline += inner - eroded;
        inner = eroded;
    }
    if (hdc->clip)
        outline &= *hdc->clip;
    const QColor color = resolveColor(hdc->foreColor, hdc->palette);
    for (const QRect& r : outline)
        hdc->painter->fillRect(r, color);
    return true;
}

int Gdi::SelectClipRgn(HDC hdc, HRGN region) {
    if (!hdc)
        return 0;
    if (region == 0) {
        hdc->clip.reset();
        return SIMPLEREGION;
    }
    const auto it = m_regions.find(region);
    if (it == m_regions.end())
        return 0;
    hdc->clip = it->second;
    if (it->second.isEmpty())
        return NULLREGION;
    return it->second.rectCount() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

bool Gdi::DeleteObject(HRGN region) {
    for (const auto& [window, owned] : m_owned)
        if (owned == region)
            return false; // the window's own region is not the caller's to free
    return m_regions.erase(region) == 1;
}

bool Gdi::SetWindowRgn(HWND window, HRGN region, bool redraw) {
    if (!window)
        return false;
    const auto it = m_regions.find(region);
    if (region != 0 && it == m_regions.end())
        return false;
    if (const auto old = m_owned.find(window); old != m_owned.end()) {
        m_regions.erase(old->second);
        m_owned.erase(old);
    }
    if (region == 0) {
        window->clearMask();
    } else {
        window->setMask(it->second);
        m_owned.emplace(window, region);
        if (m_maskInputOnly && !window->testAttribute(Qt::WA_TranslucentBackground)) {
            window->setAttribute(Qt::WA_TranslucentBackground);
            window->setAutoFillBackground(false);
            window->installEventFilter(new ShapedBackground(window));
        }
    }
    if (redraw)
        window->update();
    return true;
}

HRGN Gdi::windowRegion(HWND window) const {
    const auto it = m_owned.find(window);
    return it == m_owned.end() ? 0 : it->second;
}

std::optional<QRegion> Gdi::region(HRGN handle) const {
    const auto it = m_regions.find(handle);
    if (it == m_regions.end())
        return std::nullopt;
    return it->second;
}

} // namespace window::gdi
