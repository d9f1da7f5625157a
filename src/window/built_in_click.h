// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sound/click_loader.h"

namespace window {

// The click shipped inside the program, for when the sound file gives none.
sound::ClickPtr builtInClick();

} // namespace window
