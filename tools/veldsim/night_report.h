#pragma once
// One CSV line per frame and the closing summary of a simulated night.
#include "tools/veldsim/sky_model.h"

#include <string>
#include <vector>

struct FrameRecord {
    int frame = 0;        // 1-based
    double hours = 0;     // middle of the exposure, hours since the start of the night
    double trueRate[2]{}; // flexure rate, arcsec/hour, RA then DEC
    double applied[2]{};  // shift rate in force at the middle of the exposure
    double residual[2]{}; // net image motion since the previous frame, arcsec/hour
    double error[2]{};    // image offset from the first frame, arcsec
    double dither[2]{};   // the dithers in force (sky offset, arcsec), not in the above
};

struct NightSummary {
    int framesCounted = 0;  // frames that enter the residual figures
    double rmsResidual = 0; // both axes together, arcsec/hour
    double rmsResidualRa = 0;
    double rmsResidualDec = 0;
    double largestResidual = 0;  // largest single-axis residual, arcsec/hour
    double smearCorrected = 0;   // image travel from the first to the last frame, arcsec
    double smearUncorrected = 0; // what the flexure alone would have made of it
};

// The record of frame `frame` (1-based) whose exposure middle is `hours`; `previous` is
// the record before it (nullptr for the first frame).
FrameRecord RecordFrame(const SkyModel& sky, int frame, double hours, const FrameRecord* previous,
                        double firstHours);
std::string CsvHeader();
std::string CsvLine(const FrameRecord& record);
// Residual figures from frame `firstCounted` (1-based) on.
NightSummary Summarize(const SkyModel& sky, const std::vector<FrameRecord>& frames,
                       int firstCounted);
std::string SummaryText(const NightSummary& summary);
