// veldra-demo: a whole night in a few minutes.  veldsim writes simulated frames into a
// demo folder and plays the guider; veldra's real main window measures and corrects them.
// With a display the windows stay open at the end; without one (offscreen platform)
// screenshots of the main and chart windows are written next to the night's summary.
//   veldra-demo [--guider dbus|phd2] DEMO_FOLDER [FRAMES] [CADENCE_SECONDS]
// With --guider phd2 veldsim plays PHD2 (with a mount, dithering up to 5" after every frame)
// on a free local port and veldra sends it its corrections there.  Needs a session bus of its own
// (scripts/run --demo starts one).  Prints one line per measured frame as it goes.
#include "common/file_utils.h"
#include "veldra/drift/correction.h"
#include "veldra/guider/guider_choice.h"
#include "veldra/guider/guider_link.h"
#include "veldra/program_options.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

struct DemoOptions {
    std::string folder;
    int frames = 40;
    double cadenceSeconds = 4;
    bool phd2 = false; // veldsim plays PHD2 and veldra sends it the corrections
};

// The options in one place.
std::optional<int> ReadOptions(int argc, char** argv, DemoOptions& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A simulated night: veldsim writes frames and plays the guider, veldra's real main "
        "window measures and corrects them.  Needs a session bus of its own.");
    const QCommandLineOption guider(
        "guider", "The guider veldsim plays: dbus (default) or phd2 (PHD2's event server).",
        "GUIDER");
    parser.addOption(guider);
    parser.addPositionalArgument("DEMO_FOLDER", "Folder for the frames, settings and log.");
    parser.addPositionalArgument("FRAMES", "Frames of the night (default 40).", "[FRAMES]");
    parser.addPositionalArgument("CADENCE_SECONDS", "Seconds between frames (default 4).",
                                 "[CADENCE_SECONDS]");
    const QString name = "veldra-demo";
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), name, 3))
        return end;
    const QString guiderName = parser.value(guider);
    if (parser.isSet(guider) && guiderName != "dbus" && guiderName != "phd2")
        return UsageError(parser, name, "--guider takes dbus or phd2.");
    options.phd2 = guiderName == "phd2";
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError(parser, name, "DEMO_FOLDER is missing.");
    options.folder = QDir(positional[0]).absolutePath().toStdString();
    return NightLengthArguments(parser, name, 1, options.frames, options.cadenceSeconds);
}

std::string Rate(double arcsecondsPerHour) {
    char text[32];
    std::snprintf(text, sizeof text, "%+7.1f", arcsecondsPerHour);
    return text;
}

// One line per frame as veldra measures it: the frame, the drift measured over the
// interval before it, and the correction sent to the guider after it.
void ReportFrames(formMain& window) {
    Platform& platform = window.platform();
    auto sent = std::make_shared<bool>(false);
    const auto post = platform.postMessage;
    platform.postMessage = [post, sent](const std::string& name, int32_t wParam, int32_t lParam) {
        *sent = *sent || name == kSetShiftMessage;
        post(name, wParam, lParam);
    };
    const auto process = platform.processImage;
    platform.processImage = [process, sent, &window](const std::string& path, double fileTime) {
        *sent = false;
        process(path, fileTime);
        const MainState& state = window.state();
        std::string line = "frame " + FileNameOf(path) + ": ";
        if (state.drift.historyCount < 2) {
            line += state.drift.historyCount == 1 ? "first position, no drift yet" : "not measured";
        } else {
            const double hours = (state.drift.history.at(state.drift.newestIndex).time -
                                  state.drift.history.at(state.drift.previousIndex).time) *
                                 24;
            line += "measured drift RA " + Rate(LastRaError(state.drift, state.settings) / hours) +
                    " DEC " + Rate(LastDecError(state.drift, state.settings) / hours) + " \"/h";
        }
        if (*sent)
            line += ", correction sent RA " + Rate(RaRate(state.drift)) + " DEC " +
                    Rate(DecRate(state.drift)) + " \"/h";
        std::cout << line << std::endl;
    };
}

// veldsim counts a frame in its residual figures from its fifth frame on; says why.
void ExplainCount(const std::string& veldsimOutput, int frames) {
    const std::string label = "frames counted: ";
    const size_t at = veldsimOutput.find(label);
    if (at == std::string::npos)
        return;
    const int counted = std::atoi(veldsimOutput.c_str() + at + label.size());
    const int first = frames - counted;
    std::cout << counted << " of " << frames << " frames counted: the first " << first
              << " start the measurement and the filter (the first frame has no drift, the "
                 "second gives the first correction, the filter settles over the next)\n";
}

// WCS method, a short settle time, and nothing of what is already in the folder.
std::string DemoSettings(const std::string& framesFolder) {
    return "PLATE_SOLVE_METHOD,0\r\nMONITOR_PATH," + framesFolder +
           "\r\nMONITOR_FILTER,*.fit\r\nDEBOUNCE_TIME,1\r\nMONITOR_START_STATE,2\r\n";
}

