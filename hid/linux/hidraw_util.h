// The pure parts of the hidraw backend: what udev and sysfs say about a HID
// device, and how hidraw's reports are brought to the delivery contract.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mvx::hidraw {

struct HidId {
  std::uint16_t Bus = 0;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
};

// The HID device's HID_ID property: "0003:00005E3A:00000051".
std::optional<HidId> ParseHidId(std::string_view text);
// The HID device's sysfs name, bus:vendor:product.sequence: "0003:5E3A:0051.000B".
std::optional<HidId> ParseHidSysname(std::string_view name);
// A hexadecimal sysfs attribute such as bcdDevice ("0100\n").
std::optional<std::uint16_t> ParseHex16(std::string_view text);

// The longest udev text taken as a port or a serial number; the kernel's own
// (HID_PHYS, HID_UNIQ, a USB device's name) stay far below it.
constexpr std::size_t kMaxNameText = 255;
// A udev text fit to name a port or a serial number, without the white space
// around it; empty when it is longer than kMaxNameText or holds a control
// character, as a cut or garbled name could stand for another one.
std::string NameText(std::string_view text);
// The USB port a HID device is plugged into: the sysfs name of its USB device
// ("1-2.3"), the same for every device set into that port; for a device with
// no USB device above it (made through uhid, or on bluetooth) its HID_PHYS.
// Empty when neither is a usable name.
std::string PortLocation(std::string_view usb_device_sysname, std::string_view hid_phys);

// One report as hidraw read it, into the delivery contract: report ID first
// (0 prepended for a device without numbered reports), then zeros up to
// length. Returns the bytes transferred: length (0 when length is 0).
std::size_t NormaliseInputReport(bool numbered, const std::uint8_t* raw, std::size_t raw_length,
                                 std::uint8_t* out, std::size_t length);

// sysfs strings are UTF-8; the product string is wide. A malformed sequence
// becomes U+FFFD; a trailing newline is dropped.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace mvx::hidraw
