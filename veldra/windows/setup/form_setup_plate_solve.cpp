#include "veldra/windows/setup/form_setup_plate_solve.h"

#include "common/numbers.h"
#include "veldra/chart/chart_layout.h"
#include "veldra/settings/entry_rules.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/control_factory.h"
#include "veldra/windows/file_dialogs.h"
#include "veldra/windows/setup/telescope_chooser.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>

namespace {

const char* const kMethodHeaderWcs = "WCS in FITS Header";
const char* const kSolverChooserTitle = "Choose the Plate Solver Program";

// The solver method names the program that runs: veldra-solve or the user's own.
QString SolverMethodCaption(const Settings& settings) {
    return "Plate Solver (" + QString::fromStdString(settings.solverExeName) + ")";
}

std::string TextOf(const QLineEdit* box) {
    return box->text().toStdString();
}

void SetTextWhenDifferent(QLineEdit* box, const std::string& text) {
    if (TextOf(box) != text)
        box->setText(QString::fromStdString(text));
}

void EnableBox(QLineEdit* box, bool enabled) {
    box->setEnabled(enabled);
    PaintBox(box, enabled ? BoxColour::Window : BoxColour::Grey);
}

} // namespace

formSetupPlateSolve::formSetupPlateSolve(Settings& settings, const std::string& programFolder,
                                         QWidget* owner)
    : QDialog(owner), settings_(settings), programFolder_(programFolder) {
    setObjectName("formSetupPlateSolve");
    setWindowTitle("Setup Plate Solving");
    BuildControls();
    // Load: the close box goes first, then the combo items, then the first refresh.
    SetXState(false);
    FillCombos();
    PlaceControls(); // after the combo items: the longest one needs room
    ConnectHandlers();
    RefreshSetupDialog();
    SetToolTips();
}

int formSetupPlateSolve::X(double twips) const {
    return TwipsToPixels(twips * designFactor_, logicalDpiX());
}

int formSetupPlateSolve::Y(double twips) const {
    return TwipsToPixels(twips * designFactor_, logicalDpiY());
}

void formSetupPlateSolve::Place(QWidget* control, int left, int top, int width, int height) {
    design_.push_back({control, QRect(left, top, width, height)});
}

void formSetupPlateSolve::PlaceControls() {
    // The design's twips assume its small 8-point font.  When this system's font needs
    // more room than a control's design size (a caption, the longest combo item, the
    // height of a text box), the whole design grows in proportion, so nothing is cut off
    // and every control keeps its place relative to the others.
    designFactor_ = 1;
    for (const auto& [control, twips] : design_) {
        if (qobject_cast<QGroupBox*>(control) != nullptr)
            continue; // frames grow with their contents
        const QSize needed = control->sizeHint();
        const double width = twips.width() * logicalDpiX() / 1440.0;
        const double height = twips.height() * logicalDpiY() / 1440.0;
        if (qobject_cast<QLineEdit*>(control) == nullptr) // a text box scrolls its text
            designFactor_ = std::max(designFactor_, needed.width() / width);
        designFactor_ = std::max(designFactor_, needed.height() / height);
    }
    setFixedSize(X(10740), Y(6195));
    for (const auto& [control, twips] : design_)
        control->setGeometry(X(twips.left()), Y(twips.top()), X(twips.width()), Y(twips.height()));
}

QGroupBox* formSetupPlateSolve::AddFrame(QWidget* parent, const char* name, const QString& caption,
                                         const QRect& twips) {
    QGroupBox* frame = MakeFrame(parent, name, caption);
    Place(frame, twips.left(), twips.top(), twips.width(), twips.height());
    return frame;
}

std::pair<QLineEdit*, QLabel*>
formSetupPlateSolve::AddNumberBox(QWidget* frame, const char* name, const char* text,
                                  const QRect& twips, const char* caption, const char* labelName,
                                  const QRect& labelTwips) {
    QLineEdit* box = MakeBox(frame, name, QString(), text);
    QLabel* label = MakeLabel(frame, caption, box, labelName);
    Place(box, twips.left(), twips.top(), twips.width(), twips.height());
    Place(label, labelTwips.left(), labelTwips.top(), labelTwips.width(), labelTwips.height());
    return {box, label};
}

