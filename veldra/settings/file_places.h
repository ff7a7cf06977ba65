#pragma once
// Where "veldra.ini" and "debug.txt" are kept.  The program's own folder while it can be
// written (a build folder, a portable copy); an installed program, whose folder cannot,
// keeps them in configHome/veldra and stateHome/veldra ($XDG_CONFIG_HOME, $XDG_STATE_HOME).
// A folder named on the command line (--config-dir) holds both.
#include <string>

struct FilePlaces {
    std::string settingsFolder; // "veldra.ini"
    std::string logFolder;      // "debug.txt"
};

// configDir: the --config-dir folder, empty when none was given.  Creates the folders it
// picks (missing parents too); a folder that cannot be made is still returned, so the
// first save or log line reports the failure.
FilePlaces ChooseFilePlaces(const std::string& programFolder, const std::string& configDir,
                            const std::string& configHome, const std::string& stateHome);

// True when a file can be made in folder now (tried, then removed): the real answer for
// read-only file systems and for root, whom the permission bits do not stop.
bool FolderWritable(const std::string& folder);

// The folder a first start watches: the user's pictures folder (XDG_PICTURES_DIR of
// configHome/user-dirs.dirs, else ~/Pictures) when it exists, else home, else "/".
std::string FirstWatchedFolder(const std::string& home, const std::string& configHome);
// The same for this user ($HOME, $XDG_CONFIG_HOME or ~/.config).
std::string FirstWatchedFolder();
