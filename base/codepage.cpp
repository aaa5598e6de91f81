// Conversions through the C library's iconv: glibc names Windows' code page 932
// "CP932" (Shift-JIS with the vendor extensions the device's firmware uses).
#include "base/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

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

  // iconv_open reports failure as (iconv_t)-1.
  bool ok() const {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return cd_ != reinterpret_cast<iconv_t>(-1);
  }

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

// The wide strings of the HID class are UTF-16 in the machine's byte order.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kWideReplacement = u'\uFFFD';

// Converts all of in, one replacement for each sequence the converter refuses
// (bad_length tells how many bytes of in that sequence takes).
std::string ConvertAll(const char* to, const char* from, std::string_view in,
                       std::string_view replacement, std::size_t (*bad_length)(std::string_view)) {
  std::string out;
  Converter converter(to, from);
  if (!converter.ok()) return out;
  while (converter.Convert(in, out) != 0) {
    out += replacement;
    in.remove_prefix(std::min(in.size(), bad_length(in)));
  }
  return out;
}

// A lead byte with the continuation bytes that follow it, up to as many as it
// announces; a byte that leads nothing stands alone.
std::size_t BadUtf8Length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t extra = lead >= 0xC2 && lead < 0xE0   ? 1
                            : lead >= 0xE0 && lead < 0xF0 ? 2
                            : lead >= 0xF0 && lead < 0xF5 ? 3
                                                          : 0;
  std::size_t n = 1;
  while (n <= extra && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
  return n;
}

std::size_t BadUtf16Length(std::string_view) {
  return sizeof(char16_t);
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
  const std::string_view bytes(reinterpret_cast<const char*>(text.data()),
                               text.size() * sizeof(char16_t));
  return ConvertAll(kUtf8, kUtf16, bytes, kReplacement, BadUtf16Length);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  const std::string_view replacement(reinterpret_cast<const char*>(&kWideReplacement),
                                     sizeof kWideReplacement);
  const std::string bytes = ConvertAll(kUtf16, kUtf8, text, replacement, BadUtf8Length);
  std::u16string wide(bytes.size() / sizeof(char16_t), u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(char16_t));
  return wide;
}

}  // namespace mvx
