#pragma once
// One 80-character header card read by the rules of the FITS standard: its keyword,
// the kind and text of its value, its comment.  A card that breaks these rules is
// refused only where it would be a structure keyword (see header_scan.h).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

constexpr size_t kCardLength = 80;
constexpr size_t kBlockLength = 2880;
constexpr size_t kCardsPerBlock = kBlockLength / kCardLength;

enum class ValueKind {
    None,      // commentary card: no value indicator
    Undefined, // "= " followed by blanks or a comment only
    Text,      // quoted string
    Logical,   // T or F
    Integer,
    Real,
    Complex,
};

struct CardValue {
    ValueKind kind = ValueKind::None;
    std::string_view text;    // the value as written; a string with its quotes
    std::string_view comment; // after the "/", one blank after it dropped; trailing blanks kept
};

// Columns 1-8 without trailing blanks; for a HIERARCH card, the words between
// "HIERARCH" and "=" (HIERARCH cards never match the 8-character keywords of the API).
std::string_view CardKeyword(std::string_view card);
bool IsHierarch(std::string_view card);
// a-z made A-Z: CFITSIO finds keywords whatever their case.
std::string UpperCase(std::string_view text);
// "END" and 77 blanks.
bool IsEndCard(std::string_view card);
bool IsBlankCard(std::string_view card);
// The card's value, or empty when the card breaks the rules: a keyword of other
// characters than A-Z, a-z, 0-9, "-" and "_", a value after "= " that is no string
// (without control characters), logical, number or complex number, text after the
// value that is no comment.  A card without "= " in columns 9-10 (or, for HIERARCH,
// without "=") is commentary.
std::optional<CardValue> ParseCard(std::string_view card);

// The number of an Integer or Real value ("D" exponents allowed); empty when it does
// not fit a double.
std::optional<double> ValueNumber(std::string_view text);
// The whole number of an Integer value; empty when it does not fit 64 bits.
std::optional<long long> ValueInteger(std::string_view text);
// A string value without its quotes, doubled quotes made single, trailing blanks
// dropped (as CFITSIO reads it).
std::string ValueString(std::string_view text);
