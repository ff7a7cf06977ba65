#include "hdrlib/header_scan.h"

#include "hdrlib/file_io.h"
#include "hdrlib/header_cards.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <set>

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
};

enum class Kind { Primary, Image, BinaryTable, AsciiTable };

// One header's cards before END, with their values and their keywords in upper case.
struct Cards {
    std::vector<std::string_view> text;
    std::vector<CardValue> values;
    std::vector<std::string> names;
};

// The value of card `index` when it is the keyword `name` with an integer value.
std::optional<long long> IntegerAt(const Cards& cards, size_t index, std::string_view name) {
    if (index >= cards.text.size() || IsHierarch(cards.text[index]) ||
        CardKeyword(cards.text[index]) != name || cards.values[index].kind != ValueKind::Integer)
        return std::nullopt;
    return ValueInteger(cards.values[index].text);
}

// The first card named `name` (not HIERARCH: CFITSIO finds those by longer names), or
// npos.
size_t Find(const Cards& cards, std::string_view name) {
    for (size_t i = 0; i < cards.names.size(); ++i)
        if (cards.names[i] == name && !IsHierarch(cards.text[i]))
            return i;
    return std::string_view::npos;
}

// The integer value of the card that Find gives; the rules made sure it has one.
long long IntegerOf(const Cards& cards, size_t index) {
    return ValueInteger(cards.values[index].text).value_or(0);
}

bool ValidBitpix(long long bitpix) {
    return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == 64 || bitpix == -32 ||
           bitpix == -64;
}

// The image size of a tile-compressed image from its Z keywords; an Hdu with a fault
// when they are missing.
Hdu CompressedImage(const Cards& cards) {
    Hdu hdu;
    const size_t zbitpix = Find(cards, "ZBITPIX"), znaxis = Find(cards, "ZNAXIS");
    if (zbitpix == std::string_view::npos || znaxis == std::string_view::npos ||
        !ValidBitpix(IntegerOf(cards, zbitpix))) {
        hdu.fault = ScanFault::BadHeader;
        return hdu;
    }
    const long long dimensions = IntegerOf(cards, znaxis);
    if (dimensions < 0 || dimensions > 999) {
        hdu.fault = ScanFault::BadHeader;
        return hdu;
    }
    std::vector<long long> axes;
    for (long long axis = 1; axis <= dimensions; ++axis) {
        const size_t at = Find(cards, "ZNAXIS" + std::to_string(axis));
        if (at == std::string_view::npos || IntegerOf(cards, at) < 0) {
            hdu.fault = ScanFault::BadHeader;
            return hdu;
        }
        axes.push_back(IntegerOf(cards, at));
    }
    hdu.compressed = true;
    hdu.image =
        dimensions >= 1 && std::all_of(axes.begin(), axes.end(), [](long long a) { return a > 0; });
    if (hdu.image) {
        hdu.width = axes[0];
        hdu.height = dimensions >= 2 ? axes[1] : 1;
    }
    return hdu;
}

