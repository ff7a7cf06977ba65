#include "veldra/settings/entry_rules.h"

#include "common/numbers.h"

#include <vector>

namespace {

std::optional<int16_t> WholeSecondsAtLeastZero(const std::string& text) {
    const std::optional<double> number = ParseLocaleNumber(text);
    if (!number || *number < 0)
        return std::nullopt;
    return RoundToInt16(*number);
}

// The three fields of a position text, or empty when the text does not have exactly
// three whole-number fields separated by single blanks.
std::optional<PositionFields> SplitPosition(std::string_view text) {
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
    PositionFields result;
    result.negative = !fields[0].empty() && fields[0].front() == '-';
    for (size_t i = 0; i < 3; ++i) {
        // Empty fields (from doubled blanks) and blanks inside a field never read.
        if (fields[i].empty() || fields[i].find_first_of(" \t") != std::string_view::npos)
            return std::nullopt;
        const std::optional<double> number = ParseLocaleNumber(fields[i]);
        // Bounded far beyond every range, so the whole number fits an int.
        if (!number || *number != RoundHalfEven(*number) || *number < -1000 || *number > 1000)
            return std::nullopt;
        result.values[i] = static_cast<int>(*number);
    }
    return result;
}

std::optional<PositionFields> InRanges(const std::optional<PositionFields>& fields, int lowest,
                                       int highest) {
    if (!fields || fields->values[0] < lowest || fields->values[0] > highest)
        return std::nullopt;
    for (int i = 1; i < 3; ++i)
        if (fields->values[i] < 0 || fields->values[i] > 59)
            return std::nullopt;
    return fields;
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

std::optional<int16_t> AcceptDebounceTimeText(const std::string& text) {
    return WholeSecondsAtLeastZero(text);
}

std::optional<PositionFields> RaPosFields(std::string_view text) {
    return InRanges(SplitPosition(text), 0, 23);
}

std::optional<PositionFields> DecPosFields(std::string_view text) {
    return InRanges(SplitPosition(text), -89, 89);
}

bool AcceptRaPosText(const std::string& text) {
    return RaPosFields(text).has_value();
}

bool AcceptDecPosText(const std::string& text) {
    return DecPosFields(text).has_value();
}
