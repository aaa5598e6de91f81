#include "base/controls.h"

#include <algorithm>
#include <cstring>

namespace mvx {
namespace {

// Where the next CR or LF at or after from lies (npos: none). Each is looked
// for with memchr and remembered until it is passed, so a long text is read
// about twice, however many lines it holds.
class BreakFinder {
 public:
  explicit BreakFinder(std::string_view text)
      : text_(text), cr_(Find('\r', 0)), lf_(Find('\n', 0)) {}
  std::size_t Next(std::size_t from) {
    if (cr_ < from) cr_ = Find('\r', from);
    if (lf_ < from) lf_ = Find('\n', from);
    return std::min(cr_, lf_);
  }

 private:
  std::size_t Find(char c, std::size_t from) const {
    if (from >= text_.size()) return std::string_view::npos;
    const void* at = std::memchr(text_.data() + from, c, text_.size() - from);
    return at == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text_.data());
  }

  std::string_view text_;
  std::size_t cr_, lf_;  // the next of each at or after the last from
};

}  // namespace

TMemo::Subscription& TMemo::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Cancel();
    memo_ = std::exchange(other.memo_, nullptr);
    key_ = other.key_;
  }
  return *this;
}

void TMemo::Subscription::Cancel() {
  if (memo_ != nullptr) std::exchange(memo_, nullptr)->Forget(key_);
}

TMemo::Subscription TMemo::Listen(Listener listener) {
  const int key = ++next_key_;
  listeners_.emplace_back(key, std::move(listener));
  return Subscription(*this, key);
}

void TMemo::Forget(int key) {
  std::erase_if(listeners_, [key](const auto& entry) { return entry.first == key; });
}

void TMemo::Add(std::string_view text) {
  // CR LF, CR and LF each break the line.
  BreakFinder breaks(text);
  std::size_t from = 0;
  while (true) {
    const std::size_t end = breaks.Next(from);
    const std::string_view line =
        text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
    // By index: a listener may subscribe or cancel while it is told.
    for (std::size_t i = 0; i < listeners_.size(); ++i)
      if (listeners_[i].second.LineAdded) listeners_[i].second.LineAdded(line);
    if (end == std::string_view::npos) break;
    from = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  Changed();
}

void TMemo::Clear() {
  for (std::size_t i = 0; i < listeners_.size(); ++i)
    if (listeners_[i].second.Cleared) listeners_[i].second.Cleared();
  Changed();
}

void LineStore::Append(std::string_view line) {
  if (line.size() > room_) {
    // Whole grains, so that every block can lie on huge pages.
    const std::size_t size =
        (line.size() + kLargeBlockGrain - 1) / kLargeBlockGrain * kLargeBlockGrain;
    blocks_.push_back(AllocateLargeBlock(std::max(size, kLargeBlockGrain)));
    free_ = blocks_.back().get();
    room_ = size;
  }
  if (!line.empty()) std::memcpy(free_, line.data(), line.size());
  lines_.emplace_back(free_, line.size());
  free_ += line.size();
  room_ -= line.size();
  bytes_ += line.size();
}

void LineStore::Clear() {
  // The memory goes too: a cleared log gives it back.
  std::vector<LargeBlock>().swap(blocks_);
  std::vector<std::string_view>().swap(lines_);
  free_ = nullptr;
  room_ = 0;
  bytes_ = 0;
}

std::string LineStore::Joined(std::string_view separator) const {
  std::string out;
  out.reserve(bytes_ + lines_.size() * separator.size());
  for (const std::string_view line : lines_) out.append(line).append(separator);
  return out;
}

std::vector<std::string> LineStore::Copy(std::size_t first) const {
  std::vector<std::string> out;
  for (std::size_t i = first; i < lines_.size(); ++i) out.emplace_back(lines_[i]);
  return out;
}

MemoRecorder::MemoRecorder(TMemo& memo)
    : subscription_(memo.Listen(
          {[this](std::string_view line) { lines_.Append(line); }, [this] { lines_.Clear(); }})) {}

}  // namespace mvx
