#include "base/hex.h"

namespace mvx {
namespace {

const char* Digits(HexCase letters) {
  return letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
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
  const char* digits = Digits(letters);
  std::string out(bytes.size() * 2, '0');
  char* at = out.data();
  for (const unsigned char c : bytes) {
    at[0] = digits[c >> 4];
    at[1] = digits[c & 15];
    at += 2;
  }
  return out;
}

std::string HexDump(std::string_view bytes) {
  const char* digits = Digits(HexCase::Upper);
  if (bytes.empty()) return {};
  std::string out(bytes.size() * 3 - 1, ',');
  char* at = out.data();
  for (const unsigned char c : bytes) {
    at[0] = digits[c >> 4];
    at[1] = digits[c & 15];
    at += 3;
  }
  return out;
}

}  // namespace mvx
