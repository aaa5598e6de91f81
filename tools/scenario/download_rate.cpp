#include "tools/scenario/download_rate.h"

#include <cstdio>

namespace mvx::scenario {

namespace {

bool Sent(const std::string& line, const char* keyword) {
  return line.rfind(std::string(">>") + keyword, 0) == 0;
}

}  // namespace

void DownloadRate::Line(const std::string& line, std::uint64_t now_ms) {
  if (Sent(line, "FCPS") || Sent(line, "ACPS")) {
    started_ = true;
    done_ = false;
    start_ms_ = now_ms;
    packets_ = 0;
  } else if (started_ && (Sent(line, "FCPD") || Sent(line, "ACPD"))) {
    ++packets_;
  } else if (started_ && line == ">>Download : Done") {
    done_ = true;
    end_ms_ = now_ms;
  }
}

std::string DownloadRate::Summary() const {
  if (!done_ || packets_ == 0) return {};
  const std::uint64_t ms = end_ms_ > start_ms_ ? end_ms_ - start_ms_ : 1;
  char text[96];
  std::snprintf(text, sizeof text, "%llu data packets in %.3f s, %llu packets/s",
                static_cast<unsigned long long>(packets_), static_cast<double>(ms) / 1000.0,
                static_cast<unsigned long long>(packets_ * 1000 / ms));
  return text;
}

}  // namespace mvx::scenario
