#include "base/controls.h"

namespace mvx {

void TMemo::Add(const std::string& text) {
  // CR LF, CR and LF each break the line.
  std::size_t from = 0;
  while (true) {
    const std::size_t end = text.find_first_of("\r\n", from);
    lines_.emplace_back(text, from, end == std::string::npos ? std::string::npos : end - from);
    if (OnLineAdded) OnLineAdded(lines_.back());
    if (end == std::string::npos) break;
    from = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  Changed();
}

void TMemo::Clear() {
  lines_.clear();
  if (OnCleared) OnCleared();
  Changed();
}

}  // namespace mvx
