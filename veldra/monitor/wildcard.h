#pragma once
#include <string_view>

// True when name matches pattern: "*" stands for any run of characters (also none),
// "?" for exactly one character; everything else matches itself, ASCII letters without
// regard to case ("*.fit" matches "IMG.FIT"), other characters exactly.
// Characters are UTF-8 code points, so "?" matches "é" as one character.
bool WildcardMatch(std::string_view pattern, std::string_view name);
