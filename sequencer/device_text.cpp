#include "sequencer/device_text.h"

#include <cstdint>

#include "base/calendar.h"

namespace mvx {
namespace {

long long Milliseconds(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400000LL + t.hour * 3600000LL +
         t.minute * 60000LL + t.second * 1000LL + t.millisecond;
}

bool IsBlankOrControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool EndsItem(char c) {
  return c == ',' || static_cast<unsigned char>(c) <= 32;
}

}  // namespace

long long ClockSeconds(const LocalTime& now) {
  const LocalTime base{2001, 1, 1, 0, 0, 0, 0};
  // Exact milliseconds, so a whole second never comes out one short.
  long long distance = Milliseconds(now) - Milliseconds(base);
  if (distance < 0) distance = -distance;
  return distance / 1000;
}

std::vector<std::string> SplitItems(std::string_view text) {
  // Text after a zero byte is padding, never part of the answer.
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> items;
  std::size_t pos = 0;
  auto skip_blanks = [&] {
    while (pos < text.size() && IsBlankOrControl(text[pos])) ++pos;
  };
  skip_blanks();
  while (pos < text.size()) {
    if (text[pos] == '"') {
      const std::size_t close = text.find('"', pos + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close;
      items.emplace_back(text.substr(pos + 1, end - pos - 1));
      pos = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      const std::size_t begin = pos;
      while (pos < text.size() && !EndsItem(text[pos])) ++pos;
      items.emplace_back(text.substr(begin, pos - begin));
    }
    skip_blanks();
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      skip_blanks();
    }
  }
  return items;
}

bool SubCodeIn(std::string_view code, std::string_view low, std::string_view high) {
  return low <= code && code <= high;
}

}  // namespace mvx
