// Code page 932 at the edges: package names to the device, device texts back.
#include <gtest/gtest.h>

#include "base/codepage.h"

namespace mvx {
namespace {

TEST(CodePageTest, Utf8ToCp932) {
  struct Case {
    std::string utf8;
    bool ok;
    std::string cp932;
  } cases[] = {
      {"update.tvu", true, "update.tvu"},
      {"テスト~\\.tvu", true, "\x83\x65\x83\x58\x83\x67~\\.tvu"},
      {"更新①.tvu", true, "\x8d\x58\x90\x56\x87\x40.tvu"},  // a vendor extension
      {"\xef\xbd\xb1", true, "\xb1"},                       // half-width katakana
      {"fw\xf0\x9f\x98\x80.tvu", false, ""},                // an emoji
      {"\xe2\x82\xac", false, ""},                          // the euro sign
      {"bad\xff", false, ""},                               // not UTF-8 at all
      {"", true, ""},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(Utf8ToCp932(c.utf8, out), c.ok) << c.utf8;
    if (c.ok) {
      EXPECT_EQ(out, c.cp932) << c.utf8;
    }
  }
}

TEST(CodePageTest, Cp932ToUtf8ReplacesWhatIsNotCp932) {
  EXPECT_EQ(Cp932ToUtf8("\x83\x65\x83\x58\x83\x67 OK"), "テスト OK");
  // A lead byte without its trail byte, at the end and in the middle.
  EXPECT_EQ(Cp932ToUtf8("OK\x83"), "OK\xEF\xBF\xBD");
  EXPECT_EQ(Cp932ToUtf8("A\x81\x20"
                        "B"),
            "A\xEF\xBF\xBD B");
  EXPECT_EQ(Cp932ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePageTest, Utf16ToUtf8) {
  EXPECT_EQ(Utf16ToUtf8(u"Merovox"), "Merovox");
  EXPECT_EQ(Utf16ToUtf8(u"クレードル"), "クレードル");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace mvx