QtMessageHandler defaultMessageHandler = nullptr;

// The offscreen platform warns about every window-manager request it cannot honour.
void QuietOffscreenWarnings(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
    if (!message.startsWith("This plugin does not support"))
        defaultMessageHandler(type, context, message);
}

void SaveScreenshot(QWidget* window, const std::string& path) {
    if (window != nullptr && window->grab().save(QString::fromStdString(path)))
        std::cout << "screenshot: " << path << "\n";
}

// A fresh frames folder and the demo's settings; false, said on standard error, when the
// settings cannot be written.
bool PrepareFolder(const std::string& folder, const std::string& framesFolder) {
    QDir(QString::fromStdString(framesFolder)).removeRecursively();
    QDir().mkpath(QString::fromStdString(framesFolder));
    if (!WriteFileAtomically(JoinPath(folder, "veldra.ini"), DemoSettings(framesFolder))) {
        std::cerr << "veldra-demo: cannot write " << folder << "/veldra.ini\n";
        return false;
    }
    return true;
}

// veldsim's command line; port: the PHD2 stand-in's, with --guider phd2.
QStringList VeldsimArguments(const DemoOptions& options, const std::string& framesFolder,
                             int port) {
    QStringList arguments{
        "--folder",      QString::fromStdString(framesFolder),
        "--frames",      QString::number(options.frames),
        "--cadence",     QString::number(options.cadenceSeconds),
        "--first-delay", "3",
        "--tail",        "8",
        "--csv",         QString::fromStdString(JoinPath(options.folder, "night.csv"))};
    if (options.phd2)
        arguments << "--guider"
                  << "phd2"
                  << "--port" << QString::number(port)
                  << "--phd2-mount"
                  // PHD2 dithers as most imagers have it do; "Dither aware" takes the
                  // dithers out again.
                  << "--dither"
                  << "5";
    return arguments;
}

// veldsim's summary and where the figures are; offscreen, the screenshots too.
void ShowNightEnd(const std::string& summary, const DemoOptions& options, formMain& window,
                  bool offscreen) {
    std::cout << summary;
    ExplainCount(summary, options.frames);
    std::cout << "per-frame figures: " << JoinPath(options.folder, "night.csv") << "\n";
    if (offscreen) {
        SaveScreenshot(&window, JoinPath(options.folder, "demo-main.png"));
        SaveScreenshot(LoadedChartWindow(), JoinPath(options.folder, "demo-chart.png"));
    } else {
        std::cout << "The night is over; close the main window to end.\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    if (const auto end = ReadOptions(argc, argv, options))
        return *end;
    QApplication app(argc, argv);
    const std::string& folder = options.folder;
    const std::string framesFolder = JoinPath(folder, "frames");
    if (!PrepareFolder(folder, framesFolder))
        return 1;
    const bool offscreen = QGuiApplication::platformName() == "offscreen";
    if (offscreen)
        defaultMessageHandler = qInstallMessageHandler(QuietOffscreenWarnings);

    GuiderChoice guider{GuiderChoice::Kind::Phd2};
    if (options.phd2) {
        QTcpServer probe; // a port that is free now
        probe.listen(QHostAddress::LocalHost, 0);
        guider.port = probe.serverPort();
    }
    QProcess veldsim;
    veldsim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    veldsim.start(QString::fromStdString(JoinPath(ProgramFolder(), "veldsim")),
                  VeldsimArguments(options, framesFolder, guider.port));
    // veldsim must be listening before the window loads and Start sends the guider its
    // start sequence.
    if (!veldsim.waitForStarted(5000) || !veldsim.waitForReadyRead(5000)) {
        std::cerr << "veldra-demo: cannot start veldsim\n";
        return 1;
    }
    formMain window(folder);
    if (options.phd2)
        window.SetCommandLineGuider(guider);
    window.Load();
    ReportFrames(window);
    std::cout << "veldra-demo: " << options.frames << " frames, one every "
              << QString::number(options.cadenceSeconds).toStdString() << " s, in " << framesFolder
              << "\n";
    if (!offscreen)
        std::cout << "veldra-demo: the windows stay open when the night is over; close the "
                     "main window to end\n";

    // Press Start and open the charts the way a user would.
    QTimer::singleShot(500, &window, [&window] {
        window.cmdStart->click();
        window.Command1->click();
    });
    int status = 0;
    QObject::connect(&veldsim, &QProcess::finished, &app, [&](int exitCode) {
        ShowNightEnd(veldsim.readAllStandardOutput().toStdString(), options, window, offscreen);
        status = exitCode;
        if (offscreen)
            app.quit();
    });
    const int result = app.exec();
    if (veldsim.state() != QProcess::NotRunning) {
        veldsim.kill();
        veldsim.waitForFinished(5000);
    }
    return result != 0 ? result : status;
}
