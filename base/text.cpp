#include "base/text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace mvx {

std::string RemoveAll(std::string_view text, std::string_view what) {
  if (what.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(what, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    pos = hit + what.size();
  }
  out.append(text.substr(pos));
  return out;
}

static bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimRightView(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' || text[i] == '\r')
      out += " / ";
    else
      out += text[i];
  }
  return out;
}

std::string TrimRight(std::string_view text) {
  return std::string(TrimRightView(text));
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsBlankOrControl(text[begin])) ++begin;
  return TrimRight(text.substr(begin));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Left(std::string_view text, std::size_t n) {
  return text.substr(0, n);
}

std::string Mid(std::string_view text, std::size_t from, std::size_t count) {
  if (from < 1 || from > text.size()) return {};
  return std::string(text.substr(from - 1, count));
}

long long ToIntDef0(std::string_view text) {
  const std::string t = Trim(text);
  if (t.empty()) return 0;
  std::size_t i = 0;
  if (t[0] == '+' || t[0] == '-') i = 1;
  if (i == t.size()) return 0;
  for (std::size_t k = i; k < t.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(t[k]))) return 0;
  if (t.size() - i > 18) return 0;  // out of range: not a number
  return std::strtoll(t.c_str(), nullptr, 10);
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace mvx
