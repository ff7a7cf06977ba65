// hdrlib against fixtures written with CFITSIO: loads, bounded reads, writes that
// keep the image data, failures that never crash.
#include "hdrlib/hdrlib.h"
#include "tests/test_support.h"
#include "veldra_version.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fitsio.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::vector<FitsCard> kCards = {
    {"DATE-OBS", std::string("2012-11-18T20:13:42")},
    {"OBJCTRA", std::string("06 00 00")},
    {"OBJCTDEC", std::string("-28 38 52")},
    {"EXPOSURE", 30.0},
    {"EXPTIME", 30.0},
    {"FOCALLEN", 800L},
    {"XPIXSZ", 4.3},
    {"CRVAL1", 90.5},
    {"CRVAL2", -28.6},
    {"IMAGETYP", std::string("Light Frame")},
};

// Runs check in a child process, as "nobody" when the test runs as root (root may
// write any file); the child's exit status is the result.
int RunUnprivileged(const std::string& folder, const std::function<int()>& check) {
    chmod(folder.c_str(), 0755);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        _exit(check());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// A 64 x 32 16-bit image, Rice-compressed by CFITSIO.
void WriteCompressedImage(const std::string& path) {
    std::vector<short> pixels(64 * 32, 7);
    long axes[2] = {64, 32};
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_file(&file, ("!" + path + "[compress R]").c_str(), &status);
    fits_create_img(file, SHORT_IMG, 2, axes, &status);
    fits_write_img(file, TSHORT, 1, pixels.size(), pixels.data(), &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
}

// bytes with the first header card that starts with key (8 columns) replaced by card.
std::string WithCard(std::string bytes, const std::string& key, const std::string& card) {
    std::string name = key;
    name.resize(8, ' ');
    for (size_t at = 0; at + 80 <= bytes.size(); at += 80)
        if (bytes.compare(at, 8, name) == 0) {
            std::string text = card;
            text.resize(80, ' ');
            return bytes.replace(at, 80, text);
        }
    ADD_FAILURE() << "no card " << key;
    return bytes;
}

} // namespace

TEST(Hdrlib, LoadsImageAndReadsTextAndNumbers) {
    TempDir dir;
    // A plain name, not CFITSIO's extension syntax.
    const auto path = dir.file("M31[1].fit");
    WriteFitsImage(dir.file("a.fit"), 120, 80, kCards);
    std::filesystem::rename(dir.file("a.fit"), path);
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, 120);
    EXPECT_EQ(info.height, 80);

    char text[29] = {};
    EXPECT_EQ(readFitsStrParam("DATE-OBS", &info, text), 0);
    EXPECT_STREQ(text, "2012-11-18T20:13:42");
    EXPECT_EQ(readFitsStrParam("OBJCTDEC", &info, text), 0);
    EXPECT_STREQ(text, "-28 38 52");

    float value = 0;
    EXPECT_EQ(readFitsFloatParam("FOCALLEN", &info, &value), 0); // integer card
    EXPECT_EQ(value, 800.0f);
    EXPECT_EQ(readFitsFloatParam("CRVAL2", &info, &value), 0);
    EXPECT_FLOAT_EQ(value, -28.6f);

    // Missing keyword and text card: non-zero, the preset stays.
    value = -1.0f;
    EXPECT_NE(readFitsFloatParam("CRVAL3", &info, &value), 0);
    EXPECT_NE(readFitsFloatParam("IMAGETYP", &info, &value), 0);
    EXPECT_EQ(value, -1.0f);
    std::strcpy(text, "preset");
    EXPECT_NE(readFitsStrParam("NOSUCH", &info, text), 0);
    EXPECT_STREQ(text, "preset");
    EXPECT_EQ(freeFits(&info), 0);
}

