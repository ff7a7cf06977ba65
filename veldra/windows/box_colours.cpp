#include "veldra/windows/box_colours.h"

#include "veldra/windows/night_colours.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace {
const char* const kColourProperty = "veldraBoxColour";

// The theme's own text colours over the theme's window colour; a fixed text colour
// (every group: display-only boxes are disabled but must read clearly) over the others.
QPalette Painted(QPalette palette, const QWidget* box, BoxColour colour) {
    const QPalette& application = QApplication::palette(box);
    const bool night = NightModeOn();
    switch (colour) {
    case BoxColour::Window:
        palette.setColor(QPalette::Base, application.color(QPalette::Active, QPalette::Base));
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::Text, application.color(group, QPalette::Text));
        break;
    case BoxColour::Grey:
        palette.setColor(QPalette::Base, ScrollBarGrey());
        palette.setColor(QPalette::Text,
                         night ? NightText()
                               : application.color(QPalette::Active, QPalette::ButtonText));
        break;
    case BoxColour::Refused:
        palette.setColor(QPalette::Base, night ? NightRefused() : QColor(255, 0, 0));
        palette.setColor(QPalette::Text, QColor(0, 0, 0));
        break;
    }
    return palette;
}
} // namespace

QColor ScrollBarGrey() {
    // The face of buttons and scroll bars in the desktop's palette: grey in a light
    // theme, dark in a dark one.
    return NightModeOn() ? NightGrey()
                         : QApplication::palette().color(QPalette::Active, QPalette::Button);
}

void PaintBox(QWidget* box, BoxColour colour) {
    box->setPalette(Painted(box->palette(), box, colour));
    box->setProperty(kColourProperty, static_cast<int>(colour));
}

void RepaintBoxes() {
    for (QWidget* widget : QApplication::allWidgets()) {
        const QVariant colour = widget->property(kColourProperty);
        if (colour.isValid())
            PaintBox(widget, static_cast<BoxColour>(colour.toInt()));
    }
}

QColor BoxBackground(const QWidget* box) {
    return box->palette().color(box->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                QPalette::Base);
}

void MakeDisplayOnly(QWidget* box) {
    box->setEnabled(false);
    PaintBox(box, BoxColour::Grey);
}
