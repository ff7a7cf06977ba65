#pragma once
// The modal message box of every veldra window: one title, an OK button, the icon that
// says what kind of message it is.  Returns when the user has pressed OK; window events
// and timers go on meanwhile.
#include <QMessageBox>
#include <string>

class QWidget;

inline constexpr const char* kMessageBoxTitle = "Veldra";

// QMessageBox::Warning for failures, QMessageBox::Information for anything else.
void ShowMessageBox(QWidget* owner, const std::string& text, QMessageBox::Icon icon);
