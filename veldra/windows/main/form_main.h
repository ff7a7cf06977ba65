#pragma once
// formMain, the main window: the monitored folder and its options, Start/Stop and
// Pause/Resume, the last two measured images, the errors and rates, the bias boxes and
// the filter options.  It owns the program state (MainState) and the Platform record
// through which the core reaches the windows, the clock, the bus and the telescope.
//
// Lifetime: Load() runs the start-up sequence and shows the window.  Closing the window
// unloads it (chart window closed, bus listener removed); destroying the object saves
// the settings and logs " : Ending Veldra".  User-interface thread only.
#include "veldra/guider/guider_backend.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <QSize>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class formSetupPlateSolve;

class formMain : public QWidget {
    Q_OBJECT
  public:
    // programFolder: where "veldra.ini" and "debug.txt" live (the program's own folder;
    // tests pass a scratch folder).
    explicit formMain(const std::string& programFolder, QWidget* parent = nullptr);
    ~formMain() override;

    // The guider given on the command line: it holds for this run instead of GUIDER of
    // "veldra.ini" (until the user chooses another).  Call before Load.
    void SetCommandLineGuider(const GuiderChoice& choice);
    // Start-up: caption, bus listener, the guider backend, core start-up (reset broadcast,
    // settings, first refresh), show, focus on txtDummy, version lines in the log.
    void Load();
    void RefreshMainWindow();
    // Not re-entered: a call while one runs returns at once.
    void RefreshPendingFile();
    // The timed error dialog; returns when it has closed (OK or 5000 ms).
    void ShowTimedError(const std::string& message);
    // The setup dialog, modal; created and loaded at the first call only.
    void ShowSetupPlateSolve();
    formSetupPlateSolve* setupDialog() const { return setupDialog_; }
    // Night mode on or off (Ctrl+N), stored as NIGHT_MODE in "veldra.ini".
    void SetNightMode(bool on);
    // A settings file or log that cannot be written: shown in the window, each text once.
    void ShowWriteFailure(const std::string& text);
    // What Start's checks found, one line each, under the frames; empty: hidden.
    void ShowStartProblems(const std::vector<std::string>& problems);
    // The About box (modal).
    void ShowAbout();

    // Set before Load(): night mode from the start (--night), whatever "veldra.ini" says.
    bool startInNightMode = false;

    MainState& state() { return state_; }
    Platform& platform() { return platform_; }

    // Controls, named as the window design names them.
    QGroupBox* frameFileMonitor = nullptr; // "File Monitor Config"
    QGroupBox* frameShiftStatus = nullptr; // "Shift Status"
    QLineEdit* txtFolder = nullptr;
    QPushButton* cmdFolder = nullptr;
    QLineEdit* txtFilter = nullptr;
    QLineEdit* txtDebounceTime = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdPause = nullptr;
    QLineEdit* txtNewFile = nullptr;
    QLineEdit* txtTimeRemaining = nullptr;
    QCheckBox* chkRunCommand = nullptr;
    QLineEdit* txtCommand = nullptr;
    QPushButton* cmdSetupPlateSolve = nullptr;
    QLineEdit* txtFile1Name = nullptr;
    QLineEdit* txtFile1RA = nullptr;
    QLineEdit* txtFile1DEC = nullptr;
    QLineEdit* txtFile1Time = nullptr;
    QLineEdit* txtFile2Name = nullptr;
    QLineEdit* txtFile2RA = nullptr;
    QLineEdit* txtFile2DEC = nullptr;
    QLineEdit* txtFile2Time = nullptr;
    QLineEdit* txtRAError = nullptr;
    QLineEdit* txtDECError = nullptr;
    QLineEdit* txtRaRate = nullptr;
    QLineEdit* txtDecRate = nullptr;
    QLineEdit* txtRaBias = nullptr;
    QLineEdit* txtDecBias = nullptr;
    QCheckBox* chkUseKalmanX = nullptr;
    QCheckBox* chkUseKalmanY = nullptr;
    QCheckBox* chkUseAccelerationX = nullptr;
    QCheckBox* chkUseAccelerationY = nullptr;
    QCheckBox* chkDisableCorr = nullptr;
    QCheckBox* chkFlip = nullptr;
    QPushButton* cmdClearHistory = nullptr;
    QPushButton* Command1 = nullptr;
    QComboBox* cmbGuider = nullptr;        // "D-Bus broadcast" or "PHD2"
    QLineEdit* txtGuiderAddress = nullptr; // PHD2's HOST:PORT
    QLabel* lblGuiderState = nullptr;      // GuiderStatusText
    QCheckBox* chkDitherAware = nullptr;   // DITHER_AWARE; shown with PHD2 only
    QLineEdit* txtDummy = nullptr;
    QLabel* lblFileNotice = nullptr;  // hidden until a write fails
    QLabel* lblStartNotice = nullptr; // Start's problems; hidden when there are none
    QPushButton* cmdHelp = nullptr;   // "User Guide (F1)"
    QPushButton* cmdAbout = nullptr;  // "About"
    QTimer* Timer1 = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // form_main_controls.cpp: BuildControls and its steps, in the order it takes them.
    void BuildControls();
    void BuildMonitorFrame();
    QGridLayout* BuildShiftFrame(); // the grid the guider row goes into
    void AddFileRows(QGridLayout* shift);
    void AddErrorsRatesAndBias(QGridLayout* shift);
    void AddCorrectionOptions(QGridLayout* shift);
    void FitBoxWidths();
    void LayOutWindow();
    void SetReadingOrder();
    // form_main_platform.cpp
    void FillPlatform();
    // form_main_desktop.cpp: the night-mode key, the write-failure notice, the window's
    // place and size.
    void ConnectDesktop();
    // Never wider or taller than its content needed at its first show (a caption or a
    // style that asks for more is fitted in, not allowed to push the window off the screen).
    void KeepFirstSize();
    // form_main_help.cpp
    void SetToolTips();
    void ConnectHelp();
    // guider_row.cpp
    void BuildGuiderRow(QGridLayout* shift, int row);
    void StartGuider();
    void GuiderRowChanged();
    void RefreshGuiderRow();
    // main_window_handlers.cpp
    void ConnectHandlers();
    void CheckBoxClicked(QCheckBox* box);
    void OptionClicked(QRadioButton* option);
    void DebounceTimeChanged();
    void BiasChanged(QLineEdit* box, double& bias);
    void NumberBoxLeft(QLineEdit* box);
    void FolderClicked();
    // main_window_refresh.cpp: the refresh's writes that count as clicks, and its steps.
    void SetTicked(QCheckBox* box, bool ticked);
    void SelectOption(QRadioButton* option);
    void RefreshMonitorControls();
    void RefreshHistoryBoxes();
    void RefreshCorrectionOptions();
    void Unload();

    MainState state_;
    Platform platform_;
    formSetupPlateSolve* setupDialog_ = nullptr; // child of the window once loaded
    bool unloaded_ = false;
    BusListenerHandle busListener_; // incoming bus messages while loaded
    std::vector<std::string> writeFailuresShown_;
    QSize firstSize_; // the size the content needed at the first show
    std::optional<GuiderChoice> commandLineGuider_;
    // Last member: destroyed first, so the PHD2 client never calls back into a window
    // that is going away.
    GuiderBackend guider_;
};