// A header-only file, as a WCS solution is: loadFitsHeader reads it with the same card
// checks and takes no writes; loadFitsFile finds no image in it.
TEST(Hdrlib, HeaderOnlyFileLoadsForReadingOnly) {
    TempDir dir;
    const auto path = dir.file("solution.wcs");
    WriteFitsImage(path, 0, 0, kCards);
    const std::string bytes = ReadFile(path);
    FitsInfo info{};
    EXPECT_EQ(loadFitsFile(path.c_str(), &info), -4);
    ASSERT_EQ(loadFitsHeader(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, 0);
    float value = 0;
    EXPECT_EQ(readFitsFloatParam("CRVAL2", &info, &value), 0);
    EXPECT_FLOAT_EQ(value, -28.6f);
    EXPECT_NE(writeFitsStrParam("OBJCTRA", &info, "changed"), 0);
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);
    EXPECT_EQ(ReadFile(path), bytes);

    WriteFile(path, WithCard(bytes, "XPIXSZ", "NAXIS1  = 4.3"));
    EXPECT_EQ(loadFitsHeader(path.c_str(), &info), -12);
    // An image's primary header loads too.
    WriteFitsImage(path, 16, 8, kCards);
    ASSERT_EQ(loadFitsHeader(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, 16);
    EXPECT_EQ(freeFits(&info), 0);
}

TEST(Hdrlib, NonNumericAndOutOfRangeCardsLeaveTheFloat) {
    TempDir dir;
    const auto path = dir.file("b.fit");
    WriteFitsImage(path, 4, 4, {{"HUGE", 1e300}});
    fitsfile* file = nullptr;
    int status = 0, logical = 1;
    fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
    fits_write_key(file, TLOGICAL, "FLAG", &logical, nullptr, &status);
    fits_write_key_null(file, "EMPTY", nullptr, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);

    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    for (const char* key : {"HUGE", "FLAG", "EMPTY"}) {
        float value = 7.0f;
        EXPECT_NE(readFitsFloatParam(key, &info, &value), 0) << key;
        EXPECT_EQ(value, 7.0f) << key;
    }
    freeFits(&info);
}

TEST(Hdrlib, TextReadsNeverPassTheCallersBuffer) {
    TempDir dir;
    const auto path = dir.file("long.fit");
    const std::string longValue(68, 'x');
    WriteFitsImage(path, 4, 4, {{"DATE-OBS", longValue}, {"OBJCTRA", longValue}});
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);

    struct Case {
        const char* key;
        size_t length;
    };
    for (const Case& c : {Case{"DATE-OBS", 28}, Case{"OBJCTRA", 20}}) {
        char buffer[80];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(readFitsStrParam(c.key, &info, buffer), 0);
        EXPECT_EQ(std::strlen(buffer), c.length) << c.key;
        EXPECT_TRUE(std::all_of(buffer + c.length + 1, buffer + sizeof buffer, [](char b) {
            return b == '#';
        })) << c.key;
    }
    freeFits(&info);
}

TEST(Hdrlib, FindsImageInExtensionAndCompressedFile) {
    TempDir dir;
    const auto extension = dir.file("ext.fits");
    const auto compressed = dir.file("img.fits.fz");
    std::vector<short> pixels(64 * 32, 7);
    long axes[2] = {64, 32};
    for (const auto& target : {"!" + extension, "!" + compressed + "[compress R]"}) {
        fitsfile* file = nullptr;
        int status = 0;
        fits_create_file(&file, target.c_str(), &status);
        if (target.find("compress") == std::string::npos)
            fits_create_img(file, SHORT_IMG, 0, nullptr, &status); // empty primary
        fits_create_img(file, SHORT_IMG, 2, axes, &status);
        fits_write_key(file, TSTRING, "OBJCTRA", const_cast<char*>("01 02 03"), nullptr, &status);
        fits_write_img(file, TSHORT, 1, pixels.size(), pixels.data(), &status);
        fits_close_file(file, &status);
        ASSERT_EQ(status, 0) << target;
    }
    for (const auto& path : {extension, compressed}) {
        int32_t width = 0, height = 0;
        EXPECT_EQ(peekFitsImageSize(path.c_str(), &width, &height), 0) << path;
        EXPECT_EQ(width, 64);
        EXPECT_EQ(height, 32);
        FitsInfo info{};
        ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0) << path;
        EXPECT_EQ(info.width, 64);
        EXPECT_EQ(info.height, 32);
        char text[21] = {};
        EXPECT_EQ(readFitsStrParam("OBJCTRA", &info, text), 0) << path;
        EXPECT_STREQ(text, "01 02 03");
        EXPECT_EQ(writeFitsStrParam("IMAGETYP", &info, "Light Frame"), 0);
        EXPECT_EQ(saveFitsFile(info.handle, &info), 0);
        ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
        EXPECT_EQ(readFitsStrParam("IMAGETYP", &info, text), 0);
        EXPECT_STREQ(text, "Light Frame");
        freeFits(&info);
    }
}

