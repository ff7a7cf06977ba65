#pragma once
// Help inside the program: the About box and the user guide behind F1.
#include <memory>
#include <string>

class QMessageBox;
class QWidget;

// The installed user guide (share/doc/veldra/user-guide.md beside the program's bin/),
// or the source tree's docs/user-guide.md when running from a build; the installed path
// when neither is there.
std::string UserGuidePath();
// Opens the user guide with the desktop's viewer; a message box when it is missing or
// cannot be opened.
void OpenUserGuide(QWidget* owner);

// "4.2" of the CFITSIO that hdrlib loads, or "not found".
std::string CfitsioVersionText();
// The About box's text: version, hdrlib and CFITSIO, licence, the paths of the two files.
std::string AboutText(const std::string& settingsFolder);
// The About box, made but not shown (tests look at it); exec() shows it.
std::unique_ptr<QMessageBox> MakeAboutBox(QWidget* owner, const std::string& settingsFolder);
