// SPDX-License-Identifier: GPL-3.0-or-later
#include "display_guard.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace window {

namespace {
int g_stderr = -1; // the real stderr while a guard lives
std::FILE* g_held = nullptr;
QtMessageHandler g_previous = nullptr;

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const std::string line =
            missingDisplayLine(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                               std::getenv("QT_QPA_PLATFORM")) +
            "\n";
        writeAll(g_stderr >= 0 ? g_stderr : STDERR_FILENO, line);
        std::_Exit(1);
    }
    if (g_previous)
        g_previous(type, context, message);
}
} // namespace

std::string missingDisplayLine(const char* display, const char* waylandDisplay,
                               const char* platform) {
    const std::string_view chosen = platform ? platform : "";
    const bool x11 = chosen.empty() || chosen.find("xcb") != std::string_view::npos;
    const bool wayland = chosen.empty() || chosen.find("wayland") != std::string_view::npos;
    const auto set = [](const char* value) { return value && *value; };
    std::string why;
    if (!x11 && !wayland) {
        why = "QT_QPA_PLATFORM=" + std::string(chosen) + " did not start";
    } else if (x11 && wayland && !set(display) && !set(waylandDisplay)) {
        why = "DISPLAY and WAYLAND_DISPLAY are not set";
    } else {
        const auto describe = [&](const char* name, const char* value) {
            if (!why.empty())
                why += ", ";
            why += set(value) ? std::string(name) + "=" + value + " does not answer"
                              : std::string(name) + " is not set";
        };
        if (x11)
            describe("DISPLAY", display);
        if (wayland)
            describe("WAYLAND_DISPLAY", waylandDisplay);
    }
    return "metronome: cannot open a display (" + why + ")";
}

DisplayGuard::DisplayGuard() {
    std::fflush(stderr);
    g_held = std::tmpfile();
    g_stderr = g_held ? ::dup(STDERR_FILENO) : -1;
    if (g_stderr < 0 || ::dup2(::fileno(g_held), STDERR_FILENO) < 0) {
        // Nowhere to hold the plugins' messages: they go straight through.
        if (g_stderr >= 0)
            ::close(g_stderr);
        g_stderr = -1;
        if (g_held)
            std::fclose(g_held);
        g_held = nullptr;
    }
    g_previous = qInstallMessageHandler(onMessage);
}

DisplayGuard::~DisplayGuard() {
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
    if (g_stderr < 0)
        return;
    std::fflush(stderr);
    ::dup2(g_stderr, STDERR_FILENO);
    ::close(g_stderr);
    g_stderr = -1;
    std::rewind(g_held);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, g_held)) > 0;)
        writeAll(STDERR_FILENO, {buffer, n});
    std::fclose(g_held);
    g_held = nullptr;
}

} // namespace window
