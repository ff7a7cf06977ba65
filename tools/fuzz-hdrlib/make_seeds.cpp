// fuzz-hdrlib-seeds FOLDER: writes the small FITS files the fuzzer starts from,
// made with CFITSIO: images of every pixel type, extensions, tile-compressed images
// of each method, tables before the image, a full header, duplicates, no final fill.
#include <cstdio>
#include <filesystem>
#include <fitsio.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string folder;

// Creates FOLDER/name (empty primary first when extension), runs fill, closes.
template <typename Fill> void Make(const std::string& name, const std::string& options, Fill fill) {
    const std::string path = folder + "/" + name;
    const std::string target = "!" + path + options;
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_file(&file, target.c_str(), &status);
    fill(file, status);
    fits_close_file(file, &status);
    if (status != 0) {
        fits_report_error(stderr, status);
        std::exit(1);
    }
}

void Image(fitsfile* file, int& status, int bitpix, std::vector<long> axes) {
    fits_create_img(file, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    long pixels = 1;
    for (const long axis : axes)
        pixels *= axis;
    // Compressed images take only their own pixel type.
    std::vector<short> shorts(static_cast<size_t>(pixels));
    std::vector<float> floats(shorts.size());
    for (size_t i = 0; i < shorts.size(); ++i) {
        shorts[i] = static_cast<short>((i * 37) % 101);
        floats[i] = static_cast<float>(shorts[i]) + 0.25f * static_cast<float>(i % 4);
    }
    if (bitpix == FLOAT_IMG)
        fits_write_img(file, TFLOAT, 1, pixels, floats.data(), &status);
    else
        fits_write_img(file, TSHORT, 1, pixels, shorts.data(), &status);
}

void Cards(fitsfile* file, int& status) {
    const char* texts[][2] = {{"DATE-OBS", "2012-11-18T20:13:42"},
                              {"OBJCTRA", "06 00 00"},
                              {"OBJCTDEC", "-28 38 52"},
                              {"IMAGETYP", "Light Frame"}};
    for (const auto& text : texts)
        fits_write_key(file, TSTRING, text[0], const_cast<char*>(text[1]), "a comment", &status);
    const std::pair<const char*, double> numbers[] = {{"EXPOSURE", 30},  {"EXPTIME", 30},
                                                      {"FOCALLEN", 800}, {"XPIXSZ", 4.3},
                                                      {"CRVAL1", 90.5},  {"CRVAL2", -28.6}};
    for (const auto& [key, value] : numbers)
        fits_write_key(file, TDOUBLE, key, const_cast<double*>(&value), nullptr, &status);
    fits_write_comment(file, "a comment card", &status);
    fits_write_history(file, "a history card", &status);
    fits_write_record(file, "HIERARCH ESO DET TEMP = -12.5 / a hierarch card", &status);
    fits_write_key_longstr(file, "LONGTEXT", std::string(100, 'w').c_str(), "", &status);
    int yes = 1;
    fits_write_key(file, TLOGICAL, "FLAG", &yes, nullptr, &status);
}

// Plain images: every pixel type, a cube, a line, one in an extension.
void MakeImages() {
    for (const int bitpix : {BYTE_IMG, SHORT_IMG, LONG_IMG, LONGLONG_IMG, FLOAT_IMG, DOUBLE_IMG})
        Make("image" + std::to_string(bitpix) + ".fits", "", [&](fitsfile* f, int& s) {
            Image(f, s, bitpix, {4, 3});
            Cards(f, s);
        });
    Make("cube.fits", "", [](fitsfile* f, int& s) { Image(f, s, SHORT_IMG, {3, 2, 2}); });
    Make("line.fits", "", [](fitsfile* f, int& s) { Image(f, s, USHORT_IMG, {7}); });
    Make("extension.fits", "", [](fitsfile* f, int& s) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, &s);
        Image(f, s, SHORT_IMG, {4, 4});
        Cards(f, s);
    });
}

