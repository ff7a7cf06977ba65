#include "tools/veldsim/night_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

FrameRecord RecordFrame(const SkyModel& sky, int frame, double hours, const FrameRecord* previous,
                        double firstHours) {
    FrameRecord record;
    record.frame = frame;
    record.hours = hours;
    for (int axis = 0; axis < 2; ++axis) {
        const bool ra = axis == 0;
        record.trueRate[axis] = FlexureRate(sky.profile, ra, hours);
        record.applied[axis] = AppliedRate(sky, ra, hours);
        record.error[axis] = ImageOffset(sky, ra, hours) - ImageOffset(sky, ra, firstHours);
        if (previous != nullptr)
            record.residual[axis] =
                (ImageOffset(sky, ra, hours) - ImageOffset(sky, ra, previous->hours)) /
                (hours - previous->hours);
    }
    return record;
}

std::string CsvHeader() {
    return "frame,sim_hours,true_rate_ra,true_rate_dec,applied_ra,applied_dec,residual_ra,"
           "residual_dec,error_ra,error_dec,dither_ra,dither_dec";
}

std::string CsvLine(const FrameRecord& r) {
    char line[256];
    std::snprintf(line, sizeof line, "%d,%.5f,%.2f,%.2f,%.0f,%.0f,%.2f,%.2f,%.2f,%.2f,%.2f,%.2f",
                  r.frame, r.hours, r.trueRate[0], r.trueRate[1], r.applied[0], r.applied[1],
                  r.residual[0], r.residual[1], r.error[0], r.error[1], r.dither[0], r.dither[1]);
    return line;
}

NightSummary Summarize(const SkyModel& sky, const std::vector<FrameRecord>& frames,
                       int firstCounted) {
    NightSummary summary;
    double sumRa = 0;
    double sumDec = 0;
    for (const FrameRecord& record : frames) {
        if (record.frame < std::max(firstCounted, 2))
            continue;
        ++summary.framesCounted;
        sumRa += record.residual[0] * record.residual[0];
        sumDec += record.residual[1] * record.residual[1];
        summary.largestResidual = std::max(
            {summary.largestResidual, std::abs(record.residual[0]), std::abs(record.residual[1])});
    }
    if (summary.framesCounted > 0) {
        summary.rmsResidualRa = std::sqrt(sumRa / summary.framesCounted);
        summary.rmsResidualDec = std::sqrt(sumDec / summary.framesCounted);
        summary.rmsResidual = std::sqrt((sumRa + sumDec) / summary.framesCounted);
    }
    if (frames.size() >= 2) {
        const double first = frames.front().hours;
        const double last = frames.back().hours;
        summary.smearCorrected = std::hypot(frames.back().error[0], frames.back().error[1]);
        summary.smearUncorrected = std::hypot(
            FlexureOffset(sky.profile, true, last) - FlexureOffset(sky.profile, true, first),
            FlexureOffset(sky.profile, false, last) - FlexureOffset(sky.profile, false, first));
    }
    return summary;
}

std::string SummaryText(const NightSummary& s) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "frames counted: %d\n"
                  "rms residual drift: %.2f \"/h (RA %.2f, DEC %.2f)\n"
                  "largest residual: %.2f \"/h\n"
                  "image travel first to last frame: %.1f\" corrected, %.1f\" uncorrected\n",
                  s.framesCounted, s.rmsResidual, s.rmsResidualRa, s.rmsResidualDec,
                  s.largestResidual, s.smearCorrected, s.smearUncorrected);
    return text;
}
