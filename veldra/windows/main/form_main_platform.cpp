// The Platform record as the running program fills it: the windows, the Qt event loop,
// the clocks, the session bus, the telescope and the pipeline.
#include "common/date_time.h"
#include "common/end_request.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/measure/pipeline.h"
#include "veldra/monitor/start_checks.h"
#include "veldra/telescope/telescope_link.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/message_box.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

// A question to a program (veldra-solve --check) answers within seconds; a program that
// does not is ended and counts as no answer.
constexpr int kAskProgramBoundMs = 10000;

ProgramAnswer AskProgram(const std::vector<std::string>& arguments) {
    ProgramAnswer answer;
    if (arguments.empty())
        return answer;
    QProcess program;
    QStringList rest;
    for (size_t i = 1; i < arguments.size(); ++i)
        rest.append(QString::fromStdString(arguments[i]));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QString::fromStdString(arguments.front()), rest);
    if (!program.waitForFinished(kAskProgramBoundMs)) {
        program.kill();
        program.waitForFinished(1000);
        answer.firstLine = program.errorString().toStdString();
        return answer;
    }
    answer.firstLine =
        QString::fromLocal8Bit(program.readAll()).section('\n', 0, 0).trimmed().toStdString();
    if (program.exitStatus() == QProcess::NormalExit)
        answer.exitStatus = program.exitCode();
    return answer;
}

} // namespace

void formMain::FillPlatform() {
    // Every member runs on the user-interface thread while the window exists: the
    // lambdas capture the window, which owns the record.
    // Once the end is asked for no dialog opens: the end must not wait for an OK (the log
    // has every message all the same).
    platform_.showTimedError = [this](const std::string& message) {
        if (!EndRequested())
            ShowTimedError(message);
    };
    // The core's boxes all report failures: the rate limit, the solver and the telescope.
    platform_.messageBox = [this](const std::string& message) {
        if (!EndRequested())
            ShowMessageBox(this, message, QMessageBox::Warning);
    };
    platform_.pumpEvents = [] { QCoreApplication::processEvents(); };
    // In steps of at most 50 ms: a pause ends early once the end of veldra is asked for.
    platform_.sleep = [](int milliseconds) {
        for (int left = milliseconds; left > 0 && !EndRequested(); left -= 50)
            QThread::msleep(static_cast<unsigned long>(std::min(left, 50)));
    };
    platform_.refreshMainWindow = [this] { RefreshMainWindow(); };
    platform_.refreshPendingFile = [this] { RefreshPendingFile(); };
    platform_.updateCharts = [this](int16_t count, const std::vector<HistoryEntry>& history) {
        UpdateCharts(count, history, state_.settings);
    };
    platform_.clearCharts = [] { ClearCharts(); };
    platform_.setTimer1 = [this](bool on) {
        state_.monitor.timer1On = on;
        if (on)
            Timer1->start();
        else
            Timer1->stop();
    };
    platform_.monotonicSeconds = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    platform_.secondsSinceMidnight = [] { return SecondsSinceMidnight(); };
    platform_.postMessage = [this](const std::string& name, int32_t wParam, int32_t lParam) {
        PostGuiderMessage(guider_, state_.drift, name, wParam, lParam);
    };
    platform_.sendMessage = [](const std::string& name, int32_t wParam, int32_t lParam) {
        BusSend(name, wParam, lParam);
    };
    // setText runs the boxes' change rule, as typing would.
    platform_.setBiasTexts = [this](const std::string& raText, const std::string& decText) {
        txtRaBias->setText(QString::fromStdString(raText));
        txtDecBias->setText(QString::fromStdString(decText));
    };
    platform_.startPositionFromTelescope = [this](const Settings& settings) {
        return StartPositionFromTelescope(settings, state_.programFolder, platform_.messageBox);
    };
    platform_.processImage = [this](const std::string& path, double fileTime) {
        ProcessImage(state_, platform_, path, fileTime);
    };
    platform_.guiderProblem = [this] {
        return guider_.phd2 ? Phd2StartProblem(guider_.phd2->Session()) : std::string();
    };
    platform_.askProgram = [](const std::vector<std::string>& arguments) {
        return AskProgram(arguments);
    };
    platform_.showStartProblems = [this](const std::vector<std::string>& problems) {
        ShowStartProblems(problems);
    };
}
