// Rules on the device's texts that the identification steps share: the clock
// value, the splitting of the serial-number answer and the sub-code ranges.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace mvx {

// The value for "RTC SET": whole seconds between the local time and
// 2001-01-01 00:00:00, truncated toward zero, as a distance (never negative).
long long ClockSeconds(const LocalTime& now);

// The items of a "GSER" answer: blanks and control characters (codes 1 to 32)
// around items are skipped, an item ends at a comma or at a blank or control
// character, one comma (and the blanks after it) separates two items so that
// two commas in a row give an empty item, and an item that starts with a
// double quote runs to its closing quote. A zero byte ends the text.
std::vector<std::string> SplitItems(std::string_view text);

// Whether a version sub-code lies in [low, high], compared as text byte by
// byte (so an empty sub-code lies below every bound).
bool SubCodeIn(std::string_view code, std::string_view low, std::string_view high);

}  // namespace mvx