// Checks one header (its cards before END) and reads its layout.
Hdu CheckHeader(const std::vector<std::string_view>& text, bool primary) {
    Hdu hdu;
    auto fail = [&hdu](ScanFault fault) {
        hdu.fault = fault;
        return hdu;
    };
    // The first card: SIMPLE = T, or XTENSION (anything else ends the HDUs for CFITSIO).
    const auto first = text.empty() ? std::nullopt : ParseCard(text[0]);
    Kind kind = Kind::Primary;
    if (primary) {
        if (!first || CardKeyword(text[0]) != "SIMPLE" || first->text != "T")
            return fail(ScanFault::NotFits);
    } else {
        if (!first || CardKeyword(text[0]) != "XTENSION" || first->kind != ValueKind::Text)
            return fail(ScanFault::NoImage);
        const std::string type = ValueString(first->text);
        if (type == "IMAGE")
            kind = Kind::Image;
        else if (type == "BINTABLE")
            kind = Kind::BinaryTable;
        else if (type == "TABLE")
            kind = Kind::AsciiTable;
        else
            return fail(ScanFault::BadHeader);
    }
    Cards cards{text, {}, {}};
    for (const std::string_view card : text) {
        const auto value = ParseCard(card);
        if (!value)
            return fail(ScanFault::BadHeader);
        cards.values.push_back(*value);
        cards.names.push_back(UpperCase(CardKeyword(card)));
    }
    const bool table = kind == Kind::BinaryTable || kind == Kind::AsciiTable;

    // Every keyword CFITSIO converts holds a value of its kind, and only once: CFITSIO
    // and hdrlib then cannot read different cards.
    std::set<std::string> seen;
    for (size_t i = 0; i < text.size(); ++i) {
        const std::string& name = cards.names[i];
        const Rule rule = RuleFor(name, kind == Kind::BinaryTable);
        if (rule != Rule::Any && (!Follows(cards.values[i], rule) || !seen.insert(name).second))
            return fail(ScanFault::BadHeader);
    }

    // The mandatory keywords in their places: BITPIX, NAXIS, NAXISn, then PCOUNT and
    // GCOUNT (and TFIELDS for a table) in an extension.
    const auto bitpix = IntegerAt(cards, 1, "BITPIX");
    const auto naxis = IntegerAt(cards, 2, "NAXIS");
    if (!bitpix || !ValidBitpix(*bitpix) || !naxis || *naxis < 0 || *naxis > 999 ||
        (table && (*bitpix != 8 || *naxis != 2)))
        return fail(ScanFault::BadHeader);
    std::vector<long long> axes;
    for (long long axis = 1; axis <= *naxis; ++axis) {
        const auto length =
            IntegerAt(cards, static_cast<size_t>(2 + axis), "NAXIS" + std::to_string(axis));
        if (!length || *length < 0)
            return fail(ScanFault::BadHeader);
        axes.push_back(*length);
    }
    const size_t next = static_cast<size_t>(3 + *naxis);
    long long pcount = 0, gcount = 1;
    if (primary) {
        // Random groups (NAXIS1 = 0 and GROUPS) are not images; PCOUNT and GCOUNT,
        // when present, must not change the size of the data.
        const size_t groups = Find(cards, "GROUPS"), p = Find(cards, "PCOUNT"),
                     g = Find(cards, "GCOUNT");
        if ((!axes.empty() && axes[0] == 0) ||
            (groups != std::string_view::npos && cards.values[groups].text == "T") ||
            (p != std::string_view::npos && IntegerOf(cards, p) != 0) ||
            (g != std::string_view::npos && IntegerOf(cards, g) != 1))
            return fail(ScanFault::BadHeader);
    } else {
        const auto p = IntegerAt(cards, next, "PCOUNT");
        const auto g = IntegerAt(cards, next + 1, "GCOUNT");
        if (!p || !g || *g != 1 || *p < 0 || (kind != Kind::BinaryTable && *p != 0))
            return fail(ScanFault::BadHeader);
        pcount = *p;
        gcount = *g;
        if (table) {
            const auto fields = IntegerAt(cards, next + 2, "TFIELDS");
            if (!fields || *fields < 0 || *fields > 999)
                return fail(ScanFault::BadHeader);
        }
    }

    // |BITPIX| / 8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn); none without axes.
    long long product = axes.empty() ? 0 : 1;
    for (const long long length : axes)
        if (__builtin_mul_overflow(product, length, &product))
            return fail(ScanFault::BadHeader);
    if (__builtin_add_overflow(product, pcount, &hdu.dataBytes) ||
        __builtin_mul_overflow(hdu.dataBytes, gcount * (std::llabs(*bitpix) / 8), &hdu.dataBytes))
        return fail(ScanFault::BadHeader);

    if (kind == Kind::BinaryTable) {
        const size_t zimage = Find(cards, "ZIMAGE");
        if (zimage != std::string_view::npos && cards.values[zimage].text == "T") {
            const long long bytes = hdu.dataBytes;
            hdu = CompressedImage(cards);
            hdu.dataBytes = bytes;
        }
    } else if (!table && !axes.empty() &&
               std::all_of(axes.begin(), axes.end(), [](long long a) { return a > 0; })) {
        hdu.image = true;
        hdu.width = axes[0];
        hdu.height = axes.size() >= 2 ? axes[1] : 1;
    }
    return hdu;
}

} // namespace

bool DescribesLayout(std::string_view keyword) {
    return RuleFor(keyword, true) != Rule::Any ||
           OneOf(keyword, {"XTENSION", "END", "COMMENT", "HISTORY", "CONTINUE", "HIERARCH",
                           "ZCMPTYPE", "ZQUANTIZ", "ZTENSION"}) ||
           Indexed(keyword, "TFORM") || Indexed(keyword, "TDIM") || Indexed(keyword, "ZNAME") ||
           Indexed(keyword, "ZFORM") || Indexed(keyword, "ZCTYP");
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
        result.hdus.push_back({offset, dataStart});
        if (hdu.image || (primary && target == ScanTarget::Primary)) {
            // A data unit without its final fill is complete.
            if (hdu.dataBytes > fileSize - dataStart)
                result.fault = ScanFault::Truncated;
            result.header = header;
            result.width = hdu.width;
            result.height = hdu.height;
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
