// Command lines: the FILEINFO rewrite, what is logged, packing of numbers.
#include <gtest/gtest.h>

#include "scripted/form_bench.h"

namespace mvx {
namespace {

TEST(PackInt32Test, LeastSignificantByteFirst) {
  EXPECT_EQ(PackInt32(4097), std::string("\x01\x10\x00\x00", 4));
  EXPECT_EQ(PackInt32(0), std::string(4, '\0'));
  EXPECT_EQ(PackInt32(-1), std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ(PackInt32(0x12345678), std::string("\x78\x56\x34\x12", 4));
}

struct RewriteCase {
  std::string command;
  std::string sent;  // as logged; empty: nothing sent
};

TEST(SendCommandTest, FileInfoBecomesFins) {
  const std::string long_name(60, 'n');
  const RewriteCase cases[] = {
      {"FILEINFO update.tvu", "FINS update.tvu"},
      {"fileinfo update.tvu", "FINS update.tvu"},
      {"FileInfo x", "FINS x"},
      // Up to 46 characters from the 9th: the blank and 45 of the name.
      {"FILEINFO " + long_name, "FINS " + long_name.substr(0, 45)},
      {"VER", "VER"},
      {"FILEINF", "FILEINF"},
  };
  for (const auto& c : cases) {
    FormBench bench;
    bench.Form.SendCommand(c.command);
    ASSERT_EQ(bench.SentLines().size(), 1u) << c.command;
    EXPECT_EQ(bench.SentLines()[0], c.sent) << c.command;
  }
}

TEST(SendCommandTest, FileInfoWithoutNameLogsErrorAndSendsNothing) {
  FormBench bench;
  bench.Form.SendCommand("FILEINFO");
  ASSERT_EQ(bench.SentLines().size(), 1u);
  EXPECT_EQ(bench.SentLines()[0], "Error : Filename is not specified.");
  EXPECT_EQ(bench.Form.OutputBuffer[1], 0);
}

TEST(WriteCommandTest, WithoutDeviceLogsAndKeepsResponseFlag) {
  FormBench bench;
  bench.Form.ResponseReceived = true;
  EXPECT_FALSE(bench.Form.WriteCommand("GSER"));
  EXPECT_TRUE(bench.Form.ResponseReceived);
  EXPECT_EQ(bench.SentLines(), std::vector<std::string>{"GSER"});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bench.Form.OutputBuffer.data()), 5),
            std::string("\0GSER", 5));
}

TEST(WriteCommandTest, BinaryPacketLogShowsBytesBeforeFirstNul) {
  FormBench bench;
  bench.Form.WriteCommand("ACPS" + PackInt32(1000) + PackInt32(1) + "fw.tvu");
  // 1000 = E8 03 00 00: the text stops at the first zero, and the trailing
  // control character 03 is trimmed like any other.
  EXPECT_EQ(bench.SentLines().at(0), "ACPS\xE8");
}

TEST(WriteCommandTest, LongCommandFillsBufferWithoutOverrun) {
  FormBench bench;
  bench.Form.WriteCommand(std::string(3000, 'x'));
  EXPECT_EQ(bench.Form.OutputBuffer[0], 0);
  EXPECT_EQ(bench.Form.OutputBuffer[2048], 'x');
}

}  // namespace
}  // namespace mvx
