#pragma once
// Which guider receives veldra's corrections: the D-Bus broadcast, or PHD2's event server
// at HOST:PORT.  One text form serves the command line (--guider) and "veldra.ini":
// "dbus", "phd2", "phd2:HOST", "phd2:HOST:PORT" (an IPv6 address in brackets).
#include <optional>
#include <string>
#include <string_view>

struct GuiderChoice {
    enum class Kind { DBus, Phd2 };
    Kind kind = Kind::DBus;
    std::string host = "localhost";
    int port = 4400;
};

// Empty for a text that is none of the forms above (case of "dbus"/"phd2" ignored; the
// port 1..65535).
std::optional<GuiderChoice> ParseGuiderChoice(std::string_view text);
// The full text form: "dbus" or "phd2:HOST:PORT".
std::string GuiderChoiceText(const GuiderChoice& choice);
