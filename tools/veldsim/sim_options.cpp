#include "tools/veldsim/sim_options.h"

#include "tools/veldsim/header_text.h"
#include "tools/veldsim/phd2_standin.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace {

bool ToNumber(const std::string& text, double& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "F:CMD,F:CMD,...": frame numbers from 0, known commands only.
std::string ParsePhd2Schedule(const std::string& text,
                              std::vector<std::pair<int, std::string>>& schedule) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        const size_t colon = item.find(':');
        double frame = -1;
        if (colon == std::string::npos || !ToNumber(item.substr(0, colon), frame) || frame < 0 ||
            !IsPhd2StandinCommand(item.substr(colon + 1)))
            return "not a FRAME:COMMAND for --phd2-at: " + item;
        schedule.emplace_back(static_cast<int>(frame), item.substr(colon + 1));
        start = end + 1;
    }
    return {};
}

} // namespace

std::string UsageText() {
    return "usage: veldsim --folder DIR [options]\n"
           "       veldsim --stars --index FILE [options]\n"
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
           "  --stars              star fields (no CRVAL keywords) for a plate solver to measure\n"
           "  --width N, --height N  star frame size, pixels (1024 x 768)\n"
           "  --index FILE         write the astrometry.net index of the star catalogue to FILE\n"
           "                       (needs build-astrometry-index); without --folder: only that\n"
           "  --fwhm ARCSEC        star size (seeing) in star frames (2.5 pixels)\n"
           "  --sky ADU            sky background of star frames (800)\n"
           "  --hot-pixels N       N stuck pixels, the same in every star frame (0)\n"
           "  --trail-every N      a satellite trail across star frames N, 2N, ... (0: none)\n"
           "  --rotation DEG       the field turns by DEG from the first star frame to the last\n"
           "  --star-wcs           star frames carry the TAN map of the true pointing\n"
           "                       (CRVAL, CRPIX, CD), as if solved once\n"
           "  --guider NAME        dbus | phd2: play PHD2's event server instead (dbus)\n"
           "  --port N             the PHD2 stand-in's port on 127.0.0.1 (4400)\n"
           "  --phd2-mount         the stand-in's mount reports its declination (else ST-4)\n"
           "  --phd2-dec-reversed  a North pulse lowers DEC (DEC parity -)\n"
           "  --phd2-no-scale      the stand-in has no pixel scale (get_pixel_scale: null)\n"
           "  --phd2-lock-x X, --phd2-lock-y Y  its lock position in the 640 x 480 frame\n"
           "  --phd2-at F:CMD,...  after frame F (0: at start) the stand-in does CMD: quit,\n"
           "                       start, stop-guiding, start-guiding, new-star, flip, silent,\n"
           "                       answer, garbage\n"
           "  --dither ARCSEC      the stand-in dithers as PHD2: up to +-ARCSEC along RA and\n"
           "                       DEC in the gap after a frame, announced with LockPositionSet,\n"
           "                       GuidingDithered, SettleBegin and SettleDone; the later frames\n"
           "                       move with it (0: off; needs --guider phd2 and --gap 4 or more)\n"
           "  --dither-ra-only     dither along RA only\n"
           "  --dither-every N     dither after frames N, 2N, 3N ... while guiding (1)\n"
           "  --guide-angle DEG    xAngle of the guide camera: where an East pulse moves a star "
           "(0)\n"
           "  --guide-mirrored     the guide camera is mirrored: DEC axis at xAngle - 90\n"
           "  --guide-scale S      guide camera pixel scale, arcsec/pixel (1.5)\n"
           "  --help               this text\n";
}

