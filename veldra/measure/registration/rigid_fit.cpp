#include "veldra/measure/registration/rigid_fit.h"

#include <algorithm>
#include <cmath>

namespace {

// For a 2-D Gaussian of sigma per axis, the median distance is sigma sqrt(2 ln 2).
constexpr double kMedianToSigma = 1.0 / 1.1774100225154747;
constexpr double kRejectSigmas = 4;
constexpr double kRejectFloor = 0.15; // pixels: centroids are never that good
constexpr int kMaxRounds = 10;

double Residual(const Rigid& rigid, const StarPoint& from, const StarPoint& to) {
    const StarPoint moved = Apply(rigid, from);
    return std::hypot(moved.x - to.x, moved.y - to.y);
}

// The fit over the pairs, and each pair's residual.
Rigid FitPairs(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to,
               const std::vector<std::pair<int, int>>& pairs, std::vector<double>& residuals) {
    std::vector<StarPoint> a, b;
    for (const auto& [i, j] : pairs) {
        a.push_back(from[static_cast<size_t>(i)]);
        b.push_back(to[static_cast<size_t>(j)]);
    }
    const Rigid rigid = FitRigid(a, b);
    residuals.clear();
    for (size_t k = 0; k < a.size(); ++k)
        residuals.push_back(Residual(rigid, a[k], b[k]));
    return rigid;
}

} // namespace

StarPoint Apply(const Rigid& rigid, const StarPoint& point) {
    const double c = std::cos(rigid.angle), s = std::sin(rigid.angle);
    return {c * point.x - s * point.y + rigid.dx, s * point.x + c * point.y + rigid.dy, point.flux};
}

Rigid FitRigid(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to) {
    const size_t n = std::min(from.size(), to.size());
    if (n == 0)
        return {};
    double fx = 0, fy = 0, tx = 0, ty = 0;
    for (size_t i = 0; i < n; ++i) {
        fx += from[i].x;
        fy += from[i].y;
        tx += to[i].x;
        ty += to[i].y;
    }
    fx /= static_cast<double>(n);
    fy /= static_cast<double>(n);
    tx /= static_cast<double>(n);
    ty /= static_cast<double>(n);
    // The turn that best lines up the centred point sets (2-D Procrustes without scale).
    double cross = 0, dot = 0;
    for (size_t i = 0; i < n; ++i) {
        const double ax = from[i].x - fx, ay = from[i].y - fy;
        const double bx = to[i].x - tx, by = to[i].y - ty;
        cross += ax * by - ay * bx;
        dot += ax * bx + ay * by;
    }
    Rigid rigid;
    rigid.angle = std::atan2(cross, dot);
    const double c = std::cos(rigid.angle), s = std::sin(rigid.angle);
    rigid.dx = tx - (c * fx - s * fy);
    rigid.dy = ty - (s * fx + c * fy);
    return rigid;
}

RigidFit FitWithoutOutliers(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to,
                            std::vector<std::pair<int, int>> pairs) {
    RigidFit fit;
    std::vector<double> residuals;
    for (int round = 0; round < kMaxRounds && pairs.size() >= 2; ++round) {
        FitPairs(from, to, pairs, residuals);
        std::vector<double> sorted = residuals;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2),
                         sorted.end());
        const double limit =
            std::max(kRejectFloor, kRejectSigmas * sorted[sorted.size() / 2] * kMedianToSigma);
        std::vector<std::pair<int, int>> kept;
        for (size_t k = 0; k < pairs.size(); ++k)
            if (residuals[k] <= limit)
                kept.push_back(pairs[k]);
        if (kept.size() == pairs.size() || kept.size() < 2)
            break;
        pairs = std::move(kept);
    }
    if (pairs.size() >= 2) {
        fit.rigid = FitPairs(from, to, pairs, residuals);
        double sum = 0;
        for (double r : residuals)
            sum += r * r;
        fit.rms = std::sqrt(sum / static_cast<double>(residuals.size()));
    }
    fit.pairs = std::move(pairs);
    return fit;
}
