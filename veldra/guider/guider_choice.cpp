#include "veldra/guider/guider_choice.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::optional<int> ParsePort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

std::optional<GuiderChoice> ParseGuiderChoice(std::string_view text) {
    const std::string lower = Lower(text);
    if (lower == "dbus")
        return GuiderChoice{};
    if (lower.rfind("phd2", 0) != 0)
        return std::nullopt;
    GuiderChoice choice{GuiderChoice::Kind::Phd2};
    std::string_view rest = text.substr(4);
    if (rest.empty())
        return choice;
    if (rest.front() != ':')
        return std::nullopt;
    rest.remove_prefix(1);
    size_t hostEnd = rest.find(':');
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        choice.host = std::string(rest.substr(1, close - 1));
        hostEnd = close + 1;
        if (hostEnd < rest.size() && rest[hostEnd] != ':')
            return std::nullopt;
    } else {
        choice.host = std::string(rest.substr(0, hostEnd));
    }
    if (choice.host.empty() || choice.host.find_first_of(" \t") != std::string::npos)
        return std::nullopt;
    if (hostEnd < rest.size()) {
        const std::optional<int> port = ParsePort(rest.substr(hostEnd + 1));
        if (!port)
            return std::nullopt;
        choice.port = *port;
    }
    return choice;
}

std::string GuiderChoiceText(const GuiderChoice& choice) {
    if (choice.kind == GuiderChoice::Kind::DBus)
        return "dbus";
    const bool ipv6 = choice.host.find(':') != std::string::npos;
    return "phd2:" + (ipv6 ? "[" + choice.host + "]" : choice.host) + ":" +
           std::to_string(choice.port);
}
