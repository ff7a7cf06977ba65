#pragma once
// PHD2's dither announcements and guide-camera geometry, recorded for the drift rates.
#include "veldra/guider/phd2_session.h"
#include "veldra/state/dither_track.h"

#include <optional>
#include <string>

// The track keeps at most this many dithers and settle spans; older dithers are summed.
inline constexpr size_t kDitherStepsKept = 4096;
inline constexpr size_t kSettleSpansKept = 256;

// PHD2's turn from mount axes to the camera frame for a calibration's xAngle and yAngle
// (degrees): turned by xAngle, mirrored when yAngle lies nearer xAngle - 90 than
// xAngle + 90 (src/mount.cpp TransformMountCoordinatesToCameraCoordinates).
Matrix2 AxesToCamera(double xAngle, double yAngle);

// Takes "GuidingDithered" (dx, dy; from the lock position's move when PHD2 reflected it),
// "LockPositionSet", "SettleBegin" and "SettleDone" ("GuidingStopped" and "StartGuiding"
// end settling too) and "LockPositionShiftLimitReached" into the track; other events
// change nothing.  Each is dated by its "Timestamp" (PHD2 stamps every event with Unix
// seconds), or by arrival (Unix seconds) when it has none.  Returns a log message for a
// dither that cannot be taken (no finite dx/dy within 10000 pixels) or was reflected,
// else empty.
std::string RecordDitherEvent(DitherTrack& track, const Phd2Incoming& event, double arrival);

// The lock shift is off at PHD2's limit, or on again, from time (Unix seconds).
void SetShiftOff(DitherTrack& track, bool off, double time);

// The guider's link is up or down at time (Unix seconds); each time it comes up is kept,
// and going down ends settling.
void SetGuiderConnected(DitherTrack& track, bool connected, double time);

// The guide camera of the session's calibration and pixel scale; empty until both are
// known and the mount is calibrated.
std::optional<GuideCamera> GuideCameraOf(const Phd2Session& session);

// A changed camera starts the fitted map afresh: its dithers were measured through the old
// one.  An empty camera keeps the last one.  Returns true when the camera changed.
bool SetGuideCamera(DitherTrack& track, const std::optional<GuideCamera>& camera);
