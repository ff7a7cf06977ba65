#pragma once
// The dithers between the two images of a pair: whether the pair may give a drift rate,
// the sky offset taken out of the newest image's position, and what the pair teaches the
// measured dither map.  Only images that carry a dither offset (dither awareness with
// PHD2) are touched; without one the pair is used as measured.
#include "veldra/state/dither_track.h"
#include "veldra/state/history_entry.h"

#include <optional>
#include <string>

struct PairDither {
    Vector2 pixels;         // newest image's dither offset minus the previous one's
    bool moved = false;     // a dither lies between the images
    bool learnable = false; // ... and neither image was disturbed: the pair measures the map
};

// " :    dither offset in force: dx, dy pixels", and whether a dither disturbed the exposure.
void LogDitherInForce(const std::string& programFolder, const DitherInForce& dither);

// Why the newest image gives no drift rate, or empty: a dither or its settling overlapped
// its exposure, the previous image has no dither offset to compare with, or PHD2
// (re)connected since the previous image (a dither may have gone unannounced).
std::string DitherSkipReason(const HistoryEntry& newest, const HistoryEntry& previous);

// The dithers between the images; nothing when either has no dither offset.
PairDither DitherOfPair(const HistoryEntry& newest, const HistoryEntry& previous);

// The measured map once it has replaced the calibration's (FitReplacesCalibration; the
// newest one the dithers determined well), else the calibration's; empty when neither.
// source names it for the log.
std::optional<Matrix2> DitherMapInUse(const DitherTrack& track, std::string* source = nullptr);

// The pair's dither as a sky offset through the map in use, logged as removed; empty when
// there is no map (PHD2 not calibrated and too few dithers measured).
std::optional<Vector2> RemovedDither(const DitherTrack& track, const std::string& programFolder,
                                     const PairDither& dither);

// newest moved back by sky (arcsec): its position as if the dither had not happened.
HistoryEntry WithoutDither(const HistoryEntry& newest, const Vector2& sky);

// Adds the pair's dither with the image's jump across it net of the corrections (arcsec)
// over hours, and logs when the measured map first replaces the calibration's and when the
// two disagree badly.  True when the measured map has just shown the calibration wrong:
// the rates so far were computed through a wrong map.
bool LearnDitherMap(DitherTrack& track, const std::string& programFolder, const PairDither& dither,
                    double hours, const Vector2& jump);
