#include "veldra/windows/about_box.h"

#include "common/file_utils.h"
#include "hdrlib/hdrlib.h"
#include "veldra/settings/activity_log.h"
#include "veldra/version_info.h"
#include "veldra/windows/message_box.h"
#include "veldra/windows/night_mode.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>

std::string UserGuidePath() {
    const std::filesystem::path installed =
        std::filesystem::path(ProgramFolder()) / ".." / VELDRA_INSTALL_DOCDIR / "user-guide.md";
    const std::filesystem::path source =
        std::filesystem::path(VELDRA_SOURCE_DIR) / "docs" / "user-guide.md";
    std::error_code error;
    if (std::filesystem::exists(installed, error))
        return installed.lexically_normal().string();
    if (std::filesystem::exists(source, error))
        return source.string();
    return installed.lexically_normal().string();
}

void OpenUserGuide(QWidget* owner) {
    const std::string path = UserGuidePath();
    if (!FileExists(path)) {
        ShowMessageBox(owner, "The user guide is not installed: " + path, QMessageBox::Warning);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        ShowMessageBox(owner, "No program here opens the user guide " + path, QMessageBox::Warning);
}

std::string CfitsioVersionText() {
    // hdrlib loads CFITSIO itself on its first full load; asking the same library for its
    // version needs no CFITSIO header here.
    void* library = dlopen(VELDRA_CFITSIO_SONAME, RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr)
        return "not found";
    std::string text = "not found";
    if (auto* version = reinterpret_cast<float (*)(float*)>(dlsym(library, "ffvers"))) {
        float number = 0;
        version(&number);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.3g", static_cast<double>(number));
        text = buffer;
    }
    dlclose(library);
    return text;
}

std::string AboutText(const std::string& settingsFolder) {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t revision = 0;
    get_dll_version(&major, &minor, &revision);
    return "Veldra " + VersionText() +
           "\nKeeps a guided image from drifting: measures the drift of each new image and "
           "shifts the guider's lock point.\n\nhdrlib " +
           std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision) +
           ", CFITSIO " + CfitsioVersionText() +
           "\nLicence: not chosen yet; ask the authors before passing veldra on.\n\nSettings: " +
           JoinPath(settingsFolder, "veldra.ini") + "\nLog: " + LogPath(settingsFolder) +
           "\nUser guide (F1): " + UserGuidePath();
}

std::unique_ptr<QMessageBox> MakeAboutBox(QWidget* owner, const std::string& settingsFolder) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, "About Veldra",
                                             QString::fromStdString(AboutText(settingsFolder)),
                                             QMessageBox::Ok, owner);
    box->setObjectName("aboutBox");
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (NightModeOn())
        box->setIconPixmap(NightTinted(box->iconPixmap()));
    return box;
}
