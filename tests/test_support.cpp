#include "tests/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fitsio.h>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

void WriteFitsImage(const std::string& path, int width, int height,
                    const std::vector<FitsCard>& cards) {
    fitsfile* file = nullptr;
    int status = 0;
    const std::string target = "!" + path; // "!" makes CFITSIO overwrite
    fits_create_file(&file, target.c_str(), &status);
    long axes[2] = {width, height};
    fits_create_img(file, SHORT_IMG, 2, axes, &status);
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
    std::vector<short> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<short>(i % 1000);
    if (!pixels.empty())
        fits_write_img(file, TSHORT, 1, static_cast<LONGLONG>(pixels.size()), pixels.data(),
                       &status);
    fits_close_file(file, &status);
    if (status != 0)
        throw std::runtime_error("cannot write FITS fixture " + path);
}
