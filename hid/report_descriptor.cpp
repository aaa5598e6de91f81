#include "hid/report_descriptor.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace mvx {
namespace {

// Item types and the tags this parser needs (HID 1.11, section 6.2.2).
enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag : std::uint8_t {
  kInput = 8,
  kOutput = 9,
  kCollection = 10,
  kFeature = 11,
  kEndCollection = 12
};
enum GlobalTag : std::uint8_t {
  kUsagePage = 0,
  kReportSize = 7,
  kReportId = 8,
  kReportCount = 9,
  kPush = 10,
  kPop = 11
};
enum LocalTag : std::uint8_t { kUsage = 0 };
constexpr std::uint8_t kLongItemPrefix = 0xFE;

struct Globals {
  std::uint32_t usage_page = 0;
  std::uint32_t report_size = 0;
  std::uint32_t report_count = 0;
  std::uint32_t report_id = 0;
};

}  // namespace

std::optional<ReportDescriptorInfo> ParseReportDescriptor(const std::uint8_t* data,
                                                          std::size_t length) {
  if (data == nullptr) length = 0;
  ReportDescriptorInfo info;
  Globals globals;
  std::vector<Globals> stack;
  // Bits per report, keyed by main tag and report ID.
  std::map<std::pair<std::uint8_t, std::uint32_t>, std::uint64_t> bits;
  std::uint32_t usage = 0;
  bool have_usage = false;
  bool usage_extended = false;  // a four-byte usage: page in the high half
  bool have_top_level = false;
  int depth = 0;

  std::size_t pos = 0;
  while (pos < length) {
    const std::uint8_t prefix = data[pos++];
    if (prefix == kLongItemPrefix) {
      // bDataSize, bLongItemTag, data: no long item tags are defined; skip it.
      if (length - pos < 2) return std::nullopt;
      const std::size_t size = data[pos];
      pos += 2;
      if (length - pos < size) return std::nullopt;
      pos += size;
      continue;
    }
    const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (length - pos < size) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
      value |= static_cast<std::uint32_t>(data[pos + i]) << (8 * i);
    pos += size;
    const std::uint8_t type = (prefix >> 2) & 3;
    const std::uint8_t tag = prefix >> 4;

    if (type == kMain) {
      if (tag == kInput || tag == kOutput || tag == kFeature) {
        bits[{tag, globals.report_id}] +=
            static_cast<std::uint64_t>(globals.report_size) * globals.report_count;
      } else if (tag == kCollection) {
        if (depth == 0 && !have_top_level) {
          have_top_level = true;
          info.UsagePage = static_cast<std::uint16_t>(
              have_usage && usage_extended ? usage >> 16 : globals.usage_page);
          info.Usage = static_cast<std::uint16_t>(have_usage ? usage & 0xFFFF : 0);
        }
        ++depth;
      } else if (tag == kEndCollection && depth > 0) {
        --depth;
      }
      have_usage = false;  // local items end with every main item
    } else if (type == kGlobal) {
      switch (tag) {
        case kUsagePage:
          globals.usage_page = value;
          break;
        case kReportSize:
          globals.report_size = value;
          break;
        case kReportId:
          globals.report_id = value;
          info.Numbered = true;
          break;
        case kReportCount:
          globals.report_count = value;
          break;
        case kPush:
          stack.push_back(globals);
          break;
        case kPop:
          if (!stack.empty()) {
            globals = stack.back();
            stack.pop_back();
          }
          break;
        default:
          break;
      }
    } else if (type == kLocal && tag == kUsage && !have_usage) {
      usage = value;
      have_usage = true;
      usage_extended = size == 4;
    }
  }

  // Largest report of each type in whole bytes, plus the report-ID byte.
  auto largest = [&](std::uint8_t tag) -> std::optional<std::uint16_t> {
    std::uint64_t bytes = 0;
    bool any = false;
    for (const auto& [key, count] : bits) {
      if (key.first != tag) continue;
      any = true;
      bytes = std::max(bytes, (count + 7) / 8);
    }
    if (!any) return std::uint16_t{0};
    if (bytes + 1 > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(bytes + 1);
  };
  const auto input = largest(kInput), output = largest(kOutput), feature = largest(kFeature);
  if (!input || !output || !feature) return std::nullopt;
  info.InputReportByteLength = *input;
  info.OutputReportByteLength = *output;
  info.FeatureReportByteLength = *feature;
  return info;
}

}  // namespace mvx
