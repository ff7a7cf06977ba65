#include "tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fitsio.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veldra-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> LogMessages(const std::string& folder) {
    std::vector<std::string> messages;
    std::istringstream in(ReadFile(folder + "/debug.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto start = line.find(" :");
        messages.push_back(start == std::string::npos ? line : line.substr(start));
    }
    return messages;
}

void WriteFitsPixels(const std::string& path, int bitpix, int width, int height,
                     const std::vector<double>& values, const std::vector<FitsCard>& cards) {
    fitsfile* file = nullptr;
    int status = 0;
    const std::string target = "!" + path; // "!" makes CFITSIO overwrite
    fits_create_file(&file, target.c_str(), &status);
    long axes[2] = {width, height};
    fits_create_img(file, bitpix, width == 0 && height == 0 ? 0 : 2, axes, &status);
    for (const auto& card : cards) {
        if (const auto* text = std::get_if<std::string>(&card.value))
            fits_write_key(file, TSTRING, card.key.c_str(), const_cast<char*>(text->c_str()),
                           nullptr, &status);
        else if (const auto* real = std::get_if<double>(&card.value))
            fits_write_key(file, TDOUBLE, card.key.c_str(), const_cast<double*>(real), nullptr,
                           &status);
        else
            fits_write_key(file, TLONG, card.key.c_str(),
                           const_cast<long*>(&std::get<long>(card.value)), nullptr, &status);
    }
    std::vector<double> copy = values; // CFITSIO takes a pointer to non-const
    if (!copy.empty()) {
        // The values as stored, whatever BZERO says (CFITSIO crashes on this without an image).
        fits_set_bscale(file, 1.0, 0.0, &status);
        fits_write_img(file, TDOUBLE, 1, static_cast<LONGLONG>(copy.size()), copy.data(), &status);
    }
    fits_close_file(file, &status);
    if (status != 0)
        throw std::runtime_error("cannot write FITS fixture " + path);
}

void WriteFitsImage(const std::string& path, int width, int height,
                    const std::vector<FitsCard>& cards) {
    std::vector<double> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<double>(i % 1000);
    WriteFitsPixels(path, 16, width, height, pixels, cards);
}

void WriteFullHeaderImage(const std::string& path) {
    std::vector<FitsCard> cards;
    for (int i = 0; i < 27; ++i)
        cards.push_back({"KEY" + std::to_string(i), static_cast<long>(i)});
    WriteFitsImage(path, 300, 200, cards);
}

void SetFileTime(const std::string& path, std::time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

void WriteDriftingImages(const TempDir& folder, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string path = folder.file("light_" + std::to_string(i) + ".fit");
        char date[32];
        std::snprintf(date, sizeof date, "2026-03-14T%02d:%02d:00", 20 + i / 6, i % 6 * 10);
        WriteFitsImage(path, 20, 10,
                       {{"DATE-OBS", std::string(date)},
                        {"EXPOSURE", 300.0},
                        {"CRVAL1", 180.0 + 0.0001 * i},
                        {"CRVAL2", 30.0}});
        SetFileTime(path, 1700000000 + i);
    }
}

namespace {

// The card's value, quoted (as written) or not (as CFITSIO hands out strings).
std::string ReadCard(const std::string& path, const char* key, bool asWritten) {
    fitsfile* file = nullptr;
    int status = 0;
    char value[FLEN_VALUE] = {};
    fits_open_diskfile(&file, path.c_str(), READONLY, &status);
    if (asWritten)
        fits_read_keyword(file, key, value, nullptr, &status);
    else
        fits_read_key(file, TSTRING, key, value, nullptr, &status);
    int ignored = 0;
    fits_close_file(file, &ignored);
    fits_clear_errmsg();
    return status == 0 ? value : "";
}

} // namespace

std::string CardValue(const std::string& path, const char* key) {
    return ReadCard(path, key, false);
}

std::string CardText(const std::string& path, const char* key) {
    return ReadCard(path, key, true);
}

long long FitsDataStart(const std::string& path) {
    fitsfile* file = nullptr;
    int status = 0;
    long long head = 0, data = 0, end = 0;
    fits_open_diskfile(&file, path.c_str(), READONLY, &status);
    fits_get_hduaddrll(file, &head, &data, &end, &status);
    fits_close_file(file, &status);
    EXPECT_EQ(status, 0) << path;
    return status == 0 ? data : -1;
}
