#pragma once
// The astrometry.net index of a synthetic catalogue, so solving needs no index package.
#include "tools/veldsim/star_field.h"

#include <string>
#include <vector>

// The index scale (build-astrometry-index -P) whose quads suit a field whose smaller
// side is smallerSide degrees: quads of about a third of that side.
int IndexScaleFor(double smallerSide);
// Makes indexPath's folder when missing, writes the catalogue as a FITS table beside it, runs
// build-astrometry-index on it (at most 120 s) and removes the table.  Returns an error text, empty
// on success.
std::string WriteStarIndex(const std::vector<CatalogueStar>& catalogue,
                           const std::string& indexPath, int scale, int indexId);
// The same with the scale that suits the camera's field.
std::string WriteStarIndexFor(const std::vector<CatalogueStar>& catalogue, const StarCamera& camera,
                              const std::string& indexPath);
