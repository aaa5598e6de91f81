#include "tools/scenario/quiet_rule.h"

#include <algorithm>

namespace mvx::scenario {

QuietRule QuietRuleOf(const std::vector<std::string>& lines,
                      const std::vector<std::uint64_t>& times, std::uint64_t margin_ms) {
  QuietRule rule;
  std::uint64_t previous = 0;
  std::uint64_t longest = 0;
  const std::size_t n = std::min(lines.size(), times.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (lines[i].rfind("end ", 0) == 0) continue;
    // A clock that went back (a line of a nested run) is no silence.
    if (times[i] > previous) longest = std::max(longest, times[i] - previous);
    previous = std::max(previous, times[i]);
  }
  rule.LastLineMs = previous;
  rule.QuietMs = longest + margin_ms;
  return rule;
}

bool MayEnd(const QuietRule& rule, bool every_event_happened, std::uint64_t now_ms,
            std::uint64_t last_line_ms) {
  if (!every_event_happened || now_ms < rule.LastLineMs) return false;
  return now_ms >= last_line_ms && now_ms - last_line_ms > rule.QuietMs;
}

}  // namespace mvx::scenario