// An image behind a table of more than a megabyte: CFITSIO confirms the headers in a
// copy of that size whose data units stay untouched.
TEST(Hdrlib, FindsImageBehindALargeTable) {
    TempDir dir;
    const auto path = dir.file("behind.fits");
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_file(&file, ("!" + path).c_str(), &status);
    fits_create_img(file, SHORT_IMG, 0, nullptr, &status);
    const char* names[] = {"A"};
    const char* forms[] = {"1J"};
    fits_create_tbl(file, BINARY_TBL, 400000, 1, const_cast<char**>(names),
                    const_cast<char**>(forms), nullptr, "BIG", &status);
    long axes[2] = {24, 12};
    fits_create_img(file, SHORT_IMG, 2, axes, &status);
    std::vector<short> pixels(24 * 12, 3);
    fits_write_img(file, TSHORT, 1, pixels.size(), pixels.data(), &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
    ASSERT_GT(std::filesystem::file_size(path), 1600000u);
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    EXPECT_EQ(info.width, 24);
    EXPECT_EQ(info.height, 12);
    EXPECT_EQ(freeFits(&info), 0);
}

TEST(Hdrlib, EveryLoadFailureIsNegative) {
    TempDir dir;
    const auto valid = dir.file("valid.fit");
    WriteFitsImage(valid, 100, 100, kCards);
    const std::string bytes = ReadFile(valid);
    WriteFile(dir.file("empty.fit"), "");
    WriteFile(dir.file("half-header.fit"), bytes.substr(0, 1000));
    WriteFile(dir.file("no-data.fit"), bytes.substr(0, 2880));
    WriteFile(dir.file("short-data.fit"), bytes.substr(0, 2880 + 19999));
    WriteFile(dir.file("text.fit"), std::string(5000, 'a'));
    WriteFitsImage(dir.file("no-image.fit"), 0, 0, {});
    std::filesystem::create_directory(dir.file("folder.fit"));
    mkfifo(dir.file("pipe.fit").c_str(), 0600); // must not block the load

    for (const char* name :
         {"missing.fit", "empty.fit", "half-header.fit", "no-data.fit", "short-data.fit",
          "text.fit", "no-image.fit", "folder.fit", "pipe.fit", ""}) {
        const std::string path = name[0] ? dir.file(name) : "";
        FitsInfo info{};
        const int32_t result = loadFitsFile(path.c_str(), &info);
        EXPECT_LT(result, 0) << name;
        // The quick look fails the same way, and leaves the caller's numbers alone.
        int32_t width = 5, height = 5;
        EXPECT_EQ(peekFitsImageSize(path.c_str(), &width, &height), result) << name;
        EXPECT_EQ(width + height, 10) << name;
        char text[29];
        EXPECT_NE(readFitsStrParam("DATE-OBS", &info, text), 0) << name;
        EXPECT_NE(freeFits(&info), 0) << name;
    }
    // A data unit without its final fill is complete.
    WriteFile(dir.file("unpadded.fit"), bytes.substr(0, 2880 + 20000));
    FitsInfo info{};
    EXPECT_EQ(loadFitsFile(dir.file("unpadded.fit").c_str(), &info), 0);
    freeFits(&info);
    EXPECT_LT(loadFitsFile(valid.c_str(), nullptr), 0);
    int32_t width = 0;
    EXPECT_EQ(peekFitsImageSize(valid.c_str(), &width, nullptr), -1);
    EXPECT_EQ(peekFitsImageSize(nullptr, &width, &width), -1);
}

// Cards CFITSIO 4.2.0 overflows its buffers on (a fortified build aborts) or that it
// would read otherwise than the rules: refused before CFITSIO parses the file.
TEST(Hdrlib, CraftedHeadersAreRefusedBeforeCfitsioSeesThem) {
    TempDir dir;
    WriteCompressedImage(dir.file("packed.fits"));
    WriteFitsImage(dir.file("plain.fit"), 16, 8, kCards);
    const std::string packed = ReadFile(dir.file("packed.fits"));
    const std::string plain = ReadFile(dir.file("plain.fit"));
    const std::string text(40, 'x'), digits(35, '9');
    struct Case {
        const std::string& file;
        const char* key;
        std::string card;
    };
    const Case refused[] = {
        {packed, "ZBITPIX", "ZBITPIX = " + text},
        {packed, "ZNAXIS1", "ZNAXIS1 = " + text},
        {packed, "ZBITPIX", "zbitpix = " + text}, // CFITSIO finds keywords in any case
        {packed, "ZNAXIS2", "ZNAXIS2 = '" + text + "'"},
        {packed, "ZTILE1", "ZTILE1  = " + digits},
        {packed, "ZVAL1", "ZVAL1   = 1E30"},
        {packed, "ZNAXIS2", "ZNAXIS1 = 64"},       // twice
        {packed, "ZTILE1", "ZTILE1=0"},            // a long keyword name to CFITSIO
        {packed, "ZTILE1", "ZTILE1  =0"},          // no value by the rules, one to CFITSIO
        {packed, "ZTILE1", "HIERARCH ZTILE1 = 0"}, // found as ZTILE1 by CFITSIO
        {packed, "ZVAL1", "ZVAL1   = 64"},         // a Rice block is 16 or 32 pixels
        {packed, "ZVAL2", "ZVAL2   = 3"},          // and 1, 2, 4 or 8 bytes
        {packed, "ZCMPTYPE", "ZCMPTYPE= 'RICE_2'"},
        {packed, "ZNAXIS", "ZNAXIS  = 7"},          // CFITSIO holds 6 compressed axes
        {packed, "ZNAXIS2", "ZNAXIS2 = 33"},        // a tile more than the table's rows
        {packed, "ZTILE2", "ZTILE2  = 2147483647"}, // a tile of more pixels than an int
        {packed, "ZNAME1", "ZDITHER0= -5"},
        {plain, "EXPTIME", "BLANK   = " + text},
        {plain, "END", "END     x"},
    };
    for (const Case& c : refused) {
        const auto path = dir.file("crafted.fit");
        WriteFile(path, WithCard(c.file, c.key, c.card));
        FitsInfo info{};
        EXPECT_EQ(loadFitsFile(path.c_str(), &info), -12) << c.card;
        int32_t width = 0, height = 0;
        EXPECT_EQ(peekFitsImageSize(path.c_str(), &width, &height), -12) << c.card;
    }
    // Cards of the other forms the standard allows still load.
    const Case accepted[] = {
        {plain, "EXPTIME", "HIERARCH ESO DET TEMP = -12.5 / a hierarch card"},
        {plain, "EXPTIME", "CONTINUE  'more text'"},
        {plain, "EXPTIME", "COMMENT =any text"},
        {plain, "EXPTIME", "        ='blank keyword: commentary"},
        {plain, "EXPTIME", "CPLX    = (1.5, -2) / a complex number"},
        {plain, "EXPTIME", "OBSERVER= 'J\xc3\xbcrgen' / UTF-8"},
        {packed, "ZVAL1", "ZVAL1   = 32.0D0"},
    };
    for (const Case& c : accepted) {
        const auto path = dir.file("odd.fit");
        WriteFile(path, WithCard(c.file, c.key, c.card));
        FitsInfo info{};
        EXPECT_EQ(loadFitsFile(path.c_str(), &info), 0) << c.card;
        freeFits(&info);
    }
}

// Files that crashed CFITSIO behind the check (a division by zero, NAXIS past CFITSIO's
// 99 axes ending in a free() of a file's value): refused, also as a solver's header.
TEST(Hdrlib, FilesThatCrashedCfitsioAreRefused) {
    const std::string corpus = std::string(VELDRA_SOURCE_DIR) + "/tests/fuzz-corpus/";
    for (const char* name :
         {"crafted-rice-blocksize-zero.fits", "crafted-znaxis1-zero-then-image.fits",
          "crafted-naxis-104.fits", "crafted-naxis-120-free.fits"}) {
        const std::string path = corpus + name;
        ASSERT_TRUE(std::filesystem::exists(path)) << name;
        FitsInfo info{};
        EXPECT_EQ(loadFitsFile(path.c_str(), &info), -12) << name;
        // A header-only load reads the primary header alone.
        if (std::string(name).find("naxis-") != std::string::npos) {
            EXPECT_EQ(loadFitsHeader(path.c_str(), &info), -12) << name;
        }
        int32_t width = 0, height = 0;
        EXPECT_EQ(peekFitsImageSize(path.c_str(), &width, &height), -12) << name;
    }
}

// Forms the standard allows and cards that break the rules outside the structure
// keywords, as capture programs write them: CFITSIO opens the file, and so does hdrlib;
// a broken card reads as missing, commentary stays commentary.
TEST(Hdrlib, ValidFormsAndBrokenOrdinaryCardsLoad) {
    TempDir dir;
    const auto path = dir.file("forms.fit");
    WriteFitsImage(path, 16, 8, {{"EXPTIME", 30.0}});
    const std::vector<std::string> cards = {
        "NOTE    this is commentary from column 9",
        "GAIN    =100",
        "FOCUSTEMP= 12.3",
        "HIERARCH ESO.DET(1) CHIP = 5 / dots and parentheses",
        "HIERARCH a commentary card without an equals sign",
        "BZERO   =                    0",
        "BZERO   =                    0",
        "OBJCTRA = 12 34 56 / unquoted",
        "CCD-TEMP= NaN",
        "XPIXSZ  = 3,76",
        "OBJECT  = 'a\tb'",
        "FLAG    = TRUE",
        "OBJCTDEC= 'no closing quote",
        "FOCALLEN= 800 trailing text",
        "CRVAL1 X= 1",
        "DATE-OBS= '2012-11-18T20:13:42'",
    };
    // Written as they are: CFITSIO's writing would mend some.
    std::string bytes = ReadFile(path);
    const auto end = bytes.find("END" + std::string(77, ' '));
    ASSERT_LT(end + 80 * cards.size(), 2880u);
    for (size_t i = 0; i < cards.size(); ++i)
        bytes.replace(end + 80 * i, 80, (cards[i] + std::string(80, ' ')).substr(0, 80));
    bytes.replace(end + 80 * cards.size(), 80, "END" + std::string(77, ' '));
    WriteFile(path, bytes);
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_diskfile(&file, path.c_str(), READONLY, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0) << "CFITSIO opens the file";

    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    float value = 0;
    char text[29] = {};
    for (const char* missing : {"GAIN", "FOCUSTEM", "CCD-TEMP", "XPIXSZ", "FLAG", "FOCALLEN"})
        EXPECT_EQ(readFitsFloatParam(missing, &info, &value), -7) << missing;
    for (const char* missing : {"NOTE", "OBJCTRA", "OBJECT", "OBJCTDEC", "HIERARCH", "CRVAL1"})
        EXPECT_EQ(readFitsStrParam(missing, &info, text), -7) << missing;
    EXPECT_EQ(readFitsFloatParam("BZERO", &info, &value), 0);
    EXPECT_EQ(readFitsStrParam("DATE-OBS", &info, text), 0);
    EXPECT_STREQ(text, "2012-11-18T20:13:42");
    // A write replaces the broken card.
    EXPECT_EQ(writeFitsStrParam("OBJCTRA", &info, "12 34 56"), 0);
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);
    EXPECT_EQ(CardValue(path, "OBJCTRA"), "12 34 56");
}

