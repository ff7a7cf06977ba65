#include "tools/closed-loop/headless_night.h"

#include "common/date_time.h"
#include "common/file_utils.h"
#include "veldra/drift/bias_rule.h"
#include "veldra/guider/guider_backend.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/measure/pipeline.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/monitoring_control.h"
#include "veldra/telescope/telescope_link.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <iostream>
#include <sstream>
#include <utility>

namespace {

std::string SettingsText(const std::string& framesFolder, const NightSettings& night) {
    const char* flag = night.filterPrediction ? "True" : "False";
    const char* accelX = night.useAccelerationX ? "True" : "False";
    const char* accelY = night.useAccelerationY ? "True" : "False";
    const std::string solver =
        night.registration ? "PLATE_SOLVE_METHOD,2\r\n"
        : night.solverPath.empty()
            ? "PLATE_SOLVE_METHOD,0\r\n"
            : "PLATE_SOLVE_METHOD,1\r\nPWI_EXE_PATH," + night.solverPath + "\r\n";
    return solver + "MONITOR_PATH," + framesFolder +
           "\r\nMONITOR_FILTER,*.fit\r\nDEBOUNCE_TIME,0\r\nMONITOR_START_STATE,2\r\n"
           "FILTER_PREDICTION_X," +
           flag + "\r\nFILTER_PREDICTION_Y," + flag + "\r\nUSE_ACCELERATION_X," + accelX +
           "\r\nUSE_ACCELERATION_Y," + accelY + "\r\nDITHER_AWARE," +
           (night.ditherAware ? "True" : "False") + "\r\n";
}

// Starting veldsim (a sanitizer build, on a busy machine) can take long; a bound all the same.
const int kStartupBoundMs = 60000;

// Until veldsim's "listening" line: from then on it misses no bus message.  What it wrote
// so far stays in output.
bool WaitForListening(QProcess& veldsim, QByteArray& output) {
    if (!veldsim.waitForStarted(kStartupBoundMs))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("listening")) {
        const qint64 left = kStartupBoundMs - waited.elapsed();
        if (left <= 0 || !veldsim.waitForReadyRead(static_cast<int>(left)))
            return false;
        output += veldsim.readAllStandardOutput();
    }
    return true;
}

double SteadyMilliseconds() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// For each ProcessImage start, the time to the first set_lock_shift_params that the PHD2
// stand-in answered after it and before the next start (veldsim lists the answer times on
// the same monotonic clock: veldra reads an answer only after the run's closing pause).
std::vector<double> FirstAnswerDelays(const std::vector<double>& starts,
                                      const std::string& veldsimOutput) {
    const std::string label = "set_lock_shift_params answered at (steady clock, ms):";
    const size_t at = veldsimOutput.find(label);
    if (at == std::string::npos)
        return {};
    std::istringstream line(
        veldsimOutput.substr(at + label.size(), veldsimOutput.find('\n', at) - at - label.size()));
    std::vector<double> answers;
    for (double ms = 0; line >> ms;)
        answers.push_back(ms);
    std::vector<double> delays;
    for (size_t i = 0; i < starts.size(); ++i) {
        const double next = i + 1 < starts.size() ? starts[i + 1] : 1e300;
        const auto first = std::find_if(answers.begin(), answers.end(),
                                        [&](double ms) { return ms >= starts[i] && ms < next; });
        if (first != answers.end())
            delays.push_back(*first - starts[i]);
    }
    return delays;
}

// A port that was free a moment ago, for veldsim's PHD2 stand-in.
int FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// What the Platform callbacks of one night share.  Destroyed in reverse order: the guider
// first, the state last.
struct HeadlessRun {
    NightResult result;
    MainState state;
    QTimer timer1;
    QElapsedTimer clock;
    double processStartedMs = -1;
    std::vector<double> processStartsSteadyMs;
    GuiderBackend guider;
};

