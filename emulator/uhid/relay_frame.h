// The uhid relay's byte stream: each uhid event as one frame, its length as
// a 32-bit little-endian number and then its bytes. A frame longer than a
// uhid event is a broken stream, never a buffer to be grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvx::emu {

constexpr std::size_t kRelayHeaderSize = 4;

// The header of a frame of length bytes.
void PutRelayHeader(std::uint8_t* header, std::uint32_t length);

// Gathers frames from the stream's bytes as they arrive, in any pieces.
class RelayFrameReader {
 public:
  // Accepts frames of 1 to max_length bytes.
  explicit RelayFrameReader(std::size_t max_length);
  // Takes received bytes; false when they break the stream (a frame of 0
  // bytes or longer than the limit), after which the reader takes no more.
  bool Feed(const std::uint8_t* data, std::size_t length);
  // Moves the oldest whole frame into frame; false when none is whole yet.
  bool Next(std::vector<std::uint8_t>& frame);
  bool Broken() const { return broken_; }

 private:
  std::size_t max_length_;
  std::vector<std::uint8_t> pending_;  // bytes not yet taken as frames
  std::size_t taken_ = 0;              // bytes at the front already taken
  std::size_t next_header_ = 0;        // where the next unchecked header starts
  bool broken_ = false;
};

}  // namespace mvx::emu