void formSetupPlateSolve::BuildControls() {
    // Created in visual order, so the tab order follows the reading order.

    cmbPlateSolveMethod = MakeCombo(this, "cmbPlateSolveMethod", "Select Plate Solve Method");
    Label1 = MakeLabel(this, "Select Plate Solve Method", cmbPlateSolveMethod, "Label1");
    Command1 = MakeButton(this, "Command1", "OK");
    Place(Label1, 120, 120, 3375, 255);
    Place(cmbPlateSolveMethod, 120, 360, 2295, 315);
    Place(Command1, 2640, 240, 1335, 495);

    Frame1 = AddFrame(this, "Frame1", "Plate Solver Config", {0, 840, 10695, 5295});

    Frame5 = AddFrame(Frame1, "Frame5", QString(), {240, 240, 10215, 1575});
    Frame5->setAccessibleName("Plate solver program");
    cmdSelectPlatesolve = MakeButton(Frame5, "cmdSelectPlatesolve", "Set Application");
    txtPlatesolvePath = MakeDisplayBox(Frame5, "txtPlatesolvePath", "Plate solver program");
    std::tie(txtMaxSolveTime, Label3) =
        AddNumberBox(Frame5, "txtMaxSolveTime", "30", {240, 1080, 615, 285},
                     "Max allowed solve time", "Label3", {960, 1130, 3015, 255});
    Place(cmdSelectPlatesolve, 120, 360, 1215, 495);
    Place(txtPlatesolvePath, 1440, 480, 8655, 285);

    Frame2 = AddFrame(Frame1, "Frame2", "Initial Position", {240, 1920, 4095, 3135});
    cmbPwiPosOverride = MakeCombo(Frame2, "cmbPwiPosOverride", "Initial Position");
    txtRaPos = MakeBox(Frame2, "txtRaPos", QString(), "18 36 56");
    Label4 = MakeLabel(Frame2, "Manual RA position", txtRaPos, "Label4");
    txtDecPos = MakeBox(Frame2, "txtDecPos", QString(), "+38 47 01");
    Label5 = MakeLabel(Frame2, "Manual DEC position", txtDecPos, "Label5");
    cmdChooser = MakeButton(Frame2, "cmdChooser", "INDI Chooser");
    txtTelescope = MakeDisplayBox(Frame2, "txtTelescope", QString());
    Label6 = MakeLabel(Frame2, "Telescope Driver", txtTelescope, "Label6");
    Place(cmbPwiPosOverride, 240, 360, 2535, 315);
    Place(Label4, 240, 960, 1575, 255);
    Place(Label5, 1800, 960, 1575, 255);
    Place(txtRaPos, 240, 1200, 1455, 285);
    Place(txtDecPos, 1800, 1200, 1455, 285);
    Place(cmdChooser, 240, 1680, 1455, 495);
    Place(Label6, 240, 2400, 2055, 255);
    Place(txtTelescope, 240, 2640, 3375, 285);

    Frame3 = AddFrame(Frame1, "Frame3", "Time and Exposure", {4440, 1920, 4095, 1815});
    cmbPwiTimestamp = MakeCombo(Frame3, "cmbPwiTimestamp", "Image time source");
    cmbPwiExposure = MakeCombo(Frame3, "cmbPwiExposure", "Exposure source");
    std::tie(txtExposure, Label7) =
        AddNumberBox(Frame3, "txtExposure", "300", {240, 1320, 615, 285}, "Exposure in seconds",
                     "Label7", {960, 1370, 1815, 255});
    Place(cmbPwiTimestamp, 240, 360, 2535, 315);
    Place(cmbPwiExposure, 240, 840, 2535, 315);

    Frame4 = AddFrame(Frame1, "Frame4", "Image Scale", {4440, 3840, 4095, 1215});
    cmbPwiImageScale = MakeCombo(Frame4, "cmbPwiImageScale", "Image scale source");
    std::tie(txtImageScale, Label2) =
        AddNumberBox(Frame4, "txtImageScale", "0.48", {240, 840, 615, 285},
                     "Image scale in arcsconds per pixel", "Label2", {960, 885, 3015, 255});
    Place(cmbPwiImageScale, 240, 360, 2655, 315);

    SetTabOrder({cmbPlateSolveMethod, Command1, cmdSelectPlatesolve, txtPlatesolvePath,
                 txtMaxSolveTime, cmbPwiPosOverride, txtRaPos, txtDecPos, cmdChooser, txtTelescope,
                 cmbPwiTimestamp, cmbPwiExposure, txtExposure, cmbPwiImageScale, txtImageScale});
}

