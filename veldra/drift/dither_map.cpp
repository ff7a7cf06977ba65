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
    // Guide cameras see 0.2 to 20 "/pixel; a scale beyond 1000 is no calibration to trust.
    if (!(camera.pixelScale > 0 && camera.pixelScale <= 1000))
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

void AddDitherObservation(DitherFitSums& fit, const Vector2& p, double hours, const Vector2& s) {
    const double x[3] = {p.v0, p.v1, hours};
    const double sky[2] = {s.v0, s.v1};
    const double m = kDitherFitMemory;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            fit.xx[i][j] = m * fit.xx[i][j] + x[i] * x[j];
    for (int row = 0; row < 2; ++row) {
        for (int j = 0; j < 3; ++j)
            fit.sx[row][j] = m * fit.sx[row][j] + sky[row] * x[j];
        fit.ss[row] = m * fit.ss[row] + sky[row] * sky[row];
    }
    fit.weight = m * fit.weight + 1;
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
    const auto& a = fit.xx;
    // The pixel offsets' scatter once the drift term has taken its share (a Schur
    // complement), and its eigenvalues.
    if (!(a[2][2] > 0))
        return refuse("no interval between the images");
    const double s00 = a[0][0] - a[0][2] * a[0][2] / a[2][2];
    const double s01 = a[0][1] - a[0][2] * a[1][2] / a[2][2];
    const double s11 = a[1][1] - a[1][2] * a[1][2] / a[2][2];
    const double half = (s00 + s11) / 2;
    const double spread = std::sqrt(std::max(0.0, half * half - (s00 * s11 - s01 * s01)));
    if (!(half + spread > 0) || !(half - spread >= 0.1 * (half + spread)))
        return refuse("the dithers lie along one line");
    // The inverse of x x^T by its adjugate.
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    double inverse[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inverse[i][j] = (a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0]) / det;
        }
    double coefficients[2][3] = {};
    double largestError = 0;
    for (int row = 0; row < 2; ++row) {
        double explained = 0;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                coefficients[row][i] += inverse[i][j] * fit.sx[row][j];
            explained += coefficients[row][i] * fit.sx[row][i];
        }
        const double variance = std::max(0.0, fit.ss[row] - explained) / (fit.weight - 3);
        for (int i = 0; i < 2; ++i)
            largestError = std::max(largestError, std::sqrt(variance * inverse[i][i]));
    }
    FittedDitherMap fitted;
    fitted.map =
        Matrix2{coefficients[0][0], coefficients[0][1], coefficients[1][0], coefficients[1][1]};
    const double scale = Norm(fitted.map) / std::sqrt(2.0);
    if (!std::isfinite(largestError) || !std::isfinite(scale) || !(scale > 0))
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
