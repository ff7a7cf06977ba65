// veldra-demo: a whole night in a few minutes.  veldsim writes simulated frames into a
// demo folder and plays the guider; veldra's real main window measures and corrects them.
// With a display the windows stay open at the end; without one (offscreen platform)
// screenshots of the main and chart windows are written next to the night's summary.
//   veldra-demo DEMO_FOLDER [FRAMES] [CADENCE_SECONDS]
// Needs a session bus of its own (scripts/run --demo starts one).
#include "veldra/settings/file_utils.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: veldra-demo DEMO_FOLDER [FRAMES] [CADENCE_SECONDS]\n";
        return 2;
    }
    const std::string folder = QDir(argv[1]).absolutePath().toStdString();
    const QString frames = argc > 2 ? argv[2] : "40";
    const QString cadence = argc > 3 ? argv[3] : "4";
    const std::string framesFolder = JoinPath(folder, "frames");
    QDir(QString::fromStdString(framesFolder)).removeRecursively();
    QDir().mkpath(QString::fromStdString(framesFolder));
    if (!WriteFileAtomically(JoinPath(folder, "veldra.ini"), DemoSettings(framesFolder))) {
        std::cerr << "veldra-demo: cannot write " << folder << "/veldra.ini\n";
        return 1;
    }
    const bool offscreen = QGuiApplication::platformName() == "offscreen";
    if (offscreen)
        defaultMessageHandler = qInstallMessageHandler(QuietOffscreenWarnings);

    formMain window(folder);
    window.Load();

    QProcess veldsim;
    veldsim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    veldsim.start(QString::fromStdString(JoinPath(ProgramFolder(), "veldsim")),
                  {"--folder", QString::fromStdString(framesFolder), "--frames", frames,
                   "--cadence", cadence, "--first-delay", "3", "--tail", "8", "--csv",
                   QString::fromStdString(JoinPath(folder, "night.csv"))});
    // veldsim must be listening before Start sends the guider its start sequence.
    if (!veldsim.waitForStarted(5000) || !veldsim.waitForReadyRead(5000)) {
        std::cerr << "veldra-demo: cannot start veldsim\n";
        return 1;
    }
    std::cout << "veldra-demo: " << frames.toStdString() << " frames, one every "
              << cadence.toStdString() << " s, in " << framesFolder << "\n";

    // Press Start and open the charts the way a user would.
    QTimer::singleShot(500, &window, [&window] {
        window.cmdStart->click();
        window.Command1->click();
    });
    int status = 0;
    QObject::connect(&veldsim, &QProcess::finished, &app, [&](int exitCode) {
        std::cout << veldsim.readAllStandardOutput().toStdString();
        std::cout << "per-frame figures: " << JoinPath(folder, "night.csv") << "\n";
        status = exitCode;
        if (offscreen) {
            SaveScreenshot(&window, JoinPath(folder, "demo-main.png"));
            SaveScreenshot(LoadedChartWindow(), JoinPath(folder, "demo-chart.png"));
            app.quit();
        } else {
            std::cout << "The night is over; close the main window to end.\n";
        }
    });
    const int result = app.exec();
    if (veldsim.state() != QProcess::NotRunning) {
        veldsim.kill();
        veldsim.waitForFinished(5000);
    }
    return result != 0 ? result : status;
}
