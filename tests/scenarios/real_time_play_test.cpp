// The rules of a run on real time: when it may end before run_ms, the
// download's packet rate read from the log, and which devices a kernel path
// cannot present.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/scenario/cradle.h"
#include "tools/scenario/download_rate.h"
#include "tools/scenario/quiet_rule.h"

namespace mvx::scenario {
namespace {

TEST(QuietRule, LastLineAndLongestSilenceLeaveTheEndPictureOut) {
  const std::vector<std::string> lines = {"log a", "log b",       "device unit returns",
                                          "log c", "end state 1", "end progress 0/0"};
  // The end picture comes 60 s later, when run_ms is over: no silence of
  // the run's own.
  const std::vector<std::uint64_t> times = {100, 250, 3250, 3300, 60000, 60000};
  const QuietRule rule = QuietRuleOf(lines, times, 500);
  EXPECT_EQ(rule.LastLineMs, 3300u);
  EXPECT_EQ(rule.QuietMs, 3000u + 500u);
}

TEST(QuietRule, AClockThatGoesBackIsNoSilence) {
  const QuietRule rule = QuietRuleOf({"log a", "log b", "log c"}, {1000, 400, 1200}, 0);
  EXPECT_EQ(rule.LastLineMs, 1200u);
  EXPECT_EQ(rule.QuietMs, 1000u);
}

TEST(QuietRule, MayEndOnlyWhenEveryConditionHolds) {
  const QuietRule rule{5000, 2000};
  struct Case {
    const char* what;
    bool fired;
    std::uint64_t now;
    std::uint64_t last_line;
    bool may_end;
  };
  const Case cases[] = {
      {"all quiet", true, 9000, 6000, true},
      {"an event still to come", false, 9000, 6000, false},
      {"before the virtual run's last line", true, 4900, 1000, false},
      {"a line just came", true, 9000, 7500, false},
      {"silence exactly the quiet time", true, 8000, 6000, false},
      {"a line stamped after now", true, 9000, 9500, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MayEnd(rule, c.fired, c.now, c.last_line), c.may_end) << c.what;
}

TEST(DownloadRate, CountsTheDataPacketsOfTheLastDownloadThatEnded) {
  DownloadRate rate;
  EXPECT_EQ(rate.Summary(), "");
  rate.Line(">>FCPD stray", 10);  // before any start: not counted
  rate.Line(">>FCPS fw.tvu 5000", 100);
  rate.Line(">>FCPD", 110);
  rate.Line(">>FCPD", 120);
  EXPECT_EQ(rate.Summary(), "") << "no download has ended";
  // Taken out and set in again: the download starts over.
  rate.Line(">>FCPS fw.tvu 5000", 1000);
  for (int i = 0; i < 4; ++i) rate.Line(">>FCPD", 1100 + i);
  rate.Line("<<FCPR", 1150);
  rate.Line(">>Download : Done", 1500);
  EXPECT_EQ(rate.Summary(), "4 data packets in 0.500 s, 8 packets/s");
  rate.Line(">>ACPS next 10", 2000);
  EXPECT_EQ(rate.Summary(), "") << "a new download has not ended yet";
}

TEST(KernelDeviceRefusal, ReportLengthsEachPathCarries) {
  struct Case {
    KernelDevice kind;
    const char* relay;
    std::uint16_t input, output;
    bool refused;
    bool refused_elsewhere;  // outside Linux
  };
  const Case cases[] = {
      {KernelDevice::Uhid, "", 1025, 1025, false, true},
      {KernelDevice::Uhid, "127.0.0.1:1", 1025, 1025, false, false},
      {KernelDevice::Uhid, "", 4097, 65, false, true},
      {KernelDevice::Uhid, "127.0.0.1:1", 4098, 65, true, true},
      {KernelDevice::Uhid, "", 65, 1, true, true},
      {KernelDevice::Gadget, "", 1025, 1025, false, true},
      {KernelDevice::Gadget, "", 1025, 1026, true, true},
      {KernelDevice::Gadget, "", 1, 65, true, true},
  };
  for (const Case& c : cases) {
    emu::DeviceIdentity id;
    id.InputReportLength = c.input;
    id.OutputReportLength = c.output;
    const std::string why = KernelDeviceRefusal({c.kind, c.relay}, id);
#ifdef __linux__
    const bool refused = c.refused;
#else
    const bool refused = c.refused_elsewhere;
#endif
    EXPECT_EQ(!why.empty(), refused) << c.input << "/" << c.output << " " << c.relay << ": " << why;
  }
}

}  // namespace
}  // namespace mvx::scenario
