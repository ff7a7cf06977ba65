#pragma once
// Where veldra's windows were left: "veldra-windows.ini" beside "veldra.ini", one line per
// window ("main,<Qt geometry in base64>", "chart,..."), so the main and chart windows
// open where the user put them.  A missing or unreadable line leaves the window to its
// default place.  User-interface thread only.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

class QWidget;

// The file's name; it lives beside veldra.ini.
inline constexpr const char* kWindowPlacesFileName = "veldra-windows.ini";

// Puts window where it was stored under name; false (window untouched) when nothing is
// stored or the stored place is unreadable.
bool RestoreWindowPlace(QWidget* window, const std::string& settingsFolder,
                        const std::string& name);
// Stores window's place under name (the file rewritten atomically, other lines kept).
void StoreWindowPlace(const QWidget* window, const std::string& settingsFolder,
                      const std::string& name);
// Where a window of size goes beside the frame beside, on a screen whose free area is
// room: to its right when there is room, else below it, else at the screen's right
// edge, never over the neighbour's title bar.
QPoint BesidePlace(const QRect& beside, const QSize& size, const QRect& room);
// Moves window there beside neighbour.
void PlaceBeside(QWidget* window, const QWidget* neighbour);
