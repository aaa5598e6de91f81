// Where a uhid device's events go: the kernel's /dev/uhid, or a TCP
// connection to mvx-uhid-relay, which hands them to /dev/uhid on its machine
// (how a Windows program under wine drives a kernel HID device there).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace mvx::emu {

class UhidChannel {
 public:
  virtual ~UhidChannel() = default;
  // One whole event; false when the channel is closed or broken.
  virtual bool Write(const void* event, std::size_t length) = 0;
  // Waits up to timeout_ms for one event and copies at most capacity bytes
  // of it: its length, 0 when none came in time, -1 when the channel is
  // closed or broken.
  virtual long Read(void* event, std::size_t capacity, int timeout_ms) = 0;
};

// The kernel's uhid node (Linux); null with the reason when it cannot be
// opened or on another system.
std::unique_ptr<UhidChannel> OpenUhidNode(const std::string& node, std::string* error);
#ifndef _WIN32
// A descriptor that speaks the uhid event protocol, taken over.
std::unique_ptr<UhidChannel> UhidChannelOnDescriptor(int fd);
#endif
// A connection to mvx-uhid-relay at "HOST:PORT" (IPv4 or a name); null with
// the reason when it cannot be made.
std::unique_ptr<UhidChannel> ConnectUhidRelay(const std::string& address, std::string* error);

}  // namespace mvx::emu