void formSetupPlateSolve::SetXState(bool state) {
    // The window manager draws the title bar: without the close-button hint it offers no
    // close box; closeEvent turns away the other ways of closing (Alt+F4).
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    if (state)
        flags |= Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    closeBoxWorks_ = state;
}

void formSetupPlateSolve::FillCombos() {
    cmbPlateSolveMethod->addItems({kMethodHeaderWcs, SolverMethodCaption(settings_),
                                   "Stars (register against the reference image)"});
    cmbPwiImageScale->addItems({"Image Scale From FITS Header", "Image Scale Manual Override"});
    cmbPwiTimestamp->addItems({"Time From FITS Header", "Time From File Timestamp"});
    cmbPwiExposure->addItems({"Exposure From FITS Header", "Exposure Manual Override"});
    cmbPwiPosOverride->addItems(
        {"Position From FITS header", "Position Manual Override", "Position From INDI Mount"});
}

void formSetupPlateSolve::ConnectHandlers() {
    // activated and textEdited come from the user only: what the refresh writes into the
    // controls never reaches the handlers, so it stores nothing.
    for (QComboBox* combo : {cmbPlateSolveMethod, cmbPwiImageScale, cmbPwiTimestamp, cmbPwiExposure,
                             cmbPwiPosOverride})
        connect(combo, &QComboBox::activated, this,
                [this, combo](int index) { ComboChosen(combo, index); });
    for (QLineEdit* box : {txtImageScale, txtExposure, txtMaxSolveTime, txtRaPos, txtDecPos})
        connect(box, &QLineEdit::textEdited, this, [this, box] { TextEdited(box); });
    for (QLineEdit* box : {txtImageScale, txtExposure, txtMaxSolveTime})
        box->installEventFilter(this);
    connect(cmdSelectPlatesolve, &QPushButton::clicked, this, [this] { SetApplication(); });
    connect(cmdChooser, &QPushButton::clicked, this, [this] { ChooseDriver(); });
    connect(Command1, &QPushButton::clicked, this, [this] { accept(); });
}

