// How one input report becomes a response: the part of the report that
// counts (up to and including its terminator) and the text the steps read
// (that part without the terminator). Both views point into the report.
#pragma once

#include <string_view>

namespace mvx {

struct FramedResponse {
  std::string_view Line;  // logged as hex: the report up to its terminator
  std::string_view Text;  // the response the steps read
};

FramedResponse FrameResponse(std::string_view report);

}  // namespace mvx
