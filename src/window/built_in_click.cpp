// SPDX-License-Identifier: GPL-3.0-or-later
#include "built_in_click.h"

#include <QFile>

namespace window {

sound::ClickPtr builtInClick() {
    QFile file(":/click.wav");
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = file.readAll();
    return sound::loadClickBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace window
