#pragma once
// The header of a load in memory: its cards looked up and changed there, so writes
// reach the file only when it is saved, all together.  Every lookup addresses the
// first card of a keyword in the header.
#include <optional>
#include <string>
#include <string_view>

// A keyword as the API takes it: 1 to 8 of A-Z, 0-9, "-", "_" (lower case is made
// upper case); empty for anything else.
std::optional<std::string> NormalKeyword(const char* keyword);

// The first card of keyword before END (HIERARCH cards never match); empty if none.
std::optional<std::string_view> FindCard(const std::string& header, std::string_view keyword);

// A card "keyword = value" as CFITSIO formats it: a string quoted, a float in %.7G
// with a decimal point; comment after " / " when not empty.  Empty when the text
// holds characters a header may not hold or does not fit the card.
std::optional<std::string> TextCard(const std::string& keyword, std::string_view text,
                                    std::string_view comment);
std::optional<std::string> FloatCard(const std::string& keyword, float value,
                                     std::string_view comment);

// Puts card in the place of the keyword's first card, or after the last card before
// END when there is none; the header grows by a block when END has no room to move.
void PutCard(std::string& header, std::string_view keyword, const std::string& card);
