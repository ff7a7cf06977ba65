// The main window's desktop pieces: night mode and its key, the notices under the frames
// (a settings file or log that cannot be written, Start's problems) and the window's size.
#include "veldra/settings/activity_log.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/night_mode.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Ctrl+N in every veldra window, modal dialogs and file choosers included: a shortcut
// of the main window would be shadowed by any modal dialog, so the key is taken where
// the application hands out its events.
class NightKey : public QObject {
  public:
    NightKey(QObject* parent, std::function<void()> toggle)
        : QObject(parent), toggle_(std::move(toggle)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_N || key->modifiers() != Qt::ControlModifier ||
            key->isAutoRepeat())
            return false;
        toggle_();
        return true;
    }

  private:
    std::function<void()> toggle_;
};

} // namespace

void formMain::ConnectDesktop() {
    auto* night = new NightKey(this, [this] { SetNightMode(!NightModeOn()); });
    night->setObjectName("nightModeKey");
    qApp->installEventFilter(night);
    SetWriteFailureReporter([this](const std::string& text) { ShowWriteFailure(text); });
}

void formMain::SetNightMode(bool on) {
    ::SetNightMode(on);
    if (state_.settings.NIGHT_MODE == on)
        return;
    state_.settings.NIGHT_MODE = on;
    SaveSettings(state_.settings, state_.programFolder);
}

void formMain::KeepFirstSize() {
    if (!firstSize_.isValid())
        firstSize_ = size();
    // The user may still make the window larger; the content alone never does.  The
    // smallest size stays what the first show needed, so nothing is squeezed by the user.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(minimumSizeHint().boundedTo(firstSize_));
    if (width() > firstSize_.width() || height() > firstSize_.height())
        resize(size().boundedTo(firstSize_.expandedTo(minimumSizeHint())));
}

void formMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A new desktop palette: the boxes' colours come from it.
    if (event->type() == QEvent::PaletteChange)
        RepaintBoxes();
}

void formMain::ShowWriteFailure(const std::string& text) {
    if (std::find(writeFailuresShown_.begin(), writeFailuresShown_.end(), text) !=
        writeFailuresShown_.end())
        return;
    writeFailuresShown_.push_back(text);
    // Where the log itself fails, standard error is the one place left to say so.
    std::fprintf(stderr, "veldra: %s\n", text.c_str());
    QString shown;
    for (const std::string& line : writeFailuresShown_)
        shown += (shown.isEmpty() ? "" : "\n") + QString::fromStdString(line);
    lblFileNotice->setText(shown);
    lblFileNotice->show();
}

void formMain::ShowStartProblems(const std::vector<std::string>& problems) {
    QString shown;
    for (const std::string& line : problems)
        shown += (shown.isEmpty() ? "" : "\n") + QString::fromStdString(line);
    lblStartNotice->setText(shown);
    lblStartNotice->setVisible(!problems.empty());
}
