#pragma once

// The outcome of asking the telescope for the solver's start position.
struct TelescopeReading {
    enum class Outcome {
        Position,       // ra/dec hold the mount's position
        NoDriverObject, // the driver could not be created: go on with 0, 0
        Failed          // no driver set, no connection or no position: end the image's run
    };
    Outcome outcome = Outcome::Failed;
    double ra = 0;  // radians
    double dec = 0; // radians
};
