// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace window {

// The file on this desktop that a Windows path names. Its drive and WINDOWS\Desktop part are
// the user's desktop folder (XDG_DESKTOP_DIR in user-dirs.dirs, else ~/Desktop), read anew on
// every call; the folders after it are kept. A path of this system that starts with '/' stays
// as it is. Any other path, or one with an empty, "." or ".." folder, names nothing: "".
std::string desktopPath(const char* path);
// The same with the desktop folder given.
std::string desktopPath(std::string_view path, std::string_view desktop);

} // namespace window
