#pragma once
// The folder monitor's own record: its state, the listings it compares and its guards.
#include "veldra/state/file_listing.h"

#include <cstdint>
#include <optional>

enum class MonitorState : int16_t { Stopped = 0, Paused = 1, Running = 2 };

struct MonitorRecord {
    MonitorState monitorState = MonitorState::Stopped;
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