namespace {

// The options read as numbers that are whole numbers in SimOptions: checked before they
// go there.
struct WholeNumbers {
    double frames, seed, width, height, ditherEvery, hotPixels, trailEvery;
};

WholeNumbers WholeNumbersOf(const SimOptions& o) {
    const auto real = [](auto whole) { return static_cast<double>(whole); };
    return {real(o.frames),      real(o.seed),      real(o.width),     real(o.height),
            real(o.ditherEvery), real(o.hotPixels), real(o.trailEvery)};
}

std::map<std::string, double*> NumberOptions(SimOptions& o, WholeNumbers& whole) {
    return {
        {"--frames", &whole.frames},
        {"--exposure", &o.exposure},
        {"--gap", &o.gap},
        {"--cadence", &o.cadence},
        {"--first-delay", &o.firstDelay},
        {"--tail", &o.tail},
        {"--noise", &o.noise},
        {"--seed", &whole.seed},
        {"--ra-rate", &o.profile.raRate},
        {"--dec-rate", &o.profile.decRate},
        {"--acceleration", &o.profile.acceleration},
        {"--period", &o.profile.periodHours},
        {"--ra", &o.targetRaHours},
        {"--dec", &o.targetDecDegrees},
        {"--focal-length", &o.focalLength},
        {"--pixel-size", &o.pixelSize},
        {"--width", &whole.width},
        {"--fwhm", &o.fwhmArcsec},
        {"--sky", &o.sky},
        {"--hot-pixels", &whole.hotPixels},
        {"--trail-every", &whole.trailEvery},
        {"--rotation", &o.rotationDegrees},
        {"--height", &whole.height},
        {"--dither", &o.ditherArcsec},
        {"--dither-every", &whole.ditherEvery},
        {"--guide-angle", &o.guideAngle},
        {"--guide-scale", &o.guideScale},
        {"--phd2-lock-x", &o.phd2LockX},
        {"--phd2-lock-y", &o.phd2LockY},
    };
}

std::map<std::string, bool*> FlagOptions(SimOptions& o) {
    return {{"--simulator-mode", &o.simulatorMode},
            {"--stars", &o.stars},
            {"--star-wcs", &o.starWcs},
            {"--lockstep", &o.lockstep},
            {"--phd2-mount", &o.phd2Mount},
            {"--phd2-dec-reversed", &o.phd2DecReversed},
            {"--phd2-no-scale", &o.phd2NoScale},
            {"--dither-ra-only", &o.ditherRaOnly},
            {"--guide-mirrored", &o.guideMirrored}};
}

// An option with a text value (profile: --profile's, read at the end); an error text, or
// empty when taken.
std::string ReadTextOption(const std::string& name, const std::string& value, SimOptions& o,
                           std::string& profile) {
    if (name == "--folder") {
        o.folder = value;
    } else if (name == "--start") {
        o.start = value;
    } else if (name == "--index") {
        o.indexPath = value;
    } else if (name == "--csv") {
        o.csvPath = value;
    } else if (name == "--profile") {
        profile = value;
    } else if (name == "--guider") {
        if (value != "dbus" && value != "phd2")
            return "unknown guider " + value;
        o.guider = value;
    } else if (name == "--port") {
        double port = 0;
        if (!ToNumber(value, port) || port < 1 || port > 65535 || port != static_cast<int>(port))
            return "not a port: " + value;
        o.port = static_cast<int>(port);
    } else if (name == "--phd2-at") {
        return ParsePhd2Schedule(value, o.phd2Schedule);
    } else {
        return "unknown option " + name;
    }
    return {};
}

// The options together: what is required, what goes with what, every value in its range
// (the whole numbers then go into their places).  An error text, or empty.
std::string CheckValues(SimOptions& o, const WholeNumbers& whole) {
    if (!o.indexPath.empty() && !o.stars)
        return "--index needs --stars";
    if (o.folder.empty() && o.indexPath.empty())
        return "--folder is required";
    if (whole.width < 16 || whole.width > 20000 || whole.height < 16 || whole.height > 20000)
        return "a value is out of range";
    o.width = static_cast<int>(whole.width);
    o.height = static_cast<int>(whole.height);
    if (whole.frames < 1 || whole.frames > 10000 || o.exposure <= 0 || o.gap < 0 ||
        o.cadence <= 0 || o.profile.periodHours <= 0 || o.focalLength <= 0 || o.pixelSize <= 0 ||
        o.noise < 0)
        return "a value is out of range";
    o.frames = static_cast<int>(whole.frames);
    o.seed = static_cast<unsigned>(whole.seed);
    if (!UnixSecondsOf(o.start))
        return "not a date for --start: " + o.start;
    const double ditherEvery = whole.ditherEvery;
    if (!std::isfinite(o.ditherArcsec) || o.ditherArcsec < 0 || ditherEvery < 1 ||
        ditherEvery > 10000 || ditherEvery != std::floor(ditherEvery) ||
        !std::isfinite(o.guideAngle) || !std::isfinite(o.guideScale) || o.guideScale <= 0 ||
        !(o.phd2LockX >= 0 && o.phd2LockX < 640) || !(o.phd2LockY >= 0 && o.phd2LockY < 480))
        return "a value is out of range";
    o.ditherEvery = static_cast<int>(ditherEvery);
    const double hotPixels = whole.hotPixels, trailEvery = whole.trailEvery;
    if (!(o.fwhmArcsec >= 0 && o.fwhmArcsec <= 60) || !(o.sky >= 0 && o.sky <= 60000) ||
        !(hotPixels >= 0 && hotPixels <= 100000) || hotPixels != std::floor(hotPixels) ||
        !(trailEvery >= 0 && trailEvery <= 10000) || trailEvery != std::floor(trailEvery) ||
        !std::isfinite(o.rotationDegrees) || std::fabs(o.rotationDegrees) > 180)
        return "a value is out of range";
    o.hotPixels = static_cast<int>(hotPixels);
    o.trailEvery = static_cast<int>(trailEvery);
    // Only PHD2 announces its dithers; the settling must end inside the gap.
    if (o.ditherArcsec > 0 && o.guider != "phd2")
        return "--dither needs --guider phd2";
    if (o.ditherArcsec > 0 && o.gap < 4)
        return "--dither needs a --gap of at least 4 s";
    return {};
}

// --profile: a profile's name, or a table file.
std::string ReadProfile(const std::string& profile, FlexureProfile& flexure) {
    if (profile == "constant")
        flexure.kind = FlexureProfile::Kind::Constant;
    else if (profile == "acceleration")
        flexure.kind = FlexureProfile::Kind::Acceleration;
    else if (profile == "sinusoid")
        flexure.kind = FlexureProfile::Kind::Sinusoid;
    else if (profile.rfind("table:", 0) == 0)
        return LoadFlexureTable(profile.substr(6), flexure);
    else
        return "unknown profile " + profile;
    return {};
}

} // namespace

std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& o, bool& help) {
    help = false;
    WholeNumbers whole = WholeNumbersOf(o);
    const std::map<std::string, double*> numbers = NumberOptions(o, whole);
    const std::map<std::string, bool*> flags = FlagOptions(o);
    std::string profile = "constant";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help") {
            help = true;
            return {};
        }
        if (const auto flag = flags.find(name); flag != flags.end()) {
            *flag->second = true;
            continue;
        }
        if (i + 1 >= args.size())
            return "missing value for " + name;
        const std::string& value = args[++i];
        if (const auto number = numbers.find(name); number != numbers.end()) {
            if (!ToNumber(value, *number->second))
                return "not a number for " + name + ": " + value;
        } else if (std::string error = ReadTextOption(name, value, o, profile); !error.empty()) {
            return error;
        }
    }
    if (std::string error = CheckValues(o, whole); !error.empty())
        return error;
    return ReadProfile(profile, o.profile);
}
