#pragma once
// The measurement history, the corrections in force and the filters that follow it.
#include "veldra/state/history_entry.h"
#include "veldra/state/kalman_filter.h"

#include <cstdint>
#include <vector>

struct DriftHistory {
    // Indices 0..historyCount, never shrunk.
    std::vector<HistoryEntry> history = std::vector<HistoryEntry>(1);
    int16_t historyCount = 0;
    int16_t newestIndex = 0;
    int16_t previousIndex = 0;
    double currentRaCorrection = 0; // arcsec/hour in force at the guider
    double currentDecCorrection = 0;
    KalmanFilter filterX; // RA
    KalmanFilter filterY; // DEC
    // The filters hold a drift rate of this history: the first rate seeds them.  An image
    // that gives no rate (a dither during its exposure) leaves them waiting.
    bool filtersSeeded = false;
};
