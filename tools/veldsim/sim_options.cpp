#include "tools/veldsim/sim_options.h"

#include <charconv>
#include <functional>
#include <map>

namespace {

bool ToNumber(const std::string& text, double& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

} // namespace

std::string UsageText() {
    return "usage: veldsim --folder DIR [options]\n"
           "Writes simulated FITS frames into DIR and plays the guider: the image drifts with\n"
           "the flexure plus the shift rates received on the D-Bus session bus.\n"
           "  --frames N           frames to write (40)\n"
           "  --exposure S         simulated exposure, seconds (300)\n"
           "  --gap S              simulated seconds between exposures (10)\n"
           "  --cadence S          wall-clock seconds between frames (6)\n"
           "  --lockstep           frame 1 after a line on standard input, each later frame\n"
           "                       after the answer to the one before and in a later second\n"
           "                       (each wait at most 60 s); the cadence is then the least gap\n"
           "  --first-delay S      wall-clock seconds before the first frame (2)\n"
           "  --tail S             wall-clock seconds to listen after the last frame (12)\n"
           "  --noise ARCSEC       measurement noise, 1 sigma per axis (0.3)\n"
           "  --seed N             noise seed (1)\n"
           "  --profile NAME       constant | acceleration | sinusoid | table:FILE (constant)\n"
           "  --ra-rate R          flexure RA rate at the start, arcsec/hour (30)\n"
           "  --dec-rate R         flexure DEC rate at the start, arcsec/hour (-15)\n"
           "  --acceleration A     growth of the rate, arcsec/hour per hour (20)\n"
           "  --period H           sinusoid period, hours (8)\n"
           "  --ra HOURS           target RA (1.0)\n"
           "  --dec DEGREES        target DEC (30)\n"
           "  --focal-length MM    FOCALLEN (1000)\n"
           "  --pixel-size UM      XPIXSZ (9)\n"
           "  --start TEXT         DATE-OBS of the first frame (2026-12-08T21:00:00)\n"
           "  --simulator-mode     follow VELDSIM_SetShift instead of the guider messages\n"
           "  --csv FILE           per-frame CSV to FILE instead of standard output\n"
           "  --help               this text\n";
}

std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& o, bool& help) {
    help = false;
    double frames = o.frames;
    double seed = o.seed;
    const std::map<std::string, double*> numbers = {
        {"--frames", &frames},
        {"--exposure", &o.exposure},
        {"--gap", &o.gap},
        {"--cadence", &o.cadence},
        {"--first-delay", &o.firstDelay},
        {"--tail", &o.tail},
        {"--noise", &o.noise},
        {"--seed", &seed},
        {"--ra-rate", &o.profile.raRate},
        {"--dec-rate", &o.profile.decRate},
        {"--acceleration", &o.profile.acceleration},
        {"--period", &o.profile.periodHours},
        {"--ra", &o.targetRaHours},
        {"--dec", &o.targetDecDegrees},
        {"--focal-length", &o.focalLength},
        {"--pixel-size", &o.pixelSize},
    };
    std::string profile = "constant";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help") {
            help = true;
            return {};
        }
        if (name == "--lockstep") {
            o.lockstep = true;
            continue;
        }
        if (name == "--simulator-mode") {
            o.simulatorMode = true;
            continue;
        }
        if (i + 1 >= args.size())
            return "missing value for " + name;
        const std::string& value = args[++i];
        if (const auto number = numbers.find(name); number != numbers.end()) {
            if (!ToNumber(value, *number->second))
                return "not a number for " + name + ": " + value;
        } else if (name == "--folder") {
            o.folder = value;
        } else if (name == "--start") {
            o.start = value;
        } else if (name == "--csv") {
            o.csvPath = value;
        } else if (name == "--profile") {
            profile = value;
        } else {
            return "unknown option " + name;
        }
    }
    if (o.folder.empty())
        return "--folder is required";
    if (frames < 1 || frames > 10000 || o.exposure <= 0 || o.gap < 0 || o.cadence <= 0 ||
        o.profile.periodHours <= 0 || o.focalLength <= 0 || o.pixelSize <= 0 || o.noise < 0)
        return "a value is out of range";
    o.frames = static_cast<int>(frames);
    o.seed = static_cast<unsigned>(seed);
    if (profile == "constant")
        o.profile.kind = FlexureProfile::Kind::Constant;
    else if (profile == "acceleration")
        o.profile.kind = FlexureProfile::Kind::Acceleration;
    else if (profile == "sinusoid")
        o.profile.kind = FlexureProfile::Kind::Sinusoid;
    else if (profile.rfind("table:", 0) == 0)
        return LoadFlexureTable(profile.substr(6), o.profile);
    else
        return "unknown profile " + profile;
    return {};
}