// The Platform of a night without windows: dialogs go to standard error, and every
// message veldra posts or sends is recorded.  Filled in place: a callback refers to the
// platform itself.
void FillPlatform(Platform& platform, HeadlessRun& run, const NightSettings& night) {
    platform.showTimedError = [](const std::string& m) { std::cerr << "error: " << m << "\n"; };
    platform.messageBox = [](const std::string& m) { std::cerr << "message: " << m << "\n"; };
    platform.pumpEvents = [] { QCoreApplication::processEvents(); };
    platform.sleep = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    platform.refreshMainWindow = [] {};
    platform.refreshPendingFile = [] {};
    platform.updateCharts = [](int16_t, const std::vector<HistoryEntry>&) {};
    platform.clearCharts = [] {};
    platform.setTimer1 = [&run, tick = night.tickMilliseconds](bool on) {
        run.state.monitor.timer1On = on;
        if (on)
            run.timer1.start(tick);
        else
            run.timer1.stop();
    };
    platform.monotonicSeconds = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    platform.secondsSinceMidnight = [] { return SecondsSinceMidnight(); };
    platform.postMessage = [&run](const std::string& name, int32_t w, int32_t l) {
        if (name == "MG_RemoteSetShift" && run.processStartedMs >= 0) {
            run.result.processToSetShiftMs.push_back(run.clock.nsecsElapsed() / 1e6 -
                                                     run.processStartedMs);
            run.processStartedMs = -1;
        }
        run.result.posted.push_back({name, w, l});
        PostGuiderMessage(run.guider, run.state.drift, name, w, l);
    };
    platform.sendMessage = [&run](const std::string& name, int32_t w, int32_t l) {
        run.result.posted.push_back({name, w, l});
        BusSend(name, w, l);
    };
    platform.setBiasTexts = [&run](const std::string& ra, const std::string& dec) {
        AcceptBiasText(ra, run.state.settings.raBias);
        AcceptBiasText(dec, run.state.settings.decBias);
    };
    platform.startPositionFromTelescope = [&run, &platform](const Settings& settings) {
        return StartPositionFromTelescope(settings, run.state.programFolder, platform.messageBox);
    };
    platform.processImage = [&run, &platform](const std::string& path, double fileTime) {
        run.processStartedMs = run.clock.nsecsElapsed() / 1e6;
        run.processStartsSteadyMs.push_back(SteadyMilliseconds());
        ProcessImage(run.state, platform, path, fileTime);
    };
}

// veldsim's command line for the night; port: the PHD2 stand-in's when night.guider is
// "phd2".
QStringList VeldsimArguments(const std::string& framesFolder, const NightSettings& night,
                             int port) {
    QStringList arguments{"--folder",      QString::fromStdString(framesFolder),
                          "--frames",      QString::number(night.frames),
                          "--cadence",     QString::number(night.cadenceSeconds),
                          "--first-delay", "1",
                          "--tail",        QString::number(night.cadenceSeconds * 2),
                          "--noise",       QString::number(night.noiseArcsec),
                          "--profile",     QString::fromStdString(night.profile),
                          "--ra-rate",     QString::number(night.raRate),
                          "--dec-rate",    QString::number(night.decRate),
                          "--dec",         QString::number(night.declinationDegrees),
                          "--lockstep"};
    if (!night.solverPath.empty() || night.registration)
        arguments << "--stars";
    if (night.registration)
        arguments << "--star-wcs"
                  << "--rotation" << QString::number(night.rotationDegrees) << "--hot-pixels"
                  << QString::number(night.hotPixels) << "--trail-every"
                  << QString::number(night.trailEvery) << "--fwhm"
                  << QString::number(night.fwhmArcsec);
    if (night.guider == "phd2") {
        arguments << "--guider"
                  << "phd2"
                  << "--port" << QString::number(port);
        if (night.phd2Mount)
            arguments << "--phd2-mount";
        if (!night.phd2Schedule.empty())
            arguments << "--phd2-at" << QString::fromStdString(night.phd2Schedule);
        if (night.ditherArcsec > 0)
            arguments << "--dither" << QString::number(night.ditherArcsec) << "--dither-every"
                      << QString::number(night.ditherEvery);
        arguments << "--guide-angle" << QString::number(night.guideAngle);
        if (night.guideMirrored)
            arguments << "--guide-mirrored";
        if (night.ditherRaOnly)
            arguments << "--dither-ra-only";
        arguments << QStringList(night.phd2Extra.begin(), night.phd2Extra.end());
    }
    return arguments;
}

