#include "veldra/windows/file_dialogs.h"

#include "common/file_utils.h"
#include "veldra/windows/night_mode.h"

#include <QDir>
#include <QStringList>
#include <filesystem>

namespace {
const QString kAllFiles = "All Files (*)";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// Qt reads the patterns from the last parentheses of a filter's text; a description that
// already ends with its patterns ("EXE Files (*.exe)") is used as it stands.
QString NameFilterText(const FileFilter& filter) {
    const QString patterns = Text(filter.pattern).replace(';', ' ').simplified();
    const QString description = Text(filter.description).trimmed();
    if (description.endsWith("(" + patterns + ")"))
        return description;
    return description + " (" + patterns + ")";
}

// Qt's own dialog: the same on every desktop, it works offscreen too, and at night it
// takes the night's palette and icons (a desktop's own dialog would stay bright).
void UseOwnDialog(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (NightModeOn())
        dialog.setIconProvider(NightFileIcons());
}

bool MatchesEverything(const FileFilter& filter) {
    return Text(filter.pattern).replace(';', ' ').split(' ', Qt::SkipEmptyParts).contains("*");
}
} // namespace

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const std::string& currentPath,
                                                const std::string& title,
                                                const std::vector<FileFilter>& filter) {
    auto dialog = std::make_unique<QFileDialog>(owner, Text(title));
    UseOwnDialog(*dialog);
    dialog->setOption(QFileDialog::DontResolveSymlinks);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet may be entered (the caller decides what it means).
    dialog->setFileMode(QFileDialog::AnyFile);

    QStringList filters;
    bool hasAllFiles = false;
    for (const FileFilter& entry : filter) {
        filters.append(NameFilterText(entry));
        hasAllFiles = hasAllFiles || MatchesEverything(entry);
    }
    // Programs on Linux carry no extension, so they need a way to be listed.
    if (!hasAllFiles)
        filters.append(kAllFiles);
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());

    std::string folder = DirectoryOf(currentPath);
    if (folder.empty() && !currentPath.empty() && currentPath.front() == '/')
        folder.assign(1, '/'); // (not = "/": GCC 12 warns wrongly about that in release builds)
    // A folder that is not there (a path from another computer) leaves Qt's default.
    if (!folder.empty() && QDir(Text(folder)).exists())
        dialog->setDirectory(Text(folder));
    const std::string name = FileNameOf(currentPath);
    if (!name.empty())
        dialog->selectFile(Text(name));
    return dialog;
}

std::string OpenFileDialogResult(const QFileDialog& dialog, const std::string& defaultExtension) {
    if (dialog.result() != QDialog::Accepted)
        return "";
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return "";
    std::string path = chosen.first().toStdString();
    // Only a typed name that does not exist as it stands gets the extension: an existing
    // program without one ("/usr/bin/solver") is returned unchanged.
    std::error_code error;
    if (!defaultExtension.empty() && FileNameOf(path).find('.') == std::string::npos &&
        !std::filesystem::exists(path, error))
        path += "." + defaultExtension;
    return path;
}

std::string OpenFileDialog(QWidget* owner, const std::string& currentPath,
                           const std::string& defaultExtension, const std::string& title,
                           const std::vector<FileFilter>& filter) {
    const auto dialog = MakeOpenFileDialog(owner, currentPath, title, filter);
    dialog->exec();
    return OpenFileDialogResult(*dialog, defaultExtension);
}

std::unique_ptr<QFileDialog> MakeBrowseForFolderDialog(QWidget* owner, const std::string& title,
                                                       const std::string& initialFolder) {
    auto dialog = std::make_unique<QFileDialog>(owner, Text(title));
    UseOwnDialog(*dialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    if (!initialFolder.empty())
        dialog->setDirectory(Text(initialFolder));
    return dialog;
}

std::string BrowseForFolder(QWidget* owner, const std::string& title,
                            const std::string& initialFolder) {
    const auto dialog = MakeBrowseForFolderDialog(owner, title, initialFolder);
    if (dialog->exec() != QDialog::Accepted)
        return "";
    const QStringList chosen = dialog->selectedFiles();
    return chosen.isEmpty() ? std::string() : chosen.first().toStdString();
}
