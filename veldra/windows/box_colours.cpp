#include "veldra/windows/box_colours.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

QColor ScrollBarGrey() {
    return QColor(200, 200, 200);
}

void PaintBox(QWidget* box, BoxColour colour) {
    QPalette palette = box->palette();
    switch (colour) {
    case BoxColour::Window:
        palette.setColor(QPalette::Base,
                         QApplication::palette(box).color(QPalette::Active, QPalette::Base));
        break;
    case BoxColour::Grey:
        palette.setColor(QPalette::Base, ScrollBarGrey());
        break;
    case BoxColour::Refused:
        palette.setColor(QPalette::Base, QColor(255, 0, 0));
        break;
    }
    box->setPalette(palette);
}

QColor BoxBackground(const QWidget* box) {
    return box->palette().color(box->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                QPalette::Base);
}

void MakeDisplayOnly(QWidget* box) {
    box->setEnabled(false);
    PaintBox(box, BoxColour::Grey);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     palette.color(QPalette::Active, QPalette::Text));
    box->setPalette(palette);
}
