#include "veldra/drift/dither_pair.h"

#include "common/numbers.h"
#include "veldra/drift/dither_map.h"
#include "veldra/settings/activity_log.h"

#include <cmath>

namespace {

// A disagreement beyond this share of the calibration's map is worth the user's attention.
constexpr double kBadDisagreement = 0.25;

Vector2 PixelsBetween(const DitherInForce& newest, const DitherInForce& previous) {
    return Vector2{newest.dx - previous.dx, newest.dy - previous.dy};
}

std::string Rounded(double value, double step) {
    return DefaultText(std::round(value / step) * step);
}

} // namespace

void LogDitherInForce(const std::string& programFolder, const DitherInForce& dither) {
    LogEvent(programFolder, " :    dither offset in force: " + Rounded(dither.dx, 0.01) + ", " +
                                Rounded(dither.dy, 0.01) + " pixels" +
                                (dither.disturbed ? " (a dither during the exposure)" : ""));
}

std::optional<Matrix2> DitherMapInUse(const DitherTrack& track, std::string* source) {
    if (track.fit.inUse) {
        if (source)
            *source = "the map measured from " + std::to_string(track.fit.sums.count) + " dithers";
        return track.fit.map;
    }
    if (source)
        *source = "PHD2's calibration";
    return track.camera ? CalibrationMap(*track.camera) : std::nullopt;
}

std::string DitherSkipReason(const HistoryEntry& newest, const HistoryEntry& previous) {
    if (!newest.dither)
        return {};
    if (newest.dither->disturbed)
        return "a dither or its settling overlapped the exposure";
    if (!previous.dither)
        return "the previous image has no dither offset to compare with";
    if (newest.dither->connections != previous.dither->connections)
        return "PHD2 was not connected all the time since the previous image";
    return {};
}

PairDither DitherOfPair(const HistoryEntry& newest, const HistoryEntry& previous) {
    PairDither pair;
    if (!newest.dither || !previous.dither)
        return pair;
    pair.pixels = PixelsBetween(*newest.dither, *previous.dither);
    pair.moved = pair.pixels.v0 != 0 || pair.pixels.v1 != 0;
    pair.learnable = pair.moved && !newest.dither->disturbed && !previous.dither->disturbed;
    return pair;
}

std::optional<Vector2> RemovedDither(const DitherTrack& track, const std::string& programFolder,
                                     const PairDither& dither) {
    std::string source;
    const std::optional<Matrix2> map = DitherMapInUse(track, &source);
    if (!map)
        return std::nullopt;
    const Vector2 sky = SkyOffset(*map, dither.pixels);
    LogEvent(programFolder,
             " :    dither offset removed from this pair: RA " + Rounded(sky.v0, 0.01) +
                 "\", DEC " + Rounded(sky.v1, 0.01) + "\" (" + Rounded(dither.pixels.v0, 0.01) +
                 ", " + Rounded(dither.pixels.v1, 0.01) + " pixels through " + source + ")");
    return sky;
}

HistoryEntry WithoutDither(const HistoryEntry& newest, const Vector2& sky) {
    HistoryEntry moved = newest;
    moved.dec = newest.dec - sky.v1 / kArcsecPerRadian;
    moved.ra = newest.ra - sky.v0 / kArcsecPerRadian / std::cos(moved.dec);
    return moved;
}

bool LearnDitherMap(DitherTrack& track, const std::string& programFolder, const PairDither& dither,
                    double hours, const Vector2& jump) {
    if (!std::isfinite(jump.v0) || !std::isfinite(jump.v1) || !std::isfinite(hours))
        return false;
    DitherFit& fit = track.fit;
    AddDitherObservation(fit.sums, dither.pixels, hours, jump);
    const std::optional<Matrix2> calibrated =
        track.camera ? CalibrationMap(*track.camera) : std::nullopt;
    const std::optional<FittedDitherMap> fitted = FitDitherMap(fit.sums, calibrated);
    if (!fitted)
        return false; // a map in use stays as it was last determined
    if (fit.inUse) {
        fit.map = fitted->map;
        return false;
    }
    if (!FitReplacesCalibration(*fitted, calibrated))
        return false;
    fit.inUse = true;
    fit.map = fitted->map;
    const std::string count = std::to_string(fit.sums.count);
    LogEvent(programFolder, " : dither map measured from " + count +
                                " dithers replaces PHD2's calibration: " + MapText(fitted->map));
    if (!calibrated || MapDifference(fitted->map, *calibrated) <= kBadDisagreement)
        return false;
    LogEvent(programFolder,
             " : the dither map measured from " + count + " dithers differs from PHD2's by " +
                 Rounded(MapDifference(fitted->map, *calibrated) * 100, 1) +
                 " % (calibration: " + MapText(*calibrated) +
                 ") -- check PHD2's calibration; the filters start again from this image");
    return true;
}
