#include "tools/bench-hdrlib/bench_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fitsio.h>
#include <stdexcept>
#include <unistd.h>

std::string MakeScratchFolder(const char* name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch folder");
    return pattern;
}

void WriteBenchImage(const std::string& path, long long bytes, bool fullHeader, bool sparse) {
    // Width 1024, 16-bit: one row is 2 kB.
    long axes[2] = {1024, static_cast<long>(bytes / 2048)};
    fitsfile* file = nullptr;
    int status = 0;
    const std::string target = "!" + path;
    fits_create_file(&file, target.c_str(), &status);
    // A one-row image first, so CFITSIO writes no data; NAXIS2 is set afterwards.
    long oneRow[2] = {1024, 1};
    fits_create_img(file, SHORT_IMG, 2, oneRow, &status);
    char date[] = "2012-11-18T20:13:42", ra[] = "06 00 00", dec[] = "-28 38 52";
    fits_write_key(file, TSTRING, "DATE-OBS", date, nullptr, &status);
    fits_write_key(file, TSTRING, "OBJCTRA", ra, nullptr, &status);
    fits_write_key(file, TSTRING, "OBJCTDEC", dec, nullptr, &status);
    const char* floats[] = {"EXPOSURE", "EXPTIME", "FOCALLEN", "XPIXSZ", "CRVAL1", "CRVAL2"};
    double value = 30.0;
    for (const char* key : floats)
        fits_write_key(file, TDOUBLE, key, &value, nullptr, &status);
    // CFITSIO's own 8 cards + 9 above + END = 18; 18 more fill the first block.
    const int extra = fullHeader ? 18 : 0;
    for (int i = 0; i < extra; ++i) {
        const std::string key = "FILL" + std::to_string(i);
        long number = i;
        fits_write_key(file, TLONG, key.c_str(), &number, nullptr, &status);
    }
    fits_close_file(file, &status);
    if (status != 0)
        throw std::runtime_error("cannot write " + path);

    // Now the real height, and the file extended to the full data size as a hole.
    fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
    long long headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(file, &headStart, &dataStart, &dataEnd, &status);
    fits_close_file(file, &status);
    if (status != 0)
        throw std::runtime_error("cannot read back " + path);
    std::string header;
    {
        FILE* in = fopen(path.c_str(), "rb");
        header.resize(static_cast<size_t>(dataStart));
        if (in == nullptr || fread(header.data(), 1, header.size(), in) != header.size())
            throw std::runtime_error("cannot read " + path);
        fclose(in);
    }
    const auto naxis2 = header.find("NAXIS2  = ");
    char card[81];
    snprintf(card, sizeof card, "NAXIS2  = %20ld / length of data axis 2", axes[1]);
    header.replace(naxis2, 80, std::string(card) + std::string(80 - std::string(card).size(), ' '));
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr || fwrite(header.data(), 1, header.size(), out) != header.size())
        throw std::runtime_error("cannot write " + path);
    const long long data = 2LL * axes[0] * axes[1];
    const long long padded = (data + 2879) / 2880 * 2880;
    if (!sparse) {
        std::string chunk(1 << 20, '\0');
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(i * 7);
        for (long long written = 0; written < data;) {
            const size_t part =
                static_cast<size_t>(std::min<long long>(data - written, chunk.size()));
            if (fwrite(chunk.data(), 1, part, out) != part)
                throw std::runtime_error("cannot write " + path);
            written += part;
        }
    }
    fclose(out);
    if (truncate(path.c_str(), dataStart + padded) != 0)
        throw std::runtime_error("cannot extend " + path);
}

int BenchArguments(int argc, char** argv, const char* description) {
    if (argc <= 1)
        return -1;
    const std::string arg = argv[1];
    const bool help = argc == 2 && (arg == "--help" || arg == "-h");
    std::FILE* out = help ? stdout : stderr;
    if (!help)
        std::fprintf(stderr, "%s: unknown argument \"%s\"\n", argv[0], argv[1]);
    std::fprintf(out, "usage: %s [--help]\n%s\n", argv[0], description);
    return help ? 0 : 2;
}
