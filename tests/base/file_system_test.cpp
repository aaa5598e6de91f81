// The file writer every part of the tool uses for files that must never be
// seen torn, and the byte-order codec of the packets and the package header.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "base/byte_order.h"
#include "base/file_system.h"
#include "base/hex.h"
#include "tests/base/temp_dir.h"

namespace mvx {
namespace {

std::size_t EntriesIn(const std::filesystem::path& folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(AtomicFileWriterTest, AnUncommittedWriteLeavesTheEarlierFileAndNoPartialOne) {
  ScopedWorkDir dir;
  ScopedWorkDir::Write("setting.ini", "earlier");
  {
    AtomicFileWriter writer("setting.ini");
    ASSERT_TRUE(writer.Ok()) << writer.Error().message();
    ASSERT_TRUE(writer.Write("half of the new", 15));
    EXPECT_EQ(EntriesIn(dir.Path()), 2u);  // the partial file sits beside it
  }
  EXPECT_EQ(ScopedWorkDir::Read("setting.ini"), "earlier");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(AtomicFileWriterTest, CommitReplacesAUtf8NamedFileWhole) {
  ScopedWorkDir dir;
  const std::string name = "更新データ.bin";
  ASSERT_FALSE(ReplaceFileContents(name, std::string("first\0content", 13)));
  ASSERT_FALSE(ReplaceFileContents(name, "second"));
  std::ifstream in(Utf8Path(name), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "second");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
  EXPECT_EQ(PathUtf8(Utf8Path(name)), name);
}

TEST(AtomicFileWriterTest, AFailedCommitSaysWhyAndLeavesNothingBehind) {
  ScopedWorkDir dir;
  std::filesystem::create_directory("TVINFO.INI");  // a folder where the file should go
  const std::error_code error = ReplaceFileContents("TVINFO.INI", "new");
  EXPECT_TRUE(error);
  EXPECT_TRUE(std::filesystem::is_directory("TVINFO.INI"));
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
  EXPECT_TRUE(ReplaceFileContents("missing/TVINFO.INI", "new"));
}

TEST(ByteOrderTest, FieldsRoundTripInBothOrders) {
  std::uint8_t bytes[4];
  StoreLE32(bytes, 0x12345678);
  EXPECT_EQ(HexText(std::string_view(reinterpret_cast<char*>(bytes), 4)), "78563412");
  EXPECT_EQ(LoadLE32(bytes), 0x12345678u);
  StoreBE32(bytes, 0x89ABCDEF);
  EXPECT_EQ(HexText(std::string_view(reinterpret_cast<char*>(bytes), 4), HexCase::Lower),
            "89abcdef");
  EXPECT_EQ(LoadBE32(bytes), 0x89ABCDEFu);
  EXPECT_EQ(LoadBE16(bytes + 2), 0xCDEFu);
  EXPECT_EQ(LoadLE16(bytes + 2), 0xEFCDu);
  EXPECT_EQ(HexDump(std::string_view("OK\r", 3)), "4F,4B,0D");
  // The dump's four-byte stores never leave a stray byte: empty, one byte,
  // every byte value, and after text already in the line.
  EXPECT_EQ(HexDump(""), "");
  EXPECT_EQ(HexDump(std::string_view("\0", 1)), "00");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string dump = HexDump(all);
  ASSERT_EQ(dump.size(), 256u * 3 - 1);
  for (int i = 0; i < 256; ++i) {
    std::string expected;
    AppendHexByte(expected, static_cast<unsigned char>(i));
    EXPECT_EQ(dump.substr(static_cast<std::size_t>(i) * 3, 2), expected);
    if (i < 255) {
      EXPECT_EQ(dump[static_cast<std::size_t>(i) * 3 + 2], ',');
    }
  }
  std::string line = "<<";
  AppendHexDump(line, "\xFF\x7F");
  EXPECT_EQ(line, "<<FF,7F");
}

}  // namespace
}  // namespace mvx