// A child process that rewrites one card's value between its own and 0 without pause,
// from construction until destruction.
class CardFlipper {
  public:
    CardFlipper(const std::string& path, const std::string& cardStart) {
        const std::string bytes = ReadFile(path);
        const auto at = bytes.find(cardStart);
        if (at == std::string::npos)
            return;
        const std::string valid = bytes.substr(at, 80);
        std::string zero = valid;
        zero.replace(10, 20, std::string(19, ' ') + "0");
        writer_ = fork();
        if (writer_ == 0) {
            const int fd = open(path.c_str(), O_WRONLY);
            for (long i = 0;; ++i)
                if (pwrite(fd, (i % 2 ? zero : valid).data(), 80, static_cast<off_t>(at)) != 80)
                    _exit(1);
        }
    }
    ~CardFlipper() {
        if (writer_ > 0) {
            kill(writer_, SIGKILL);
            waitpid(writer_, nullptr, 0);
        }
    }
    CardFlipper(const CardFlipper&) = delete;
    CardFlipper& operator=(const CardFlipper&) = delete;
    bool running() const { return writer_ > 0; }

  private:
    pid_t writer_ = -1;
};

// A writer flipping a tile size between a valid value and 0 while the file loads:
// CFITSIO parses only the bytes that were checked, so no load crashes.
TEST(Hdrlib, AFileRewrittenDuringTheLoadNeverCrashesIt) {
    TempDir dir;
    const auto path = dir.file("flipping.fits");
    WriteCompressedImage(path);
    const CardFlipper writer(path, "ZTILE1  = ");
    ASSERT_TRUE(writer.running());
    int loaded = 0, refused = 0;
    for (int i = 0; i < 200; ++i) {
        FitsInfo info{};
        const int32_t result = loadFitsFile(path.c_str(), &info);
        EXPECT_TRUE(result == 0 || result == -12) << result;
        loaded += result == 0;
        refused += result == -12;
        freeFits(&info);
    }
    EXPECT_EQ(loaded + refused, 200);
}