void formSetupPlateSolve::RefreshSetupDialog() {
    // The stars need the solver too: for a reference image without WCS keywords.
    Frame1->setVisible(settings_.PLATE_SOLVE_METHOD == 1 || settings_.PLATE_SOLVE_METHOD == 2);

    cmbPwiImageScale->setCurrentIndex(settings_.OVERRIDE_IMAGE_SCALE ? 1 : 0);
    EnableBox(txtImageScale, settings_.OVERRIDE_IMAGE_SCALE);
    cmbPwiExposure->setCurrentIndex(settings_.OVERRIDE_EXPOSURE ? 1 : 0);
    EnableBox(txtExposure, settings_.OVERRIDE_EXPOSURE);
    cmbPwiTimestamp->setCurrentIndex(settings_.OVERRIDE_TIMESTAMP ? 1 : 0);

    const int16_t position = settings_.OVERRIDE_POSITION;
    cmbPwiPosOverride->setCurrentIndex(position == 0 ? 0 : position == 1 ? 1 : 2);
    EnableBox(txtRaPos, position == 1);
    EnableBox(txtDecPos, position == 1);
    cmdChooser->setEnabled(position != 0 && position != 1);

    txtPlatesolvePath->setText(QString::fromStdString(settings_.PWI_EXE_PATH));

    // A box whose text is no number at all is rewritten too: refreshes run only after a
    // valid entry or outside the box, so this never cuts into typing.
    const std::optional<double> scale = ParseLocaleNumber(TextOf(txtImageScale));
    if (!scale || *scale != settings_.IMAGE_SCALE)
        txtImageScale->setText(QString::fromStdString(DefaultText(settings_.IMAGE_SCALE)));
    const std::optional<double> exposure = ParseLocaleNumber(TextOf(txtExposure));
    if (!exposure || *exposure != settings_.EXPOSURE)
        txtExposure->setText(QString::number(settings_.EXPOSURE));

    cmbPlateSolveMethod->setItemText(1, SolverMethodCaption(settings_));
    if (settings_.PLATE_SOLVE_METHOD >= 0 && settings_.PLATE_SOLVE_METHOD < kPlateSolveMethodCount)
        cmbPlateSolveMethod->setCurrentIndex(settings_.PLATE_SOLVE_METHOD);

    const std::optional<double> maxSolveTime = ParseLocaleNumber(TextOf(txtMaxSolveTime));
    if (!maxSolveTime || RoundHalfEven(*maxSolveTime) != settings_.PWI_MAX_SOLVE_TIME)
        txtMaxSolveTime->setText(QString::number(settings_.PWI_MAX_SOLVE_TIME));

    SetTextWhenDifferent(txtRaPos, settings_.RA_POS);
    SetTextWhenDifferent(txtDecPos, settings_.DEC_POS);
    txtTelescope->setText(QString::fromStdString(settings_.ASCOM_DRIVER_NAME));
}

void formSetupPlateSolve::ComboChosen(QComboBox* combo, int index) {
    if (combo == cmbPlateSolveMethod)
        settings_.PLATE_SOLVE_METHOD = static_cast<int16_t>(index);
    else if (combo == cmbPwiPosOverride)
        settings_.OVERRIDE_POSITION = static_cast<int16_t>(index);
    else if (combo == cmbPwiImageScale)
        settings_.OVERRIDE_IMAGE_SCALE = index != 0;
    else if (combo == cmbPwiTimestamp)
        settings_.OVERRIDE_TIMESTAMP = index != 0;
    else if (combo == cmbPwiExposure)
        settings_.OVERRIDE_EXPOSURE = index != 0;
    SaveSettings(settings_, programFolder_);
    RefreshSetupDialog();
}

void formSetupPlateSolve::TextEdited(QLineEdit* box) {
    const std::string text = TextOf(box);
    bool valid = false;
    if (box == txtImageScale) {
        if (const auto scale = AcceptImageScaleText(text)) {
            settings_.IMAGE_SCALE = *scale;
            valid = true;
        }
    } else if (box == txtExposure) {
        if (const auto exposure = AcceptExposureText(text)) {
            settings_.EXPOSURE = *exposure;
            valid = true;
        }
    } else if (box == txtMaxSolveTime) {
        if (const auto seconds = AcceptMaxSolveTimeText(text)) {
            settings_.PWI_MAX_SOLVE_TIME = *seconds;
            valid = true;
        }
    } else if (box == txtRaPos) {
        valid = AcceptRaPosText(text);
        if (valid)
            settings_.RA_POS = text;
    } else if (box == txtDecPos) {
        valid = AcceptDecPosText(text);
        if (valid)
            settings_.DEC_POS = text;
    }
    if (!valid) {
        PaintBox(box, BoxColour::Refused);
        return;
    }
    PaintBox(box, BoxColour::Window);
    RefreshSetupDialog();
}

void formSetupPlateSolve::LeftBox(QLineEdit* box) {
    if (box == txtImageScale)
        box->setText(QString::fromStdString(DefaultText(settings_.IMAGE_SCALE)));
    else if (box == txtExposure)
        box->setText(QString::number(settings_.EXPOSURE));
    else
        box->setText(QString::number(settings_.PWI_MAX_SOLVE_TIME));
    PaintBox(box, box->isEnabled() ? BoxColour::Window : BoxColour::Grey);
}

