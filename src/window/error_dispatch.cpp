// SPDX-License-Identifier: GPL-3.0-or-later
#include "error_dispatch.h"

#include "beat/checked.h"

#include <cstdio>
#include <exception>
#include <set>
#include <utility>

namespace window {

namespace {
int g_count = 0;
std::string g_last;
std::set<std::pair<std::string, int>> g_reported;

constexpr int InternalError = 51;

void report(const char* handler, int number, const std::string& description) {
    ++g_count;
    if (!g_reported.insert({handler, number}).second)
        return;
    g_last = "Run-time error " + std::to_string(number) + " in " + handler + ": " + description;
    std::fprintf(stderr, "%s\n", g_last.c_str());
}
} // namespace

void ErrorDispatch::run(const char* handler, const std::function<void()>& body) {
    try {
        body();
    } catch (const beat::RunTimeError& e) {
        report(handler, e.number(), e.description());
    } catch (const std::exception& e) {
        report(handler, InternalError, e.what());
    } catch (...) {
        report(handler, InternalError, "Internal error");
    }
}

int ErrorDispatch::count() {
    return g_count;
}

std::string ErrorDispatch::lastReport() {
    return g_last;
}

} // namespace window
