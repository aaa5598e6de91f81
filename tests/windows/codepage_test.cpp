// Code page 932 through the system's tables: package file names with Japanese
// text go to the device as Shift-JIS, and the device's texts come back.
#include "base/codepage.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

struct Cp932Case {
  const char* name;
  std::string utf8;
  std::string cp932;
};

class Cp932Test : public ::testing::TestWithParam<Cp932Case> {};

TEST_P(Cp932Test, ConvertsBothWays) {
  const Cp932Case& c = GetParam();
  std::string out = "stale";
  ASSERT_TRUE(Utf8ToCp932(c.utf8, out));
  EXPECT_EQ(out, c.cp932);
  EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    FileNames, Cp932Test,
    ::testing::Values(
        Cp932Case{"Ascii", "fw_v1.77.tvu", "fw_v1.77.tvu"},
        Cp932Case{"Katakana", "ファームウェア更新.tvu",
                  "\x83\x74\x83\x40\x81\x5B\x83\x80\x83\x45\x83\x46\x83\x41\x8D\x58\x90\x56.tvu"},
        // The second byte of 表 is the backslash's code.
        Cp932Case{"TrailByteIsBackslash", "表示", "\x95\x5C\x8E\xA6"},
        // 932's own mappings: the circled digit is an NEC extension, and the
        // wave dash of the device's texts is the full-width tilde.
        Cp932Case{"VendorExtensions", "①～", "\x87\x40\x81\x60"}, Cp932Case{"Empty", "", ""}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(Cp932Test, TextWithoutA932CodeIsRefused) {
  std::string out = "stale";
  EXPECT_FALSE(Utf8ToCp932("update_한국어.tvu", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(Utf8ToCp932("\xFF\xFE not UTF-8", out));
}

TEST(Cp932Test, IbmExtensionsReadBackAndRoundTrip) {
  EXPECT_EQ(Cp932ToUtf8("\xFB\xFC"), "髙");
  std::string out;
  ASSERT_TRUE(Utf8ToCp932("髙橋.tvu", out));
  EXPECT_EQ(Cp932ToUtf8(out), "髙橋.tvu");
}

TEST(Cp932Test, BadBytesBecomeOneReplacementEach) {
  // A lead byte cut off at the end, and a lead byte followed by a byte that
  // cannot follow it.
  EXPECT_EQ(Cp932ToUtf8("OK\x83"), "OK\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8("\x81\x20NG"), "\xEF\xBF\xBD NG");
}

TEST(Cp932Test, WideProductStringsBecomeUtf8) {
  EXPECT_EQ(Utf16ToUtf8(u"Merovox クレードル"), "Merovox クレードル");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace mvx
