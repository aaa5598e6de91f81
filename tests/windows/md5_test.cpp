// MD5 through the system's CNG against the digests of RFC 1321's test suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "package/md5.h"

namespace mvx {
namespace {

struct Md5Case {
  const char* name;
  std::string input;
  const char* digest;
};

class CngMd5Test : public ::testing::TestWithParam<Md5Case> {};

TEST_P(CngMd5Test, WholeAndInPiecesGiveTheKnownDigest) {
  const Md5Case& c = GetParam();
  Md5 whole;
  whole.Update(c.input.data(), c.input.size());
  EXPECT_EQ(HexDigest(whole.Finish(), false), c.digest);

  // Pieces of uneven sizes, and empty ones between them.
  Md5 pieces;
  std::size_t at = 0;
  for (std::size_t size = 1; at < c.input.size(); size = size * 2 + 1) {
    const std::size_t part = std::min(size, c.input.size() - at);
    pieces.Update(c.input.data() + at, part);
    pieces.Update(c.input.data() + at, 0);
    at += part;
  }
  EXPECT_EQ(HexDigest(pieces.Finish(), false), c.digest);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc1321, CngMd5Test,
    ::testing::Values(
        Md5Case{"Empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        Md5Case{"A", "a", "0cc175b9c0f1b6a831c399e269772661"},
        Md5Case{"Abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        Md5Case{"MessageDigest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        Md5Case{"Alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        Md5Case{"AlphaNumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                "d174ab98d277d9f5a5611c2c9f419d9f"},
        Md5Case{"EightyDigits",
                "1234567890123456789012345678901234567890"
                "1234567890123456789012345678901234567890",
                "57edf4a22be3c955ac49da2e2107b67a"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace mvx
