#include "veldra/drift/dither_offsets.h"

#include <algorithm>

DitherInForce DitherDuring(const DitherTrack& track, double start, double end) {
    DitherInForce inForce{track.foldedDx, track.foldedDy, false};
    for (const DitherStep& step : track.steps) {
        if (step.time <= start) {
            inForce.dx += step.dx;
            inForce.dy += step.dy;
        } else if (step.time < end) {
            const double held = (end - step.time) / (end - start);
            inForce.dx += step.dx * held;
            inForce.dy += step.dy * held;
            inForce.disturbed = true;
        }
    }
    inForce.connections = track.foldedConnections;
    for (double connected : track.connections)
        inForce.connections += connected < end;
    for (const SettleSpan& span : track.settles)
        if (span.begin < end && span.end.value_or(span.begin + kSettleBoundSeconds) > start)
            inForce.disturbed = true;
    const double middle = (start + end) / 2;
    inForce.shiftOffSeconds = track.foldedShiftOffSeconds;
    for (const SettleSpan& span : track.shiftOff)
        if (span.begin < middle)
            inForce.shiftOffSeconds += std::min(span.end.value_or(middle), middle) - span.begin;
    return inForce;
}
