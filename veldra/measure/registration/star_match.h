#pragma once
// Which star of one image is which star of the reference: triangles of neighbouring
// bright stars, compared by their side lengths (the camera's scale does not change, so
// a side's length is kept by any shift and turn), each match tried as a turn and shift
// of the whole field.
#include "veldra/measure/registration/rigid_fit.h"

#include <utility>
#include <vector>

struct StarMatch {
    bool found = false;
    Rigid rigid;                            // image -> reference: the best trial
    int agreeing = 0;                       // bright stars the trial put onto a reference star
    std::vector<std::pair<int, int>> pairs; // (image index, reference index), each star once
};

// Stars brightest first, pixels.  Any shift and any turn are found; the caller bounds
// them.
StarMatch MatchStars(const std::vector<StarPoint>& image, const std::vector<StarPoint>& reference);