// The same for pixel reads, with BITPIX flipping between 16 and 0: a read that succeeds
// has the image's own pixels.
TEST(Hdrlib, AFileRewrittenDuringAPixelReadNeverCrashesIt) {
    TempDir dir;
    const auto path = dir.file("flipping.fits");
    WriteFitsImage(path, 64, 32, {});
    const CardFlipper writer(path, "BITPIX  = ");
    ASSERT_TRUE(writer.running());
    std::vector<float> pixels(64 * 32);
    int read = 0, refused = 0;
    for (int i = 0; i < 200; ++i) {
        int32_t width = 0, height = 0;
        std::fill(pixels.begin(), pixels.end(), -1.0f);
        const int32_t result = readFitsImageFloats(
            path.c_str(), pixels.data(), static_cast<int64_t>(pixels.size()), &width, &height);
        EXPECT_TRUE(result == 0 || result == -12) << result;
        read += result == 0;
        refused += result == -12;
        if (result == 0) {
            EXPECT_TRUE(width == 64 && height == 32 && pixels[0] == 0 && pixels[999] == 999 &&
                        pixels[1000] == 0 && pixels.back() == 2047 % 1000);
        }
    }
    EXPECT_EQ(read + refused, 200);
}

// Each keyword twice: every read and write addresses the first card, wherever an
// earlier lookup left off.
TEST(Hdrlib, DuplicateKeywordsAddressTheFirstCard) {
    TempDir dir;
    const auto path = dir.file("twice.fit");
    WriteFitsImage(path, 8, 8, {});
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
    for (const char* card : {"OBJCTRA = '01 02 03'", "EXPTIME =                  1.0",
                             "OBJCTRA = '04 05 06'", "EXPTIME =                  2.0"})
        fits_write_record(file, card, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);

    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    float value = 0;
    char text[21];
    EXPECT_EQ(readFitsFloatParam("EXPTIME", &info, &value), 0);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(writeFitsStrParam("OBJCTRA", &info, "07 08 09"), 0);
    EXPECT_EQ(readFitsStrParam("OBJCTRA", &info, text), 0);
    EXPECT_STREQ(text, "07 08 09");
    EXPECT_EQ(writeFitsFloatParam("EXPTIME", &info, 3.0f), 0);
    EXPECT_EQ(readFitsFloatParam("EXPTIME", &info, &value), 0);
    EXPECT_EQ(value, 3.0f);
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);

    const std::string header = ReadFile(path).substr(0, 2880);
    const auto first = header.find("OBJCTRA "), second = header.find("OBJCTRA ", first + 80);
    EXPECT_EQ(header.substr(first + 10, 10), "'07 08 09'");
    EXPECT_EQ(header.substr(second + 10, 10), "'04 05 06'");
    const auto firstTime = header.find("EXPTIME "),
               secondTime = header.find("EXPTIME ", firstTime + 80);
    EXPECT_EQ(header.substr(firstTime + 10, 20), std::string(18, ' ') + "3.");
    EXPECT_EQ(header.substr(secondTime + 10, 20), std::string(17, ' ') + "2.0");
}

