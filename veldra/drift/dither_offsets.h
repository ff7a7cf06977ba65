#pragma once
// The dither offset in force during an image's exposure, from the dithers the guider
// announced.
#include "veldra/state/dither_track.h"

// start, end: the exposure, Unix seconds.  The offset sums every dither up to the start;
// a dither inside the exposure, or settling that overlaps it, marks it disturbed, and
// such a dither counts with the part of the exposure that followed it.  The connections
// counted are those up to the end.
DitherInForce DitherDuring(const DitherTrack& track, double start, double end);
