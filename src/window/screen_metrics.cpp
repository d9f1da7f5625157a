// SPDX-License-Identifier: GPL-3.0-or-later
#include "screen_metrics.h"

#include "beat/checked.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace window {

namespace {
constexpr double TwipsPerInch = 1440.0;
constexpr double StandardTwipsPerPixel = 15.0;

double factor(double dpi) {
    return dpi > 0 ? TwipsPerInch / dpi : 0.0;
}
} // namespace

QtScreenMetrics::QtScreenMetrics(const QScreen* screen) : m_screen(screen) {}

const QScreen* QtScreenMetrics::screen() const {
    return m_screen ? m_screen : QGuiApplication::primaryScreen();
}

double QtScreenMetrics::twipsPerPixelX() const {
    return screen() ? factor(screen()->logicalDotsPerInchX()) : StandardTwipsPerPixel;
}

double QtScreenMetrics::twipsPerPixelY() const {
    return screen() ? factor(screen()->logicalDotsPerInchY()) : StandardTwipsPerPixel;
}

QRect QtScreenMetrics::geometry() const {
    return screen() ? screen()->geometry() : QRect();
}

QRect QtScreenMetrics::availableGeometry() const {
    return screen() ? screen()->availableGeometry() : QRect();
}

double layoutTwipsPerPixel(double reported) {
    // 1 to 60 twips per pixel is 1440 to 24 dots per inch: anything else is no real screen.
    return reported >= 1.0 && reported <= 60.0 ? reported : StandardTwipsPerPixel;
}

int toPixels(double twips, double twipsPerPixel) {
    return beat::roundToInt32(beat::checkedDivide(twips, twipsPerPixel));
}

QPoint keepInside(QPoint topLeft, QSize size, const QRect& area) {
    if (area.isEmpty())
        return topLeft;
    const auto clamp = [](int v, int low, int high) { return std::max(low, std::min(v, high)); };
    return {clamp(topLeft.x(), area.left(), area.left() + area.width() - size.width()),
            clamp(topLeft.y(), area.top(), area.top() + area.height() - size.height())};
}

} // namespace window
