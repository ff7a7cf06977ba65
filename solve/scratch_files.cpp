#include "solve/scratch_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

std::string MakeScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/veldra-solve.XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveScratchFolder(const std::string& folder) {
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string ReadTextFile(const std::string& path) {
    const std::streamoff limit = 64 * 1024;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    in.seekg(size > limit ? size - limit : 0);
    std::string text(static_cast<size_t>(size > limit ? limit : size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string LastLines(const std::string& path, int count) {
    const std::string text = ReadTextFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        const size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos)
            lines.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
        start = end + 1;
    }
    std::string joined;
    for (size_t i = lines.size() > static_cast<size_t>(count) ? lines.size() - count : 0;
         i < lines.size(); ++i)
        joined += (joined.empty() ? "" : " / ") + lines[i];
    return joined;
}
