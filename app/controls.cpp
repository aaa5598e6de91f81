#include "app/controls.h"

namespace mvx {

void TMemo::Add(const std::string& text) {
  // CR LF, CR and LF each break the line.
  std::string line;
  auto emit = [&] {
    lines_.push_back(line);
    if (OnLineAdded) OnLineAdded(line);
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      emit();
    } else {
      line += c;
    }
  }
  emit();
  Changed();
}

void TMemo::Clear() {
  lines_.clear();
  if (OnCleared) OnCleared();
  Changed();
}

}  // namespace mvx
