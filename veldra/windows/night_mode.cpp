#include "veldra/windows/night_mode.h"

#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <optional>

namespace {
struct DayLook {
    QPalette palette;
    QString style;
    QString styleSheet;
};

// Fusion lightens and darkens buttons, frames and headers with white and black overlays
// that no palette reaches; at night these controls are drawn flat, in reds only.
const char* const kNightStyleSheet = R"(
QPushButton, QToolButton, QComboBox, QSpinBox, QAbstractSpinBox {
    background-color: rgb(30, 0, 0); color: rgb(170, 0, 0);
    border: 1px solid rgb(90, 0, 0); border-radius: 2px; padding: 2px 8px;
}
QPushButton:disabled, QToolButton:disabled, QComboBox:disabled, QSpinBox:disabled {
    color: rgb(80, 0, 0); border-color: rgb(45, 0, 0);
}
QPushButton:focus, QToolButton:focus, QComboBox:focus, QSpinBox:focus {
    border-color: rgb(150, 0, 0);
}
QPushButton:pressed, QToolButton:pressed { background-color: rgb(60, 0, 0); }
QComboBox QAbstractItemView {
    background-color: rgb(18, 0, 0); color: rgb(170, 0, 0);
    selection-background-color: rgb(90, 0, 0);
}
QGroupBox { border: 1px solid rgb(60, 0, 0); margin-top: 1.1em; padding-top: 0.3em; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }
QHeaderView::section {
    background-color: rgb(30, 0, 0); color: rgb(170, 0, 0); border: 1px solid rgb(60, 0, 0);
}
QScrollBar { background-color: rgb(10, 0, 0); }
QScrollBar::handle { background-color: rgb(60, 0, 0); min-height: 12px; min-width: 12px; }
QToolTip { background-color: rgb(20, 0, 0); color: rgb(170, 0, 0); border: 1px solid rgb(90, 0, 0); }
)";

// What the application looked like before night mode (unset while it is off).
std::optional<DayLook>& Day() {
    static std::optional<DayLook> day;
    return day;
}

QColor Red(int level) {
    return QColor(level, 0, 0);
}
} // namespace

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

QPixmap NightTinted(const QPixmap& picture) {
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int level = qGray(line[x]) * NightText().red() / 255;
            line[x] = qRgba(level, 0, 0, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(image);
}

bool NightModeOn() {
    return Day().has_value();
}

void SetNightMode(bool on) {
    if (on == NightModeOn())
        return;
    if (on) {
        auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
        Day() = DayLook{QApplication::palette(), QApplication::style()->name(),
                        application->styleSheet()};
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(NightPalette());
        application->setStyleSheet(kNightStyleSheet);
    } else {
        const DayLook day = *Day();
        Day().reset();
        qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(day.styleSheet);
        QApplication::setStyle(QStyleFactory::create(day.style));
        QApplication::setPalette(day.palette);
    }
    RepaintBoxes();
    RecolourChartWindow();
}
