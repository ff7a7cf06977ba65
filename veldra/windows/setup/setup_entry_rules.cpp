#include "veldra/windows/setup/setup_entry_rules.h"

#include "veldra/settings/numbers.h"

#include <array>
#include <string_view>
#include <vector>

namespace {

std::optional<int16_t> WholeSecondsAtLeastZero(const std::string& text) {
    const std::optional<double> number = ParseLocaleNumber(text);
    if (!number || *number < 0)
        return std::nullopt;
    return RoundToInt16(*number);
}

// The three fields of a position text, or empty when the text does not have exactly
// three fields separated by single blanks.
std::optional<std::array<double, 3>> PositionFields(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t blank = text.find(' ', start);
        fields.push_back(text.substr(start, blank - start));
        if (blank == std::string_view::npos)
            break;
        start = blank + 1;
    }
    if (fields.size() != 3)
        return std::nullopt;
    std::array<double, 3> values{};
    for (size_t i = 0; i < 3; ++i) {
        // Empty fields (from doubled blanks) and blanks inside a field never read.
        if (fields[i].empty() || fields[i].find_first_of(" \t") != std::string_view::npos)
            return std::nullopt;
        const std::optional<double> number = ParseLocaleNumber(fields[i]);
        if (!number || *number != RoundHalfEven(*number))
            return std::nullopt;
        values[i] = *number;
    }
    return values;
}

bool MinutesAndSecondsValid(const std::array<double, 3>& fields) {
    return fields[1] >= 0 && fields[1] <= 59 && fields[2] >= 0 && fields[2] <= 59;
}

} // namespace

std::optional<double> AcceptImageScaleText(const std::string& text) {
    const std::optional<double> number = ParseLocaleNumber(text);
    if (!number || *number < 0)
        return std::nullopt;
    return number;
}

std::optional<int16_t> AcceptExposureText(const std::string& text) {
    return WholeSecondsAtLeastZero(text);
}

std::optional<int16_t> AcceptMaxSolveTimeText(const std::string& text) {
    return WholeSecondsAtLeastZero(text);
}

bool AcceptRaPosText(const std::string& text) {
    const auto fields = PositionFields(text);
    return fields && (*fields)[0] >= 0 && (*fields)[0] <= 23 && MinutesAndSecondsValid(*fields);
}

bool AcceptDecPosText(const std::string& text) {
    const auto fields = PositionFields(text);
    return fields && (*fields)[0] >= -89 && (*fields)[0] <= 89 && MinutesAndSecondsValid(*fields);
}
