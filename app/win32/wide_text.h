// The core speaks UTF-8; the Win32 shell calls the wide-character API. These
// convert at the border, through the same converter the core uses.
#pragma once

#include <string>
#include <string_view>

#include "base/codepage.h"

namespace mvx {

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace mvx
