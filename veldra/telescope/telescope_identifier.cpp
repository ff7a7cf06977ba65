#include "veldra/telescope/telescope_identifier.h"

#include <charconv>

bool ParseDeviceIdentifier(const std::string& text, DeviceIdentifier& identifier) {
    DeviceIdentifier parsed;
    const size_t at = text.rfind('@');
    parsed.device = text.substr(0, at);
    if (at != std::string::npos) {
        const std::string server = text.substr(at + 1);
        const size_t colon = server.rfind(':');
        parsed.host = server.substr(0, colon);
        if (colon != std::string::npos) {
            const char* first = server.data() + colon + 1;
            const char* last = server.data() + server.size();
            const auto result = std::from_chars(first, last, parsed.port);
            if (first == last || result.ec != std::errc() || result.ptr != last)
                return false;
        }
    }
    if (parsed.device.empty() || parsed.host.empty() || parsed.port < 1 || parsed.port > 65535)
        return false;
    identifier = parsed;
    return true;
}

std::string DeviceIdentifierText(const DeviceIdentifier& identifier) {
    return identifier.device + "@" + identifier.host + ":" + std::to_string(identifier.port);
}
