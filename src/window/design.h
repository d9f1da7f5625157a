// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The window and its sixteen controls as design data. Lengths are twips, colours 0x00BBGGRR.
namespace window::design {

enum class Kind { CommandButton, CheckBox, Label, TextBox, HScrollBar, Timer, Image };

// How a control's background is painted.
enum class Back { Default, Transparent, Opaque };

struct Control {
    int order; // front-to-back: 1 is front-most
    std::string_view name;
    Kind kind;
    std::string_view caption;
    int left, top, width, height;
    Back back;
    std::uint32_t color; // meaningful only for Back::Opaque
    double fontPoints;   // 0: the window's default font
    int tabIndex;        // -1: the kind has none
    bool visible;
    bool enabled;
};

inline constexpr std::string_view WindowCaption = "Metronome - By Velkaro";
inline constexpr std::uint32_t WindowColor = 0x00C0FFFF;
inline constexpr int WindowWidth = 6345;
inline constexpr int WindowHeight = 7770;

inline constexpr std::uint32_t ButtonColor = 0x00FFFFC0;
inline constexpr std::uint32_t Red = 0x000000FF;
inline constexpr std::uint32_t Green = 0x0000FF00;

// The face that stands in for "MS Sans Serif": same metrics family, on every Debian.
inline constexpr std::string_view FontFamily = "Liberation Sans";

inline constexpr std::int16_t TempoMin = 20;
inline constexpr std::int16_t TempoMax = 400;
inline constexpr std::int16_t TempoDesign = 100;
inline constexpr int TempoArrowStep = 1;
inline constexpr int TempoTrackStep = 10;
inline constexpr int Tmr2Interval = 5000;

// clang-format off
inline constexpr std::array<Control, 16> Controls{{
    {1,  "Command1",      Kind::CommandButton, "CREDITS",        600,  6840, 2415, 735,  Back::Opaque,      ButtonColor, 24,   12, true,  true},
    {2,  "cmdExit",       Kind::CommandButton, "EXIT",           3360, 6840, 2415, 735,  Back::Opaque,      ButtonColor, 24,   11, true,  true},
    {3,  "chkMute",       Kind::CheckBox,      "Mute",           4680, 6240, 1215, 495,  Back::Opaque,      WindowColor, 13.5, 9,  true,  true},
    {4,  "chkSound",      Kind::CheckBox,      "Pause",          3240, 6240, 1335, 495,  Back::Opaque,      WindowColor, 13.5, 8,  true,  true},
    {5,  "tmr2",          Kind::Timer,         "",               0,    0,    0,    0,    Back::Default,     0,           0,    -1, false, true},
    {6,  "chkSpeed",      Kind::CheckBox,      "Speed Practice", 3240, 5760, 2535, 495,  Back::Opaque,      WindowColor, 13.5, 5,  true,  true},
    {7,  "hsbBPM",        Kind::HScrollBar,    "",               360,  6360, 2295, 375,  Back::Default,     0,           0,    3,  true,  true},
    {8,  "tmrBPM",        Kind::Timer,         "",               0,    0,    0,    0,    Back::Default,     0,           0,    -1, false, true},
    {9,  "txtBPM",        Kind::TextBox,       "100",            1560, 5640, 975,  615,  Back::Default,     0,           24,   0,  true,  false},
    {10, "Image1",        Kind::Image,         "",               1080, 120,  4275, 1380, Back::Transparent, 0,           0,    -1, true,  true},
    {11, "lblPointless",  Kind::Label,         "",               5160, 5040, 855,  255,  Back::Transparent, 0,           0,    7,  true,  true},
    {12, "lblTimer2",     Kind::Label,         "",               4920, 240,  735,  615,  Back::Default,     0,           0,    6,  false, true},
    {13, "lblTitle",      Kind::Label,         "BPM:",           360,  5640, 1215, 495,  Back::Transparent, 0,           24,   4,  true,  true},
    {14, "lblTimer",      Kind::Label,         "",               1200, 240,  735,  615,  Back::Default,     0,           0,    2,  false, true},
    {15, "lblBPM",        Kind::Label,         "",               240,  1440, 5895, 4095, Back::Opaque,      Red,         0,    1,  false, true},
    {16, "lblBackground", Kind::Label,         "",               240,  1440, 5895, 4095, Back::Opaque,      Green,       0,    10, true,  true},
}};
// clang-format on

} // namespace window::design
