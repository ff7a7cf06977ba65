#include "veldra/monitor/wildcard.h"

namespace {

// Index just past the UTF-8 character that starts at index.
size_t NextCharacter(std::string_view text, size_t index) {
    ++index;
    while (index < text.size() && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80)
        ++index;
    return index;
}

// Letters compare without regard to case, as the platform the filter comes from does.
bool SameCharacter(char a, char b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(a) == lower(b);
}

} // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Greedy with one back-track point: the last "*" seen only ever needs to absorb one
    // more character, so the match stays linear in practice and never recurses.
    size_t p = 0;
    size_t n = 0;
    size_t starPattern = std::string_view::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n = NextCharacter(name, n);
        } else if (p < pattern.size() && SameCharacter(pattern[p], name[n])) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            starName = NextCharacter(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
