#include "veldra/version_info.h"

#include "veldra_version.h"

std::string VersionText() {
    return std::to_string(VELDRA_VERSION_MAJOR) + "." + std::to_string(VELDRA_VERSION_MINOR) + "." +
           std::to_string(VELDRA_VERSION_PATCH);
}
