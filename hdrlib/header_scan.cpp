#include "hdrlib/header_scan.h"

#include "hdrlib/file_io.h"
#include "hdrlib/header_cards.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

// A header of more cards than this is no image header (CFITSIO reads any length).
constexpr long long kMaxHeaderBlocks = 10000;

// What the value of a keyword must be.
enum class Rule { Any, Int32, Int64, Positive, Number, SmallNumber, Logical };

// prefix followed by one or more digits ("NAXIS12").
bool Indexed(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return false;
    return std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The keywords CFITSIO converts while it opens a file and moves between its HDUs
// (primary and image headers, tables, tile-compressed images).  CFITSIO reads the
// Int32 ones into an int, SmallNumber ones too for some compression methods.
Rule RuleFor(std::string_view name, bool binaryTable) {
    if (OneOf(name, {"BITPIX", "NAXIS", "TFIELDS", "ZBITPIX", "ZNAXIS", "ZDITHER0"}) ||
        Indexed(name, "TBCOL"))
        return Rule::Int32;
    if (OneOf(name, {"PCOUNT", "GCOUNT", "THEAP", "BLANK", "ZPCOUNT", "ZGCOUNT", "ZBLANK", "ZTHEAP",
                     "ZTILELEN"}) ||
        Indexed(name, "NAXIS") || Indexed(name, "ZNAXIS") ||
        (binaryTable && Indexed(name, "TNULL")))
        return Rule::Int64;
    if (Indexed(name, "ZTILE"))
        return Rule::Positive; // CFITSIO divides by it
    if (OneOf(name, {"BSCALE", "BZERO", "ZSCALE", "ZZERO"}) || Indexed(name, "TSCAL") ||
        Indexed(name, "TZERO"))
        return Rule::Number;
    if (Indexed(name, "ZVAL"))
        return Rule::SmallNumber;
    if (OneOf(name, {"SIMPLE", "EXTEND", "GROUPS", "ZIMAGE", "ZSIMPLE", "ZEXTEND", "ZTABLE"}))
        return Rule::Logical;
    return Rule::Any;
}

bool Follows(const CardValue& value, Rule rule) {
    const bool number = value.kind == ValueKind::Integer || value.kind == ValueKind::Real;
    switch (rule) {
    case Rule::Any:
        return true;
    case Rule::Logical:
        return value.kind == ValueKind::Logical;
    case Rule::Int32:
    case Rule::Int64:
    case Rule::Positive: {
        const auto integer =
            value.kind == ValueKind::Integer ? ValueInteger(value.text) : std::nullopt;
        return integer &&
               (rule != Rule::Int32 || (*integer >= INT32_MIN && *integer <= INT32_MAX)) &&
               (rule != Rule::Positive || *integer >= 1);
    }
    case Rule::Number:
    case Rule::SmallNumber: {
        const auto real = number ? ValueNumber(value.text) : std::nullopt;
        return real && (rule == Rule::Number || std::fabs(*real) <= INT32_MAX);
    }
    }
    return false;
}

// The keywords CFITSIO reads while it opens a file (those with a rule, the table
// columns' TTYPEn, TFORMn, TDIMn and TNULLn, the compression method's): their cards
// must be exactly right.  Any other card may break the rules; CFITSIO never sees it.
bool IsStructure(std::string_view name) {
    return RuleFor(name, true) != Rule::Any ||
           OneOf(name, {"XTENSION", "ZCMPTYPE", "ZQUANTIZ", "ZTENSION"}) ||
           Indexed(name, "TFORM") || Indexed(name, "TTYPE") || Indexed(name, "TDIM") ||
           Indexed(name, "TNULL") || Indexed(name, "ZNAME") || Indexed(name, "ZFORM") ||
           Indexed(name, "ZCTYP");
}

// Scaling keywords, which CFITSIO reads whichever copy without misreading the layout.
bool MayRepeat(std::string_view name) {
    return OneOf(name, {"BSCALE", "BZERO", "BLANK", "ZSCALE", "ZZERO", "ZBLANK"}) ||
           Indexed(name, "TSCAL") || Indexed(name, "TZERO") || Indexed(name, "TNULL");
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return UpperCase(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// Whether CFITSIO could take the card for a structure keyword: by its first eight
// columns, by the words before its first "=" (CFITSIO's long keyword names) or by
// its HIERARCH name.
bool NamesStructure(std::string_view card) {
    if (IsHierarch(card))
        return IsStructure(UpperCase(CardKeyword(card)));
    const auto equals = card.find('=');
    return IsStructure(Trimmed(card.substr(0, 8))) ||
           (equals != std::string_view::npos && IsStructure(Trimmed(card.substr(0, equals))));
}

// The header from offset up to and with the block of its END card (the first card
// that starts with "END" and five blanks, as CFITSIO finds it); false when the file
// ends first.  cards: the cards before END.
bool ReadHeader(int fd, long long offset, long long fileSize, std::string& header,
                std::vector<std::string_view>& cards) {
    header.clear();
    for (long long block = 0; block < kMaxHeaderBlocks; ++block) {
        const long long start = offset + block * static_cast<long long>(kBlockLength);
        if (start + static_cast<long long>(kBlockLength) > fileSize)
            return false;
        header.resize(header.size() + kBlockLength);
        if (!ReadAllAt(fd, header.data() + header.size() - kBlockLength, kBlockLength, start))
            return false;
        for (size_t card = header.size() - kBlockLength; card < header.size(); card += kCardLength)
            if (std::string_view(header).substr(card, 8) == "END     ") {
                cards.clear();
                for (size_t at = 0; at < card; at += kCardLength)
                    cards.push_back(std::string_view(header).substr(at, kCardLength));
                return true;
            }
    }
    return false;
}

struct Hdu {
    ScanFault fault = ScanFault::None;
    long long dataBytes = 0;
    bool image = false;
    bool compressed = false;
    long long width = 0;
    long long height = 0;
    int pixelBytes = 0;
};

enum class Kind { Primary, Image, BinaryTable, AsciiTable };

// One header's cards before END, with their values and their keywords in upper case.
// (A card that breaks the rules has the value None and the name "".)
struct Cards {
    std::vector<std::string_view> text;
    std::vector<CardValue> values;
    std::vector<std::string> names;
};

// The value of card `index` when it is the keyword `name` with an integer value.
std::optional<long long> IntegerAt(const Cards& cards, size_t index, std::string_view name) {
    if (index >= cards.text.size() || cards.names[index] != name ||
        CardKeyword(cards.text[index]) != name || cards.values[index].kind != ValueKind::Integer)
        return std::nullopt;
    return ValueInteger(cards.values[index].text);
}

// The first card named `name` with a value (not HIERARCH: CFITSIO finds those by longer
// names), or npos.
size_t Find(const Cards& cards, std::string_view name) {
    for (size_t i = 0; i < cards.names.size(); ++i)
        if (cards.names[i] == name)
            return i;
    return std::string_view::npos;
}

// The number of the card that Find gives (a Number or SmallNumber rule made sure it
// has one).
double NumberOf(const Cards& cards, size_t index) {
    return ValueNumber(cards.values[index].text).value_or(0);
}

std::string TextOf(const Cards& cards, size_t index) {
    return cards.values[index].kind == ValueKind::Text ? ValueString(cards.values[index].text)
                                                       : std::string();
}

// The integer value of the card that Find gives; the rules made sure it has one.
long long IntegerOf(const Cards& cards, size_t index) {
    return ValueInteger(cards.values[index].text).value_or(0);
}

bool ValidBitpix(long long bitpix) {
    return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == 64 || bitpix == -32 ||
           bitpix == -64;
}

// CFITSIO keeps the lengths of at most 99 image axes and 6 compressed ones.
constexpr long long kMaxAxes = 99;
constexpr long long kMaxCompressedAxes = 6;

// Whether the compression parameters are what the method accepts, as CFITSIO reads
// them: Rice needs a block size of 16 or 32 (CFITSIO divides by it) and 1, 2, 4 or 8
// bytes per pixel, HCOMPRESS a scale; the dither seed lies in 1..10000 (it indexes
// CFITSIO's table of random numbers).
bool ValidParameters(const Cards& cards, std::string_view method) {
    const size_t value1 = Find(cards, "ZVAL1"), value2 = Find(cards, "ZVAL2"),
                 name2 = Find(cards, "ZNAME2"), dither = Find(cards, "ZDITHER0"),
                 quantize = Find(cards, "ZQUANTIZ");
    if (dither != std::string_view::npos &&
        (IntegerOf(cards, dither) < 1 || IntegerOf(cards, dither) > 10000))
        return false;
    if (quantize != std::string_view::npos && cards.values[quantize].kind != ValueKind::Text)
        return false;
    if (method == "RICE_1" || method == "RICE_ONE") {
        if (value1 == std::string_view::npos)
            return false;
        // CFITSIO's reading: old files name ZVAL2 NOISEBIT, and swapped values are
        // put right.
        long long block = static_cast<long long>(NumberOf(cards, value1));
        long long bytes = value2 == std::string_view::npos || (name2 != std::string_view::npos &&
                                                               TextOf(cards, name2) == "NOISEBIT")
                              ? 4
                              : static_cast<long long>(NumberOf(cards, value2));
        if (block < 16 && bytes > 8)
            std::swap(block, bytes);
        return (block == 16 || block == 32) &&
               (bytes == 1 || bytes == 2 || bytes == 4 || bytes == 8);
    }
    if (method == "HCOMPRESS_1")
        return value1 != std::string_view::npos;
    return OneOf(method, {"GZIP_1", "GZIP_2", "PLIO_1", "BZIP2_1", "NOCOMPRESS"});
}

// The image size of a tile-compressed image from its Z keywords (rows: the table's);
// an Hdu with a fault when they are missing or CFITSIO could not hold them.
Hdu CompressedImage(const Cards& cards, long long rows) {
    Hdu hdu;
    hdu.fault = ScanFault::BadHeader;
    const size_t zbitpix = Find(cards, "ZBITPIX"), znaxis = Find(cards, "ZNAXIS"),
                 method = Find(cards, "ZCMPTYPE");
    if (zbitpix == std::string_view::npos || znaxis == std::string_view::npos ||
        method == std::string_view::npos || !ValidBitpix(IntegerOf(cards, zbitpix)) ||
        !ValidParameters(cards, TextOf(cards, method)))
        return hdu;
    const long long dimensions = IntegerOf(cards, znaxis);
    if (dimensions < 1 || dimensions > kMaxCompressedAxes)
        return hdu;
    // Every axis and tile at least 1 long (CFITSIO divides by the tile lengths, which
    // default to the first axis and 1), a tile of pixels that fits an int, and one
    // table row per tile.
    std::vector<long long> axes;
    long long tilePixels = 1, tiles = 1;
    for (long long axis = 1; axis <= dimensions; ++axis) {
        const size_t at = Find(cards, "ZNAXIS" + std::to_string(axis));
        if (at == std::string_view::npos || IntegerOf(cards, at) < 1)
            return hdu;
        axes.push_back(IntegerOf(cards, at));
        const size_t given = Find(cards, "ZTILE" + std::to_string(axis));
        const long long tile = given != std::string_view::npos ? IntegerOf(cards, given)
                               : axis == 1                     ? axes[0]
                                                               : 1;
        if (__builtin_mul_overflow(tilePixels, tile, &tilePixels) || tilePixels > INT32_MAX ||
            __builtin_mul_overflow(tiles, (axes.back() - 1) / tile + 1, &tiles))
            return hdu;
    }
    if (tiles != rows)
        return hdu;
    hdu.fault = ScanFault::None;
    hdu.compressed = true;
    hdu.image = true;
    hdu.width = axes[0];
    hdu.height = dimensions >= 2 ? axes[1] : 1;
    return hdu;
}

// The kind of HDU its first card names: SIMPLE = T, or XTENSION (anything else ends the
// HDUs for CFITSIO).
struct FirstCard {
    ScanFault fault = ScanFault::None;
    Kind kind = Kind::Primary;
};

FirstCard KindOf(const std::vector<std::string_view>& text, bool primary) {
    const auto first = text.empty() ? std::nullopt : ParseCard(text[0]);
    if (primary) {
        if (!first || CardKeyword(text[0]) != "SIMPLE" || first->text != "T")
            return {ScanFault::NotFits};
        return {};
    }
    if (!first || CardKeyword(text[0]) != "XTENSION" || first->kind != ValueKind::Text)
        return {ScanFault::NoImage};
    const std::string type = ValueString(first->text);
    if (type == "IMAGE")
        return {ScanFault::None, Kind::Image};
    if (type == "BINTABLE")
        return {ScanFault::None, Kind::BinaryTable};
    if (type == "TABLE")
        return {ScanFault::None, Kind::AsciiTable};
    return {ScanFault::BadHeader};
}

// Cards that break the rules count only where CFITSIO could take them for a
// structure keyword; the others stay in the header and read as missing.  Empty when a
// structure card breaks them.
std::optional<Cards> ReadCards(const std::vector<std::string_view>& text) {
    Cards cards{text, {}, {}};
    for (const std::string_view card : text) {
        const auto value = ParseCard(card);
        const bool structure = NamesStructure(card);
        if (structure && (!value || value->kind == ValueKind::None || IsHierarch(card)))
            return std::nullopt;
        cards.values.push_back(value && structure ? *value : CardValue{});
        cards.names.push_back(value && structure ? UpperCase(CardKeyword(card)) : std::string());
    }
    return cards;
}

// Every keyword CFITSIO converts holds a value of its kind, and a layout keyword
// only once: CFITSIO and hdrlib then cannot read different cards.
bool FollowsRules(const Cards& cards, Kind kind) {
    std::set<std::string> seen;
    for (size_t i = 0; i < cards.text.size(); ++i) {
        const std::string& name = cards.names[i];
        if (name.empty())
            continue;
        if (!Follows(cards.values[i], RuleFor(name, kind == Kind::BinaryTable)) ||
            (!seen.insert(name).second && !MayRepeat(name)))
            return false;
    }
    return true;
}

// What the mandatory keywords say of the data unit.
struct Layout {
    long long bitpix = 0;
    std::vector<long long> axes;
    long long pcount = 0;
    long long gcount = 1;
};

bool IsTable(Kind kind) {
    return kind == Kind::BinaryTable || kind == Kind::AsciiTable;
}

// Random groups (NAXIS1 = 0 and GROUPS) are not images; PCOUNT and GCOUNT, when present
// in a primary header, must not change the size of the data.
bool PrimaryCountsFit(const Cards& cards, const std::vector<long long>& axes) {
    const size_t groups = Find(cards, "GROUPS"), p = Find(cards, "PCOUNT"),
                 g = Find(cards, "GCOUNT");
    return !((!axes.empty() && axes[0] == 0) ||
             (groups != std::string_view::npos && cards.values[groups].text == "T") ||
             (p != std::string_view::npos && IntegerOf(cards, p) != 0) ||
             (g != std::string_view::npos && IntegerOf(cards, g) != 1));
}

// An extension's PCOUNT and GCOUNT (and TFIELDS for a table) from card `next` on.
bool ReadExtensionCounts(const Cards& cards, size_t next, Kind kind, Layout& layout) {
    const auto p = IntegerAt(cards, next, "PCOUNT");
    const auto g = IntegerAt(cards, next + 1, "GCOUNT");
    if (!p || !g || *g != 1 || *p < 0 || (kind != Kind::BinaryTable && *p != 0))
        return false;
    layout.pcount = *p;
    layout.gcount = *g;
    if (IsTable(kind)) {
        const auto fields = IntegerAt(cards, next + 2, "TFIELDS");
        if (!fields || *fields < 0 || *fields > 999)
            return false;
    }
    return true;
}

// The mandatory keywords in their places: BITPIX, NAXIS, NAXISn, then PCOUNT and
// GCOUNT (and TFIELDS for a table) in an extension.  Empty when one is missing or wrong.
std::optional<Layout> MandatoryKeywords(const Cards& cards, Kind kind, bool primary) {
    const auto bitpix = IntegerAt(cards, 1, "BITPIX");
    const auto naxis = IntegerAt(cards, 2, "NAXIS");
    if (!bitpix || !ValidBitpix(*bitpix) || !naxis || *naxis < 0 || *naxis > kMaxAxes ||
        (IsTable(kind) && (*bitpix != 8 || *naxis != 2)))
        return std::nullopt;
    Layout layout;
    layout.bitpix = *bitpix;
    for (long long axis = 1; axis <= *naxis; ++axis) {
        const auto length =
            IntegerAt(cards, static_cast<size_t>(2 + axis), "NAXIS" + std::to_string(axis));
        if (!length || *length < 0)
            return std::nullopt;
        layout.axes.push_back(*length);
    }
    const size_t next = static_cast<size_t>(3 + *naxis);
    if (primary ? !PrimaryCountsFit(cards, layout.axes)
                : !ReadExtensionCounts(cards, next, kind, layout))
        return std::nullopt;
    return layout;
}

// |BITPIX| / 8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn); none without axes.  Empty
// when the size overflows.
std::optional<long long> DataBytes(const Layout& layout) {
    long long product = layout.axes.empty() ? 0 : 1;
    for (const long long length : layout.axes)
        if (__builtin_mul_overflow(product, length, &product))
            return std::nullopt;
    long long bytes = 0;
    if (__builtin_add_overflow(product, layout.pcount, &bytes) ||
        __builtin_mul_overflow(bytes, layout.gcount * (std::llabs(layout.bitpix) / 8), &bytes))
        return std::nullopt;
    return bytes;
}

// What the data unit holds: an image (a tile-compressed one in a binary table too) or
// something that is no image.
Hdu DataUnit(const Cards& cards, Kind kind, const Layout& layout, long long dataBytes) {
    Hdu hdu;
    hdu.dataBytes = dataBytes;
    const std::vector<long long>& axes = layout.axes;
    if (kind == Kind::BinaryTable) {
        const size_t zimage = Find(cards, "ZIMAGE");
        if (zimage != std::string_view::npos && cards.values[zimage].text == "T") {
            hdu = CompressedImage(cards, axes[1]);
            hdu.dataBytes = dataBytes;
        }
    } else if (!IsTable(kind) && !axes.empty() &&
               std::all_of(axes.begin(), axes.end(), [](long long a) { return a > 0; })) {
        hdu.image = true;
        hdu.pixelBytes = static_cast<int>(std::llabs(layout.bitpix) / 8);
        hdu.width = axes[0];
        hdu.height = axes.size() >= 2 ? axes[1] : 1;
    }
    return hdu;
}

// Checks one header (its cards before END) and reads its layout.
Hdu CheckHeader(const std::vector<std::string_view>& text, bool primary) {
    Hdu hdu;
    const FirstCard first = KindOf(text, primary);
    if (first.fault != ScanFault::None) {
        hdu.fault = first.fault;
        return hdu;
    }
    const std::optional<Cards> cards = ReadCards(text);
    const std::optional<Layout> layout = cards && FollowsRules(*cards, first.kind)
                                             ? MandatoryKeywords(*cards, first.kind, primary)
                                             : std::nullopt;
    const std::optional<long long> bytes = layout ? DataBytes(*layout) : std::nullopt;
    if (!bytes) {
        hdu.fault = ScanFault::BadHeader;
        return hdu;
    }
    return DataUnit(*cards, first.kind, *layout, *bytes);
}

// The header with every card but the structure keywords' made blank (the END card
// and what follows stay): what CFITSIO gets to parse.
std::string StructureOnly(std::string header, size_t cardCount) {
    for (size_t at = 0; at < cardCount * kCardLength; at += kCardLength) {
        const std::string_view card = std::string_view(header).substr(at, kCardLength);
        const auto value = ParseCard(card);
        if (!value || value->kind == ValueKind::None || IsHierarch(card) ||
            !IsStructure(UpperCase(CardKeyword(card))))
            header.replace(at, kCardLength, kCardLength, ' ');
    }
    return header;
}

} // namespace

bool DescribesLayout(std::string_view keyword) {
    return IsStructure(keyword) ||
           OneOf(keyword, {"END", "COMMENT", "HISTORY", "CONTINUE", "HIERARCH"});
}

ScanResult ScanFile(int fd, long long fileSize, ScanTarget target) {
    ScanResult result;
    std::string header;
    std::vector<std::string_view> cards;
    long long offset = 0;
    for (;;) {
        const bool primary = result.hdus.empty();
        if (offset >= fileSize || !ReadHeader(fd, offset, fileSize, header, cards)) {
            result.fault = primary ? ScanFault::NotFits : ScanFault::NoImage;
            return result;
        }
        // The rest of the END card must be blank too, or CFITSIO and these rules could
        // see different cards.
        if (!IsEndCard(std::string_view(header).substr(cards.size() * kCardLength, kCardLength))) {
            result.fault = ScanFault::BadHeader;
            return result;
        }
        const Hdu hdu = CheckHeader(cards, primary);
        if (hdu.fault != ScanFault::None) {
            result.fault = hdu.fault;
            return result;
        }
        const long long dataStart = offset + static_cast<long long>(header.size());
        result.hdus.push_back({offset, dataStart, StructureOnly(header, cards.size())});
        if (hdu.image || (primary && target == ScanTarget::Primary)) {
            // A data unit without its final fill is complete.
            if (hdu.dataBytes > fileSize - dataStart)
                result.fault = ScanFault::Truncated;
            result.header = header;
            result.width = hdu.width;
            result.height = hdu.height;
            result.pixelBytes = hdu.pixelBytes;
            result.compressed = hdu.compressed;
            return result;
        }
        const long long block = static_cast<long long>(kBlockLength);
        const long long blocks = hdu.dataBytes / block + (hdu.dataBytes % block != 0);
        if (blocks > (LLONG_MAX - dataStart) / block) {
            result.fault = ScanFault::NoImage;
            return result;
        }
        offset = dataStart + blocks * block;
    }
}
