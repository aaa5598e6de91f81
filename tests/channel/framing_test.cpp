// How input reports become responses: kinds, terminators, padding, binary
// packets kept whole, and the log line of each report.
#include <gtest/gtest.h>

#include "scripted/form_bench.h"

namespace mvx {
namespace {

std::string Padded(std::string text, std::size_t size = 64) {
  text.resize(size, '\0');
  return text;
}

struct FramingCase {
  const char* name;
  std::string report;
  std::string expected_text;
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, ResponseTextFollowsKindAndTerminator) {
  FormBench bench;
  bench.Respond(GetParam().report);
  EXPECT_TRUE(bench.Form.ResponseReceived);
  EXPECT_EQ(bench.Form.ResponseText, GetParam().expected_text);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, FramingTest,
    ::testing::Values(
        FramingCase{"OkCrLf", Padded("OK\r\n"), "OK"},
        FramingCase{"NgCrLf", Padded("NG\r\n"), "NG"},
        FramingCase{"OkWithValue", Padded("OK 201022\r\n"), "OK 201022"},
        FramingCase{"TextAfterTerminatorDropped", Padded("OK 1\r\nOK 2\r\n"), "OK 1"},
        FramingCase{"FilecmdLine", Padded("filecmd_job 8\n"), "filecmd_job 8"},
        FramingCase{"ActFinfoLine", Padded("act_finfo x\n"), "act_finfo x"},
        FramingCase{"BootLine", Padded("--boot done\n"), "--boot done"},
        // "OK" anywhere makes kind 1, also inside a filecmd line or a word.
        FramingCase{"OkInsideFilecmd", Padded("filecmd OK\n"),
                    Padded("filecmd OK\n").substr(0, 62)},
        FramingCase{"OkInsideWord", Padded("BOOKS\r\n"), "BOOKS"},
        // No terminator found: the last two (or one) bytes of the report go.
        FramingCase{"OkEndingInLfOnly", Padded("OK\n", 8), std::string("OK\n\0\0\0", 6)},
        FramingCase{"FilecmdWithoutLf", std::string("filecmd"), std::string("filecm")},
        // No keyword: every byte, padding included.
        FramingCase{"NoKeyword", Padded("Successfully erased", 24),
                    Padded("Successfully erased", 24)},
        FramingCase{"ShortOk", std::string("O"), std::string("O")},
        FramingCase{"EmptyReport", std::string(), std::string()}),
    [](const ::testing::TestParamInfo<FramingCase>& param_info) { return param_info.param.name; });

// A device packet whose bytes contain a terminator or a line keyword stays
// whole: cutting it would corrupt an uploaded file or a digest.
TEST(BinaryPacketTest, DevicePacketsAreNeverCut) {
  for (const char* keyword :
       {"FINS", "DELE", "ACPR", "FCPR", "GCMD", "UPLS", "UPLD", "UPLE", "UPLI"}) {
    std::string packet = std::string(keyword) + "\x08\0\0\0\0\0\0\0" + "ser OK\r\npcb NG\n";
    packet.resize(1024, '\0');
    FormBench bench;
    bench.Respond(packet);
    EXPECT_EQ(bench.Form.ResponseText, packet) << keyword;
  }
}

TEST(BinaryPacketTest, LowerCaseKeywordIsText) {
  FormBench bench;
  bench.Respond(Padded("gcmd OK\r\n"));
  EXPECT_EQ(bench.Form.ResponseText, "gcmd OK");
}

TEST(FramingLogTest, LogLineHasHexDumpAndPrintableText) {
  FormBench bench;
  bench.Respond(std::string("OK\r\n\0\0", 6));
  ASSERT_EQ(bench.ReceivedLines().size(), 1u);
  EXPECT_EQ(bench.ReceivedLines()[0], "4F,4B,0D,0A-OK");
}

TEST(FramingLogTest, UnprintableBytesShowAsUnderscore) {
  FormBench bench;
  bench.Respond(std::string("A\x01\xff", 3));
  EXPECT_EQ(bench.ReceivedLines().at(0), "41,01,FF-A__");
}

TEST(FramingTest2, EachReportReplacesTheLast) {
  FormBench bench;
  bench.Respond(Padded("OK first\r\n"));
  bench.Respond(Padded("NG\r\n"));
  EXPECT_EQ(bench.Form.ResponseText, "NG");
}

}  // namespace
}  // namespace mvx
