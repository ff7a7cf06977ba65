#include "solve/fits_image.h"

#include <algorithm>
#include <fstream>

namespace {

const size_t kBlock = 2880;

std::string Padded(std::string text) {
    text.resize(80, ' ');
    return text;
}

std::string KeyPart(const std::string& key) {
    std::string part = key;
    part.resize(8, ' ');
    return part + "= ";
}

} // namespace

std::string HeaderCard(const std::string& key, const std::string& value) {
    return Padded(KeyPart(key) + std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') +
                  value);
}

std::string HeaderTextCard(const std::string& key, std::string value) {
    value.resize(std::max<size_t>(value.size(), 8), ' ');
    return Padded(KeyPart(key) + "'" + value + "'");
}

std::string EndedHeader(std::string cards) {
    cards += Padded("END");
    cards.resize((cards.size() + kBlock - 1) / kBlock * kBlock, ' ');
    return cards;
}

void PadDataUnit(std::string& data) {
    data.resize((data.size() + kBlock - 1) / kBlock * kBlock, '\0');
}

bool WriteImageFile(const std::string& path, int width, int height,
                    const std::vector<uint16_t>* pixels) {
    if (width <= 0 || height <= 0)
        return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (pixels != nullptr && pixels->size() != count)
        return false;
    std::string cards = HeaderCard("SIMPLE", "T") + HeaderCard("BITPIX", "16") +
                        HeaderCard("NAXIS", "2") + HeaderCard("NAXIS1", std::to_string(width)) +
                        HeaderCard("NAXIS2", std::to_string(height));
    std::string data;
    if (pixels == nullptr) {
        data.assign(count * 2, '\0');
    } else {
        cards += HeaderCard("BZERO", "32768") + HeaderCard("BSCALE", "1");
        data.reserve(count * 2 + kBlock);
        for (const uint16_t value : *pixels) {
            // Big-endian signed 16 bits: the value less BZERO, i.e. the top bit flipped.
            const auto stored = static_cast<uint16_t>(value ^ 0x8000u);
            data.push_back(static_cast<char>(stored >> 8));
            data.push_back(static_cast<char>(stored & 0xff));
        }
    }
    PadDataUnit(data);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << EndedHeader(cards) << data;
    return static_cast<bool>(out.flush());
}
