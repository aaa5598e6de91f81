// The one door from the HID classes to the operating system. Linux (hidraw and
// libudev), Windows (SetupAPI, hid.dll, kernel32) and the simulated backend each
// implement it; nothing above it includes an OS header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"

namespace mvx {

// HIDD_ATTRIBUTES as the HID class reports it.
struct HidAttributes {
  std::uint32_t Size = 12;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
};

// HIDP_CAPS (64 bytes on Windows). Report lengths include the report-ID byte.
struct HidCaps {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
  std::uint16_t Reserved[17] = {};
  std::uint16_t NumberLinkCollectionNodes = 0;
  std::uint16_t NumberInputButtonCaps = 0;
  std::uint16_t NumberInputValueCaps = 0;
  std::uint16_t NumberInputDataIndices = 0;
  std::uint16_t NumberOutputButtonCaps = 0;
  std::uint16_t NumberOutputValueCaps = 0;
  std::uint16_t NumberOutputDataIndices = 0;
  std::uint16_t NumberFeatureButtonCaps = 0;
  std::uint16_t NumberFeatureValueCaps = 0;
  std::uint16_t NumberFeatureDataIndices = 0;
};

// One registry-like property of an interface (SPDRP_* code and its value), as
// far as the OS has it. A string is kept up to its first zero byte; a list is
// its entries; a number is 32 bits.
struct HidProperty {
  enum class Kind { Number, String, StringList };
  std::uint32_t Code = 0;
  Kind Type = Kind::String;
  std::uint32_t Number = 0;
  std::string Text;
  std::vector<std::string> List;
};

// One present HID interface as an enumeration finds it.
struct HidInterfaceInfo {
  // Identity that is new for every connection of the interface: two scans
  // see the same device only when it is the same (on Windows the DevInst
  // with the interface path, under wine the path; on Linux the HID device's
  // sysfs name).
  std::string Identity;
  // The 32-bit device instance handle of the PnP record (DevInst on Windows;
  // a number the backend assigns on first sight elsewhere).
  std::uint32_t Instance = 0;
  std::string Path;  // what Open takes
  // The USB port the device is plugged into, the same for every device set
  // into that port (a udev port path such as "1-2.3" on Linux, the location
  // path on Windows); empty when the system does not tell it.
  std::string Location;
  // The serial number string of the USB device as its descriptor gives it,
  // read without sending the device anything; empty when it has none.
  std::string SerialNumber;
  std::vector<HidProperty> Properties;
};

enum class HidOpenMode {
  ReadWrite,  // shared read/write, synchronous: attributes, caps, writes
  QueryOnly,  // no access: attributes and caps only
  ReadAsync,  // read-only, for the read thread's waitable reads
};

// An open handle on an interface.
class IHidHandle {
 public:
  virtual ~IHidHandle() = default;
  virtual bool GetAttributes(HidAttributes& attributes) = 0;
  virtual bool GetCaps(HidCaps& caps) = 0;
  // Wide product string, at most max_chars characters.
  virtual bool GetProductString(std::u16string& text, std::size_t max_chars) = 0;
  // One synchronous write of exactly length bytes, report ID first.
  virtual bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) = 0;

  // The read thread's reads: start one read of one input report (report ID
  // first, padded to length), wait for it in slices, fetch its byte count,
  // cancel it.
  virtual bool BeginRead(std::uint8_t* buffer, std::size_t length) = 0;
  // Waits at most slice_ms; true when the read has completed. Interrupt()
  // makes a waiting call return false at once.
  virtual bool WaitRead(unsigned slice_ms) = 0;
  // Bytes transferred by the completed read; 0 when it failed.
  virtual std::size_t FinishRead() = 0;
  virtual bool CancelRead() = 0;
  // Thread-safe; wakes a WaitRead.
  virtual void Interrupt() = 0;
};

class IHidBackend {
 public:
  virtual ~IHidBackend() = default;
  // False when the platform's HID library is missing: the controller then
  // never scans and stays empty.
  virtual bool Available() = 0;
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
  // nullptr on failure; LastError() tells why.
  virtual std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) = 0;
  // Calls on_change on the GUI thread whenever the set of devices may have
  // changed. The handle returned keeps the watch alive.
  virtual std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop,
                                               std::function<void()> on_change) = 0;
  // The OS error code of the calling thread's last failed call, and the
  // system's message for a code.
  virtual std::uint32_t LastError() = 0;
  virtual std::string ErrorMessage(std::uint32_t code) = 0;
};

}  // namespace mvx
