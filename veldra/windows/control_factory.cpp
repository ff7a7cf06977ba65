#include "veldra/windows/control_factory.h"

#include "veldra/windows/box_colours.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <utility>

namespace {
// A control made from args, with its object name.
template <typename Control, typename... Args> Control* Named(const char* name, Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)...);
    control->setObjectName(name);
    return control;
}
} // namespace

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& accessibleName,
                   const QString& text) {
    auto* box = Named<QLineEdit>(name, text, parent);
    box->setAccessibleName(accessibleName);
    return box;
}

QLineEdit* MakeDisplayBox(QWidget* parent, const char* name, const QString& accessibleName) {
    QLineEdit* box = MakeBox(parent, name, accessibleName);
    MakeDisplayOnly(box);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy, const char* name) {
    auto* label = new QLabel(text, parent);
    if (name != nullptr)
        label->setObjectName(name);
    if (buddy != nullptr) {
        label->setBuddy(buddy);
        buddy->setAccessibleName(QString(text).remove(':'));
    }
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = Named<QPushButton>(name, caption, parent);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption,
                     const QString& accessibleName) {
    auto* box = Named<QCheckBox>(name, caption, parent);
    if (accessibleName != caption)
        box->setAccessibleName(accessibleName);
    return box;
}

QRadioButton* MakeOption(QWidget* parent, const char* name, const QString& caption) {
    return Named<QRadioButton>(name, caption, parent);
}

QComboBox* MakeCombo(QWidget* parent, const char* name, const QString& accessibleName) {
    auto* combo = Named<QComboBox>(name, parent);
    combo->setAccessibleName(accessibleName);
    return combo;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption) {
    return Named<QGroupBox>(name, caption, parent);
}

void SetTabOrder(std::initializer_list<QWidget*> order) {
    QWidget* previous = nullptr;
    for (QWidget* control : order) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

bool LeavesBox(const QEvent* event) {
    if (event->type() != QEvent::FocusOut)
        return false;
    const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}
