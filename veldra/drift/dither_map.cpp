#include "veldra/drift/dither_map.h"

#include "common/numbers.h"
#include "veldra/drift/kalman.h"
#include "veldra/guider/dither_events.h"

#include <algorithm>
#include <cmath>

namespace {

double Norm(const Matrix2& m) {
    return std::sqrt(m.m00 * m.m00 + m.m01 * m.m01 + m.m10 * m.m10 + m.m11 * m.m11);
}

// The sky direction of a pulse: "?" counts as "+", as PHD2 takes it for the lock shift.
double Sign(int parity) {
    return parity < 0 ? -1 : 1;
}

Matrix2 Times(const Matrix2& a, const Matrix2& b) {
    Matrix2 product;
    MatrixProduct(a, b, product);
    return product;
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
    // The mount follows the lock position: dx pixels the way an East pulse moves it, dy
    // the way a North pulse does, each a pixel scale of arcsec on the sky.
    const Matrix2 toSky{Sign(camera.xParity) * camera.pixelScale, 0, 0,
                        Sign(camera.yParity) * camera.pixelScale};
    if (!camera.aoXAngle)
        return toSky;
    // An AO's axes: to the camera through the AO's calibration, back to the mount's axes
    // through the mount's.
    Matrix2 cameraToMount;
    Inverse(AxesToCamera(camera.xAngle, camera.yAngle), cameraToMount);
    return Times(toSky, Times(cameraToMount, AxesToCamera(*camera.aoXAngle, camera.aoYAngle)));
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

namespace {

// The map along one pixel direction u only (dithers along one line, such as RA-only
// dithers): the sky per pixel along u regressed with the drift term, the calibration's map
// across it.
std::optional<FittedDitherMap> FitAlongLine(const DitherFitSums& fit, const Vector2& u,
                                            const Matrix2& calibration, std::string* why) {
    const auto& a = fit.xx;
    const double tt = u.v0 * u.v0 * a[0][0] + 2 * u.v0 * u.v1 * a[0][1] + u.v1 * u.v1 * a[1][1];
    const double th = u.v0 * a[0][2] + u.v1 * a[1][2];
    const double hh = a[2][2];
    const double det = tt * hh - th * th;
    if (!(det > 0) || !(fit.weight > 2)) {
        if (why)
            *why = "no finite fit";
        return std::nullopt;
    }
    double along[2] = {};
    double largestError = 0;
    for (int row = 0; row < 2; ++row) {
        const double st = fit.sx[row][0] * u.v0 + fit.sx[row][1] * u.v1;
        const double sh = fit.sx[row][2];
        along[row] = (hh * st - th * sh) / det;
        const double drift = (tt * sh - th * st) / det;
        const double variance =
            std::max(0.0, fit.ss[row] - along[row] * st - drift * sh) / (fit.weight - 2);
        largestError = std::max(largestError, std::sqrt(variance * hh / det));
    }
    const Vector2 predicted = SkyOffset(calibration, u);
    FittedDitherMap fitted;
    fitted.map = calibration;
    fitted.map.m00 += (along[0] - predicted.v0) * u.v0;
    fitted.map.m01 += (along[0] - predicted.v0) * u.v1;
    fitted.map.m10 += (along[1] - predicted.v1) * u.v0;
    fitted.map.m11 += (along[1] - predicted.v1) * u.v1;
    const double scale = std::hypot(along[0], along[1]);
    if (!std::isfinite(largestError) || !(scale > 0)) {
        if (why)
            *why = "no finite fit";
        return std::nullopt;
    }
    fitted.relativeError = largestError / scale;
    if (fitted.relativeError > 0.1) {
        if (why)
            *why = "an error of " + DefaultText(std::round(fitted.relativeError * 100)) + " %";
        return std::nullopt;
    }
    return fitted;
}

} // namespace

std::optional<FittedDitherMap> FitDitherMap(const DitherFitSums& fit,
                                            const std::optional<Matrix2>& calibration,
                                            std::string* why) {
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
    if (!(half + spread > 0))
        return refuse("the dithers do not move");
    if (!(half - spread >= 0.1 * (half + spread))) {
        if (!calibration)
            return refuse("the dithers lie along one line");
        // The eigenvector of the larger eigenvalue: the line they lie along.
        const double large = half + spread;
        Vector2 u = std::fabs(s01) > 1e-12 * large ? Vector2{s01, large - s00}
                    : s00 >= s11                   ? Vector2{1, 0}
                                                   : Vector2{0, 1};
        const double length = std::hypot(u.v0, u.v1);
        u = Vector2{u.v0 / length, u.v1 / length};
        return FitAlongLine(fit, u, *calibration, why);
    }
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
