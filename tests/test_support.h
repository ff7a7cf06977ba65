#pragma once
// Helpers shared by the test executables: scratch folders, the activity log as
// messages, and FITS fixtures written with CFITSIO.
#include <string>
#include <variant>
#include <vector>

// A fresh, empty folder below the system's temp folder, removed with its contents
// when the object ends.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// The messages of "debug.txt" in folder, each line without its time stamp
// (everything before the first " :") and without CR LF.
std::vector<std::string> LogMessages(const std::string& folder);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// One header card of a fixture: text, real or integer value.
struct FitsCard {
    std::string key;
    std::variant<std::string, double, long> value;
};
// Writes a 16-bit image of width x height (pixel i = i mod 1000) with the given cards.
void WriteFitsImage(const std::string& path, int width, int height,
                    const std::vector<FitsCard>& cards);
