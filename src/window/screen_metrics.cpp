#include "screen_metrics.h"

#include "beat/checked.h"

#include <QGuiApplication>
#include <QScreen>

namespace window {

namespace {
constexpr double TwipsPerInch = 1440.0;

const QScreen* screen() {
    return QGuiApplication::primaryScreen();
}

double factor(double dpi) {
    return dpi > 0 ? TwipsPerInch / dpi : 0.0;
}
} // namespace

double QtScreenMetrics::twipsPerPixelX() const {
    return screen() ? factor(screen()->logicalDotsPerInchX()) : 15.0;
}

double QtScreenMetrics::twipsPerPixelY() const {
    return screen() ? factor(screen()->logicalDotsPerInchY()) : 15.0;
}

double QtScreenMetrics::widthTwips() const {
    return screen() ? screen()->geometry().width() * twipsPerPixelX() : 0.0;
}

double QtScreenMetrics::heightTwips() const {
    return screen() ? screen()->geometry().height() * twipsPerPixelY() : 0.0;
}

int toPixels(double twips, double twipsPerPixel) {
    return beat::roundToInt32(beat::checkedDivide(twips, twipsPerPixel));
}

} // namespace window
