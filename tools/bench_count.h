#pragma once
// The one number a benchmark takes (frames, rounds), shared by the benchmarks' main().
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

struct BenchCount {
    int count = 0;
    std::optional<int> exitCode; // set: main returns it at once (help shown, or misuse)
};

// argv[1], a whole number from low to high, or fallback when there is none.  --help or -h
// prints the usage and ends with 0; anything else prints it on stderr and ends with 2.
inline BenchCount ParseBenchCount(int argc, char** argv, int fallback, int low, int high,
                                  const char* usage) {
    BenchCount result{fallback, std::nullopt};
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        result.exitCode = 0;
        return result;
    }
    if (argc > 1) {
        const char* end = argv[1] + std::strlen(argv[1]);
        const auto [at, error] = std::from_chars(argv[1], end, result.count);
        if (argc > 2 || error != std::errc() || at != end || result.count < low ||
            result.count > high) {
            std::fputs(usage, stderr);
            result.exitCode = 2;
        }
    }
    return result;
}
