#pragma once
// What the closed-loop tests check in veldsim's CSV, shared by the bus and PHD2 nights.
#include "tools/closed-loop/headless_night.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// From frame `from` (1-based) on, the applied rates cancel the flexure within the
// tolerance ("/h).  frames: the CSV must hold exactly that many (0: any number past from).
inline void ExpectCancelledFrom(const NightResult& result, size_t from, double tolerance,
                                size_t frames = 0) {
    const std::vector<double> appliedRa = CsvColumn(result.veldsimOutput, "applied_ra");
    const std::vector<double> appliedDec = CsvColumn(result.veldsimOutput, "applied_dec");
    const std::vector<double> trueRa = CsvColumn(result.veldsimOutput, "true_rate_ra");
    const std::vector<double> trueDec = CsvColumn(result.veldsimOutput, "true_rate_dec");
    if (frames > 0) {
        ASSERT_EQ(appliedRa.size(), frames) << result.veldsimOutput;
    }
    ASSERT_GT(appliedRa.size(), from) << result.veldsimOutput;
    for (size_t frame = from - 1; frame < appliedRa.size(); ++frame) {
        EXPECT_NEAR(appliedRa[frame], -trueRa[frame], tolerance) << "frame " << frame + 1;
        EXPECT_NEAR(appliedDec[frame], -trueDec[frame], tolerance) << "frame " << frame + 1;
    }
}
