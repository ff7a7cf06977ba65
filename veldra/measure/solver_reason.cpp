#include "veldra/measure/solver_reason.h"

#include "common/file_utils.h"

#include <fstream>

namespace {
// Enough for the last line; the log grows all night, so only its end is read.
constexpr std::streamoff kTailBytes = 4096;

std::string LastLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    const std::streamoff start = size > kTailBytes ? size - kTailBytes : 0;
    in.seekg(start);
    std::string tail(static_cast<size_t>(size - start), '\0');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r'))
        tail.pop_back();
    const size_t newline = tail.find_last_of('\n');
    return newline == std::string::npos ? tail : tail.substr(newline + 1);
}
} // namespace

std::string SolverFailureReason(const std::string& logFolder, const std::string& imagePath) {
    // "2026-12-09 21:04:11 M57_0001.fit: not solved after 3.20 s: no stars found"
    const std::string line = LastLine(JoinPath(logFolder, "veldra-solve.log"));
    std::string marker = " ";
    marker.append(FileNameOf(imagePath)).append(": not solved after ");
    const size_t found = line.find(marker);
    if (found == std::string::npos)
        return {};
    const size_t reason = line.find(" s: ", found + marker.size());
    return reason == std::string::npos ? std::string() : line.substr(reason + 4);
}
