// The command channel's state in the main window: the claimed device, whether
// it is ready, the last response and the buffer of the report being sent.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mvx {

class THidDevice;

// Who a listed device is from one scan to the next: the identity by which
// the controller tells devices apart, new for every connection (empty: no
// device).
struct DeviceKey {
  std::string Identity;
  bool operator==(const DeviceKey&) const = default;
};

struct ChannelFields {
  THidDevice* CurrentDevice = nullptr;
  bool DeviceReady = false;
  bool ResponseReceived = false;
  std::string ResponseText;  // raw bytes of the last response
  std::array<std::uint8_t, 2049> OutputBuffer{};
};

}  // namespace mvx
