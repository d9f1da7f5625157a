// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace beat {

// A run-time error of a handler: a number and a description, as the user sees them.
class RunTimeError : public std::runtime_error {
  public:
    RunTimeError(int number, const std::string& description)
        : std::runtime_error(description), m_number(number) {}

    // The error number ("ERROR NUMBER: 11").
    int number() const { return m_number; }
    // The error's description ("Division by zero").
    std::string description() const { return what(); }

  private:
    int m_number = 0;
};

namespace errors {
inline constexpr int Overflow = 6;
inline constexpr int DivisionByZero = 11;
} // namespace errors

// Raises the overflow error.
[[noreturn]] void raiseOverflow();
// Raises the division-by-zero error.
[[noreturn]] void raiseDivisionByZero();

// a / b in double precision; division by zero and invalid or infinite results raise.
double checkedDivide(double a, double b);
// a * b in double precision; invalid or infinite results raise.
double checkedMultiply(double a, double b);
// Nearest 32-bit integer, ties to even; outside the range raises overflow.
std::int32_t roundToInt32(double value);
// Signed 16-bit addition that raises on overflow.
std::int16_t checkedAdd16(std::int16_t a, std::int16_t b);
// Signed 32-bit addition and subtraction that raise on overflow.
std::int32_t checkedAdd32(std::int32_t a, std::int32_t b);
std::int32_t checkedSub32(std::int32_t a, std::int32_t b);
// Signed 64-bit increment that raises on overflow (never in practice).
std::int64_t checkedIncrement64(std::int64_t a);

} // namespace beat
