#pragma once
// A turn and a shift between two images of the same camera (the scale stays 1), and its
// least-squares fit to matched star pairs with outliers left out.
#include "veldra/state/registration_reference.h"

#include <utility>
#include <vector>

// (x, y) -> (cos a x - sin a y + dx, sin a x + cos a y + dy), in pixels.
struct Rigid {
    double angle = 0; // radians, counter-clockwise in pixel coordinates
    double dx = 0;
    double dy = 0;
};

StarPoint Apply(const Rigid& rigid, const StarPoint& point);

// The least-squares turn and shift that carries from[i] onto to[i], each pair weighed by
// its points' errors (alike where they are not known).  Needs two points.
Rigid FitRigid(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to);

struct RigidFit {
    Rigid rigid;
    std::vector<std::pair<int, int>> pairs; // the pairs kept (indices into from, to)
    double rms = 0;                         // residual of the kept pairs, pixels
};

// FitRigid over the pairs, again and again without the pairs whose residual is far
// beyond what their errors allow (4 sigma, the errors scaled robustly to the residuals,
// and at least 0.05 px), until none is left out.
RigidFit FitWithoutOutliers(const std::vector<StarPoint>& from, const std::vector<StarPoint>& to,
                            std::vector<std::pair<int, int>> pairs);
