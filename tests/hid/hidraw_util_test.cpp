// The hidraw backend's pure parts: identity from udev's texts, reports brought
// to the delivery contract, product strings.
#include "hid/linux/hidraw_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace mvx::hidraw {
namespace {

using ::testing::ElementsAre;

struct IdCase {
  const char* text;
  bool sysname;  // the sysfs name form rather than HID_ID
  bool valid;
  std::uint16_t bus = 0, vendor = 0, product = 0;
};

TEST(HidrawUtilTest, IdentityFromHidIdAndSysfsName) {
  const IdCase cases[] = {
      {"0003:00005E3A:00000051", false, true, 3, 0x5E3A, 0x0051},
      {"0005:00004b9d:00006A02", false, true, 5, 0x4B9D, 0x6A02},
      {"0003:00015E3A:00000051", false, false},  // vendor beyond 16 bits
      {"0003:00005E3A", false, false},
      {"0003:00005E3A:0000005G", false, false},
      {"0003::00000051", false, false},
      {"", false, false},
      {"0003:5E3A:0051.000B", true, true, 3, 0x5E3A, 0x0051},
      {"0018:4B9D:6A00.1A2B3", true, true, 0x18, 0x4B9D, 0x6A00},  // past four digits
      {"0003:5E3A:0051", true, false},
      {"0003:5E3A:0051.", true, false},
      {"0003:5E3A:0051.00X1", true, false},
      {"0003:5E3A0:0051.0001", true, false},
  };
  for (const IdCase& c : cases) {
    const auto id = c.sysname ? ParseHidSysname(c.text) : ParseHidId(c.text);
    ASSERT_EQ(id.has_value(), c.valid) << c.text;
    if (!id) continue;
    EXPECT_EQ(id->Bus, c.bus) << c.text;
    EXPECT_EQ(id->VendorID, c.vendor) << c.text;
    EXPECT_EQ(id->ProductID, c.product) << c.text;
  }
  EXPECT_EQ(ParseHex16("0100\n"), 0x0100);
  EXPECT_EQ(ParseHex16("2a"), 0x2A);
  EXPECT_FALSE(ParseHex16("12345"));
  EXPECT_FALSE(ParseHex16(""));
}

TEST(HidrawUtilTest, UnnumberedReportsGetIdZeroAndEveryReportIsPadded) {
  const std::uint8_t raw[] = {'O', 'K', 0x7F};
  std::vector<std::uint8_t> out(6, 0xEE);
  EXPECT_EQ(NormaliseInputReport(false, raw, 3, out.data(), out.size()), 6u);
  EXPECT_THAT(out, ElementsAre(0, 'O', 'K', 0x7F, 0, 0));

  const std::uint8_t numbered[] = {0x02, 'N', 'G'};
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(NormaliseInputReport(true, numbered, 3, out.data(), out.size()), 6u);
  EXPECT_THAT(out, ElementsAre(2, 'N', 'G', 0, 0, 0));

  // A report longer than the input length is cut, never written past it.
  const std::uint8_t long_report[] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<std::uint8_t> small(5, 0xEE);
  small.push_back(0xAB);  // guard byte beyond the length given
  EXPECT_EQ(NormaliseInputReport(false, long_report, 8, small.data(), 5), 5u);
  EXPECT_THAT(small, ElementsAre(0, 1, 2, 3, 4, 0xAB));
  EXPECT_EQ(NormaliseInputReport(true, long_report, 8, small.data(), 5), 5u);
  EXPECT_THAT(small, ElementsAre(1, 2, 3, 4, 5, 0xAB));

  EXPECT_EQ(NormaliseInputReport(true, raw, 3, out.data(), 0), 0u);
  EXPECT_EQ(NormaliseInputReport(false, nullptr, 0, out.data(), 2), 2u);
  EXPECT_THAT(std::vector<std::uint8_t>(out.begin(), out.begin() + 2), ElementsAre(0, 0));
}

TEST(HidrawUtilTest, ProductStringsFromUtf8) {
  EXPECT_EQ(Utf8ToUtf16("Merovox TV-7\n"), u"Merovox TV-7");
  EXPECT_EQ(Utf8ToUtf16("メロボックス"), u"メロボックス");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x93\xBA"), u"\U0001F4FA");  // a surrogate pair
  EXPECT_EQ(Utf8ToUtf16("A\xFF"
                        "B"),
            u"A\uFFFDB");
  EXPECT_EQ(Utf8ToUtf16("A\xE3\x83"), u"A\uFFFD");      // cut short at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong lead byte
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");    // an encoded surrogate
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

struct PortCase {
  const char* name;
  std::string usb_device, phys;
  std::string location;
};

TEST(HidrawUtilTest, PortIsTheUsbDeviceElseThePhysicalPath) {
  const std::string longest(kMaxNameText, 'p');
  const PortCase cases[] = {
      {"usb device", "1-2.3", "usb-0000:00:14.0-2.3/input0", "1-2.3"},
      {"usb device with newline", "3-1\n", "", "3-1"},
      {"uhid phys", "", "mvx-cradle-2", "mvx-cradle-2"},
      {"bluetooth adapter", "", "00:1a:7d:da:71:13", "00:1a:7d:da:71:13"},
      {"neither", "", "", ""},
      {"blank phys", "", " \n", ""},
      {"garbled usb name falls back", std::string("1-2\x01", 4), "phys-a", "phys-a"},
      {"control byte in phys", "", std::string("ph\0ys", 5), ""},
      {"delete in phys", "", "ph\x7Fys", ""},
      {"longest phys", "", longest, longest},
      {"over-long phys", "", longest + "q", ""},
      {"over-long usb name falls back", longest + "1", "phys-b", "phys-b"},
  };
  for (const PortCase& c : cases)
    EXPECT_EQ(PortLocation(c.usb_device, c.phys), c.location) << c.name;
  EXPECT_EQ(NameText("  SN-0042\n"), "SN-0042");
  EXPECT_EQ(NameText("メロボックス"), "メロボックス");
  EXPECT_EQ(NameText("SN\t42"), "");
}

}  // namespace
}  // namespace mvx::hidraw
