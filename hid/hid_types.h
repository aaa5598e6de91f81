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
// What a read thread reports through the data-error handler when it stops on a
// failure of its own instead of an OS error (bit 29 marks a code that is no
// system error).
inline constexpr std::uint32_t kReadThreadFailed = 0x20000001;

class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mvx
