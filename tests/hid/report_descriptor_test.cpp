// Report lengths from report descriptors shaped like real devices'.
#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace mvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A vendor-defined application collection around the given items.
Bytes Vendor(const Bytes& items) {
  return Cat({{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08},
              items,
              {0xC0}});
}

// Report Count n, Usage 1, then Input (0x81), Output (0x91) or Feature (0xB1).
Bytes Field(std::uint8_t main_prefix, std::uint16_t count) {
  return {0x96,
          static_cast<std::uint8_t>(count),
          static_cast<std::uint8_t>(count >> 8),
          0x09,
          0x01,
          main_prefix,
          0x02};
}
Bytes Id(std::uint8_t id) {
  return {0x85, id};
}

constexpr std::uint8_t kIn = 0x81, kOut = 0x91, kFeat = 0xB1;

struct Case {
  const char* name;
  Bytes descriptor;
  std::uint16_t input, output, feature;
  bool numbered;
  std::uint16_t usage_page = 0xFF00, usage = 0x0001;
};

class ReportDescriptorTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReportDescriptorTest, GivesTheLargestReportsPlusTheIdByte) {
  const Case& c = GetParam();
  const auto info = ParseReportDescriptor(c.descriptor.data(), c.descriptor.size());
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->InputReportByteLength, c.input);
  EXPECT_EQ(info->OutputReportByteLength, c.output);
  EXPECT_EQ(info->FeatureReportByteLength, c.feature);
  EXPECT_EQ(info->Numbered, c.numbered);
  EXPECT_EQ(info->UsagePage, c.usage_page);
  EXPECT_EQ(info->Usage, c.usage);
}

const Case kCases[] = {
    {"Vendor64", Vendor(Cat({Field(kIn, 64), Field(kOut, 64)})), 65, 65, 0, false},
    {"Vendor1024", Vendor(Cat({Field(kIn, 1024), Field(kOut, 1024)})), 1025, 1025, 0, false},
    {"Vendor64WithReportId", Vendor(Cat({Id(1), Field(kIn, 64), Field(kOut, 64)})), 65, 65, 0,
     true},
    {"Vendor1024WithReportId", Vendor(Cat({Id(2), Field(kIn, 1024), Field(kOut, 1024)})), 1025,
     1025, 0, true},
    {"SeveralReportIds",
     Vendor(Cat({Id(1), Field(kIn, 8), Id(2), Field(kIn, 63), Field(kOut, 4), Id(3),
                 Field(kOut, 32), Id(4), Field(kFeat, 255)})),
     64, 33, 256, true},
    // Fields of one ID add up, wherever they sit in the descriptor.
    {"OneIdSpreadOut",
     Vendor(Cat({Id(1), Field(kIn, 10), Id(2), Field(kIn, 20), Id(1), Field(kIn, 30)})), 41, 0, 0,
     true},
    {"LongItems",
     Cat({{0xFE, 0x03, 0xF0, 0x81, 0x02, 0x00},
          Vendor(Cat({Field(kIn, 64), {0xFE, 0x00, 0xF1}, Field(kOut, 64)}))}),
     65, 65, 0, false},
    // The boot keyboard: bit fields and constant padding.
    {"BootKeyboard",
     {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15,
      0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08,
      0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91,
      0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00,
      0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0},
     9,
     2,
     0,
     false,
     0x0001,
     0x0006},
    // Twelve bits round up to two bytes.
    {"PartialByte", Vendor({0x75, 0x04, 0x95, 0x03, 0x09, 0x01, 0x81, 0x02}), 3, 0, 0, false},
    {"PushPop",
     Vendor({0xA4, 0x75, 0x10, 0x95, 0x04, 0x09, 0x01, 0x81, 0x02, 0xB4, 0x95, 0x02, 0x09, 0x01,
             0x81, 0x02}),
     11, 0, 0, false},
    {"ExtendedUsage",
     {0x0B, 0x01, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02, 0xC0},
     17,
     0,
     0,
     false},
    {"Empty", {}, 0, 0, 0, false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Descriptors, ReportDescriptorTest, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ReportDescriptorErrorTest, RejectsTruncatedItemsAndOversizedReports) {
  const Bytes good = Vendor(Cat({Field(kIn, 64), Field(kOut, 64)}));
  // Every prefix either is rejected (cut inside an item) or gives what the
  // items before the cut declare; none reads past its end.
  int rejected = 0;
  for (std::size_t cut = 1; cut < good.size(); ++cut) {
    const auto info = ParseReportDescriptor(good.data(), cut);
    if (!info) {
      ++rejected;
    } else {
      EXPECT_LE(info->InputReportByteLength, 65) << cut;
    }
  }
  EXPECT_GT(rejected, 0);
  const Bytes cut_in_data = {0x06, 0x00};  // Usage Page with one of its two bytes
  EXPECT_FALSE(ParseReportDescriptor(cut_in_data.data(), cut_in_data.size()));
  const Bytes cut_long = {0xFE, 0x05, 0x00, 0xAA};
  EXPECT_FALSE(ParseReportDescriptor(cut_long.data(), cut_long.size()));
  const Bytes cut_long_header = {0xFE, 0x05};
  EXPECT_FALSE(ParseReportDescriptor(cut_long_header.data(), cut_long_header.size()));
  const Bytes too_big = Vendor(Cat({Field(kIn, 0xFFFF), Field(kIn, 0xFFFF)}));
  EXPECT_FALSE(ParseReportDescriptor(too_big.data(), too_big.size()));
  const Bytes largest = Vendor(Field(kIn, 0xFFFE));
  const auto info = ParseReportDescriptor(largest.data(), largest.size());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->InputReportByteLength, 0xFFFF);
  EXPECT_FALSE(ParseReportDescriptor(nullptr, 5).value().Numbered);
}

}  // namespace
}  // namespace mvx
