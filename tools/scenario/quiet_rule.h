// When a scenario played on real time may end before its run_ms. The same
// file played first on the virtual clock shows when its last line came and
// the longest silence between its lines: nothing happens after that line on
// the virtual clock, so once every event has happened, the real clock has
// passed that time and the real transcript has been silent for longer than
// any silence of the virtual run (with a margin), the real run has ended too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvx::scenario {

struct QuietRule {
  std::uint64_t LastLineMs = 0;
  std::uint64_t QuietMs = 0;
};

// From the virtual run's lines and their times; its "end" picture does not
// count. margin_ms is added to the longest silence.
QuietRule QuietRuleOf(const std::vector<std::string>& lines,
                      const std::vector<std::uint64_t>& times, std::uint64_t margin_ms);

// Whether the real run may end now: every event has happened, now_ms is past
// the virtual run's last line and the real transcript's last line (at
// last_line_ms) came more than the quiet time ago.
bool MayEnd(const QuietRule& rule, bool every_event_happened, std::uint64_t now_ms,
            std::uint64_t last_line_ms);

}  // namespace mvx::scenario
