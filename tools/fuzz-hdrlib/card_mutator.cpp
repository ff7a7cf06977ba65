// A libFuzzer mutator that speaks FITS: it changes whole 80-column cards inside the
// 2880-byte blocks of the input (a keyword, a value, a card added, dropped or copied),
// so the structure keywords that steer CFITSIO get values that byte flips seldom reach.
// One mutation in eight is libFuzzer's own byte-level one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr size_t kCard = 80;
constexpr size_t kBlock = 2880;

// Keywords CFITSIO reads while it opens a file, and some that capture programs write.
const char* const kKeywords[] = {
    "SIMPLE",   "BITPIX",   "NAXIS",    "NAXIS1",   "NAXIS2",   "NAXIS3",  "NAXIS99",   "NAXIS100",
    "EXTEND",   "XTENSION", "PCOUNT",   "GCOUNT",   "GROUPS",   "TFIELDS", "TFORM1",    "TFORM2",
    "TFORM3",   "TTYPE1",   "TTYPE2",   "TBCOL1",   "TBCOL2",   "TSCAL1",  "TZERO1",    "TNULL1",
    "TDIM1",    "THEAP",    "BSCALE",   "BZERO",    "BLANK",    "ZIMAGE",  "ZCMPTYPE",  "ZBITPIX",
    "ZNAXIS",   "ZNAXIS1",  "ZNAXIS2",  "ZNAXIS3",  "ZTILE1",   "ZTILE2",  "ZTILE3",    "ZNAME1",
    "ZNAME2",   "ZVAL1",    "ZVAL2",    "ZQUANTIZ", "ZDITHER0", "ZSCALE",  "ZZERO",     "ZBLANK",
    "ZSIMPLE",  "ZTENSION", "ZEXTEND",  "ZPCOUNT",  "ZGCOUNT",  "ZTHEAP",  "ZTABLE",    "ZTILELEN",
    "ZFORM1",   "ZCTYP1",   "EXTNAME",  "END",      "COMMENT",  "HISTORY", "CONTINUE",  "HIERARCH",
    "DATE-OBS", "EXPTIME",  "EXPOSURE", "OBJCTRA",  "OBJCTDEC", "CRVAL1",  "FOCUSTEMP", "NOTE",
    "GAIN"};

const char* const kValues[] = {"0",
                               "1",
                               "-1",
                               "2",
                               "3",
                               "4",
                               "6",
                               "7",
                               "8",
                               "16",
                               "-32",
                               "-64",
                               "32",
                               "64",
                               "99",
                               "100",
                               "104",
                               "120",
                               "999",
                               "1000",
                               "10000",
                               "10001",
                               "2880",
                               "65536",
                               "2147483647",
                               "-2147483648",
                               "2147483648",
                               "4294967296",
                               "4702111234474983745",
                               "9223372036854775807",
                               "-9223372036854775808",
                               "1E300",
                               "1.5",
                               "-0.0",
                               "0.0001",
                               "NaN",
                               "3,76",
                               "T",
                               "F",
                               "TRUE",
                               "''",
                               "' '",
                               "'IMAGE   '",
                               "'BINTABLE'",
                               "'TABLE   '",
                               "'RICE_1  '",
                               "'RICE_ONE'",
                               "'GZIP_1  '",
                               "'GZIP_2  '",
                               "'HCOMPRESS_1'",
                               "'PLIO_1  '",
                               "'BZIP2_1 '",
                               "'NOCOMPRESS'",
                               "'BLOCKSIZE'",
                               "'BYTEPIX '",
                               "'NOISEBIT'",
                               "'SCALE   '",
                               "'SMOOTH  '",
                               "'NONE    '",
                               "'NO_DITHER'",
                               "'SUBTRACTIVE_DITHER_1'",
                               "'SUBTRACTIVE_DITHER_2'",
                               "'1J      '",
                               "'1PB(5)  '",
                               "'1QJ(3)  '",
                               "'2E      '",
                               "'8A      '",
                               "'1PB     '",
                               "'0J      '",
                               "'99999999A'",
                               "'(2,3)   '",
                               "'I6      '",
                               "'E12.4   '",
                               "'COMPRESSED_DATA'",
                               "'ZSCALE  '",
                               "'ZZERO   '",
                               "'&'",
                               "unquoted",
                               "'tab\there'",
                               "(1, 2)"};

std::string Pad(std::string text) {
    text.resize(kCard, ' ');
    return text;
}

std::string Card(const std::string& keyword, const std::string& value) {
    std::string name = keyword;
    if (name.size() < 8)
        name.resize(8, ' ');
    return Pad(name + "= " + value);
}

// Cards that look like keyword = value cards, or commentary cards in a header.
bool LooksLikeCard(const uint8_t* card) {
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t c = card[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ' '))
            return false;
    }
    return card[0] != ' ' || std::memcmp(card, "        ", 8) == 0;
}

