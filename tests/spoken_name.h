#pragma once
// What a screen reader announces for a widget: the name of its accessible interface,
// whether it comes from a fixed accessible name, the caption or a buddy label.
#include <QAccessible>
#include <QWidget>

inline QString SpokenName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}
