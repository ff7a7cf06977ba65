#pragma once
// The controls of veldra's windows, made one way: the object name is what tests and the
// screenshots find a control by, the accessible name what a screen reader says for it.
// Where the caption is the name, Qt's own name from the text is used, so a caption that
// changes ("Start"/"Stop") is announced as shown; a fixed name is set only where the
// caption alone does not say what the control is ("RA" under "Filter Prediction").
#include <QString>
#include <initializer_list>

class QCheckBox;
class QComboBox;
class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& accessibleName,
                   const QString& text = QString());
// A box that only shows values (see MakeDisplayOnly).
QLineEdit* MakeDisplayBox(QWidget* parent, const char* name, const QString& accessibleName);
// With a buddy, the label names it: the buddy's accessible name becomes the label text
// without its colon, so the ear hears what the eye reads.  name may be null.
QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy = nullptr,
                  const char* name = nullptr);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption);
// accessibleName: set only when it differs from the caption.
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption,
                     const QString& accessibleName);
QRadioButton* MakeOption(QWidget* parent, const char* name, const QString& caption);
QComboBox* MakeCombo(QWidget* parent, const char* name, const QString& accessibleName);
QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption);

// Tab moves through controls in this order.
void SetTabOrder(std::initializer_list<QWidget*> order);

// True for a focus-out that leaves the box for another control of the same window;
// switching to another window or opening a popup keeps the entry as it is.
bool LeavesBox(const QEvent* event);
