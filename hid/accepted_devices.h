#pragma once

#include <cstdint>

namespace mvx {

// The Merovox device's vendor/product pairs, tried in this order: a device of
// the first pair is preferred whatever the controller's list order.
struct AcceptedDevice {
  std::uint16_t VendorID;
  std::uint16_t ProductID;
};

inline constexpr AcceptedDevice kAcceptedDevices[] = {
    {0x5E3A, 0x0051},
    {0x4B9D, 0x6A00},
    {0x4B9D, 0x6A02},
};

}  // namespace mvx
