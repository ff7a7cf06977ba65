#pragma once
// Text forms of the values the main window shows.  Widget-free, so the rules are
// tested without a display.
#include <string>

// "07" for 7, "0-3" for -3 (the "0" goes in front of anything below 10), "100" for 100.
std::string PadTwo(int value);
// Radians as "HH MM SS.ss" (hours not reduced modulo 24).  Empty for a value whose
// hundredths of a second do not fit 32 bits (only a corrupt angle gets there).
std::string FormatRa(double radians);
// Radians as "+DD MM SS.s" / "-DD MM SS.s"; empty like FormatRa.
std::string FormatDec(double radians);
// Fractional days as "yyyy-MM-dd hh:mm:ss" (24-hour clock).
std::string FormatImageTime(double days);
// One digit after the decimal point, leading zero, the locale's (LC_NUMERIC) digit
// grouping and decimal separator: errors and rates.
std::string FormatOneDecimal(double value);
