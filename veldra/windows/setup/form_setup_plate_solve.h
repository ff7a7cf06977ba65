#pragma once
// formSetupPlateSolve, "Setup Plate Solving": how each image gets its position.  Every
// change goes into the main window's Settings at once; combo choices, the executable
// choice and the driver choice also save the settings file.  There is no undo: OK and Esc
// hide the dialog, and the close box does nothing.
//
// Lifetime: created and loaded (combo items, first refresh) by the main window at its
// first showing; later showings show the same dialog as it was left, without a refresh.
// User-interface thread only.
#include "veldra/settings/settings.h"

#include <QDialog>
#include <QRect>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class formSetupPlateSolve : public QDialog {
    Q_OBJECT
  public:
    // settings and programFolder belong to the main window and outlive the dialog.
    formSetupPlateSolve(Settings& settings, const std::string& programFolder, QWidget* owner);

    // Brings every control in line with Settings; changes it makes store nothing.
    void RefreshSetupDialog();
    // How much larger than the design (at this screen's DPI) the dialog is laid out, so
    // that this system's font fits every control; 1 when the design's sizes suffice.
    double designFactor() const { return designFactor_; }

    QLabel* Label1 = nullptr;
    QComboBox* cmbPlateSolveMethod = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QPushButton* cmdSelectPlatesolve = nullptr;
    QLineEdit* txtPlatesolvePath = nullptr;
    QLineEdit* txtMaxSolveTime = nullptr;
    QLabel* Label3 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QComboBox* cmbPwiPosOverride = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* txtRaPos = nullptr;
    QLineEdit* txtDecPos = nullptr;
    QPushButton* cmdChooser = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* txtTelescope = nullptr;
    QGroupBox* Frame3 = nullptr;
    QComboBox* cmbPwiTimestamp = nullptr;
    QComboBox* cmbPwiExposure = nullptr;
    QLineEdit* txtExposure = nullptr;
    QLabel* Label7 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QComboBox* cmbPwiImageScale = nullptr;
    QLineEdit* txtImageScale = nullptr;
    QLabel* Label2 = nullptr;

  public slots:
    // Esc: closes the dialog as OK does (the window manager's close stays ignored).
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void SetXState(bool state);
    void FillCombos();
    void SetToolTips();
    void ConnectHandlers();
    void ComboChosen(QComboBox* combo, int index);
    void TextEdited(QLineEdit* box);
    void LeftBox(QLineEdit* box);
    void SetApplication();
    void ChooseDriver();
    // Twips of the design to pixels of this screen (15 twips per pixel at 96 DPI) and
    // this font (designFactor_).
    int X(double twips) const;
    int Y(double twips) const;
    // Records a control's design rectangle in twips (inside its frame).
    void Place(QWidget* control, int left, int top, int width, int height);
    // A frame of the design, placed.
    QGroupBox* AddFrame(QWidget* parent, const char* name, const QString& caption,
                        const QRect& twips);
    // A number box with its caption (a label that names it), each placed.
    std::pair<QLineEdit*, QLabel*> AddNumberBox(QWidget* frame, const char* name, const char* text,
                                                const QRect& twips, const char* caption,
                                                const char* labelName, const QRect& labelTwips);
    void PlaceControls();

    Settings& settings_;
    std::string programFolder_;
    bool closeBoxWorks_ = true;
    std::vector<std::pair<QWidget*, QRect>> design_;
    double designFactor_ = 1;
};
