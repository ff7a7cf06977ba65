#include "veldra/drift/drift_error.h"

#include "veldra/settings/activity_log.h"

#include <cmath>

void RequireFinite(const std::string& programFolder, double value, const std::string& what) {
    if (std::isfinite(value))
        return;
    LogEvent(programFolder, " :    " + what + " is not a finite number -- image not used");
    throw DriftArithmeticError(what + " is not a finite number");
}
