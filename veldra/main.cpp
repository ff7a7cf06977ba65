// veldra: the main window.  "veldra.ini" and "debug.txt" live in the program's own folder
// while it can be written, else under $XDG_CONFIG_HOME/veldra and $XDG_STATE_HOME/veldra,
// or in the folder given with --config-dir.
#include "common/file_utils.h"
#include "veldra/guider/guider_choice.h"
#include "veldra/program_options.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/file_places.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/session_end.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <optional>

namespace {

struct VeldraOptions {
    bool night = false;
    std::string configDir;              // empty: the folders chosen by ChooseFilePlaces
    std::optional<GuiderChoice> guider; // for this run instead of GUIDER of veldra.ini
};

// The options in one place.  Qt's own options (-platform, -style, -session the session
// manager restarts with ...) are accepted here and taken by QApplication.
std::optional<int> ReadOptions(int argc, char** argv, VeldraOptions& options) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        "Watches a folder of FITS images, measures the drift of each new image and tells the "
        "guider to shift its lock point.");
    const QCommandLineOption night("night", "Start in night mode (red on black; Ctrl+N).");
    const QCommandLineOption configDir(
        "config-dir", "Keep veldra.ini and debug.txt in DIR (made when missing).", "DIR");
    const QCommandLineOption guider(
        "guider",
        "The guider for this run: dbus, or phd2[:HOST[:PORT]] (PHD2's event server, default "
        "localhost:4400).",
        "GUIDER");
    parser.addOption(night);
    parser.addOption(configDir);
    parser.addOption(guider);
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry"}) {
        QCommandLineOption qtOption(name, "Qt", "value");
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtOption(name, "Qt");
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), "veldra", 0))
        return end;
    options.night = parser.isSet(night);
    if (parser.isSet(configDir)) {
        if (parser.value(configDir).isEmpty())
            return UsageError(parser, "veldra", "--config-dir needs a folder.");
        options.configDir = QDir(parser.value(configDir)).absolutePath().toStdString();
    }
    if (parser.isSet(guider)) {
        options.guider = ParseGuiderChoice(parser.value(guider).toStdString());
        if (!options.guider)
            return UsageError(parser, "veldra", "--guider takes dbus or phd2[:HOST[:PORT]].");
    }
    return std::nullopt;
}

// $XDG_STATE_HOME, or its default ~/.local/state (this Qt has no state location).
std::string StateHome() {
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    return (QDir::isAbsolutePath(state) ? state : QDir::homePath() + "/.local/state").toStdString();
}

} // namespace

int main(int argc, char* argv[]) {
    VeldraOptions options;
    if (const auto end = ReadOptions(argc, argv, options))
        return *end;
    QApplication app(argc, argv);
    const FilePlaces places = ChooseFilePlaces(
        ProgramFolder(), options.configDir,
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString(),
        StateHome());
    SetLogFolder(places.settingsFolder, places.logFolder);

    // The chart and setup windows close with the main window; the program ends with it.
    formMain window(places.settingsFolder);
    window.startInNightMode = options.night;
    if (options.guider)
        window.SetCommandLineGuider(*options.guider);
    EndWithTheSession(&window, [main = &window] {
        main->close();
        QCoreApplication::quit();
    });
    window.Load();
    return app.exec();
}
