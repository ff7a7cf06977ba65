#pragma once
// The dithers between the two images of a pair: whether the pair may give a drift rate,
// the sky offset taken out of the newest image's position, and what the pair teaches the
// measured dither map.  Only images that carry a dither offset (dither awareness with
// PHD2) are touched; without one the pair is used as measured.
#include "veldra/state/dither_track.h"
#include "veldra/state/history_entry.h"
#include "veldra/state/main_state.h"

#include <optional>
#include <string>

struct PairDither {
    Vector2 pixels;         // newest image's dither offset minus the previous one's
    Vector2 sky;            // its sky offset, arcsec (RA on the sky, DEC)
    bool removed = false;   // sky is taken out of the newest position
    bool learnable = false; // a dither lies between two undisturbed images
};

// " :    dither offset in force: dx, dy pixels", and whether a dither disturbed the exposure.
void LogDitherInForce(const MainState& state, const DitherInForce& dither);

// Why the newest image gives no drift rate, or empty: a dither or its settling overlapped
// its exposure, the previous image has no dither offset to compare with, or there is no
// map to turn the dither into a sky offset (PHD2 not calibrated).
std::string DitherSkipReason(const MainState& state, const HistoryEntry& newest,
                             const HistoryEntry& previous);

// The pair's dither and its sky offset through the map in use; a removed offset is logged.
PairDither DitherOfPair(const MainState& state, const HistoryEntry& newest,
                        const HistoryEntry& previous);

// The measured map once it is determined well and has replaced the calibration's
// (FitReplacesCalibration), else the calibration's; empty when neither.
// source names it for the log.
std::optional<Matrix2> DitherMapInUse(const DitherTrack& track, std::string* source = nullptr);

// newest moved back by sky (arcsec): its position as if the dither had not happened.
HistoryEntry WithoutDither(const HistoryEntry& newest, const Vector2& sky);

// Adds the pair's dither with the sky offset measured across it (the jump less the
// predicted drift), and logs when the measured map first replaces the calibration's and
// when the two disagree badly.
void LearnDitherMap(MainState& state, const PairDither& dither, const Vector2& measuredSky);
