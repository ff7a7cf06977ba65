#pragma once
// Rounding and the text forms of numbers.  veldra rounds halves to the even
// neighbour wherever it turns a number into a whole number.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// pi as every angle formula of veldra takes it: 15 significant digits, not the full
// double, so stored angles and the numbers derived from them stay as they always were.
inline constexpr double kPi = 3.14159265358979;

// Nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double RoundHalfEven(double value);
// RoundHalfEven into the type; empty when the value is not finite or does not fit.
std::optional<int16_t> RoundToInt16(double value);
std::optional<int32_t> RoundToInt32(double value);

// The decimal separator of the user's locale (LC_NUMERIC).
char LocaleDecimalPoint();

// Default text of a double: at most 15 significant digits, no trailing zeros,
// exponent form "1.5E-05" where %G would use one; the locale's decimal separator.
std::string DefaultText(double value);
// The same for a single-precision float with 7 significant digits.
std::string DefaultText(float value);
// As DefaultText(double) but always with "." - for files and command lines.
std::string PlainNumberText(double value);

// A decimal number with "." as separator: optional blanks around, optional sign,
// digits, fraction, exponent.  Empty for anything else.
std::optional<double> ParseNumber(std::string_view text);
// The same with the locale's decimal separator (what the user types).
std::optional<double> ParseLocaleNumber(std::string_view text);
