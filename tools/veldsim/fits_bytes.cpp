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
    const std::string primary = EndedHeader(HeaderCard("SIMPLE", "T") + HeaderCard("BITPIX", "8") +
                                            HeaderCard("NAXIS", "0") + HeaderCard("EXTEND", "T"));
    const std::string table =
        EndedHeader(HeaderTextCard("XTENSION", "BINTABLE") + HeaderCard("BITPIX", "8") +
                    HeaderCard("NAXIS", "2") + HeaderCard("NAXIS1", "20") +
                    HeaderCard("NAXIS2", std::to_string(stars.size())) + HeaderCard("PCOUNT", "0") +
                    HeaderCard("GCOUNT", "1") + HeaderCard("TFIELDS", "3") +
                    HeaderTextCard("TTYPE1", "RA") + HeaderTextCard("TFORM1", "1D") +
                    HeaderTextCard("TUNIT1", "deg") + HeaderTextCard("TTYPE2", "DEC") +
                    HeaderTextCard("TFORM2", "1D") + HeaderTextCard("TUNIT2", "deg") +
                    HeaderTextCard("TTYPE3", "MAG") + HeaderTextCard("TFORM3", "1E"));
    std::string data;
    data.reserve(stars.size() * 20 + 2880);
    for (const CatalogueStar& star : stars) {
        AppendBigEndian(data, std::bit_cast<uint64_t>(star.ra));
        AppendBigEndian(data, std::bit_cast<uint64_t>(star.dec));
        AppendBigEndian(data, std::bit_cast<uint32_t>(star.mag));
    }
    PadDataUnit(data);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << primary << table << data;
    return static_cast<bool>(out.flush());
}
