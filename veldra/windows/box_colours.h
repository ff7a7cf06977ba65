#pragma once
// Text-box backgrounds carry state in veldra's windows: the window colour for an
// enabled box with a valid entry, the grey of scroll bars for a disabled or display-only
// box, pure red for a refused entry.  The colour goes into the palette's Base role of
// every colour group, so it shows whether the box is enabled or not.
#include <QColor>

class QWidget;

enum class BoxColour { Window, Grey, Refused };

// The classic scroll-bar grey (200, 200, 200).
QColor ScrollBarGrey();
void PaintBox(QWidget* box, BoxColour colour);
// The Base colour the box shows now (what tests and the screen reader see).
QColor BoxBackground(const QWidget* box);
// A display-only box: disabled, grey, but with readable (not greyed) text.
void MakeDisplayOnly(QWidget* box);
