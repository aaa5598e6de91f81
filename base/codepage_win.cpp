// Conversions through Windows' own code page tables (code page 932 is the
// system's Shift-JIS with the vendor extensions the device's firmware uses).
#include "base/codepage.h"

#include "base/windows_api.h"

#include <limits>

namespace mvx {
namespace {

constexpr UINT kCp932 = 932;
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool ToWide(UINT code_page, std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (size <= 0) return false;
  wide.resize(static_cast<std::size_t>(size));
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                             size) == size;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

bool Utf8ToCp932(std::string_view utf8, std::string& out) {
  out.clear();
  std::wstring wide;
  if (!ToWide(CP_UTF8, utf8, wide)) return false;
  if (wide.empty()) return true;
  const int length = static_cast<int>(wide.size());
  // No best-fit mapping: a character without its own code in 932 fails the
  // conversion instead of turning into a look-alike.
  BOOL used_default = FALSE;
  const int size = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr,
                                       0, nullptr, &used_default);
  if (size <= 0 || used_default) return false;
  std::string converted(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), length, converted.data(), size,
                          nullptr, &used_default) != size ||
      used_default)
    return false;
  out = std::move(converted);
  return true;
}

std::string Cp932ToUtf8(std::string_view cp932) {
  std::wstring wide;
  if (ToWide(kCp932, cp932, wide)) return WideToUtf8(wide);
  // Something in it is not 932: convert character by character, one
  // replacement for the first byte of each bad or cut-off sequence.
  std::string out;
  std::size_t at = 0;
  while (at < cp932.size()) {
    const auto lead = static_cast<BYTE>(cp932[at]);
    const std::size_t length = IsDBCSLeadByteEx(kCp932, lead) ? 2 : 1;
    if (at + length <= cp932.size() && ToWide(kCp932, cp932.substr(at, length), wide)) {
      out += WideToUtf8(wide);
      at += length;
    } else {
      out += kReplacement;
      at += 1;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // Lone surrogates come out as U+FFFD.
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return WideToUtf8(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string wide;
  if (text.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    return wide;
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return wide;
  wide.resize(static_cast<std::size_t>(size));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, reinterpret_cast<wchar_t*>(wide.data()),
                      size);
  return wide;
}

}  // namespace mvx
