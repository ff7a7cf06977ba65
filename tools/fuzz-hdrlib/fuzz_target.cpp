// The fuzz target: one input is one FITS file, put through everything hdrlib offers:
// the pixel read, load, reads, writes that replace cards and add enough of them to grow
// the header, save, a second load of the saved file, free.  Linked with libFuzzer by
// scripts/fuzz-hdrlib, and with replay_main.cpp for the tests.
#include "hdrlib/hdrlib.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kTextKeys[] = {"DATE-OBS", "OBJCTRA", "OBJCTDEC", "IMAGETYP",
                                 "XTENSION", "COMMENT", "SIMPLE",   "ZCMPTYPE"};
const char* const kFloatKeys[] = {"EXPOSURE", "EXPTIME", "FOCALLEN", "XPIXSZ",  "CRVAL1",
                                  "CRVAL2",   "BITPIX",  "NAXIS1",   "ZNAXIS1", "CCD-TEMP"};

// A failed expectation ends the run as a crash, so the fuzzer keeps the input.
void Expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz-hdrlib: %s\n", what);
        std::abort();
    }
}

// The scratch file of this process in the temp folder; removed after each input
// (libFuzzer may end the process without running destructors).
const std::string& ScratchPath() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("fuzz-hdrlib-" + std::to_string(getpid()) + ".fits"))
                                        .string();
    return path;
}

void ReadEverything(FitsInfo& info) {
    char text[29];
    float value = 0;
    for (const char* key : kTextKeys)
        readFitsStrParam(key, &info, text);
    for (const char* key : kFloatKeys)
        readFitsFloatParam(key, &info, &value);
}

// The seven keywords fitstag writes, a quote, and (when grow) 40 new cards: more than
// any header block has room for.
void WriteEverything(FitsInfo& info, bool grow) {
    writeFitsStrParam("OBJCTRA", &info, "12 34 56");
    writeFitsStrParam("OBJCTDEC", &info, "-01 02 03");
    writeFitsStrParam("IMAGETYP", &info, "Light Frame");
    writeFitsStrParam("DATE-OBS", &info, "2012-11-18T20:13:42");
    writeFitsFloatParam("EXPOSURE", &info, 30.0f);
    writeFitsFloatParam("EXPTIME", &info, 1.5e-5f);
    writeFitsFloatParam("CCD-TEMP", &info, -3.4e38f);
    writeFitsStrParam("OBSERVER", &info, "it's me");
    for (int i = 0; grow && i < 40; ++i)
        writeFitsFloatParam(("FZ" + std::to_string(i)).c_str(), &info, static_cast<float>(i));
}

// The primary image as floats: first its size, then the pixels.  A checked file's image
// is never larger than the file, so the buffer stays small.
void ReadPixels(const std::string& path, size_t size) {
    int32_t width = -1, height = -1;
    const int32_t sized = readFitsImageFloats(path.c_str(), nullptr, 0, &width, &height);
    Expect(sized != 0, "pixels read into no buffer");
    if (sized != -14) {
        Expect(width == 0 && height == 0, "a failed read left a size");
        return;
    }
    const auto count = static_cast<size_t>(width) * static_cast<size_t>(height);
    Expect(width > 0 && height > 0 && count <= size, "an image larger than its file");
    std::vector<float> pixels(count);
    int32_t readWidth = 0, readHeight = 0;
    const int32_t read = readFitsImageFloats(path.c_str(), pixels.data(),
                                             static_cast<int64_t>(count), &readWidth, &readHeight);
    Expect(read != -14, "a buffer of the size given is too small");
    Expect(read != 0 || (readWidth == width && readHeight == height), "the size changed");
}

// One input, the scratch file removed afterwards.
void Exercise(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    Expect(file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0,
           "cannot write the input");
    ReadPixels(path, size);

    // The header-only load reads the same checked cards and never writes.
    FitsInfo header{};
    if (loadFitsHeader(path.c_str(), &header) == 0) {
        ReadEverything(header);
        Expect(writeFitsStrParam("OBJCTRA", &header, "12 34 56") != 0,
               "a header-only load took a write");
        Expect(freeFits(&header) == 0, "free failed");
    }

    FitsInfo info{};
    if (loadFitsFile(path.c_str(), &info) != 0) {
        Expect(freeFits(&info) != 0, "a failed load left a live record");
        return;
    }
    Expect(info.width > 0 && info.height > 0, "a load without an image size");
    ReadEverything(info);
    // First a load whose writes are dropped, then one that saves them.
    WriteEverything(info, false);
    ReadEverything(info);
    Expect(freeFits(&info) == 0, "free failed");
    Expect(loadFitsFile(path.c_str(), &info) == 0, "a second load failed");
    WriteEverything(info, size % 2 == 0);
    const int32_t saved = saveFitsFile(info.handle, &info);

    // Whatever was saved loads again, with the value written.
    Expect(loadFitsFile(path.c_str(), &info) == 0, "the saved file does not load");
    char text[21] = {};
    if (saved == 0)
        Expect(readFitsStrParam("OBJCTRA", &info, text) == 0 && std::strcmp(text, "12 34 56") == 0,
               "the saved file lacks a written value");
    ReadEverything(info);
    Expect(freeFits(&info) == 0, "free failed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Exercise(ScratchPath(), data, size);
    std::remove(ScratchPath().c_str());
    return 0;
}
