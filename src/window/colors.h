// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace window {

// System-colour references the bevel uses (0x800000nn, nn a system-colour index).
inline constexpr std::uint32_t COLOR_3DDKSHADOW = 0x80000015;
inline constexpr std::uint32_t COLOR_BTNSHADOW = 0x80000010;
inline constexpr std::uint32_t COLOR_BTNHIGHLIGHT = 0x80000014;
inline constexpr std::uint32_t COLOR_3DLIGHT = 0x80000016;

// Any colour value of the design: a literal 0x00BBGGRR, or a system-colour reference
// resolved now from the palette (the current colour scheme).
QColor resolveColor(std::uint32_t value, const QPalette& palette);

// How far apart two colours are to the eye: 1 (the same) to 21 (black on white), as the
// web's accessibility guidelines measure it.
double contrastRatio(const QColor& a, const QColor& b);

// `text` where it reads well on `background` (4.5:1 at least), else black or white,
// whichever reads better: a dark desktop scheme must not put white on our light yellow.
QColor readableOn(const QColor& background, const QColor& text);

} // namespace window
