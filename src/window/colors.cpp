// SPDX-License-Identifier: GPL-3.0-or-later
#include "colors.h"

#include <algorithm>
#include <cmath>

namespace window {

namespace {
QPalette::ColorRole systemRole(std::uint32_t index) {
    switch (index) {
    case 0x15:
        return QPalette::Shadow;
    case 0x10:
        return QPalette::Dark;
    case 0x14:
        return QPalette::Light;
    case 0x16:
        return QPalette::Midlight;
    case 0x0F:
        return QPalette::Button;
    case 0x12:
        return QPalette::ButtonText;
    case 0x05:
        return QPalette::Base;
    case 0x08:
        return QPalette::Text;
    case 0x0D:
        return QPalette::Highlight;
    case 0x0E:
        return QPalette::HighlightedText;
    default:
        return QPalette::Window;
    }
}
} // namespace

QColor resolveColor(std::uint32_t value, const QPalette& palette) {
    if (value & 0x80000000u)
        return palette.color(QPalette::Active, systemRole(value & 0xFFu));
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](float v) {
            return v <= 0.04045f ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        const QColor rgb = c.toRgb();
        return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
               0.0722 * linear(rgb.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& background, const QColor& text) {
    if (contrastRatio(background, text) >= 4.5)
        return text;
    const QColor black(Qt::black), white(Qt::white);
    return contrastRatio(background, black) >= contrastRatio(background, white) ? black : white;
}

} // namespace window
