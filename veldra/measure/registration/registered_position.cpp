#include "veldra/measure/registration/registered_position.h"

#include "common/numbers.h"
#include "veldra/measure/registration/registration.h"
#include "veldra/measure/solver_runner.h"
#include "veldra/settings/activity_log.h"

#include <cstdio>
#include <fstream>

namespace {

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

SkyPosition Radians(const SkyDegrees& sky) {
    return {RadiansFromDegrees(sky.ra), RadiansFromDegrees(sky.dec)};
}

// The first two lines of the solver's result: the position, then the orientation.
std::string ResultHead(const std::string& path) {
    std::ifstream in(ResultFileName(path), std::ios::binary);
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

// The image becomes the reference: its map from the WCS keywords, else from a solve.
bool TakeReference(RegistrationMemory& memory, FitsInfo& fits, const std::string& folder,
                   const std::string& path, const ImageStars& image,
                   const std::function<bool(SkyPosition&)>& solve, SkyPosition& position) {
    memory.reference.valid = false;
    std::string missing;
    std::optional<TanMap> map = TanMapFromHeader(fits, missing);
    if (map) {
        LogEvent(folder, " :    registration reference: the WCS keywords of this image");
    } else {
        LogEvent(folder, " :    registration reference: no WCS in the header (" + missing +
                             "), plate solving");
        SkyPosition solved;
        if (!solve(solved))
            return false;
        map =
            OrientationFromApm(ResultHead(path), solved.ra, solved.dec, image.width, image.height);
        if (!map) {
            LogEvent(folder, " :    the solver reported no orientation (CD1_1,CD1_2,CD2_1,CD2_2 "
                             "on the result's second line): no reference, the next image is "
                             "tried as one");
            position = solved;
            return true;
        }
    }
    memory.reference = MakeReference(image, *map);
    position = Radians(CentreOf(*map, image.width, image.height));
    const std::string stars = std::to_string(image.extraction.stars.size());
    if (memory.reference.valid)
        LogEvent(folder, " :    registration reference: " + stars + " stars, " +
                             std::to_string(image.width) + " x " + std::to_string(image.height) +
                             " pixels");
    else
        LogEvent(folder, " :    registration reference: only " + stars +
                             " stars, the next image is tried as one");
    return true;
}

} // namespace

bool RegisteredPosition(RegistrationMemory& memory, const DriftHistory& drift, FitsInfo& fits,
                        const std::string& programFolder, const Platform& platform,
                        const std::string& path, const std::function<bool(SkyPosition&)>& solve,
                        SkyPosition& position) {
    const std::string& folder = programFolder;
    const double started = platform.monotonicSeconds();
    const ImageStars image = StarsOfImage(path, memory.pixels);
    if (!image.extraction.fault.empty()) {
        LogEvent(folder, " :    registration: unusable pixel data: " + image.extraction.fault);
        platform.showTimedError("File: " + path + " has unusable pixel data");
        return false;
    }
    // Start and Clear History empty the history: the next image is a new reference.
    if (memory.reference.valid && drift.historyCount > 0) {
        const Registration registered = Register(memory.reference, image);
        const std::string ms = Fixed((platform.monotonicSeconds() - started) * 1000, 0);
        if (registered.fault.empty()) {
            LogEvent(folder, " :    registration: " + std::to_string(registered.found) +
                                 " stars found, " + std::to_string(registered.matched) +
                                 " matched, residual " + Fixed(registered.residual, 3) +
                                 " px, shift from the reference " + Fixed(registered.shiftX, 2) +
                                 ", " + Fixed(registered.shiftY, 2) + " px, turn " +
                                 Fixed(registered.rigid.angle * 180 / kPi, 3) + " degrees, " + ms +
                                 " ms");
            position = Radians(registered.centre);
            return true;
        }
        LogEvent(folder, " :    registration failed: " + registered.fault + " (" +
                             std::to_string(registered.found) +
                             " stars found); this image becomes the new reference");
    }
    return TakeReference(memory, fits, folder, path, image, solve, position);
}
