// The download's packet rate on real time, read from the tool's log: from its
// start packet (">>FCPS", ">>ACPS") to ">>Download : Done", counting the data
// packets (">>FCPD", ">>ACPD") between. A download that starts over counts
// from its new start.
#pragma once

#include <cstdint>
#include <string>

namespace mvx::scenario {

class DownloadRate {
 public:
  // One log line without its time stamp, at now_ms.
  void Line(const std::string& line, std::uint64_t now_ms);
  // "N data packets in S s, R packets/s", or empty when no download ended.
  std::string Summary() const;

 private:
  std::uint64_t start_ms_ = 0;
  std::uint64_t end_ms_ = 0;
  std::uint64_t packets_ = 0;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace mvx::scenario
