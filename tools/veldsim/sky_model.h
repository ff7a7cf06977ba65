#pragma once
// Where the image of the simulated night points: the flexure plus the shift rates the
// guider has applied, in arcseconds on the sky, as functions of the simulated time
// (hours since the start of the night).
#include "tools/veldsim/flexure_profile.h"

#include <string>
#include <vector>

struct ShiftChange {
    double hours = 0;  // in force from this simulated time on
    double raRate = 0; // arcsec/hour on the sky; a rate r moves the image at +r
    double decRate = 0;
};

struct SkyModel {
    FlexureProfile profile;
    std::vector<ShiftChange> shifts{ShiftChange{}};
};

// The guider stand-in: set-shift values take effect only while shifting is on
// (guider mode), or at once from the simulator message (simulator mode).
struct GuiderState {
    bool simulatorMode = false;
    bool shifting = false;
    double setRa = 0;
    double setDec = 0;
};

// A new shift rate from `hours` on.  Changes never go back in time: an earlier time is
// taken as the time of the last change.
void ApplyShift(SkyModel& sky, double hours, double raRate, double decRate);
// Integral of the applied shift rate from the start to `hours`, arcseconds.
double AppliedOffset(const SkyModel& sky, bool raAxis, double hours);
// The shift rate in force at `hours`.
double AppliedRate(const SkyModel& sky, bool raAxis, double hours);
// Flexure plus applied shift: the image's offset on the sky at `hours`.
double ImageOffset(const SkyModel& sky, bool raAxis, double hours);
// Acts on one bus message ("MG_RemoteSetShift", "MG_RemoteShift", "MG_RemoteUnShift",
// "VELDSIM_SetShift"; rates are wParam/lParam - 10000) that reached the guider at `hours`.
// Returns true when the message changed the applied rate.
bool OnGuiderMessage(GuiderState& guider, SkyModel& sky, const std::string& name, int wParam,
                     int lParam, double hours);