TEST(Hdrlib, RecordsWithoutALoadAreRefused) {
    FitsInfo zero{};
    FitsInfo garbage;
    std::memset(&garbage, 0x5a, sizeof garbage);
    for (FitsInfo* info : {&zero, &garbage, static_cast<FitsInfo*>(nullptr)}) {
        char text[29];
        float value = 0;
        EXPECT_NE(readFitsStrParam("DATE-OBS", info, text), 0);
        EXPECT_NE(readFitsFloatParam("EXPTIME", info, &value), 0);
        EXPECT_NE(writeFitsStrParam("OBJCTRA", info, "x"), 0);
        EXPECT_NE(writeFitsFloatParam("EXPTIME", info, 1.0f), 0);
        EXPECT_NE(saveFitsFile(info ? info->handle : 0, info), 0);
        EXPECT_NE(freeFits(info), 0);
    }
}

TEST(Hdrlib, TwoLoadsAtOnceAndDoubleFree) {
    TempDir dir;
    WriteFitsImage(dir.file("a.fit"), 10, 20, {{"OBJCTRA", std::string("aaa")}});
    WriteFitsImage(dir.file("b.fit"), 30, 40, {{"OBJCTRA", std::string("bbb")}});
    FitsInfo a{}, b{};
    ASSERT_EQ(loadFitsFile(dir.file("a.fit").c_str(), &a), 0);
    ASSERT_EQ(loadFitsFile(dir.file("b.fit").c_str(), &b), 0);
    EXPECT_NE(a.handle, b.handle);
    char text[21];
    EXPECT_EQ(readFitsStrParam("OBJCTRA", &b, text), 0);
    EXPECT_STREQ(text, "bbb");
    const FitsInfo copyOfA = a;
    EXPECT_EQ(freeFits(&a), 0);
    EXPECT_NE(freeFits(&a), 0);
    FitsInfo stale = copyOfA;
    EXPECT_NE(freeFits(&stale), 0);
    EXPECT_NE(readFitsStrParam("OBJCTRA", &stale, text), 0);
    EXPECT_EQ(readFitsStrParam("OBJCTRA", &b, text), 0);
    EXPECT_STREQ(text, "bbb");
    EXPECT_EQ(b.width, 30);

    // Loading again into a record that holds a load releases the old one.
    const FitsInfo firstB = b;
    ASSERT_EQ(loadFitsFile(dir.file("a.fit").c_str(), &b), 0);
    FitsInfo old = firstB;
    EXPECT_NE(freeFits(&old), 0);
    EXPECT_EQ(freeFits(&b), 0);
}

