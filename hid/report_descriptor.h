// The report lengths a HID report descriptor implies, as the Windows HID class
// reports them in HIDP_CAPS: for each report type the largest report over all
// report IDs, in bytes, plus one byte for the report ID (0 for a device
// without numbered reports). The Linux backend needs them because hidraw has
// no such query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace mvx {

struct ReportDescriptorInfo {
  // 0 when the descriptor has no report of that type.
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
  // The device puts a report ID before every report (a Report ID item).
  bool Numbered = false;
  // Usage page and usage of the first top-level collection.
  std::uint16_t UsagePage = 0;
  std::uint16_t Usage = 0;
};

// nullopt for a descriptor that ends inside an item or whose reports would
// not fit in 16 bits.
std::optional<ReportDescriptorInfo> ParseReportDescriptor(const std::uint8_t* data,
                                                          std::size_t length);

}  // namespace mvx
