#pragma once
// Helpers shared by the test executables: scratch folders, the activity log as
// messages, and FITS fixtures written with CFITSIO.
#include <ctime>
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
// Sets the modification time of path (seconds since 1970 plus nanoseconds); throws when
// it cannot.
void SetFileTime(const std::string& path, std::time_t seconds, long nanoseconds = 0);

// One header card of a fixture: text, real or integer value.
struct FitsCard {
    std::string key;
    std::variant<std::string, double, long> value;
};
// Writes an image of the given BITPIX (16, -32, ...) and width x height holding values as
// stored (no BZERO/BSCALE scaling), with the given cards; 0 x 0 writes a header-only file
// (NAXIS = 0).  Throws when it cannot.
void WriteFitsPixels(const std::string& path, int bitpix, int width, int height,
                     const std::vector<double>& values, const std::vector<FitsCard>& cards = {});
// Writes a 16-bit image of width x height (pixel i = i mod 1000) with the given cards;
// 0 x 0 writes a header-only file (NAXIS = 0).
void WriteFitsImage(const std::string& path, int width, int height,
                    const std::vector<FitsCard>& cards);
// A 300 x 200 image whose header fills its first 2880-byte block exactly (CFITSIO's 8
// cards, KEY0 .. KEY26 = 0 .. 26, END): one more card needs a second block.
void WriteFullHeaderImage(const std::string& path);

// Images "light_<i>.fit", i = 0 .. count-1, in folder: WCS keywords drifting 0.36
// arcseconds of RA per image (CRVAL1 180 + 0.0001 i degrees, CRVAL2 30), 300 s exposures
// ten minutes apart from 2026-03-14T20:00:00, file times 1700000000 + i seconds.
void WriteDriftingImages(const TempDir& folder, int count);

// A card's value as CFITSIO reads it, strings without their quotes; "" when missing.
std::string CardValue(const std::string& path, const char* key);
// A card's value as written in the header (strings in quotes); "" when missing.
std::string CardText(const std::string& path, const char* key);
// Offset of the first data byte of the primary HDU; -1, and a failed expectation, when
// CFITSIO cannot tell.
long long FitsDataStart(const std::string& path);
