#pragma once
// Night mode: red on black for every veldra window, chart and dialog, dim enough for eyes
// adapted to the dark (deep red text and lines, no green or blue anywhere).  It is one
// switch for the whole application: windows made later take it too.  User-interface
// thread only; needs a QApplication.
#include "veldra/windows/night_colours.h"

#include <QIcon>
#include <QPixmap>

class QAbstractFileIconProvider;

// Sets the application's palette and style (Fusion, which draws everything from the
// palette), paints the text boxes again and recolours the chart window.  Switching off
// brings back the palette and style the application had before.
void SetNightMode(bool on);
// A picture (a message box's icon) in the night's reds: brightness becomes dim red.
QPixmap NightTinted(const QPixmap& picture);
// The same for every size of an icon.
QIcon NightTintedIcon(const QIcon& icon);
// File and folder icons in the night's reds, for Qt's own file dialogs (one for the
// whole program; the dialogs do not own it).
QAbstractFileIconProvider* NightFileIcons();
