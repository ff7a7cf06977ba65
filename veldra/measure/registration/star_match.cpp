#include "veldra/measure/registration/star_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

namespace {

constexpr size_t kTriangleStars = 40; // the brightest, for the triangles
constexpr size_t kNeighbours = 6;     // each star's triangles reach its nearest ones
constexpr double kShortestSide = 8;   // pixels: smaller triangles say little about a turn
constexpr size_t kMaxTrials = 4000;
constexpr size_t kCheckStars = 100; // the brightest, counted for each trial
constexpr double kAgreeRadius = 2;  // pixels
constexpr double kPairRadius = 3;   // pixels

struct Triangle {
    std::array<int, 3> vertex;  // vertex[k] faces side[k]
    std::array<double, 3> side; // shortest first
};

double Distance(const StarPoint& a, const StarPoint& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

std::vector<Triangle> Triangles(const std::vector<StarPoint>& stars) {
    const size_t n = std::min(stars.size(), kTriangleStars);
    std::set<std::array<int, 3>> seen;
    std::vector<Triangle> triangles;
    for (size_t i = 0; i < n; ++i) {
        std::vector<std::pair<double, size_t>> near;
        for (size_t j = 0; j < n; ++j)
            if (j != i)
                near.emplace_back(Distance(stars[i], stars[j]), j);
        const size_t k = std::min(kNeighbours, near.size());
        std::partial_sort(near.begin(), near.begin() + static_cast<long>(k), near.end());
        for (size_t p = 0; p < k; ++p)
            for (size_t q = p + 1; q < k; ++q) {
                std::array<int, 3> key{static_cast<int>(i), static_cast<int>(near[p].second),
                                       static_cast<int>(near[q].second)};
                std::sort(key.begin(), key.end());
                if (!seen.insert(key).second)
                    continue;
                // Side k lies opposite vertex k.
                std::array<std::pair<double, int>, 3> sides{
                    std::pair{Distance(stars[key[1]], stars[key[2]]), key[0]},
                    std::pair{Distance(stars[key[0]], stars[key[2]]), key[1]},
                    std::pair{Distance(stars[key[0]], stars[key[1]]), key[2]}};
                std::sort(sides.begin(), sides.end());
                if (sides[0].first < kShortestSide)
                    continue;
                triangles.push_back({{sides[0].second, sides[1].second, sides[2].second},
                                     {sides[0].first, sides[1].first, sides[2].first}});
            }
    }
    return triangles;
}

// The reference stars in square cells, for the nearest star to a point.
struct Grid {
    double cell = 8;
    double x0 = 0, y0 = 0;
    int columns = 1, rows = 1;
    std::vector<std::vector<int>> cells;

    explicit Grid(const std::vector<StarPoint>& stars) {
        double x1 = 0, y1 = 0;
        x0 = y0 = 1e300;
        x1 = y1 = -1e300;
        for (const StarPoint& s : stars) {
            x0 = std::min(x0, s.x);
            y0 = std::min(y0, s.y);
            x1 = std::max(x1, s.x);
            y1 = std::max(y1, s.y);
        }
        columns = static_cast<int>((x1 - x0) / cell) + 1;
        rows = static_cast<int>((y1 - y0) / cell) + 1;
        cells.resize(static_cast<size_t>(columns) * static_cast<size_t>(rows));
        for (size_t i = 0; i < stars.size(); ++i)
            cells[Index(Column(stars[i].x), Row(stars[i].y))].push_back(static_cast<int>(i));
    }
    int Column(double x) const { return static_cast<int>(std::floor((x - x0) / cell)); }
    int Row(double y) const { return static_cast<int>(std::floor((y - y0) / cell)); }
    size_t Index(int column, int row) const {
        return static_cast<size_t>(row) * static_cast<size_t>(columns) +
               static_cast<size_t>(column);
    }
    // The nearest star within radius (at most one cell), or -1.
    int Nearest(const std::vector<StarPoint>& stars, const StarPoint& point, double radius) const {
        if (!std::isfinite(point.x) || !std::isfinite(point.y))
            return -1;
        const int column = Column(point.x), row = Row(point.y);
        int best = -1;
        double bestDistance = radius;
        for (int r = row - 1; r <= row + 1; ++r)
            for (int c = column - 1; c <= column + 1; ++c) {
                if (r < 0 || c < 0 || r >= rows || c >= columns)
                    continue;
                for (const int i : cells[Index(c, r)]) {
                    const double d = Distance(stars[static_cast<size_t>(i)], point);
                    if (d <= bestDistance) {
                        bestDistance = d;
                        best = i;
                    }
                }
            }
        return best;
    }
};

int Agreeing(const Rigid& rigid, const std::vector<StarPoint>& image,
             const std::vector<StarPoint>& reference, const Grid& grid) {
    int count = 0;
    const size_t n = std::min(image.size(), kCheckStars);
    for (size_t i = 0; i < n; ++i)
        count += grid.Nearest(reference, Apply(rigid, image[i]), kAgreeRadius) >= 0;
    return count;
}

} // namespace

StarMatch MatchStars(const std::vector<StarPoint>& image, const std::vector<StarPoint>& reference) {
    StarMatch match;
    if (image.size() < 3 || reference.size() < 3)
        return match;
    const std::vector<Triangle> ours = Triangles(image);
    std::vector<Triangle> theirs = Triangles(reference);
    std::sort(theirs.begin(), theirs.end(),
              [](const Triangle& a, const Triangle& b) { return a.side[2] < b.side[2]; });
    const Grid grid(reference);

    size_t trials = 0;
    for (const Triangle& t : ours) {
        const double tolerance = 1.0 + 0.003 * t.side[2];
        auto it =
            std::lower_bound(theirs.begin(), theirs.end(), t.side[2] - tolerance,
                             [](const Triangle& a, double length) { return a.side[2] < length; });
        for (; it != theirs.end() && it->side[2] <= t.side[2] + tolerance; ++it) {
            if (std::fabs(it->side[0] - t.side[0]) > tolerance ||
                std::fabs(it->side[1] - t.side[1]) > tolerance)
                continue;
            std::vector<StarPoint> from, to;
            for (int k = 0; k < 3; ++k) {
                from.push_back(image[static_cast<size_t>(t.vertex[k])]);
                to.push_back(reference[static_cast<size_t>(it->vertex[k])]);
            }
            const Rigid rigid = FitRigid(from, to);
            const int agreeing = Agreeing(rigid, image, reference, grid);
            if (agreeing > match.agreeing) {
                match.agreeing = agreeing;
                match.rigid = rigid;
            }
            if (++trials >= kMaxTrials)
                break;
        }
        if (trials >= kMaxTrials)
            break;
    }
    if (match.agreeing < 3)
        return match;

    // Every star onto its nearest reference star; a reference star taken twice keeps the
    // closer one.
    std::vector<int> owner(reference.size(), -1);
    std::vector<double> ownerDistance(reference.size(), 0);
    for (size_t i = 0; i < image.size(); ++i) {
        const StarPoint moved = Apply(match.rigid, image[i]);
        const int j = grid.Nearest(reference, moved, kPairRadius);
        if (j < 0)
            continue;
        const double d = Distance(moved, reference[static_cast<size_t>(j)]);
        if (owner[static_cast<size_t>(j)] < 0 || d < ownerDistance[static_cast<size_t>(j)]) {
            owner[static_cast<size_t>(j)] = static_cast<int>(i);
            ownerDistance[static_cast<size_t>(j)] = d;
        }
    }
    for (size_t j = 0; j < reference.size(); ++j)
        if (owner[j] >= 0)
            match.pairs.emplace_back(owner[j], static_cast<int>(j));
    match.found = true;
    return match;
}
