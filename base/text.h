// String helpers shared by the steps: the device's texts are raw bytes.
#pragma once

#include <string>
#include <string_view>

namespace mvx {

// Every occurrence of what removed, left to right, without rescanning.
std::string RemoveAll(std::string_view text, std::string_view what);
// A text on one line: each line break (CR LF, CR or LF) shown as " / ".
std::string OneLine(std::string_view text);
// Trailing blanks and control characters (codes 0 to 32) removed.
std::string TrimRight(std::string_view text);
std::string_view TrimRightView(std::string_view text);  // the same, without a copy
// Leading and trailing blanks and control characters removed.
std::string Trim(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);
// The first n bytes (all of text when shorter).
std::string_view Left(std::string_view text, std::size_t n);
// Characters from..to, 1-based and inclusive, clipped to the text.
std::string Mid(std::string_view text, std::size_t from, std::size_t count);
// A decimal integer, 0 when the text is not one (surrounding blanks allowed).
long long ToIntDef0(std::string_view text);
std::string ToUpperAscii(std::string_view text);
// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace mvx
