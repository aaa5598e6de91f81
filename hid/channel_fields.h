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
  // The USB port (a device's Location) this copy serves: it claims only
  // devices set into that port, the unit back from its restart included.
  // Empty: any port.
  std::string Cradle;
  // The unit claimed last. The window takes a unit whose run has ended
  // again at the next device change while it is still in the cradle (the
  // operator is asked again); an unattended copy leaves it alone until it
  // has been taken out (a unit set in again is a new connection).
  DeviceKey LastClaimed;
  bool ReclaimEndedUnit = true;
  THidDevice* CurrentDevice = nullptr;
  bool DeviceReady = false;
  bool ResponseReceived = false;
  std::string ResponseText;  // raw bytes of the last response
  std::array<std::uint8_t, 2049> OutputBuffer{};
};

}  // namespace mvx
