#include "emulator/uhid/relay_frame.h"

#include "base/byte_order.h"

namespace mvx::emu {

namespace {
// Taken bytes beyond this leave the buffer even while a frame is pending.
constexpr std::size_t kCompactAfter = 64 * 1024;
}  // namespace

void PutRelayHeader(std::uint8_t* header, std::uint32_t length) {
  StoreLE32(header, length);
}

RelayFrameReader::RelayFrameReader(std::size_t max_length) : max_length_(max_length) {}

bool RelayFrameReader::Feed(const std::uint8_t* data, std::size_t length) {
  if (broken_) return false;
  pending_.insert(pending_.end(), data, data + length);
  // Every header that has arrived is checked now, so a bad stream is found
  // as soon as its header arrives rather than after its claimed length.
  while (next_header_ + kRelayHeaderSize <= pending_.size()) {
    const std::uint32_t size = LoadLE32(pending_.data() + next_header_);
    if (size == 0 || size > max_length_) {
      broken_ = true;
      pending_.clear();
      taken_ = next_header_ = 0;
      return false;
    }
    next_header_ += kRelayHeaderSize + size;
  }
  return true;
}

bool RelayFrameReader::Next(std::vector<std::uint8_t>& frame) {
  if (broken_ || pending_.size() - taken_ < kRelayHeaderSize) return false;
  const std::uint32_t size = LoadLE32(pending_.data() + taken_);
  if (pending_.size() - taken_ - kRelayHeaderSize < size) return false;
  const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(taken_ + kRelayHeaderSize);
  frame.assign(begin, begin + size);
  taken_ += kRelayHeaderSize + size;
  // What was taken leaves the buffer once it is all taken or grows large.
  if (taken_ == pending_.size() || taken_ > kCompactAfter) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken_));
    next_header_ -= taken_;
    taken_ = 0;
  }
  return true;
}

}  // namespace mvx::emu
