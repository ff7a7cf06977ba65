#pragma once
// The measurement of the registration method (PLATE_SOLVE_METHOD 2): an image's stars
// registered against the reference image, the first image after Start or Clear History
// (or after an image that did not register).  The reference's map comes from its WCS
// keywords, else from one plate solve whose result reports the orientation.
#include "hdrlib/hdrlib.h"
#include "veldra/measure/sky_text.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/platform.h"
#include "veldra/state/registration_reference.h"

#include <functional>
#include <string>

// The position of the loaded image at path (its header in fits), against the reference
// in memory; a history that is empty makes the image the new reference.  solve runs
// the configured solver on the image (its own log lines and notices) and gives its
// centre; true when it solved.  Logs a line per image: stars found and matched, the fit's
// residual and the shift from the reference.  An image that does not register (too few
// stars matched, residuals too large, the field turned) is logged with the reason and
// taken as the new reference.  False: take the release exit (unusable pixels, a failed
// solve; logged and shown).
bool RegisteredPosition(RegistrationMemory& memory, const DriftHistory& drift, FitsInfo& fits,
                        const std::string& programFolder, const Platform& platform,
                        const std::string& path, const std::function<bool(SkyPosition&)>& solve,
                        SkyPosition& position);
