#include "base/hex.h"

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
  return Spelled(bytes, HexCase::Upper, true);
}

}  // namespace mvx
