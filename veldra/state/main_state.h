#pragma once
// The program state that the main window owns.  Core operations take it together
// with a Platform record; nothing here depends on widgets.
#include "hdrlib/hdrlib.h"
#include "veldra/settings/settings.h"
#include "veldra/state/dither_track.h"
#include "veldra/state/file_listing.h"
#include "veldra/state/history_entry.h"
#include "veldra/state/kalman_filter.h"
#include "veldra/state/registration_reference.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class MonitorState : int16_t { Stopped = 0, Paused = 1, Running = 2 };

struct MainState {
    std::string programFolder; // where "veldra.ini" and "debug.txt" live
    Settings settings;

    MonitorState monitorState = MonitorState::Stopped;
    bool pipelineBusy = false; // true while ProcessImage runs
    FitsInfo fitsInfo{};       // header of the image being processed

    // Measurement history: indices 0..historyCount, never shrunk.
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
    DitherTrack dithers;                   // filled by the guider backend while PHD2 guides
    RegistrationReference registration;    // the registration method's reference image
    std::vector<float> registrationPixels; // its working memory, kept from image to image

    // Folder monitor.
    FileListing baselineListing;
    // The newest file time of any baseline since Start.  A file is processed only when it
    // is newer; a listing that shrinks or empties (a share that drops, a folder deleted and
    // restored) never lowers it.  Empty until a baseline holds a file.
    std::optional<double> newestSeen;
    FileListing currentListing;
    FileListing previousListing;
    bool settling = false;
    int16_t settleElapsed = 0;
    int16_t tickBusy = 0;           // nested ticks return at once
    int16_t refreshPendingBusy = 0; // RefreshPendingFile is not re-entered
    bool timer1On = false;          // mirrors Timer1 for the core
};
