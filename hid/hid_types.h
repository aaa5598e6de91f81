#pragma once

#include <cstdint>
#include <stdexcept>

#include "hid/hid_event.h"

namespace mvx {

class THidDevice;
class THidDeviceController;

// ReportID, Data (valid only during the call) and Size (bytes after the ID).
using THidDataEvent = TEvent<THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t>;
using THidDataErrorEvent = TEvent<THidDevice*, std::uint32_t>;
using THidPlugEvent = TEvent<THidDevice*>;
using TNotifyEvent = TEvent<void*>;
using THidEnumerateEvent = TEvent<THidDevice*, int>;

// Raised when a device cannot be opened or identified.
class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mvx