TEST(Hdrlib, ReadingAndUnsavedWritesLeaveTheFileUntouched) {
    TempDir dir;
    const auto path = dir.file("a.fit");
    WriteFitsImage(path, 100, 100, kCards);
    // Without the final fill: a file opened for writing would get padded on close.
    std::filesystem::resize_file(path, 2880 + 20000);
    const std::string before = ReadFile(path);
    timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, path.c_str(), old, 0);

    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    float value = 0;
    EXPECT_EQ(readFitsFloatParam("EXPTIME", &info, &value), 0);
    // A write reaches the file only with a save; the free drops it.
    EXPECT_EQ(writeFitsStrParam("OBJCTRA", &info, "changed"), 0);
    EXPECT_EQ(freeFits(&info), 0);
    struct stat after {};
    stat(path.c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(ReadFile(path), before);
}

TEST(Hdrlib, WritesAddAndReplaceCardsAndKeepTheData) {
    TempDir dir;
    const auto path = dir.file("a.fit");
    WriteFitsImage(path, 100, 50, kCards);
    const std::string before = ReadFile(path);
    const long long dataStart = FitsDataStart(path);

    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    EXPECT_EQ(writeFitsStrParam("OBJCTRA", &info, "12 34 56"), 0); // replaced
    EXPECT_EQ(writeFitsFloatParam("CCD-TEMP", &info, -12.5f), 0);  // added
    EXPECT_EQ(writeFitsFloatParam("EXPTIME", &info, 0.005f), 0);   // replaced
    EXPECT_NE(writeFitsFloatParam("EXPOSURE", &info, NAN), 0);     // refused
    EXPECT_NE(writeFitsFloatParam("NAXIS1", &info, 5.0f), 0);      // the layout stays
    EXPECT_NE(writeFitsStrParam("OBJECT", &info, std::string(69, 'x').c_str()), 0); // too long
    char text[21];
    EXPECT_EQ(readFitsStrParam("OBJCTRA", &info, text), 0); // visible before the save
    EXPECT_STREQ(text, "12 34 56");
    EXPECT_NE(saveFitsFile(info.handle + 1, &info), 0); // wrong handle: nothing happens
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);
    // The save releases the load.
    EXPECT_NE(freeFits(&info), 0);

    EXPECT_EQ(CardText(path, "OBJCTRA"), "'12 34 56'");
    EXPECT_EQ(CardText(path, "CCD-TEMP"), "-12.5");
    EXPECT_EQ(CardText(path, "EXPTIME"), "0.005");
    EXPECT_EQ(CardText(path, "EXPOSURE"), "30.");
    const std::string after = ReadFile(path);
    ASSERT_EQ(FitsDataStart(path), dataStart);
    EXPECT_EQ(after.substr(dataStart), before.substr(dataStart));
}

TEST(Hdrlib, FullHeaderGetsANewBlockAndTheDataStayIdentical) {
    TempDir dir;
    const auto path = dir.file("full.fit");
    WriteFullHeaderImage(path);
    ASSERT_EQ(FitsDataStart(path), 2880);
    const std::string before = ReadFile(path);

    // Through a link: the file it names grows, the link stays.
    const auto link = dir.file("link.fit");
    std::filesystem::create_symlink(path, link);
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(link.c_str(), &info), 0);
    EXPECT_EQ(writeFitsStrParam("DATE-OBS", &info, "2012-11-18T20:13:42"), 0);
    EXPECT_EQ(writeFitsFloatParam("EXPTIME", &info, 30.0f), 0); // room left after growing
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    ASSERT_EQ(FitsDataStart(path), 5760);
    EXPECT_EQ(CardText(path, "EXPTIME"), "30.");
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.substr(5760), before.substr(2880));
    EXPECT_EQ(CardText(path, "DATE-OBS"), "'2012-11-18T20:13:42'");
    EXPECT_EQ(CardText(path, "KEY26"), "26");
}

