#include "hid/linux/hidraw_util.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/codepage.h"

namespace mvx::hidraw {
namespace {

// A hexadecimal field of at most max_digits digits whose value fits in 16 bits.
std::optional<std::uint16_t> Hex(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// Splits "a:b:c" into exactly three fields.
bool Split3(std::string_view text, std::string_view parts[3]) {
  for (int i = 0; i < 2; ++i) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    parts[i] = text.substr(0, colon);
    text.remove_prefix(colon + 1);
  }
  parts[2] = text;
  return true;
}

std::optional<HidId> FromFields(std::string_view parts[3], std::size_t max_digits) {
  const auto bus = Hex(parts[0], max_digits), vendor = Hex(parts[1], max_digits),
             product = Hex(parts[2], max_digits);
  if (!bus || !vendor || !product) return std::nullopt;
  return HidId{*bus, *vendor, *product};
}

}  // namespace

std::optional<HidId> ParseHidId(std::string_view text) {
  std::string_view parts[3];
  if (!Split3(text, parts)) return std::nullopt;
  return FromFields(parts, 8);
}

std::optional<HidId> ParseHidSysname(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string_view parts[3];
  if (!Split3(name.substr(0, dot), parts)) return std::nullopt;
  // The sequence number grows with every connection; only its form matters.
  const std::string_view sequence = name.substr(dot + 1);
  if (sequence.empty() || !std::all_of(sequence.begin(), sequence.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return std::nullopt;
  return FromFields(parts, 4);
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return Hex(text, 4);
}

std::string NameText(std::string_view text) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  if (text.size() > kMaxNameText) return {};
  const bool control = std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  return control ? std::string() : std::string(text);
}

std::string PortLocation(std::string_view usb_device_sysname, std::string_view hid_phys) {
  std::string port = NameText(usb_device_sysname);
  return !port.empty() ? port : NameText(hid_phys);
}

std::size_t NormaliseInputReport(bool numbered, const std::uint8_t* raw, std::size_t raw_length,
                                 std::uint8_t* out, std::size_t length) {
  if (out == nullptr || length == 0) return 0;
  std::fill(out, out + length, std::uint8_t{0});
  if (raw == nullptr) raw_length = 0;
  // copy_n, not memcpy: an empty report may come as a null pointer.
  if (numbered) {
    std::copy_n(raw, std::min(raw_length, length), out);
  } else {
    // out[0] stays 0: the report ID of an unnumbered report.
    std::copy_n(raw, std::min(raw_length, length - 1), out + 1);
  }
  return length;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return mvx::Utf8ToUtf16(text);
}

}  // namespace mvx::hidraw
