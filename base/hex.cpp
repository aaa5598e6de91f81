#include "base/hex.h"

#include <array>
#include <cstring>

namespace mvx {
namespace {

const char* Digits(HexCase letters) {
  return letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
}

// Two digits per byte, with a comma between bytes when separated.
std::string Spelled(std::string_view bytes, HexCase letters, bool separated) {
  if (bytes.empty()) return {};
  const std::size_t step = separated ? 3 : 2;
  std::string out(bytes.size() * step - (separated ? 1 : 0), ',');
  const char* digits = Digits(letters);
  char* at = out.data();
  for (const unsigned char c : bytes) {
    at[0] = digits[c >> 4];
    at[1] = digits[c & 15];
    at += step;
  }
  return out;
}

}  // namespace

void AppendHexByte(std::string& out, unsigned char byte, HexCase letters) {
  const char* digits = Digits(letters);
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

std::string HexWord(unsigned value, HexCase letters) {
  std::string out;
  AppendHexByte(out, static_cast<unsigned char>(value >> 8), letters);
  AppendHexByte(out, static_cast<unsigned char>(value), letters);
  return out;
}

std::string HexText(std::string_view bytes, HexCase letters) {
  return Spelled(bytes, letters, false);
}

std::string HexDump(std::string_view bytes) {
  std::string out;
  AppendHexDump(out, bytes);
  return out;
}

void AppendHexDump(std::string& out, std::string_view bytes) {
  if (bytes.empty()) return;
  // The log dumps every 1024-byte answer: each byte's two digits and comma
  // come from one table of all 256 and go out in one four-byte store, whose
  // fourth byte the next byte's digits overwrite.
  static const auto kSpelled = [] {
    std::array<std::array<char, 4>, 256> spelled{};
    const char* digits = Digits(HexCase::Upper);
    for (std::size_t i = 0; i < spelled.size(); ++i)
      spelled[i] = {digits[i >> 4], digits[i & 15], ',', '\0'};
    return spelled;
  }();
  const std::size_t from = out.size();
  out.resize(from + bytes.size() * 3 + 1);
  char* at = out.data() + from;
  for (const unsigned char c : bytes) {
    std::memcpy(at, kSpelled[c].data(), 4);
    at += 3;
  }
  out.resize(out.size() - 2);  // the last comma and the spare byte
}

}  // namespace mvx
