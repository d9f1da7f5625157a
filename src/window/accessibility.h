// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace window {

// Before the window's controls exist: Qt keeps the first accessible interface it makes for
// a widget, and the beat area needs one of its own.
void prepareAccessibility();

// What a screen reader learns of the metronome `window`: names for the controls whose
// captions say nothing (the tempo's scroll bar and number, the beat area, the banner), a
// beat area that tells its colour, hidden counters that keep quiet, and the tempo within
// reach of Tab while speed practice locks the scroll bar.
void applyAccessibility(QWidget& window);

} // namespace window
