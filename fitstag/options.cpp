#include "fitstag/options.h"

#include <charconv>
#include <cmath>

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    size_t next = 0;
    while (next < args.size()) {
        const std::string& arg = args[next];
        if (arg.size() != 2 || arg[0] != '-')
            break;
        if (arg[1] != 'r' && arg[1] != 'd') {
            options.usage = true;
            return options;
        }
        if (next + 1 >= args.size())
            break; // the value is missing: the letter is left as an argument
        const double value = OptionNumber(args[next + 1]);
        if (arg[1] == 'r') {
            options.hasRa = true;
            options.ra = value;
        } else {
            options.hasDec = true;
            options.dec = value;
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

double OptionNumber(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string::npos)
        return 0;
    bool negative = false;
    if (text[start] == '+' || text[start] == '-') {
        negative = text[start] == '-';
        ++start;
    }
    if (start < text.size() && (text[start] == '+' || text[start] == '-'))
        return 0; // one sign only
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value,
                                              std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value))
        return 0;
    return negative ? -value : value;
}
