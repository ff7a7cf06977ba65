#include "hdrlib/header_edit.h"

#include "hdrlib/header_cards.h"

#include <fitsio.h>

// CFITSIO's own formatting of values: exported, declared only in its private header
// (which has no C++ guards).
extern "C" int ffs2c(const char* text, char* value, int* status);
extern "C" int ffr2e(float number, int decimals, char* value, int* status);

namespace {

// Index of the END card; the scan made sure there is one.
size_t EndCard(const std::string& header) {
    for (size_t at = 0; at + kCardLength <= header.size(); at += kCardLength)
        if (IsEndCard(std::string_view(header).substr(at, kCardLength)))
            return at;
    return header.size();
}

std::optional<std::string> MakeCard(const std::string& keyword, const char* value,
                                    std::string_view comment) {
    char card[FLEN_CARD] = {};
    int status = 0;
    const std::string note(comment.substr(0, comment.find_last_not_of(' ') + 1));
    if (ffmkky(keyword.c_str(), const_cast<char*>(value), note.c_str(), card, &status) != 0) {
        ffcmsg();
        return std::nullopt;
    }
    std::string text(card);
    if (text.size() > kCardLength)
        return std::nullopt;
    text.resize(kCardLength, ' ');
    return text;
}

} // namespace

std::optional<std::string> NormalKeyword(const char* keyword) {
    if (keyword == nullptr)
        return std::nullopt;
    const std::string name = UpperCase(keyword);
    if (name.empty() || name.size() > 8)
        return std::nullopt;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return std::nullopt;
    return name;
}

std::optional<std::string_view> FindCard(const std::string& header, std::string_view keyword) {
    const size_t end = EndCard(header);
    for (size_t at = 0; at < end; at += kCardLength) {
        const std::string_view card = std::string_view(header).substr(at, kCardLength);
        if (IsHierarch(card))
            continue;
        if (UpperCase(CardKeyword(card)) == keyword)
            return card;
    }
    return std::nullopt;
}

std::optional<std::string> TextCard(const std::string& keyword, std::string_view text,
                                    std::string_view comment) {
    // The quoted text holds at most 68 characters, a quote counting twice.
    size_t quoted = 0;
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e)
            return std::nullopt;
        quoted += c == '\'' ? 2 : 1;
    }
    if (quoted > 68)
        return std::nullopt;
    char value[FLEN_VALUE] = {};
    int status = 0;
    const std::string plain(text);
    ffs2c(plain.c_str(), value, &status);
    return status == 0 ? MakeCard(keyword, value, comment) : std::nullopt;
}

std::optional<std::string> FloatCard(const std::string& keyword, float number,
                                     std::string_view comment) {
    char value[FLEN_VALUE] = {};
    int status = 0;
    if (ffr2e(number, -7, value, &status) != 0) {
        ffcmsg();
        return std::nullopt;
    }
    return MakeCard(keyword, value, comment);
}

void PutCard(std::string& header, std::string_view keyword, const std::string& card) {
    if (const auto old = FindCard(header, keyword)) {
        header.replace(static_cast<size_t>(old->data() - header.data()), kCardLength, card);
        return;
    }
    // Blank cards before END are free room (as CFITSIO counts them).
    const size_t end = EndCard(header);
    size_t free = end;
    while (free >= kCardLength &&
           IsBlankCard(std::string_view(header).substr(free - kCardLength, kCardLength)))
        free -= kCardLength;
    if (free == end) {
        if (end + kCardLength >= header.size())
            header.append(kBlockLength, ' ');
        header.replace(end + kCardLength, kCardLength, "END" + std::string(kCardLength - 3, ' '));
    }
    header.replace(free, kCardLength, card);
}
