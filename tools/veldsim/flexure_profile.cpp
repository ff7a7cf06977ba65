#include "tools/veldsim/flexure_profile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

const double kPi = 3.14159265358979323846;

double TableOffset(const std::vector<double>& hours, const std::vector<double>& offsets,
                   double at) {
    if (hours.empty())
        return 0;
    if (at <= hours.front())
        return offsets.front();
    if (at >= hours.back())
        return offsets.back();
    const auto upper = std::upper_bound(hours.begin(), hours.end(), at);
    const size_t i = static_cast<size_t>(upper - hours.begin());
    const double share = (at - hours[i - 1]) / (hours[i] - hours[i - 1]);
    return offsets[i - 1] + share * (offsets[i] - offsets[i - 1]);
}

} // namespace

double FlexureOffset(const FlexureProfile& profile, bool raAxis, double hours) {
    const double rate = raAxis ? profile.raRate : profile.decRate;
    switch (profile.kind) {
    case FlexureProfile::Kind::Constant:
        return rate * hours;
    case FlexureProfile::Kind::Acceleration: {
        // The acceleration grows the rate in the direction it already has.
        const double sign = rate < 0 ? -1.0 : 1.0;
        return rate * hours + 0.5 * sign * profile.acceleration * hours * hours;
    }
    case FlexureProfile::Kind::Sinusoid: {
        const double omega = 2 * kPi / profile.periodHours;
        return rate / omega * std::sin(omega * hours);
    }
    case FlexureProfile::Kind::Table:
        return TableOffset(profile.tableHours, raAxis ? profile.tableRa : profile.tableDec, hours);
    }
    return 0;
}

double FlexureRate(const FlexureProfile& profile, bool raAxis, double hours) {
    const double step = 1.0 / 3600; // one second
    return (FlexureOffset(profile, raAxis, hours + step) -
            FlexureOffset(profile, raAxis, hours - step)) /
           (2 * step);
}

std::string LoadFlexureTable(const std::string& path, FlexureProfile& profile) {
    std::ifstream in(path);
    if (!in)
        return "cannot open flexure table " + path;
    profile.kind = FlexureProfile::Kind::Table;
    profile.tableHours.clear();
    profile.tableRa.clear();
    profile.tableDec.clear();
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::vector<double> values;
        std::string field;
        while (fields >> field) {
            double value = 0;
            const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
            if (result.ec != std::errc() || result.ptr != field.data() + field.size())
                return path + ":" + std::to_string(lineNumber) + ": not a number: " + field;
            values.push_back(value);
        }
        if (values.empty())
            continue;
        if (values.size() != 2 && values.size() != 3)
            return path + ":" + std::to_string(lineNumber) + ": expected 2 or 3 numbers";
        if (!profile.tableHours.empty() && values[0] <= profile.tableHours.back())
            return path + ":" + std::to_string(lineNumber) + ": times must increase";
        profile.tableHours.push_back(values[0]);
        profile.tableRa.push_back(values[1]);
        profile.tableDec.push_back(values.size() == 3 ? values[2] : values[1]);
    }
    return profile.tableHours.empty() ? path + ": no points" : std::string();
}