// Until veldsim ends, at most frames x (cadence + 60 s) + 60 s: every lockstep wait of
// veldsim is bounded by 60 s.
void WaitForVeldsimEnd(QProcess& veldsim, const NightSettings& night) {
    QEventLoop loop;
    QObject::connect(&veldsim, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(static_cast<int>((night.frames * (night.cadenceSeconds + 60) + 60) * 1000),
                       &loop, &QEventLoop::quit);
    loop.exec();
}

// veldsim ended (finished when it ended well) or killed, and all it wrote in the result.
void EndVeldsim(QProcess& veldsim, QByteArray& output, NightResult& result) {
    if (veldsim.state() != QProcess::NotRunning) {
        veldsim.kill();
        veldsim.waitForFinished(5000);
    } else {
        result.finished = veldsim.exitStatus() == QProcess::NormalExit && veldsim.exitCode() == 0;
    }
    output += veldsim.readAllStandardOutput();
    result.veldsimOutput = output.toStdString();
}

} // namespace

NightResult RunHeadlessNight(const std::string& workFolder, const std::string& veldsimPath,
                             const NightSettings& night) {
    HeadlessRun run;
    const std::string framesFolder = JoinPath(workFolder, "frames");
    QDir().mkpath(QString::fromStdString(framesFolder));
    WriteFileAtomically(JoinPath(workFolder, "veldra.ini"), SettingsText(framesFolder, night));

    run.state.programFolder = workFolder;
    run.clock.start();
    run.guider.programFolder = workFolder;
    run.guider.dithers = &run.state.dithers;
    Platform platform;
    FillPlatform(platform, run, night);
    QObject::connect(&run.timer1, &QTimer::timeout, [&] {
        TimerTick(run.state.monitor, run.state.settings, run.state.programFolder, platform);
    });

    const bool phd2 = night.guider == "phd2";
    const int port = phd2 ? FreePort() : 0;
    QProcess veldsim;
    veldsim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    veldsim.start(QString::fromStdString(veldsimPath), VeldsimArguments(framesFolder, night, port));
    // veldsim must be listening before the window loads and Start sends the guider its
    // start sequence.
    QByteArray output;
    if (!WaitForListening(veldsim, output))
        return std::move(run.result);
    if (phd2) {
        GuiderChoice choice{GuiderChoice::Kind::Phd2};
        choice.port = port;
        ChooseGuider(run.guider, choice);
    }
    StartUpBeforeShow(run.state, platform);
    StartUpAfterShow(run.state);
    ClickStart(run.state, platform);
    // Lockstep: the first frame only after Start has listed the folder, every later one
    // after veldra's answer, so a busy machine changes nothing but the night's length.
    veldsim.write("go\n");
    veldsim.waitForBytesWritten(kStartupBoundMs);

    WaitForVeldsimEnd(veldsim, night);
    run.timer1.stop();
    EndVeldsim(veldsim, output, run.result);
    run.result.processToPhd2AnswerMs =
        FirstAnswerDelays(run.processStartsSteadyMs, run.result.veldsimOutput);
    run.result.historyCount = run.state.drift.historyCount;
    ShutDown(run.state.settings, run.state.programFolder);
    return std::move(run.result);
}

std::vector<double> CsvColumn(const std::string& output, const std::string& column) {
    std::istringstream lines(output);
    std::string line;
    int index = -1;
    std::vector<double> values;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        if (index < 0) {
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i] == column)
                    index = static_cast<int>(i);
            continue;
        }
        if (fields.size() <= static_cast<size_t>(index))
            break; // the summary follows the frames
        double value = 0;
        const std::string& cell = fields[static_cast<size_t>(index)];
        std::from_chars(cell.data(), cell.data() + cell.size(), value);
        values.push_back(value);
    }
    return values;
}
