// SPDX-License-Identifier: GPL-3.0-or-later
#include "artwork.h"

namespace window {

QPixmap banner(qreal devicePixelRatio) {
    if (devicePixelRatio <= 1.0)
        return QPixmap(":/banner.gif");
    QPixmap sharp(":/banner@2x.gif");
    sharp.setDevicePixelRatio(2.0);
    return sharp;
}

} // namespace window
