#pragma once
// Text-box backgrounds carry state in veldra's windows: the window colour for an
// enabled box with a valid entry, the grey of scroll bars for a disabled or display-only
// box, pure red for a refused entry.  The colour goes into the palette's Base role of
// every colour group, so it shows whether the box is enabled or not, and the text colour
// is set with it, so a box reads the same under a light, a dark or the night palette.
#include <QColor>

class QWidget;

enum class BoxColour { Window, Grey, Refused };

// The grey of scroll bars: the palette's Button role (the face of buttons and scroll
// bars), so a dark theme gives dark boxes; a dim red in night mode.
QColor ScrollBarGrey();
// Paints the box and remembers the colour, so RepaintBoxes can paint it again.
void PaintBox(QWidget* box, BoxColour colour);
// Every box painted so far, again with its colour (after a change of palette).
void RepaintBoxes();
// The Base colour the box shows now (what tests and the screen reader see).
QColor BoxBackground(const QWidget* box);
// A display-only box: disabled, grey, but with readable (not greyed) text.
void MakeDisplayOnly(QWidget* box);
