#pragma once
// From a move of the guider's lock position (guide-camera pixels) to the move of the image
// on the sky (arcsec: RA on the sky east positive, DEC north positive): the map PHD2's
// calibration gives, and the one measured from the dithers themselves.  A sign or angle
// convention is easy to get wrong and PHD2 may be recalibrated mid-night, so the measured
// map takes over once the dithers determine it well.
#include "veldra/state/dither_track.h"

#include <optional>
#include <string>

inline constexpr double kArcsecPerRadian = 206264.80624709636;
// A fit needs this many dithers: three unknowns per row, and two more to judge its error.
inline constexpr int kMinFitDithers = 5;
// Each new dither multiplies the weight of the earlier ones by this: the drift term follows
// the flexure over the last twenty or so dithers.
inline constexpr double kDitherFitMemory = 0.95;

// map times (dx, dy).
Vector2 SkyOffset(const Matrix2& map, const Vector2& pixels);

// The calibration's map: a dither (dx, dy) in PHD2's mount axes moves the pointing by
// dx pixel scales along RA and dy along DEC, with the parities' signs, whatever the camera
// angle; with an AO, from the AO's axes through the camera to the mount's.  Empty when the
// scale is not in (0, 1000] "/pixel.
std::optional<Matrix2> CalibrationMap(const GuideCamera& camera);

// One dither measured: its pixel offset, the interval between its images (hours) and the
// image's jump across it, net of the corrections applied (arcsec).
void AddDitherObservation(DitherFitSums& fit, const Vector2& pixels, double hours,
                          const Vector2& sky);

struct FittedDitherMap {
    Matrix2 map;
    double relativeError = 0; // the largest standard error of an element / the map's scale
};
// The least-squares map, when the observations determine it well: at least kMinFitDithers,
// and every element's standard error at most a tenth of the map's scale.  Pixel offsets
// that spread in two directions (apart from what the drift term takes: the smaller
// eigenvalue of their scatter at least a tenth of the larger) determine the whole map;
// offsets along one line (RA-only dithers) determine it along that line, and the
// calibration's map (when given) stands across it.  Otherwise empty, with the reason in why.
std::optional<FittedDitherMap> FitDitherMap(const DitherFitSums& fit,
                                            const std::optional<Matrix2>& calibration = {},
                                            std::string* why = nullptr);

// Whether a fitted map takes the calibration's place: always when there is no
// calibration map or the fit is precise (every element within 3 % of the scale), and
// otherwise when the fit shows the calibration wrong (they differ by more than three times
// the fit's error).  A calibration that the fit confirms stays: it has no noise.
bool FitReplacesCalibration(const FittedDitherMap& fitted,
                            const std::optional<Matrix2>& calibration);

// |a - b| / |b| in the Frobenius norm.
double MapDifference(const Matrix2& a, const Matrix2& b);

// "RA = a dx + b dy, DEC = c dx + d dy" with arcsec per pixel, for the log.
std::string MapText(const Matrix2& map);
