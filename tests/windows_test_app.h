#pragma once
// The window tests' shared pieces: one offscreen QApplication for the whole executable
// (created before the first test, C locale), and small input helpers.
#include <QColor>
#include <functional>
#include <string>

class QLineEdit;
class QWidget;

// Replaces the box's text with one user edit (select all, paste): the box's change rule
// runs once with the whole text.
void PasteInto(QLineEdit* box, const std::string& text);
// The focus leaving the box for another control of the same window.
void LeaveBox(QWidget* box);
// Handles pending events until done() is true or about five seconds have passed.
bool ProcessEventsUntil(const std::function<bool()>& done);

inline const QColor kRefusedRed(255, 0, 0);
