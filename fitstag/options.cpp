#include "fitstag/options.h"

#include <charconv>
#include <cmath>

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    size_t next = 0;
    while (next < args.size()) {
        const std::string& arg = args[next];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return options;
        }
        if (arg.size() != 2 || arg[0] != '-')
            break;
        if (arg[1] != 'r' && arg[1] != 'd') {
            options.usage = true;
            options.refusal = arg + " refused: not an option (-r, -d or -h)";
            return options;
        }
        if (next + 1 >= args.size())
            break; // the value is missing: the letter is left as an argument
        const std::optional<double> value = OptionNumber(args[next + 1]);
        if (!value) {
            options.usage = true;
            options.refusal = arg + " " + args[next + 1] + " refused: not a number of radians";
            return options;
        }
        if (arg[1] == 'r') {
            options.hasRa = true;
            options.ra = *value;
            options.raText = args[next + 1];
        } else {
            options.hasDec = true;
            options.dec = *value;
            options.decText = args[next + 1];
        }
        next += 2;
    }
    if (args.size() - next != 1) {
        options.usage = true;
        return options;
    }
    options.path = args[next];
    return options;
}

std::optional<double> OptionNumber(const std::string& text) {
    constexpr const char* kBlanks = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return std::nullopt;
    const size_t end = text.find_last_not_of(kBlanks) + 1;
    size_t start = first;
    if (text[start] == '+')
        ++start; // from_chars takes a minus sign only
    if (start < end && (text[start] == '+' || (start > first && text[start] == '-')))
        return std::nullopt; // one sign only
    double value = 0;
    const auto [stop, error] =
        std::from_chars(text.data() + start, text.data() + end, value, std::chars_format::general);
    if (error != std::errc() || stop != text.data() + end || !std::isfinite(value))
        return std::nullopt;
    return value;
}