// Tile-compressed images of each method, with the parameters each one takes.
void MakeCompressed() {
    for (const char* method : {"R", "G", "H", "P", "GZIP_2"})
        Make(std::string("compressed-") + method + ".fits",
             std::string("[compress ") + method + "]", [](fitsfile* f, int& s) {
                 Image(f, s, SHORT_IMG, {8, 8});
                 Cards(f, s);
             });
    Make("compressed-float.fits", "[compress R; q 4]", [](fitsfile* f, int& s) {
        Image(f, s, FLOAT_IMG, {8, 8});
    });
    // The methods and parameters the extended file names do not reach.
    Make("compressed-dither2.fits", "", [](fitsfile* f, int& s) {
        fits_set_compression_type(f, RICE_1, &s);
        fits_set_quantize_method(f, SUBTRACTIVE_DITHER_2, &s);
        fits_set_dither_seed(f, 77, &s);
        Image(f, s, FLOAT_IMG, {8, 8});
    });
    Make("compressed-hsmooth.fits", "", [](fitsfile* f, int& s) {
        fits_set_compression_type(f, HCOMPRESS_1, &s);
        fits_set_hcomp_scale(f, 2.5f, &s);
        fits_set_hcomp_smooth(f, 1, &s);
        Image(f, s, SHORT_IMG, {16, 16});
    });
    Make("compressed-cube.fits", "", [](fitsfile* f, int& s) {
        long tiles[3] = {4, 2, 1};
        fits_set_compression_type(f, GZIP_1, &s);
        fits_set_tile_dim(f, 3, tiles, &s);
        Image(f, s, SHORT_IMG, {8, 4, 2});
    });
}

// Tables before the image.
void MakeTables() {
    Make("tables-then-compressed.fits", "", [](fitsfile* f, int& s) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, &s);
        const char* names[] = {"A"};
        const char* forms[] = {"1J"};
        fits_create_tbl(f, BINARY_TBL, 1, 1, const_cast<char**>(names), const_cast<char**>(forms),
                        nullptr, "BIN", &s);
        fits_set_compression_type(f, PLIO_1, &s);
        Image(f, s, SHORT_IMG, {8, 8});
    });
    Make("tables.fits", "", [](fitsfile* f, int& s) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, &s);
        const char* names[] = {"A", "B", "C"};
        const char* binary[] = {"1J", "2E", "1PB(5)"};
        fits_create_tbl(f, BINARY_TBL, 2, 3, const_cast<char**>(names), const_cast<char**>(binary),
                        nullptr, "BIN", &s);
        int values[2] = {1, 2};
        fits_write_col(f, TINT, 1, 1, 1, 2, values, &s);
        unsigned char bytes[3] = {1, 2, 3};
        fits_write_col(f, TBYTE, 3, 1, 1, 3, bytes, &s);
        long null = -99;
        fits_write_key(f, TLONG, "TNULL1", &null, nullptr, &s);
        const char* ascii[] = {"I6", "E12.4", "A8"};
        fits_create_tbl(f, ASCII_TBL, 2, 3, const_cast<char**>(names), const_cast<char**>(ascii),
                        nullptr, "ASCII", &s);
        fits_write_col(f, TINT, 1, 1, 1, 2, values, &s);
        Image(f, s, SHORT_IMG, {4, 4});
    });
}

// Headers at their limits: a full block, duplicate keywords, no final fill.
void MakeOddHeaders() {
    Make("full-header.fits", "", [](fitsfile* f, int& s) {
        Image(f, s, SHORT_IMG, {5, 5});
        for (int i = 0; i < 27; ++i)
            fits_write_key(f, TINT, ("KEY" + std::to_string(i)).c_str(), &i, nullptr, &s);
    });
    Make("duplicates.fits", "", [](fitsfile* f, int& s) {
        Image(f, s, SHORT_IMG, {4, 4});
        fits_write_record(f, "OBJCTRA = '01 02 03'", &s);
        fits_write_record(f, "EXPTIME =                  1.0", &s);
        fits_write_record(f, "OBJCTRA = '04 05 06'", &s);
        fits_write_record(f, "EXPTIME =                  2.0", &s);
    });
    // Without the final fill of the data unit.
    Make("unpadded.fits", "", [](fitsfile* f, int& s) { Image(f, s, SHORT_IMG, {4, 4}); });
    std::filesystem::resize_file(folder + "/unpadded.fits", 2880 + 32);
}

// BZIP2_1 and NOCOMPRESS: CFITSIO here writes no such images, but it reads their
// headers.
void CopyUnwrittenMethods() {
    std::ifstream rice(folder + "/compressed-R.fits", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(rice)),
                            std::istreambuf_iterator<char>());
    for (const auto& [name, method] :
         {std::pair{"bzip2", "'BZIP2_1 '"}, {"none", "'NOCOMPRESS'"}}) {
        std::string copy = bytes;
        const size_t at = copy.find("'RICE_1  '");
        if (at != std::string::npos)
            std::ofstream(folder + "/compressed-" + name + ".fits", std::ios::binary)
                << copy.replace(at, 10, method);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-hdrlib-seeds FOLDER\n");
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);
    MakeImages();
    MakeCompressed();
    MakeTables();
    MakeOddHeaders();
    CopyUnwrittenMethods();
    return 0;
}
