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

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& accessibleName,
                   const QString& text) {
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
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
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption,
                     const QString& accessibleName) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    if (accessibleName != caption)
        box->setAccessibleName(accessibleName);
    return box;
}

QRadioButton* MakeOption(QWidget* parent, const char* name, const QString& caption) {
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(name);
    return option;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, const QString& accessibleName) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setAccessibleName(accessibleName);
    return combo;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    return frame;
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
