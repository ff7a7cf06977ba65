#include "veldra/windows/night_colours.h"

namespace {
bool nightModeOn = false;

QColor Red(int level) {
    return QColor(level, 0, 0);
}
} // namespace

bool NightModeOn() {
    return nightModeOn;
}

void RecordNightMode(bool on) {
    nightModeOn = on;
}

QColor NightText() {
    return Red(170);
}

QColor NightGrey() {
    return Red(45);
}

QColor NightRefused() {
    return Red(120);
}

QPalette NightPalette() {
    QPalette palette;
    const struct {
        QPalette::ColorRole role;
        int active;
        int disabled;
    } roles[] = {
        {QPalette::Window, 0, 0},          {QPalette::WindowText, 170, 80},
        {QPalette::Base, 18, 8},           {QPalette::AlternateBase, 28, 12},
        {QPalette::Text, 170, 80},         {QPalette::PlaceholderText, 90, 60},
        {QPalette::Button, 30, 12},        {QPalette::ButtonText, 170, 80},
        {QPalette::BrightText, 200, 90},   {QPalette::Highlight, 90, 40},
        {QPalette::HighlightedText, 0, 0}, {QPalette::Link, 190, 90},
        {QPalette::LinkVisited, 140, 70},  {QPalette::ToolTipBase, 20, 20},
        {QPalette::ToolTipText, 170, 80},  {QPalette::Light, 70, 30},
        {QPalette::Midlight, 50, 20},      {QPalette::Mid, 35, 15},
        {QPalette::Dark, 20, 8},           {QPalette::Shadow, 0, 0},
    };
    for (const auto& entry : roles) {
        palette.setColor(QPalette::Active, entry.role, Red(entry.active));
        palette.setColor(QPalette::Inactive, entry.role, Red(entry.active));
        palette.setColor(QPalette::Disabled, entry.role, Red(entry.disabled));
    }
    return palette;
}
