#pragma once
// The user's command on each new image (COMMAND, when RUN_COMMAND is set).  Tokens:
//   %p MONITOR_PATH   %f file name          %F full path
//   %n file name without extension          %N full path without extension
//   %r %d start RA / DEC in radians (the locale's number text; 0 unless the solver
//         method takes the start position from the settings or the telescope)
//   % followed by any other character gives that character (%% gives %); a trailing %
//   is dropped.
// The command may hand back another image: the path written as the first field of
// "filename.txt" in MONITOR_PATH.
#include "veldra/measure/sky_text.h"
#include "veldra/settings/settings.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// COMMAND with every token replaced (the text the log shows).
std::string ExpandCommand(const std::string& commandTemplate, const std::string& monitorPath,
                          const std::string& imagePath, const SkyPosition& start);
// The arguments the command runs with: COMMAND split first (blanks separate, double quotes
// group and are removed), then the tokens replaced inside each argument, so whatever a
// file name holds (blanks, quotes) stays inside the argument it was written in.
std::vector<std::string> CommandArguments(const std::string& commandTemplate,
                                          const std::string& monitorPath,
                                          const std::string& imagePath, const SkyPosition& start);

// The first field of a hand-back file: up to the first comma or line end, leading
// blanks skipped (trailing blanks too), or the text between double quotes (which may hold
// commas).  Nothing when the field is empty.
std::optional<std::string> HandBackField(const std::string& text);

// Deletes an old hand-back file, runs the expanded command through ShellSync in a
// process group of its own and waits for it without a time limit, then reads the
// hand-back file.  Returns the path the run goes on with.  A command that cannot be
// started is logged with the process runner's text; the path then stays as it was.
// keepWaiting (may be empty) runs every kShellSyncPollMs while the command runs; when it
// returns false the command's group is ended (SIGTERM, then SIGKILL), the wait ends and
// the path stays as it was.
std::string RunNewImageCommand(const Settings& settings, const std::string& programFolder,
                               const std::string& imagePath, const SkyPosition& start,
                               const std::function<bool()>& keepWaiting = {});
