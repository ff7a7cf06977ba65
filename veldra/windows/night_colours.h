#pragma once
// The night colours (red only: green and blue are 0).
#include <QColor>
#include <QPalette>

QPalette NightPalette();
QColor NightText();    // text and lines
QColor NightGrey();    // display-only boxes: the night's "scroll-bar grey"
QColor NightRefused(); // a refused entry