TEST(Hdrlib, ReadOnlyFileLoadsButRefusesWrites) {
    TempDir dir;
    const auto path = dir.file("ro.fit");
    WriteFitsImage(path, 10, 10, kCards);
    chmod(path.c_str(), 0444);
    const std::string before = ReadFile(path);
    const int result = RunUnprivileged(dir.path, [&] {
        FitsInfo info{};
        if (loadFitsFile(path.c_str(), &info) != 0)
            return 1;
        char text[21];
        if (readFitsStrParam("OBJCTRA", &info, text) != 0)
            return 2;
        if (writeFitsStrParam("OBJCTRA", &info, "changed") == 0)
            return 3;
        if (saveFitsFile(info.handle, &info) != 0)
            return 4;
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(path), before);
}

TEST(Hdrlib, CorruptedCopiesNeverCrash) {
    TempDir dir;
    const auto valid = dir.file("valid.fit");
    WriteFitsImage(valid, 64, 64, kCards);
    const std::string bytes = ReadFile(valid);
    std::mt19937 random(20121118); // fixed seed: the same 200 files on every run
    std::uniform_int_distribution<size_t> headerByte(0, 2879);
    std::uniform_int_distribution<size_t> anyByte(0, bytes.size() - 1);
    std::uniform_int_distribution<int> byteValue(0, 255);
    int loaded = 0;
    for (int copy = 0; copy < 200; ++copy) {
        std::string corrupt = bytes;
        const int changes = 1 + copy % 8;
        for (int i = 0; i < changes; ++i)
            corrupt[copy % 4 == 0 ? anyByte(random) : headerByte(random)] =
                static_cast<char>(byteValue(random));
        if (copy % 10 == 9)
            corrupt.resize(anyByte(random));
        const auto path = dir.file("corrupt" + std::to_string(copy) + ".fit");
        WriteFile(path, corrupt);

        FitsInfo info{};
        const int32_t result = loadFitsFile(path.c_str(), &info);
        ASSERT_LE(result, 0) << copy;
        if (result != 0)
            continue;
        ++loaded;
        char text[29];
        float value = 0;
        for (const char* key : {"DATE-OBS", "OBJCTRA", "OBJCTDEC"})
            readFitsStrParam(key, &info, text);
        for (const char* key : {"EXPOSURE", "EXPTIME", "FOCALLEN", "XPIXSZ", "CRVAL1", "CRVAL2"})
            readFitsFloatParam(key, &info, &value);
        writeFitsStrParam("IMAGETYP", &info, "Light Frame");
        writeFitsFloatParam("CCD-TEMP", &info, -5.0f);
        saveFitsFile(info.handle, &info);
    }
    EXPECT_GT(loaded, 0); // the corruption left some files loadable
}

// A save in place checks that the path still names the loaded, unchanged file; a save
// removes the temporary files of grows whose writer is gone, and only those.
TEST(Hdrlib, SavesOnlyIntoTheLoadedFileAndClearLeftovers) {
    TempDir dir;
    const auto path = dir.file("image.fit"), other = dir.file("other.fit");
    WriteFitsImage(path, 16, 16, kCards);
    WriteFitsImage(other, 16, 16, kCards);
    const std::string otherBytes = ReadFile(other);
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    ASSERT_EQ(writeFitsStrParam("OBJCTRA", &info, "01 01 01"), 0);
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_NE(saveFitsFile(info.handle, &info), 0);
    EXPECT_EQ(ReadFile(path), otherBytes);

    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const pid_t alive = fork();
    if (alive == 0) {
        pause();
        _exit(0);
    }
    const std::string leftover = dir.file(".hdrlib-" + std::to_string(gone) + "-aB3dE9");
    const std::vector<std::string> kept = {
        dir.file(".hdrlib-" + std::to_string(alive) + "-aB3dE9"),
        dir.file(".hdrlib-" + std::to_string(getpid()) + "-aB3dE9"), dir.file(".hdrlib-aB3dE9"),
        dir.file(".hdrlib-" + std::to_string(gone) + "-long-name")};
    for (const auto& name : kept)
        WriteFile(name, "x");
    WriteFile(leftover, "x");
    ASSERT_EQ(loadFitsFile(path.c_str(), &info), 0);
    ASSERT_EQ(writeFitsStrParam("OBJCTRA", &info, "01 01 01"), 0);
    EXPECT_EQ(saveFitsFile(info.handle, &info), 0);
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    for (const auto& name : kept)
        EXPECT_TRUE(std::filesystem::exists(name)) << name;
}

TEST(Hdrlib, ReportsTheProjectVersion) {
    int32_t major = -1, minor = -1, revision = -1;
    EXPECT_EQ(get_dll_version(&major, &minor, &revision), 0);
    EXPECT_EQ(major, VELDRA_VERSION_MAJOR);
    EXPECT_EQ(minor, VELDRA_VERSION_MINOR);
    EXPECT_EQ(revision, VELDRA_VERSION_PATCH);
    EXPECT_NE(get_dll_version(nullptr, &minor, &revision), 0);
}
