#pragma once
// Whether night mode is on, and its colours: what the painters of boxes and charts ask.
// SetNightMode (night_mode.h) switches it; this file knows nothing of the switch, so the
// painters sit below it.  User-interface thread only.
#include <QColor>
#include <QPalette>

bool NightModeOn();
// For SetNightMode only: records the switch at the moment it takes effect.
void RecordNightMode(bool on);

// The night colours (red only: green and blue are 0).
QPalette NightPalette();
QColor NightText();    // text and lines
QColor NightGrey();    // display-only boxes: the night's "scroll-bar grey"
QColor NightRefused(); // a refused entry
