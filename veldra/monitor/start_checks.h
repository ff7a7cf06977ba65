#pragma once
// What Start looks at before a night begins, so that a night that cannot work is told
// at once and not by the first image: the folder, the guider and the plate solver.  Each
// problem is one line; only an unusable folder keeps monitoring from starting.
#include "veldra/guider/phd2_session.h"
#include "veldra/settings/settings.h"
#include "veldra/state/platform.h"

#include <string>
#include <vector>

struct StartCheck {
    bool folderUsable = true;
    std::vector<std::string> problems;
};

// The folder exists and can be listed; with PHD2, it answers and guides; with the solver
// method, the solver runs and (veldra-solve) has index files for IMAGE_SCALE at the size
// of the newest image in the folder.
StartCheck CheckBeforeStart(const Settings& settings, const Platform& platform);

// "" when the folder can be watched, else why not.
std::string FolderProblem(const std::string& folder);
// "" while PHD2 guides; else what the shift waits for.
std::string Phd2StartProblem(const Phd2Session& session);
// "" when the solver can run (and says it is ready), else why not.
std::string SolverProblem(const Settings& settings, const Platform& platform);
