// Conversions through the C library's iconv: glibc names Windows' code page 932
// "CP932" (Shift-JIS with the vendor extensions the device's firmware uses).
#include "base/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace mvx {
namespace {

constexpr const char* kCp932 = "CP932";
constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// One conversion descriptor, closed on every path.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of in as it can, appending to out. Returns 0 when all of
  // in was converted, else the errno that stopped it; in is left at the byte
  // that could not be converted.
  int Convert(std::string_view& in, std::string& out) {
    char buffer[256];
    while (!in.empty()) {
      char* src = const_cast<char*>(in.data());
      std::size_t src_left = in.size();
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      const std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      in.remove_prefix(in.size() - src_left);
      if (error == E2BIG) continue;
      if (error != 0) return error;
    }
    // Flush any shift state (none for these encodings, but iconv asks for it).
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    return 0;
  }

 private:
  iconv_t cd_;
};

void AppendUtf8(std::uint32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

bool Utf8ToCp932(std::string_view utf8, std::string& out) {
  out.clear();
  Converter converter(kCp932, kUtf8);
  if (!converter.ok()) return false;
  std::string converted;
  if (converter.Convert(utf8, converted) != 0) return false;
  out = std::move(converted);
  return true;
}

std::string Cp932ToUtf8(std::string_view cp932) {
  std::string out;
  Converter converter(kUtf8, kCp932);
  if (!converter.ok()) {
    // Without the converter only ASCII can be trusted.
    for (const char c : cp932) {
      if (static_cast<unsigned char>(c) < 0x80)
        out += c;
      else
        out += kReplacement;
    }
    return out;
  }
  while (converter.Convert(cp932, out) != 0) {
    // An invalid or truncated sequence: one replacement for its first byte,
    // then go on after it.
    out += kReplacement;
    cp932.remove_prefix(1);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const std::uint32_t low = text[++i];
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += kReplacement;  // a lone surrogate
    } else {
      AppendUtf8(unit, out);
    }
  }
  return out;
}

}  // namespace mvx
