// The HID report-descriptor parser on any descriptor a device may present.
//
// Properties: items that carry no report data (a Push, an End Collection, a
// long item) appended at the end change nothing; one more Input, Output or
// Feature main item appended at the end never makes its report type shorter,
// it either grows it or makes the descriptor unusable (a report too long for
// 16 bits); since reports only grow item by item, every shorter descriptor
// that ends between two items of an accepted one is accepted too, with
// reports no longer than the whole one's; a descriptor cut inside an item is
// refused.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hid/report_descriptor.h"

namespace {

using Info = std::optional<mvx::ReportDescriptorInfo>;

Info Parse(const std::vector<std::uint8_t>& bytes) {
  return mvx::ParseReportDescriptor(bytes.data(), bytes.size());
}

bool Same(const Info& a, const Info& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  return a->InputReportByteLength == b->InputReportByteLength &&
         a->OutputReportByteLength == b->OutputReportByteLength &&
         a->FeatureReportByteLength == b->FeatureReportByteLength && a->Numbered == b->Numbered &&
         a->UsagePage == b->UsagePage && a->Usage == b->Usage;
}

std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes,
                               std::initializer_list<std::uint8_t> suffix) {
  bytes.insert(bytes.end(), suffix);
  return bytes;
}

// Where each item ends: a short item is its prefix and 0, 1, 2 or 4 data
// bytes; a long item (prefix 0xFE) its prefix, size, tag and data.
std::vector<std::size_t> ItemEnds(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::size_t> ends;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::uint8_t prefix = bytes[pos];
    if (prefix == 0xFE)
      pos += pos + 1 < bytes.size() ? 3 + bytes[pos + 1] : 3;
    else
      pos += 1 + ((prefix & 3) == 3 ? 4 : (prefix & 3));
    if (pos <= bytes.size()) ends.push_back(pos);
  }
  return ends;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> descriptor(data, data + size);
  const Info info = Parse(descriptor);
  MVX_FUZZ_CHECK(Same(info, mvx::ParseReportDescriptor(data, size)));
  if (!info) return 0;

  MVX_FUZZ_CHECK(Same(info, Parse(With(descriptor, {0xA4}))));        // Push
  MVX_FUZZ_CHECK(Same(info, Parse(With(descriptor, {0xC0}))));        // End Collection
  MVX_FUZZ_CHECK(Same(info, Parse(With(descriptor, {0xFE, 0, 0}))));  // an empty long item

  // Input, Output, Feature with data value 2 (Data, Variable, Absolute).
  const Info input = Parse(With(descriptor, {0x81, 0x02}));
  if (input) MVX_FUZZ_CHECK(input->InputReportByteLength >= info->InputReportByteLength);
  const Info output = Parse(With(descriptor, {0x91, 0x02}));
  if (output) MVX_FUZZ_CHECK(output->OutputReportByteLength >= info->OutputReportByteLength);
  const Info feature = Parse(With(descriptor, {0xB1, 0x02}));
  if (feature) MVX_FUZZ_CHECK(feature->FeatureReportByteLength >= info->FeatureReportByteLength);

  const std::vector<std::size_t> ends = ItemEnds(descriptor);
  MVX_FUZZ_CHECK(ends.empty() || ends.back() == descriptor.size());
  // At most 64 of the item boundaries, spread over the descriptor.
  const std::size_t step = ends.size() / 64 + 1;
  for (std::size_t i = 0; i < ends.size(); i += step) {
    const std::vector<std::uint8_t> prefix(descriptor.begin(),
                                           descriptor.begin() + static_cast<long>(ends[i]));
    const Info shorter = Parse(prefix);
    MVX_FUZZ_CHECK(shorter.has_value());
    MVX_FUZZ_CHECK(shorter->InputReportByteLength <= info->InputReportByteLength);
    MVX_FUZZ_CHECK(shorter->OutputReportByteLength <= info->OutputReportByteLength);
    MVX_FUZZ_CHECK(shorter->FeatureReportByteLength <= info->FeatureReportByteLength);
    if (ends[i] > 0 && ends[i] < descriptor.size()) {
      // Cut one byte into the next item when that item has data.
      const std::size_t next = i + 1 < ends.size() ? ends[i + 1] : descriptor.size();
      if (next - ends[i] > 1) {
        std::vector<std::uint8_t> cut(descriptor.begin(),
                                      descriptor.begin() + static_cast<long>(ends[i] + 1));
        MVX_FUZZ_CHECK(!Parse(cut).has_value());
      }
    }
  }

  // A four-byte item whose data is cut short.
  MVX_FUZZ_CHECK(!Parse(With(descriptor, {0x97, 0x01})).has_value());
  return 0;
}
