#include "hdrlib/header_cards.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace {

bool IsKeywordCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7e;
}

size_t SkipBlanks(std::string_view card, size_t at) {
    while (at < card.size() && card[at] == ' ')
        ++at;
    return at;
}

// [+-]digits[.digits][(E|D)[+-]digits] from at; the end, or npos when there is no
// number.  integer tells whether it had neither a point nor an exponent.
size_t ScanNumber(std::string_view card, size_t at, bool& integer) {
    if (at < card.size() && (card[at] == '+' || card[at] == '-'))
        ++at;
    size_t digits = 0;
    while (at < card.size() && IsDigit(card[at]))
        ++at, ++digits;
    integer = true;
    if (at < card.size() && card[at] == '.') {
        integer = false;
        ++at;
        while (at < card.size() && IsDigit(card[at]))
            ++at, ++digits;
    }
    if (digits == 0)
        return std::string_view::npos;
    if (at < card.size() &&
        (card[at] == 'E' || card[at] == 'e' || card[at] == 'D' || card[at] == 'd')) {
        integer = false;
        ++at;
        if (at < card.size() && (card[at] == '+' || card[at] == '-'))
            ++at;
        if (at >= card.size() || !IsDigit(card[at]))
            return std::string_view::npos;
        while (at < card.size() && IsDigit(card[at]))
            ++at;
    }
    return at;
}

// A quoted string from at (the opening quote); its end, or npos when it is not closed.
size_t ScanString(std::string_view card, size_t at) {
    for (++at; at < card.size(); ++at) {
        if (card[at] == '\'') {
            if (at + 1 < card.size() && card[at + 1] == '\'') {
                ++at; // a doubled quote stands for one
                continue;
            }
            return at + 1;
        }
        // Control characters never; bytes above ASCII (a name in UTF-8) do no harm.
        if (!IsPrintable(card[at]) && static_cast<unsigned char>(card[at]) < 0x80)
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

// "(re, im)" from at (the parenthesis); its end, or npos.
size_t ScanComplex(std::string_view card, size_t at) {
    bool integer = false;
    at = ScanNumber(card, SkipBlanks(card, at + 1), integer);
    if (at == std::string_view::npos)
        return at;
    at = SkipBlanks(card, at);
    if (at >= card.size() || card[at] != ',')
        return std::string_view::npos;
    at = ScanNumber(card, SkipBlanks(card, at + 1), integer);
    if (at == std::string_view::npos)
        return at;
    at = SkipBlanks(card, at);
    return at < card.size() && card[at] == ')' ? at + 1 : std::string_view::npos;
}

// The value and comment of a card from column valueStart (after "= ").
std::optional<CardValue> ParseValue(std::string_view card, size_t valueStart) {
    CardValue value;
    size_t at = SkipBlanks(card, valueStart);
    const size_t start = at;
    if (at == card.size() || card[at] == '/') {
        value.kind = ValueKind::Undefined;
    } else if (card[at] == '\'') {
        value.kind = ValueKind::Text;
        at = ScanString(card, at);
    } else if (card[at] == 'T' || card[at] == 'F') {
        value.kind = ValueKind::Logical;
        ++at;
    } else if (card[at] == '(') {
        value.kind = ValueKind::Complex;
        at = ScanComplex(card, at);
    } else {
        bool integer = false;
        at = ScanNumber(card, at, integer);
        value.kind = integer ? ValueKind::Integer : ValueKind::Real;
    }
    if (at == std::string_view::npos)
        return std::nullopt;
    value.text = card.substr(start, at - start);
    at = SkipBlanks(card, at);
    if (at < card.size()) {
        if (card[at] != '/')
            return std::nullopt;
        ++at;
        if (at < card.size() && card[at] == ' ')
            ++at;
        value.comment = card.substr(at);
    }
    return value;
}

} // namespace

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool IsHierarch(std::string_view card) {
    return card.substr(0, 9) == "HIERARCH ";
}

std::string_view CardKeyword(std::string_view card) {
    std::string_view name = card.substr(0, 8);
    if (IsHierarch(card)) {
        const auto equals = card.find('=');
        name = card.substr(9, equals == std::string_view::npos ? card.npos : equals - 9);
        name.remove_prefix(std::min(name.size(), name.find_first_not_of(' ')));
    }
    const auto last = name.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1);
}

bool IsEndCard(std::string_view card) {
    return card.size() == kCardLength && card.substr(0, 3) == "END" &&
           card.find_first_not_of(' ', 3) == std::string_view::npos;
}

bool IsBlankCard(std::string_view card) {
    return card.find_first_not_of(' ') == std::string_view::npos;
}

std::optional<CardValue> ParseCard(std::string_view card) {
    if (card.size() != kCardLength)
        return std::nullopt;
    if (IsHierarch(card)) {
        // HIERARCH words = value: the value starts after the first "="; without one the
        // card is commentary.  The words may hold any printable characters.
        const auto equals = card.find('=');
        if (equals == std::string_view::npos)
            return CardValue{};
        const std::string_view name = CardKeyword(card);
        if (name.empty() || !std::all_of(name.begin(), name.end(), IsPrintable))
            return std::nullopt;
        return ParseValue(card, equals + 1);
    }
    size_t length = 0;
    while (length < 8 && IsKeywordCharacter(card[length]))
        ++length;
    if (card.substr(length, 8 - length).find_first_not_of(' ') != std::string_view::npos)
        return std::nullopt;
    const std::string_view name = card.substr(0, length);
    // A value only after "= " in columns 9-10; any other card is commentary, whatever
    // follows in column 9 on ("NOTE    this", "GAIN    =100").
    if (name.empty() || name == "COMMENT" || name == "HISTORY" || card.substr(8, 2) != "= ")
        return CardValue{};
    return ParseValue(card, 10);
}

std::optional<double> ValueNumber(std::string_view text) {
    std::string number(text);
    if (!number.empty() && number[0] == '+')
        number.erase(0, 1);
    for (char& c : number)
        if (c == 'D' || c == 'd')
            c = 'E';
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> ValueInteger(std::string_view text) {
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string ValueString(std::string_view text) {
    std::string value;
    for (size_t at = 1; at + 1 < text.size(); ++at) {
        value.push_back(text[at]);
        if (text[at] == '\'')
            ++at; // the second of a doubled quote
    }
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}
