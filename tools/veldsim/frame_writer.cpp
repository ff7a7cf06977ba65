#include "tools/veldsim/frame_writer.h"

#include "hdrlib/hdrlib.h"
#include "solve/fits_image.h"

#include <cstdio>

namespace {

// The blank frame: what veldra needs is in the header only.
const int kBlankSize = 64;

} // namespace

std::string WriteFrame(const std::string& folder, const std::string& name,
                       const FrameHeader& header, const FramePixels* pixels) {
    const std::string target = folder + "/" + name;
    const std::string temporary = folder + "/." + name + ".part";
    const bool written =
        pixels == nullptr
            ? WriteImageFile(temporary, kBlankSize, kBlankSize, nullptr)
            : WriteImageFile(temporary, pixels->width, pixels->height, &pixels->values);
    if (!written)
        return "cannot write " + temporary;
    FitsInfo info{};
    if (loadFitsFile(temporary.c_str(), &info) != 0) {
        std::remove(temporary.c_str());
        return "cannot load " + temporary;
    }
    int failures = 0;
    failures += writeFitsStrParam("DATE-OBS", &info, header.dateObs.c_str()) != 0;
    failures += writeFitsFloatParam("EXPOSURE", &info, header.exposure) != 0;
    if (header.wcs) {
        failures += writeFitsFloatParam("CRVAL1", &info, static_cast<float>(header.crval1)) != 0;
        failures += writeFitsFloatParam("CRVAL2", &info, static_cast<float>(header.crval2)) != 0;
    }
    if (header.wcs && header.tanMap) {
        failures += writeFitsStrParam("CTYPE1", &info, "RA---TAN") != 0;
        failures += writeFitsStrParam("CTYPE2", &info, "DEC--TAN") != 0;
        const char* const crpix[] = {"CRPIX1", "CRPIX2"};
        const char* const cd[] = {"CD1_1", "CD1_2", "CD2_1", "CD2_2"};
        for (int i = 0; i < 2; ++i)
            failures += writeFitsFloatParam(crpix[i], &info, static_cast<float>(header.crpix[i]));
        for (int i = 0; i < 4; ++i)
            failures +=
                writeFitsFloatParam(cd[i], &info, static_cast<float>(header.cd[i / 2][i % 2]));
    }
    if (header.telescope) {
        failures += writeFitsFloatParam("EXPTIME", &info, header.exposure) != 0;
        failures += writeFitsFloatParam("RA", &info, static_cast<float>(header.telescopeRa)) != 0;
        failures += writeFitsFloatParam("DEC", &info, static_cast<float>(header.telescopeDec)) != 0;
        failures += writeFitsFloatParam("YPIXSZ", &info, header.pixelSize) != 0;
    }
    failures += writeFitsStrParam("OBJCTRA", &info, header.objctra.c_str()) != 0;
    failures += writeFitsStrParam("OBJCTDEC", &info, header.objctdec.c_str()) != 0;
    failures += writeFitsFloatParam("FOCALLEN", &info, header.focalLength) != 0;
    failures += writeFitsFloatParam("XPIXSZ", &info, header.pixelSize) != 0;
    failures += saveFitsFile(info.handle, &info) != 0;
    freeFits(&info); // harmless when the save already released the load
    if (failures != 0 || std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::remove(temporary.c_str());
        return "cannot complete " + target;
    }
    return {};
}
