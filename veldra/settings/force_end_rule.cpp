#include "veldra/settings/force_end_rule.h"

namespace {
// Only "/" separates here: these are Linux paths, where "\" is a file-name character.
std::string BaseName(const std::string& path) {
    const size_t separator = path.find_last_of('/');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string ExecutableName(const std::string& executable) {
    // The kernel marks a replaced or removed program file this way.
    const std::string deleted = " (deleted)";
    std::string name = BaseName(executable);
    if (name.size() > deleted.size() && name.ends_with(deleted))
        name.resize(name.size() - deleted.size());
    return name;
}
} // namespace

bool IsForceEndTarget(const std::string& exeName, const ProcessEntry& process,
                      const ForceEndCaller& caller) {
    if (exeName.empty() || process.pid <= 0 || process.pid == caller.self ||
        process.pid == caller.parent)
        return false;
    if (process.realUid != caller.uid || process.effectiveUid != caller.uid)
        return false;
    if (process.comm != exeName.substr(0, kCommLength))
        return false;
    if (exeName.size() < kCommLength)
        return true;

    // comm may be cut: confirm the full name.
    const std::string executableName = ExecutableName(process.executable);
    if (executableName == exeName)
        return true;
    const auto& argv = process.arguments;
    if (!argv.empty() && BaseName(argv[0]) == exeName)
        return true;
    const bool runByInterpreter =
        !process.executable.empty() && executableName.substr(0, kCommLength) != process.comm;
    if (runByInterpreter) {
        for (size_t i = 1; i < argv.size() && i <= 2; ++i)
            if (BaseName(argv[i]) == exeName)
                return true;
    }
    return false;
}
