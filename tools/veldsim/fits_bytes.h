#pragma once
// The simulated star catalogue as a FITS binary table (written byte for byte).
#include "tools/veldsim/star_field.h"

#include <string>
#include <vector>

// Columns RA and DEC (degrees, double) and MAG (float) in extension 1, what
// build-astrometry-index reads.
bool WriteCatalogueTable(const std::string& path, const std::vector<CatalogueStar>& stars);
