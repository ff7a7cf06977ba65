#include "veldra/measure/registration/rigid_fit.h"

#include <algorithm>
#include <cmath>

namespace {

// For a 2-D Gaussian of sigma per axis, the median distance is sigma sqrt(2 ln 2).
constexpr double kMedianToSigma = 1.0 / 1.1774100225154747;
constexpr double kRejectSigmas = 4;
constexpr double kRejectFloor = 0.05; // pixels: centroids are never that good
constexpr int kMaxRounds = 10;

double Residual(const Rigid& rigid, const StarPoint& from, const StarPoint& to) {
    const StarPoint moved = Apply(rigid, from);
    return std::hypot(moved.x - to.x, moved.y - to.y);
}

// How well a pair's offset is known: both centres' noise adds.  Pairs of unknown noise
// count alike.
double PairSigma(const StarPoint& from, const StarPoint& to) {
    return from.error > 0 && to.error > 0 ? std::hypot(from.error, to.error) : 1;
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
    return {c * point.x - s * point.y + rigid.dx, s * point.x + c * point.y + rigid.dy, point.flux,
            point.error};
}

Rigid FitRigid(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to) {
    const size_t n = std::min(from.size(), to.size());
    if (n == 0)
        return {};
    // Each pair weighs by the inverse variance of its offset: a bright star's centre is
    // known to a few thousandths of a pixel, a faint one's to a tenth.
    std::vector<double> weights(n);
    double total = 0, fx = 0, fy = 0, tx = 0, ty = 0;
    for (size_t i = 0; i < n; ++i) {
        const double sigma = PairSigma(from[i], to[i]);
        const double w = weights[i] = 1 / (sigma * sigma);
        total += w;
        fx += w * from[i].x;
        fy += w * from[i].y;
        tx += w * to[i].x;
        ty += w * to[i].y;
    }
    fx /= total;
    fy /= total;
    tx /= total;
    ty /= total;
    // The turn that best lines up the centred point sets (2-D Procrustes without scale).
    double cross = 0, dot = 0;
    for (size_t i = 0; i < n; ++i) {
        const double ax = from[i].x - fx, ay = from[i].y - fy;
        const double bx = to[i].x - tx, by = to[i].y - ty;
        cross += weights[i] * (ax * by - ay * bx);
        dot += weights[i] * (ax * bx + ay * by);
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
        // Residuals in units of each pair's own noise, so that a faint star's tenth of a
        // pixel passes and a bright star's does not.
        std::vector<double> sigmas, scaled;
        for (size_t k = 0; k < pairs.size(); ++k) {
            sigmas.push_back(PairSigma(from[static_cast<size_t>(pairs[k].first)],
                                       to[static_cast<size_t>(pairs[k].second)]));
            scaled.push_back(residuals[k] / sigmas.back());
        }
        std::nth_element(scaled.begin(), scaled.begin() + static_cast<long>(scaled.size() / 2),
                         scaled.end());
        const double spread = scaled[scaled.size() / 2] * kMedianToSigma;
        std::vector<std::pair<int, int>> kept;
        for (size_t k = 0; k < pairs.size(); ++k)
            if (residuals[k] <= std::max(kRejectFloor, kRejectSigmas * spread * sigmas[k]))
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
