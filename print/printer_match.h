#pragma once

#include <cstddef>
#include <string>

// Upper-cases a-z only; every other byte, those at or above 0x80 too, is left as it is.
std::string UpperCaseAscii(const std::string& Text);

// Strips spaces (0x20 only; tabs stay) from both ends.
std::string TrimSpaces(const std::string& Text);

// The first name (nullptr entries skipped) whose trimmed, upper-cased form contains the upper-cased
// Pattern wins, even when a later one equals it: Match gets that form, and its index is returned.
// No match gives -1 and leaves Match as it was. An empty Pattern matches the first name.
// Names may be nullptr only when Count is 0.
int MatchPrinterName(const std::string& Pattern, const char* const* Names, size_t Count, std::string& Match);
