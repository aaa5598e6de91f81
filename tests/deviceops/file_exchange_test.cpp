// The device file exchange rules that need no window.
#include "deviceops/file_exchange.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "protocol/packet.h"

namespace mvx::deviceops {
namespace {

using namespace std::literals;

struct PlanCase {
  std::int64_t size;
  std::int32_t data_packets;
  std::int32_t packet_count;
  std::int64_t end_bytes;
};

class DownloadPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(DownloadPlanTest, SplitsTheImageIntoDataPacketsAndOneEndPacket) {
  const PlanCase c = GetParam();
  const DownloadPlan plan = PlanDownload(c.size);
  EXPECT_EQ(plan.DataPackets, c.data_packets);
  EXPECT_EQ(plan.PacketCount, c.packet_count);
  EXPECT_EQ(plan.EndBytes, c.end_bytes);
  // Every byte travels exactly once.
  EXPECT_EQ(std::int64_t{std::max(plan.DataPackets, 0)} * std::int64_t{protocol::kBlockSize} +
                plan.EndBytes,
            c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadPlanTest,
    ::testing::Values(PlanCase{0, -1, 0, 0}, PlanCase{1, 0, 1, 1}, PlanCase{1000, 0, 1, 1000},
                      PlanCase{1015, 0, 1, 1015}, PlanCase{1016, 0, 1, 1016},
                      PlanCase{1017, 1, 2, 1}, PlanCase{2032, 1, 2, 1016}, PlanCase{2033, 2, 3, 1},
                      // 3 MiB = 3096 * 1016 + 192
                      PlanCase{3 * 1024 * 1024, 3096, 3097, 192},
                      // 4 MiB rounded up to whole blocks: the last full block ends it
                      PlanCase{4128 * 1016, 4127, 4128, 1016}));

TEST(SerialAnswerTest, SplitsItemsAndFlagsShortAnswers) {
  struct Case {
    const char* answer;
    const char* pcb;
    const char* bat;
    const char* serial;
    bool complete;
  } cases[] = {
      {"OK PCB1 BAT2 TV0412345678", "PCB1", "BAT2", "TV0412345678", true},
      {"OK  PCB1 \t BAT2\r\nTV05X extra", "PCB1", "BAT2", "TV05X", true},
      {"OK PCB1 BAT2", "PCB1", "BAT2", "", false},
      {"OK PCB1", "PCB1", "", "", false},
      // Only "OK " with its blank is removed.
      {"OK", "OK", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    const SerialInfo info = ParseSerialAnswer(c.answer);
    EXPECT_EQ(info.Pcb, c.pcb);
    EXPECT_EQ(info.Bat, c.bat);
    EXPECT_EQ(info.Serial, c.serial);
    EXPECT_EQ(info.Complete, c.complete);
  }
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(InfoFileTest, ItemParsing) {
  struct Case {
    const char* name;
    std::string file;
    const char* ser;
    const char* pcb;
    const char* bat;
    int found;
  } cases[] = {
      {"all three, mixed line ends", "[TVINFO]\r\nser TV0400000001\npcb P-77\rbat B9\r\n",
       "TV0400000001", "P-77", "B9", 3},
      {"second ser line wins", "ser AAA\r\npcb P\r\nser BBB\r\nbat never\r\n", "BBB", "P", "", 3},
      {"missing item", "ser S1\r\nbat B1\r\n", "S1", "", "B1", 2},
      {"keyword anywhere in the line", "xxser S2ser \r\n", "xxS2", "", "", 1},
      {"matching is case-sensitive", "SER S\r\nPCB P\r\nBAT B\r\n", "", "", "", 0},
      {"stops at NUL", "ser S\r\npcb P\r\n\0bat B\r\n"s, "S", "P", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const InfoItems items = ParseInfoFile(Bytes(c.file));
    EXPECT_EQ(items.Ser, c.ser);
    EXPECT_EQ(items.Pcb, c.pcb);
    EXPECT_EQ(items.Bat, c.bat);
    EXPECT_EQ(items.Found, c.found);
  }
}

TEST(InfoFileTest, ParsesOnlyTheFirst1025Bytes) {
  std::string file = "pcb P\r\nbat B\r\n";
  file += std::string(kInfoParseLimit - file.size() - 6, '#') + "\r\n";
  file += "ser TV0499";  // crosses the limit: only "ser " lies inside
  const InfoItems items = ParseInfoFile(Bytes(file));
  EXPECT_EQ(items.Found, 3);
  EXPECT_EQ(items.Ser, "");
  EXPECT_EQ(items.Pcb, "P");
}

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("mvx_replace_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

TEST_F(ReplaceFileTest, ReplacesContentAndLeavesNoTemporary) {
  const std::string path = (dir_ / "TVINFO.INI").string();
  std::string error;
  ASSERT_TRUE(ReplaceFile(path, Bytes("old content that is longer"), error)) << error;
  ASSERT_TRUE(ReplaceFile(path, Bytes(std::string("new\0x", 5)), error)) << error;
  EXPECT_EQ(Read(path), std::string("new\0x", 5));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(ReplaceFileTest, FailuresSayWhyAndLeaveNoTemporary) {
  std::string error;
  // A folder where the file should go: the rename fails.
  std::filesystem::create_directory(dir_ / "TVINFO.INI");
  EXPECT_FALSE(ReplaceFile((dir_ / "TVINFO.INI").string(), Bytes("new"), error));
  EXPECT_NE(error.find("TVINFO.INI"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "TVINFO.INI"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  // A folder that does not exist: the temporary file cannot be created.
  error.clear();
  EXPECT_FALSE(ReplaceFile((dir_ / "missing" / "TVINFO.INI").string(), Bytes("new"), error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace mvx::deviceops
