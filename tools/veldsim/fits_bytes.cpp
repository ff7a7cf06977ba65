#include "tools/veldsim/fits_bytes.h"

#include "solve/fits_image.h"

#include <bit>
#include <fstream>

namespace {

template <typename Unsigned> void AppendBigEndian(std::string& out, Unsigned value) {
    for (int shift = 8 * (static_cast<int>(sizeof(Unsigned)) - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

} // namespace

bool WriteCatalogueTable(const std::string& path, const std::vector<CatalogueStar>& stars) {
    const std::string primary = EndedFitsHeader(FitsCard("SIMPLE", "T") + FitsCard("BITPIX", "8") +
                                                FitsCard("NAXIS", "0") + FitsCard("EXTEND", "T"));
    const std::string table = EndedFitsHeader(
        FitsTextCard("XTENSION", "BINTABLE") + FitsCard("BITPIX", "8") + FitsCard("NAXIS", "2") +
        FitsCard("NAXIS1", "20") + FitsCard("NAXIS2", std::to_string(stars.size())) +
        FitsCard("PCOUNT", "0") + FitsCard("GCOUNT", "1") + FitsCard("TFIELDS", "3") +
        FitsTextCard("TTYPE1", "RA") + FitsTextCard("TFORM1", "1D") +
        FitsTextCard("TUNIT1", "deg") + FitsTextCard("TTYPE2", "DEC") +
        FitsTextCard("TFORM2", "1D") + FitsTextCard("TUNIT2", "deg") +
        FitsTextCard("TTYPE3", "MAG") + FitsTextCard("TFORM3", "1E"));
    std::string data;
    data.reserve(stars.size() * 20 + 2880);
    for (const CatalogueStar& star : stars) {
        AppendBigEndian(data, std::bit_cast<uint64_t>(star.ra));
        AppendBigEndian(data, std::bit_cast<uint64_t>(star.dec));
        AppendBigEndian(data, std::bit_cast<uint32_t>(star.mag));
    }
    PadFitsData(data);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << primary << table << data;
    return static_cast<bool>(out.flush());
}