class Mutator {
  public:
    Mutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed)
        : data_(data), size_(size), maxSize_(maxSize), random_(seed) {}

    size_t Run() {
        if (size_ < kBlock || Pick(8) == 0)
            return LLVMFuzzerMutate(data_, size_, maxSize_);
        std::vector<size_t> cards;
        // Cards of whole blocks only: a part block at the end is data.
        for (size_t at = 0; at + kBlock - at % kBlock <= size_; at += kCard)
            if (LooksLikeCard(data_ + at))
                cards.push_back(at);
        if (cards.empty())
            return LLVMFuzzerMutate(data_, size_, maxSize_);
        const size_t at = cards[Pick(cards.size())];
        switch (Pick(9)) {
        case 0:
        case 1:
            Put(at, Card(Keyword(at), Value())); // a new value for the keyword
            break;
        case 2:
            Put(at, Card(AnyKeyword(), Value()));
            break;
        case 3:
            Put(at, Card(Keyword(at), Number(at)));
            break;
        case 4:
            Insert(at, Card(AnyKeyword(), Value()));
            break;
        case 5:
            Drop(at);
            break;
        case 6:
            Insert(cards[Pick(cards.size())],
                   std::string(reinterpret_cast<char*>(data_ + at), kCard));
            break;
        case 7: {
            // Byte-level changes inside one card only.
            uint8_t card[kCard];
            std::memcpy(card, data_ + at, kCard);
            const size_t length = LLVMFuzzerMutate(card, kCard, kCard);
            std::memset(card + length, ' ', kCard - length);
            std::memcpy(data_ + at, card, kCard);
            break;
        }
        default:
            return AddBlock(at);
        }
        return size_;
    }

  private:
    size_t Pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }

    std::string AnyKeyword() {
        const std::string name = kKeywords[Pick(std::size(kKeywords))];
        // Sometimes an indexed keyword with another index.
        if (Pick(4) == 0 && (name.back() >= '0' && name.back() <= '9')) {
            std::string stem = name;
            while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9')
                stem.pop_back();
            return stem + std::to_string(Pick(8) + 1);
        }
        return name;
    }

    std::string Value() { return kValues[Pick(std::size(kValues))]; }

    std::string Keyword(size_t at) {
        std::string name(reinterpret_cast<char*>(data_ + at), 8);
        name.erase(name.find_last_not_of(' ') + 1);
        return name.empty() ? AnyKeyword() : name;
    }

    // The card's integer moved a little or to a boundary.
    std::string Number(size_t at) {
        const std::string value(reinterpret_cast<char*>(data_ + at + 10), kCard - 10);
        // Unsigned: wrapping around is fine here.
        unsigned long long number =
            static_cast<unsigned long long>(std::strtoll(value.c_str(), nullptr, 10));
        switch (Pick(4)) {
        case 0:
            number += Pick(5) - 2;
            break;
        case 1:
            number = 0 - number;
            break;
        case 2:
            number *= 2;
            break;
        default:
            number = 0;
        }
        return std::to_string(static_cast<long long>(number));
    }

    void Put(size_t at, const std::string& card) { std::memcpy(data_ + at, card.data(), kCard); }

    // A card before `at`; the block's last card falls off, so the blocks stay aligned.
    void Insert(size_t at, const std::string& card) {
        const size_t blockEnd = (at / kBlock + 1) * kBlock;
        std::memmove(data_ + at + kCard, data_ + at, blockEnd - at - kCard);
        Put(at, card);
    }

    void Drop(size_t at) {
        const size_t blockEnd = (at / kBlock + 1) * kBlock;
        std::memmove(data_ + at, data_ + at + kCard, blockEnd - at - kCard);
        Put(blockEnd - kCard, Pad(""));
    }

    // A block of blank cards after the one holding `at`: a header one block longer.
    size_t AddBlock(size_t at) {
        if (size_ + kBlock > maxSize_)
            return size_;
        const size_t blockEnd = (at / kBlock + 1) * kBlock;
        std::memmove(data_ + blockEnd + kBlock, data_ + blockEnd, size_ - blockEnd);
        std::memset(data_ + blockEnd, ' ', kBlock);
        // The END card moves into the new block, so the header really is longer.
        for (size_t card = blockEnd - kBlock; card < blockEnd; card += kCard)
            if (std::memcmp(data_ + card, "END     ", 8) == 0) {
                std::memcpy(data_ + blockEnd, data_ + card, kCard);
                Put(card, Pad(""));
                break;
            }
        return size_ + kBlock;
    }

    uint8_t* data_;
    size_t size_;
    size_t maxSize_;
    std::minstd_rand random_;
};

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    return Mutator(data, size, maxSize, seed).Run();
}
