// Help where it is expected in the main window: a tooltip on every control (what it
// does, its unit, its key in veldra.ini), the About box, F1 for the user guide and
// Ctrl+Q to end veldra as closing the window does.
#include "veldra/windows/about_box.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

namespace {
QString Help(const char* text) {
    return QString::fromUtf8(text);
}
} // namespace

void formMain::SetToolTips() {
    const struct {
        QWidget* control;
        const char* text;
    } tips[] = {
        {txtFolder, "The folder veldra watches for new images (MONITOR_PATH)."},
        {cmdFolder, "Choose the folder your capture program saves its images in (MONITOR_PATH)."},
        {txtFilter, "Which files count as images, with * and ? (MONITOR_FILTER, e.g. *.fit)."},
        {txtDebounceTime, "Seconds a new file must stay unchanged before it is measured, "
                          "0 to 32767 (DEBOUNCE_TIME)."},
        {Option1, "At Start, measure the two newest images already in the folder "
                  "(MONITOR_START_STATE 0)."},
        {Option2, "At Start, measure the newest image already in the folder "
                  "(MONITOR_START_STATE 1)."},
        {Option3, "At Start, only images saved from now on are measured "
                  "(MONITOR_START_STATE 2)."},
        {cmdStart, "Start watching the folder (checks the folder, guider and solver first), "
                   "or stop and tell the guider to stop shifting."},
        {cmdPause, "Pause: new images are not measured, the shift in force goes on."},
        {txtNewFile, "The new file that is settling."},
        {txtTimeRemaining, "Seconds until the settling file is measured."},
        {chkRunCommand, "Run the command below on each new image first (RUN_COMMAND)."},
        {txtCommand, "The command run on each new image; % tokens are replaced (COMMAND)."},
        {cmdSetupPlateSolve, "How each image's position is found: the header's WCS or the plate "
                             "solver, and its sources (PLATE_SOLVE_METHOD ...)."},
        {txtFile1Name, "The newest measured image."},
        {txtFile1RA, "RA of the newest image (hours minutes seconds)."},
        {txtFile1DEC, "DEC of the newest image (degrees minutes seconds)."},
        {txtFile1Time, "Mid-exposure time of the newest image."},
        {txtFile2Name, "The image measured before it."},
        {txtFile2RA, "RA of the image before (hours minutes seconds)."},
        {txtFile2DEC, "DEC of the image before (degrees minutes seconds)."},
        {txtFile2Time, "Mid-exposure time of the image before."},
        {txtRAError, "Drift in RA between the last two images, less the bias (arcseconds)."},
        {txtDECError, "Drift in DEC between the last two images, less the bias (arcseconds)."},
        {txtRaRate, "The RA shift rate the guider applies now (arcseconds per hour)."},
        {txtDecRate, "The DEC shift rate the guider applies now (arcseconds per hour)."},
        {txtRaBias, "A rate added to the RA shift, for comets: -3000 to 3000 arcseconds per "
                    "hour (not stored)."},
        {txtDecBias, "A rate added to the DEC shift, for comets: -3000 to 3000 arcseconds per "
                     "hour (not stored)."},
        {chkUseKalmanX, "Smooth and predict the RA rate with a Kalman filter "
                        "(FILTER_PREDICTION_X)."},
        {chkUseKalmanY, "Smooth and predict the DEC rate with a Kalman filter "
                        "(FILTER_PREDICTION_Y)."},
        {chkUseAccelerationX, "Add the filter's acceleration term on RA (USE_ACCELERATION_X)."},
        {chkUseAccelerationY, "Add the filter's acceleration term on DEC (USE_ACCELERATION_Y)."},
        {chkDisableCorr, "Measure and log, but send no corrections (DISABLE_CORRECTIONS)."},
        {cmdClearHistory, "Forget the measured images; the next image starts a new history."},
        {Command1, "Show the chart of position errors and rates."},
        {cmbGuider, "Who receives the corrections: the D-Bus broadcast or PHD2 (GUIDER)."},
        {txtGuiderAddress, "PHD2's event server, HOST:PORT (GUIDER, e.g. localhost:4400)."},
        {lblGuiderState, "The state of the link to the guider."},
        {chkDitherAware, "Take PHD2's dithers out of the measured drift (DITHER_AWARE)."},
        {cmdHelp, "Open the user guide (F1)."},
        {cmdAbout, "Version, libraries, licence and where veldra keeps its files."},
    };
    for (const auto& tip : tips)
        tip.control->setToolTip(Help(tip.text));
}

void formMain::ConnectHelp() {
    auto* guide = new QShortcut(QKeySequence(Qt::Key_F1), this);
    guide->setObjectName("userGuideShortcut");
    guide->setContext(Qt::ApplicationShortcut);
    connect(guide, &QShortcut::activated, this, [this] { OpenUserGuide(this); });
    // Ends veldra as closing the main window does (the settings are saved on the way).
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setObjectName("quitShortcut");
    quit->setContext(Qt::ApplicationShortcut);
    connect(quit, &QShortcut::activated, this, [this] { close(); });
    connect(cmdHelp, &QPushButton::clicked, this, [this] { OpenUserGuide(this); });
    connect(cmdAbout, &QPushButton::clicked, this, [this] { ShowAbout(); });
}

void formMain::ShowAbout() {
    MakeAboutBox(this, state_.programFolder)->exec();
}
