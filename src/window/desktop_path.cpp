// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop_path.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

namespace window {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool sameLetters(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::string desktopPath(std::string_view path, std::string_view desktop) {
    if (!path.empty() && path.front() == '/')
        return std::string(path);
    const bool drive = path.size() >= 3 &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                       path[1] == ':' && isSeparator(path[2]);
    if (!drive || desktop.empty() || desktop.front() != '/')
        return {};

    std::vector<std::string_view> parts;
    for (std::size_t start = 3;;) {
        const auto end = std::find_if(path.begin() + start, path.end(), isSeparator) - path.begin();
        const std::string_view part = path.substr(start, end - start);
        // Each of these would leave the desktop folder or name the folder it is in.
        if (part.empty() || part == "." || part == "..")
            return {};
        parts.push_back(part);
        if (static_cast<std::size_t>(end) == path.size())
            break;
        start = end + 1;
    }
    // Windows ignores case in names; so do we, for the part it owns.
    if (parts.size() < 3 || !sameLetters(parts[0], "WINDOWS") || !sameLetters(parts[1], "Desktop"))
        return {};

    std::string out(desktop);
    for (auto part = parts.begin() + 2; part != parts.end(); ++part) {
        if (out.back() != '/')
            out += '/';
        out += *part;
    }
    return out;
}

std::string desktopPath(const char* path) {
    if (!path)
        return {};
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return desktopPath(path, QFile::encodeName(desktop).toStdString());
}

} // namespace window
