// The relay's work for one connection (Linux): each frame that arrives on
// the connection goes to the uhid node as one event, each event the node
// gives goes back as one frame. One connection is one device: the node is
// opened for it and closed when it ends, which takes the device off the bus.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace mvx::emu {

struct RelayCounts {
  std::uint64_t ToKernel = 0;    // events written to the node
  std::uint64_t FromKernel = 0;  // events read from the node
  std::string End;               // why the pump ended
};

// Moves events between connection and node until either closes, the
// connection breaks the framing, or stop is set (checked every 100 ms).
// Closes neither descriptor.
RelayCounts PumpRelay(int connection, int node, const std::atomic<bool>& stop);

}  // namespace mvx::emu
