#include "veldra/drift/dither_map.h"

#include "veldra/drift/kalman.h"
#include "veldra/settings/numbers.h"

#include <algorithm>
#include <cmath>

namespace {

double Norm(const Matrix2& m) {
    return std::sqrt(m.m00 * m.m00 + m.m01 * m.m01 + m.m10 * m.m10 + m.m11 * m.m11);
}

Vector2 AxisDirection(double degrees, int parity) {
    const double radians = degrees * kPi / 180;
    return Vector2{parity * std::cos(radians), parity * std::sin(radians)};
}

// Rounded to 4 decimals: enough to compare maps by eye in the log.
std::string Short(double value) {
    return DefaultText(std::round(value * 1e4) / 1e4);
}

} // namespace

Vector2 SkyOffset(const Matrix2& map, const Vector2& pixels) {
    Vector2 sky;
    MatrixTimesVector(map, pixels, sky);
    return sky;
}

std::optional<Matrix2> CalibrationMap(const GuideCamera& camera) {
    if (!(camera.pixelScale > 0) || !std::isfinite(camera.pixelScale))
        return std::nullopt;
    const Vector2 ra = AxisDirection(camera.xAngle, camera.xParity);
    const Vector2 dec = AxisDirection(camera.yAngle, camera.yParity);
    // Columns: the pixel directions of one pixel West and one pixel North.
    const Matrix2 axes{ra.v0, dec.v0, ra.v1, dec.v1};
    const double det = axes.m00 * axes.m11 - axes.m01 * axes.m10;
    if (!std::isfinite(det) || std::fabs(det) < std::sin(10 * kPi / 180))
        return std::nullopt;
    Matrix2 alongAxes;
    Inverse(axes, alongAxes); // pixels -> (pixels West, pixels North)
    // West is RA decreasing on the sky.
    const Matrix2 toSky{-camera.pixelScale, 0, 0, camera.pixelScale};
    Matrix2 map;
    MatrixProduct(toSky, alongAxes, map);
    return map;
}

void AddDitherObservation(DitherFitSums& fit, const Vector2& p, const Vector2& s) {
    MatrixSum(fit.pp, Matrix2{p.v0 * p.v0, p.v0 * p.v1, p.v1 * p.v0, p.v1 * p.v1}, fit.pp);
    MatrixSum(fit.sp, Matrix2{s.v0 * p.v0, s.v0 * p.v1, s.v1 * p.v0, s.v1 * p.v1}, fit.sp);
    MatrixSum(fit.ss, Matrix2{s.v0 * s.v0, s.v0 * s.v1, s.v1 * s.v0, s.v1 * s.v1}, fit.ss);
    ++fit.count;
}

std::optional<FittedDitherMap> FitDitherMap(const DitherFitSums& fit, std::string* why) {
    const auto refuse = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (fit.count < kMinFitDithers)
        return refuse(std::to_string(fit.count) + " of " + std::to_string(kMinFitDithers) +
                      " dithers");
    // Eigenvalues of the symmetric sum p p^T.
    const double half = (fit.pp.m00 + fit.pp.m11) / 2;
    const double det = fit.pp.m00 * fit.pp.m11 - fit.pp.m01 * fit.pp.m10;
    const double spread = std::sqrt(std::max(0.0, half * half - det));
    const double smaller = half - spread;
    const double larger = half + spread;
    if (!(larger > 0) || !(smaller >= 0.1 * larger))
        return refuse("the dithers lie along one line");
    Matrix2 inverse;
    Inverse(fit.pp, inverse);
    FittedDitherMap fitted;
    MatrixProduct(fit.sp, inverse, fitted.map);
    // Residual sum of squares of each row: s_i s_i - m_i . (sum s_i p).
    const double rss[2] = {fit.ss.m00 - (fitted.map.m00 * fit.sp.m00 + fitted.map.m01 * fit.sp.m01),
                           fit.ss.m11 -
                               (fitted.map.m10 * fit.sp.m10 + fitted.map.m11 * fit.sp.m11)};
    const double freedom = fit.count - 2;
    double largestError = 0;
    for (double sum : rss)
        for (double diagonal : {inverse.m00, inverse.m11})
            largestError =
                std::max(largestError, std::sqrt(std::max(0.0, sum) / freedom * diagonal));
    const double scale = Norm(fitted.map) / std::sqrt(2.0);
    if (!std::isfinite(largestError) || !(scale > 0))
        return refuse("no finite fit");
    fitted.relativeError = largestError / scale;
    if (fitted.relativeError > 0.1)
        return refuse("an error of " + DefaultText(std::round(fitted.relativeError * 100)) + " %");
    return fitted;
}

bool FitReplacesCalibration(const FittedDitherMap& fitted,
                            const std::optional<Matrix2>& calibration) {
    return !calibration || fitted.relativeError <= 0.03 ||
           MapDifference(fitted.map, *calibration) > 3 * fitted.relativeError;
}

double MapDifference(const Matrix2& a, const Matrix2& b) {
    Matrix2 difference;
    MatrixDifference(a, b, difference);
    return Norm(difference) / Norm(b);
}

std::string MapText(const Matrix2& map) {
    return "RA = " + Short(map.m00) + " dx + " + Short(map.m01) + " dy, DEC = " + Short(map.m10) +
           " dx + " + Short(map.m11) + " dy (arcsec per pixel)";
}