bool formSetupPlateSolve::eventFilter(QObject* watched, QEvent* event) {
    if (LeavesBox(event))
        LeftBox(static_cast<QLineEdit*>(watched));
    return QDialog::eventFilter(watched, event);
}

void formSetupPlateSolve::SetApplication() {
    // Programs here carry no extension: every file is offered, none is added.
    const std::string path = OpenFileDialog(this, settings_.PWI_EXE_PATH, "", kSolverChooserTitle,
                                            {{"Programs (*)", "*"}});
    // A cancelled chooser keeps the executable, like the other choosers of veldra.
    if (path.empty())
        return;
    SetPwiExePath(settings_, path);
    SaveSettings(settings_, programFolder_);
    RefreshSetupDialog();
}

void formSetupPlateSolve::ChooseDriver() {
    ChooseTelescopeDriver(settings_, programFolder_, this);
    RefreshSetupDialog();
}

void formSetupPlateSolve::reject() {
    // Esc closes the dialog as Cancel would; every change is already in Settings.
    QDialog::reject();
}

void formSetupPlateSolve::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Night mode's style gives the buttons other margins: the design grows to fit again,
    // so no caption is cut off.
    if (event->type() == QEvent::StyleChange && !design_.empty())
        PlaceControls();
}

void formSetupPlateSolve::closeEvent(QCloseEvent* event) {
    if (closeBoxWorks_)
        hide();
    else
        event->ignore();
}

void formSetupPlateSolve::SetToolTips() {
    const struct {
        QWidget* control;
        const char* text;
    } tips[] = {
        {cmbPlateSolveMethod,
         "Where each image's position comes from: the WCS keywords CRVAL1/CRVAL2 another "
         "solver wrote into the header, or the plate solver below (PLATE_SOLVE_METHOD)."},
        {Command1, "Close this dialog (Esc too); every change is already in force."},
        {cmdSelectPlatesolve, "Choose the plate solver program: veldra-solve, or your own that "
                              "answers with an .apm file (PWI_EXE_PATH)."},
        {txtPlatesolvePath, "The plate solver program (PWI_EXE_PATH)."},
        {txtMaxSolveTime, "Seconds the solver may run before it is ended, 0 to 32767 "
                          "(PWI_MAX_SOLVE_TIME)."},
        {cmbPwiPosOverride, "The solver's start position: the header's OBJCTRA/OBJCTDEC, the "
                            "boxes below, or the INDI mount (OVERRIDE_POSITION)."},
        {txtRaPos, "Start RA: hours minutes seconds, e.g. 18 36 56 (RA_POS)."},
        {txtDecPos, "Start DEC: degrees minutes seconds, e.g. +38 47 01 (DEC_POS)."},
        {cmdChooser, "Choose the INDI mount whose position starts the solve "
                     "(ASCOM_DRIVER_NAME)."},
        {txtTelescope, "The INDI mount, DEVICE@HOST:PORT (ASCOM_DRIVER_NAME)."},
        {cmbPwiTimestamp, "The image time: DATE-OBS of the header or the file's time "
                          "(OVERRIDE_TIMESTAMP)."},
        {cmbPwiExposure, "The exposure: EXPOSURE/EXPTIME of the header or the box below "
                         "(OVERRIDE_EXPOSURE)."},
        {txtExposure, "Exposure in whole seconds, 0 to 32767 (EXPOSURE)."},
        {cmbPwiImageScale, "The image scale: from FOCALLEN and XPIXSZ of the header or the box "
                           "below (OVERRIDE_IMAGE_SCALE)."},
        {txtImageScale, "Arcseconds per pixel, 0 or more (IMAGE_SCALE)."},
    };
    for (const auto& tip : tips)
        tip.control->setToolTip(QString::fromUtf8(tip.text));
}
