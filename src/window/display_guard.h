// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace window {

// The one line that says why no display could be opened, from the environment the
// platform plugins read: DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM (null when unset).
std::string missingDisplayLine(const char* display, const char* waylandDisplay,
                               const char* platform);

// Held around the QApplication's construction. Qt aborts with a screenful about
// reinstalling when no platform plugin can open a display; while a guard lives, that ends
// the program instead with missingDisplayLine() on stderr and exit status 1. What the
// plugins write meanwhile is held back, and passed on to stderr when the display opened.
class DisplayGuard {
  public:
    DisplayGuard();
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard&) = delete;
    DisplayGuard& operator=(const DisplayGuard&) = delete;
};

} // namespace window
