// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

namespace window {

// The one place where a run-time error that a handler leaves unhandled ends up: it is
// written once to standard error and the program runs on. The same error of the same
// handler is not written again, so a failing 150 ms tick cannot flood the log.
class ErrorDispatch {
  public:
    // Runs one event handler, catching whatever it leaves unhandled.
    static void run(const char* handler, const std::function<void()>& body);
    // Unhandled errors seen so far, repeats included.
    static int count();
    // The last line written, for tests.
    static std::string lastReport();
};

} // namespace window
