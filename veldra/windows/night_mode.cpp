#include "veldra/windows/night_mode.h"

#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
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
QCheckBox::indicator, QRadioButton::indicator, QGroupBox::indicator {
    width: 11px; height: 11px; border: 1px solid rgb(150, 0, 0); background-color: rgb(15, 0, 0);
}
QRadioButton::indicator { border-radius: 6px; }
QSplitter::handle { background-color: rgb(30, 0, 0); }
QSizeGrip { image: none; background-color: transparent; }
QCheckBox::indicator:checked, QRadioButton::indicator:checked, QGroupBox::indicator:checked {
    background-color: rgb(170, 0, 0);
}
QCheckBox::indicator:disabled, QRadioButton::indicator:disabled {
    border-color: rgb(70, 0, 0); background-color: rgb(8, 0, 0);
}
QCheckBox::indicator:checked:disabled, QRadioButton::indicator:checked:disabled {
    background-color: rgb(70, 0, 0);
}
)";

// Fusion with every icon it hands out in the night's reds: the file choosers' toolbar
// and item icons, the message boxes' and the dialogs' buttons.
class NightStyle : public QProxyStyle {
  public:
    NightStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option,
                       const QWidget* widget) const override {
        return NightTintedIcon(QProxyStyle::standardIcon(icon, option, widget));
    }
    QPixmap standardPixmap(StandardPixmap pixmap, const QStyleOption* option,
                           const QWidget* widget) const override {
        return NightTinted(QProxyStyle::standardPixmap(pixmap, option, widget));
    }
    // Qt draws the text cursor by inverting what is under it, which turns the night's
    // dark red into a bright cyan-white line; NightCaret draws it in red instead.
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TextCursorWidth)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    // Disabled and selected icons are made here from the normal ones, in grey or the
    // highlight's colour: tinted again.
    QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap,
                                const QStyleOption* option) const override {
        return NightTinted(QProxyStyle::generatedIconPixmap(mode, pixmap, option));
    }
};

// The text cursor of the focused text box at night: a red line where Qt's own would be.
class NightCaret : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (painting_ || event->type() != QEvent::Paint || box == nullptr || !box->hasFocus() ||
            box->isReadOnly())
            return false;
        painting_ = true; // the box paints itself first, then the cursor goes on it
        QCoreApplication::sendEvent(box, event);
        painting_ = false;
        const QRect cursor = box->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        QPainter painter(box);
        painter.fillRect(QRect(cursor.center().x(), cursor.top(), 1, cursor.height()), NightText());
        return true;
    }

  private:
    bool painting_ = false;
};

NightCaret* Caret() {
    static NightCaret caret;
    return &caret;
}

// The desktop theme's file and folder icons, tinted.
class NightFileIconProvider : public QFileIconProvider {
  public:
    QIcon icon(IconType type) const override {
        return NightTintedIcon(QFileIconProvider::icon(type));
    }
    QIcon icon(const QFileInfo& info) const override {
        return NightTintedIcon(QFileIconProvider::icon(info));
    }
};

// What the application looked like before night mode (unset while it is off).
std::optional<DayLook>& Day() {
    static std::optional<DayLook> day;
    return day;
}
} // namespace

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

QIcon NightTintedIcon(const QIcon& icon) {
    if (icon.isNull())
        return icon;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes = {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    // Toolbar and file icons are mostly dark outlines: at least half the night's red where
    // they are drawn, so they stay visible on black.
    QIcon tinted;
    for (const QSize& size : sizes) {
        QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int level = NightText().red() * (255 + qGray(line[x])) / 510;
                line[x] = qRgba(level, 0, 0, qAlpha(line[x]));
            }
        }
        tinted.addPixmap(QPixmap::fromImage(image));
    }
    return tinted;
}

QAbstractFileIconProvider* NightFileIcons() {
    static NightFileIconProvider provider;
    return &provider;
}

void SetNightMode(bool on) {
    if (on == NightModeOn())
        return;
    if (on) {
        auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
        Day() = DayLook{QApplication::palette(), QApplication::style()->name(),
                        application->styleSheet()};
        RecordNightMode(true);
        QApplication::setStyle(new NightStyle());
        QApplication::setPalette(NightPalette());
        application->setStyleSheet(kNightStyleSheet);
        application->installEventFilter(Caret());
    } else {
        const DayLook day = *Day();
        Day().reset();
        RecordNightMode(false);
        QCoreApplication::instance()->removeEventFilter(Caret());
        qobject_cast<QApplication*>(QCoreApplication::instance())->setStyleSheet(day.styleSheet);
        QApplication::setStyle(QStyleFactory::create(day.style));
        QApplication::setPalette(day.palette);
    }
    RepaintBoxes();
    RecolourChartWindow();
}
