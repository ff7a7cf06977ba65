#include "veldra/drift/dither_pair.h"

#include "veldra/drift/dither_map.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/numbers.h"

#include <cmath>

namespace {

// A disagreement beyond this share of the calibration's map is worth the user's attention.
constexpr double kBadDisagreement = 0.25;

Vector2 PixelsBetween(const DitherInForce& newest, const DitherInForce& previous) {
    return Vector2{newest.dx - previous.dx, newest.dy - previous.dy};
}

bool Moved(const Vector2& pixels) {
    return pixels.v0 != 0 || pixels.v1 != 0;
}

std::string Rounded(double value, double step) {
    return DefaultText(std::round(value / step) * step);
}

} // namespace

void LogDitherInForce(const MainState& state, const DitherInForce& dither) {
    LogEvent(state.programFolder, " :    dither offset in force: " + Rounded(dither.dx, 0.01) +
                                      ", " + Rounded(dither.dy, 0.01) + " pixels" +
                                      (dither.disturbed ? " (a dither during the exposure)" : ""));
}

std::optional<Matrix2> DitherMapInUse(const DitherTrack& track, std::string* source) {
    const std::optional<Matrix2> calibration =
        track.camera ? CalibrationMap(*track.camera) : std::nullopt;
    const std::optional<FittedDitherMap> fitted = FitDitherMap(track.fit.sums);
    if (fitted && (track.fit.inUse || FitReplacesCalibration(*fitted, calibration))) {
        if (source)
            *source = "the map measured from " + std::to_string(track.fit.sums.count) + " dithers";
        return fitted->map;
    }
    if (source)
        *source = "PHD2's calibration";
    return calibration;
}

std::string DitherSkipReason(const MainState& state, const HistoryEntry& newest,
                             const HistoryEntry& previous) {
    if (!newest.dither)
        return {};
    if (newest.dither->disturbed)
        return "a dither or its settling overlapped the exposure";
    if (!previous.dither)
        return "the previous image has no dither offset to compare with";
    if (Moved(PixelsBetween(*newest.dither, *previous.dither)) && !DitherMapInUse(state.dithers))
        return "the dither has no sky offset (PHD2 reports no calibration)";
    return {};
}

PairDither DitherOfPair(const MainState& state, const HistoryEntry& newest,
                        const HistoryEntry& previous) {
    PairDither pair;
    if (!newest.dither || !previous.dither)
        return pair;
    pair.pixels = PixelsBetween(*newest.dither, *previous.dither);
    std::string source;
    const std::optional<Matrix2> map = DitherMapInUse(state.dithers, &source);
    if (!Moved(pair.pixels) || !map)
        return pair;
    pair.sky = SkyOffset(*map, pair.pixels);
    pair.removed = true;
    pair.learnable = !previous.dither->disturbed;
    LogEvent(state.programFolder,
             " :    dither offset removed from this pair: RA " + Rounded(pair.sky.v0, 0.01) +
                 "\", DEC " + Rounded(pair.sky.v1, 0.01) + "\" (" + Rounded(pair.pixels.v0, 0.01) +
                 ", " + Rounded(pair.pixels.v1, 0.01) + " pixels through " + source + ")");
    return pair;
}

HistoryEntry WithoutDither(const HistoryEntry& newest, const Vector2& sky) {
    HistoryEntry moved = newest;
    moved.dec = newest.dec - sky.v1 / kArcsecPerRadian;
    moved.ra = newest.ra - sky.v0 / kArcsecPerRadian / std::cos(moved.dec);
    return moved;
}

void LearnDitherMap(MainState& state, const PairDither& dither, const Vector2& measuredSky) {
    if (!std::isfinite(measuredSky.v0) || !std::isfinite(measuredSky.v1))
        return;
    DitherFit& fit = state.dithers.fit;
    AddDitherObservation(fit.sums, dither.pixels, measuredSky);
    const std::optional<FittedDitherMap> fitted = FitDitherMap(fit.sums);
    if (!fitted)
        return;
    const std::string count = std::to_string(fit.sums.count);
    const std::optional<Matrix2> calibrated =
        state.dithers.camera ? CalibrationMap(*state.dithers.camera) : std::nullopt;
    if (!fit.inUse && FitReplacesCalibration(*fitted, calibrated)) {
        fit.inUse = true;
        LogEvent(state.programFolder,
                 " : dither map measured from " + count +
                     " dithers replaces PHD2's calibration: " + MapText(fitted->map));
    }
    if (fit.inUse && calibrated && !fit.disagreementLogged &&
        MapDifference(fitted->map, *calibrated) > kBadDisagreement) {
        fit.disagreementLogged = true;
        LogEvent(state.programFolder,
                 " : the dither map measured from " + count + " dithers differs from PHD2's by " +
                     Rounded(MapDifference(fitted->map, *calibrated) * 100, 1) +
                     " % (calibration: " + MapText(*calibrated) +
                     ") -- using the measured one; check PHD2's calibration");
    }
}
