// The main window's desktop pieces: night mode and its shortcut, and the notice of a
// settings file or log that cannot be written.
#include "veldra/settings/activity_log.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/night_mode.h"

#include <QLabel>
#include <QShortcut>
#include <algorithm>
#include <cstdio>

void formMain::ConnectDesktop() {
    // Works from the chart window too; a modal dialog keeps the keys while it is open.
    auto* night = new QShortcut(QKeySequence("Ctrl+N"), this);
    night->setObjectName("nightModeShortcut");
    night->setContext(Qt::ApplicationShortcut);
    connect(night, &QShortcut::activated, this, [this] { SetNightMode(!NightModeOn()); });
    SetWriteFailureReporter([this](const std::string& text) { ShowWriteFailure(text); });
}

void formMain::SetNightMode(bool on) {
    ::SetNightMode(on);
    if (state_.settings.NIGHT_MODE == on)
        return;
    state_.settings.NIGHT_MODE = on;
    SaveSettings(state_.settings, state_.programFolder);
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
