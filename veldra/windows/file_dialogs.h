#pragma once
// The file and folder choosers (Qt's QFileDialog).  Both are modal to owner (may be
// nullptr) and block until the user closes them; cancelling returns empty text and is
// not an error.  User-interface thread only; needs a QApplication.
#include <QFileDialog>
#include <memory>
#include <string>
#include <vector>

class QWidget;

// One entry of a file chooser's type list, e.g. {"EXE Files (*.exe)", "*.exe"}.
// Several patterns are separated by ";" or blanks.
struct FileFilter {
    std::string description;
    std::string pattern;
};

// The chooser for one file, as OpenFileDialog shows it: folder DirectoryOf(currentPath),
// name FileNameOf(currentPath) preselected, the given filters followed by "All Files (*)"
// (programs on Linux carry no extension), the first filter selected.  A name that does not
// exist yet is accepted.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const std::string& currentPath,
                                                const std::string& title,
                                                const std::vector<FileFilter>& filter);
// The path a closed MakeOpenFileDialog stands for: empty when it was cancelled.  A typed
// name without an extension that does not exist as typed gets "." + defaultExtension.
std::string OpenFileDialogResult(const QFileDialog& dialog, const std::string& defaultExtension);
// Shows the chooser and returns the full path chosen, or "" when cancelled.
std::string OpenFileDialog(QWidget* owner, const std::string& currentPath,
                           const std::string& defaultExtension, const std::string& title,
                           const std::vector<FileFilter>& filter);

// The folder chooser as BrowseForFolder shows it: folders only, initialFolder preselected
// (shown and returned on OK when the user picks nothing else).
std::unique_ptr<QFileDialog> MakeBrowseForFolderDialog(QWidget* owner, const std::string& title,
                                                       const std::string& initialFolder);
// Shows the chooser and returns the folder chosen, or "" when cancelled.
std::string BrowseForFolder(QWidget* owner, const std::string& title,
                            const std::string& initialFolder);
