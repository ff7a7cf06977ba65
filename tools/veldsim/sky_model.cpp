#include "tools/veldsim/sky_model.h"

#include <algorithm>

void ApplyShift(SkyModel& sky, double hours, double raRate, double decRate) {
    hours = std::max(hours, sky.shifts.back().hours);
    if (hours == sky.shifts.back().hours)
        sky.shifts.back() = {hours, raRate, decRate};
    else
        sky.shifts.push_back({hours, raRate, decRate});
}

double AppliedOffset(const SkyModel& sky, bool raAxis, double hours) {
    double offset = 0;
    for (size_t i = 0; i < sky.shifts.size() && sky.shifts[i].hours < hours; ++i) {
        const double end =
            i + 1 < sky.shifts.size() ? std::min(sky.shifts[i + 1].hours, hours) : hours;
        const double rate = raAxis ? sky.shifts[i].raRate : sky.shifts[i].decRate;
        offset += rate * (end - sky.shifts[i].hours);
    }
    return offset;
}

double AppliedRate(const SkyModel& sky, bool raAxis, double hours) {
    const ShiftChange* inForce = &sky.shifts.front();
    for (const ShiftChange& change : sky.shifts)
        if (change.hours <= hours)
            inForce = &change;
    return raAxis ? inForce->raRate : inForce->decRate;
}

double ImageOffset(const SkyModel& sky, bool raAxis, double hours) {
    return FlexureOffset(sky.profile, raAxis, hours) + AppliedOffset(sky, raAxis, hours);
}

bool OnGuiderMessage(GuiderState& guider, SkyModel& sky, const std::string& name, int wParam,
                     int lParam, double hours) {
    const double ra = wParam - 10000;
    const double dec = lParam - 10000;
    if (guider.simulatorMode) {
        if (name != "VELDSIM_SetShift")
            return false;
        ApplyShift(sky, hours, ra, dec);
        return true;
    }
    if (name == "MG_RemoteSetShift") {
        guider.setRa = ra;
        guider.setDec = dec;
        if (guider.shifting)
            ApplyShift(sky, hours, ra, dec);
        return guider.shifting;
    }
    if (name == "MG_RemoteShift") {
        guider.shifting = true;
        ApplyShift(sky, hours, guider.setRa, guider.setDec);
        return true;
    }
    if (name == "MG_RemoteUnShift") {
        const bool was = guider.shifting;
        guider.shifting = false;
        ApplyShift(sky, hours, 0, 0);
        return was;
    }
    return false;
}
