// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>

namespace window {

// The title banner for a screen of `devicePixelRatio`: above 1 the one drawn at twice the
// size, so that it stays sharp; either way it covers the same 285 × 92 pixels of layout.
QPixmap banner(qreal devicePixelRatio);

} // namespace window
