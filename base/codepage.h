// Code page 932 (Shift-JIS) at the edges of the core: package file names go to
// the device as single-byte text, and the device's texts come back that way.
#pragma once

#include <string>
#include <string_view>

namespace mvx {

// False when the text cannot be written in code page 932.
bool Utf8ToCp932(std::string_view utf8, std::string& out);
// Bytes that are not valid code page 932 come out as U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);
// A wide (UTF-16) string from the HID class as UTF-8.
// Lone surrogates come out as U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 as a wide string; each invalid or cut-off sequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace mvx
