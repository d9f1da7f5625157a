// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace window {

// Before the window's controls exist: Qt keeps the first accessible interface it makes for
// a widget, and some need one of their own; the events of the quiet ones are held back.
void prepareAccessibility();

// What a screen reader learns of the metronome `window`: the tempo as a spin button from 20
// to 400 and its number in one piece, names for the controls whose captions say nothing, a
// beat area that tells its colour, nothing of the labels that only count or flip on beats,
// the tempo within reach of Tab while speed practice locks the scroll bar, and practice's
// start and every rise announced wherever the focus is.
void applyAccessibility(QWidget& window);

} // namespace window
