#include "veldra/windows/main/form_main.h"

#include "veldra/guider/guider_bus.h"
#include "veldra/guider/guider_link.h"
#include "veldra/monitor/monitoring_control.h"
#include "veldra/settings/activity_log.h"
#include "veldra/version_info.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/notice/dia_error.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"
#include "veldra/windows/window_places.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QTimer>

namespace {
constexpr const char* kMainPlaceName = "main";
} // namespace

formMain::formMain(const std::string& programFolder, QWidget* parent) : QWidget(parent) {
    state_.programFolder = programFolder;
    BuildControls();
    FillPlatform();
    ConnectHandlers();
    ConnectDesktop();
    SetToolTips();
    ConnectHelp();
    // "Show All History" in the chart window reads DISABLE_CORRECTIONS from here.
    SetChartSettings(&state_.settings);
}

formMain::~formMain() {
    Unload();
    // An image run under way at the close may have loaded the chart window again.
    killme();
    ShutDown(state_.settings, state_.programFolder);
    SetWriteFailureReporter({});
}

void formMain::Load() {
    setWindowTitle(QString::fromStdString("Veldra version " + VersionText()));
    busListener_ =
        InstallBusListener([this](const std::string& name, int32_t wParam, int32_t lParam) {
            HandleIncomingMessage(name, wParam, lParam, platform_);
        });
    // The guider is chosen before the window-load sequence, which already goes to it.
    StartGuider();
    StartUpBeforeShow(state_, platform_);
    SetNightMode(startInNightMode || state_.settings.NIGHT_MODE);
    RestoreWindowPlace(this, state_.programFolder, kMainPlaceName);
    SetChartPlacement(this, state_.programFolder);
    show();
    KeepFirstSize();
    txtDummy->setFocus();
    StartUpAfterShow(state_);
}

void formMain::Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    Timer1->stop();
    if (isVisible())
        StoreWindowPlace(this, state_.programFolder, kMainPlaceName);
    killme();
    SetChartSettings(nullptr);
    SetChartPlacement(nullptr, {});
    RemoveBusListener(busListener_);
}

void formMain::closeEvent(QCloseEvent* event) {
    Unload();
    event->accept();
}

void formMain::ShowTimedError(const std::string& message) {
    ::ShowTimedError(this, message);
}

void formMain::ShowSetupPlateSolve() {
    if (setupDialog_ == nullptr)
        setupDialog_ = new formSetupPlateSolve(state_.settings, state_.programFolder, this);
    setupDialog_->exec();
}
