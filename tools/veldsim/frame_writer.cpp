#include "tools/veldsim/frame_writer.h"

#include "hdrlib/hdrlib.h"

#include <cstdio>
#include <fstream>

namespace {

const int kWidth = 64;
const int kHeight = 64;
const size_t kBlock = 2880;

std::string Card(const std::string& text) {
    std::string card = text;
    card.resize(80, ' ');
    return card;
}

// The smallest valid FITS image: a primary header with room for the keywords, and data.
bool WriteBlankImage(const std::string& path) {
    std::string header =
        Card("SIMPLE  =                    T") + Card("BITPIX  =                   16") +
        Card("NAXIS   =                    2") +
        Card("NAXIS1  =                   " + std::to_string(kWidth)) +
        Card("NAXIS2  =                   " + std::to_string(kHeight)) + Card("END");
    header.resize(kBlock, ' ');
    const size_t dataBytes = static_cast<size_t>(kWidth) * kHeight * 2;
    std::string data((dataBytes + kBlock - 1) / kBlock * kBlock, '\0');
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << header << data;
    return static_cast<bool>(out.flush());
}

} // namespace

std::string WriteFrame(const std::string& folder, const std::string& name,
                       const FrameHeader& header) {
    const std::string target = folder + "/" + name;
    const std::string temporary = folder + "/." + name + ".part";
    if (!WriteBlankImage(temporary))
        return "cannot write " + temporary;
    FitsInfo info{};
    if (loadFitsFile(temporary.c_str(), &info) != 0) {
        std::remove(temporary.c_str());
        return "cannot load " + temporary;
    }
    int failures = 0;
    failures += writeFitsStrParam("DATE-OBS", &info, header.dateObs.c_str()) != 0;
    failures += writeFitsFloatParam("EXPOSURE", &info, header.exposure) != 0;
    failures += writeFitsFloatParam("CRVAL1", &info, static_cast<float>(header.crval1)) != 0;
    failures += writeFitsFloatParam("CRVAL2", &info, static_cast<float>(header.crval2)) != 0;
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
