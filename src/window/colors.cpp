#include "colors.h"

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

} // namespace window
