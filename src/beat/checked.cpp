// SPDX-License-Identifier: GPL-3.0-or-later
#include "checked.h"

#include <cmath>
#include <limits>

namespace beat {

void raiseOverflow() {
    throw RunTimeError(errors::Overflow, "Overflow");
}

void raiseDivisionByZero() {
    throw RunTimeError(errors::DivisionByZero, "Division by zero");
}

namespace {
double checkedResult(double r) {
    // 0/0 and inf-inf surface as NaN; both they and infinities count as overflow.
    if (!std::isfinite(r))
        raiseOverflow();
    return r;
}

template <typename T> T checkedNarrow(long long wide) {
    if (wide < std::numeric_limits<T>::min() || wide > std::numeric_limits<T>::max())
        raiseOverflow();
    return static_cast<T>(wide);
}
} // namespace

double checkedDivide(double a, double b) {
    if (b == 0.0) {
        if (a == 0.0 || std::isnan(a))
            raiseOverflow();
        raiseDivisionByZero();
    }
    return checkedResult(a / b);
}

double checkedMultiply(double a, double b) {
    return checkedResult(a * b);
}

std::int32_t roundToInt32(double value) {
    if (!std::isfinite(value))
        raiseOverflow();
    // The default rounding mode is to nearest, ties to even.
    const double r = std::nearbyint(value);
    if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        r > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        raiseOverflow();
    return static_cast<std::int32_t>(r);
}

std::int16_t checkedAdd16(std::int16_t a, std::int16_t b) {
    return checkedNarrow<std::int16_t>(static_cast<long long>(a) + b);
}

std::int32_t checkedAdd32(std::int32_t a, std::int32_t b) {
    return checkedNarrow<std::int32_t>(static_cast<long long>(a) + b);
}

std::int32_t checkedSub32(std::int32_t a, std::int32_t b) {
    return checkedNarrow<std::int32_t>(static_cast<long long>(a) - b);
}

std::int64_t checkedIncrement64(std::int64_t a) {
    if (a == std::numeric_limits<std::int64_t>::max())
        raiseOverflow();
    return a + 1;
}

} // namespace beat
