#pragma once
// veldsim's star fields: the camera and catalogue of the night's options, and the frame
// for one pointing.
#include "tools/veldsim/frame_writer.h"
#include "tools/veldsim/sim_options.h"
#include "tools/veldsim/star_field.h"

#include <random>
#include <vector>

struct StarNight {
    StarCamera camera;
    std::vector<CatalogueStar> catalogue; // around the target
    std::mt19937 random;                  // the frames' pixel noise
};

StarNight MakeStarNight(const SimOptions& options);
// The frame whose centre looks at (ra, dec), degrees.
FramePixels RenderStarFrame(StarNight& night, double ra, double dec);
