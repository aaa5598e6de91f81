// The device model behind the simulated backend, seen by the real channel.
#include "emulator/sim_merovox.h"

#include <gtest/gtest.h>

#include "emulator/loop_scheduler.h"
#include "protocol/layouts.h"
#include "scripted/form_bench.h"

namespace mvx::emu {
namespace {

class SimMerovoxTest : public ::testing::Test {
 protected:
  static DeviceConfig Config() {
    DeviceConfig c;
    c.Identity.Product = "Merovox TV004";
    c.Identity.Version = "201026";
    c.Identity.VersionAfterInstall = "201041";
    c.Files["fw.tvu"].Content = "image";
    return c;
  }
  void SetUp() override {
    // Every line as written: a connect clears the log right after its line.
    listening =
        bench.Form.Memo1.Listen({[this](std::string_view line) {
                                   lines.push_back(FormBench::WithoutStamp(std::string(line)));
                                 },
                                 nullptr});
  }
  void Run(std::uint64_t ms) { bench.Loop.RunFor(ms); }
  bool LogHas(const std::string& note) const {
    return std::find(lines.begin(), lines.end(), "  " + note) != lines.end();
  }

  FormBench bench{FormBench::Devices::Simulated};
  LoopScheduler scheduler{bench.Loop};
  MerovoxDevice device{Config(), scheduler};
  SimMerovox adapter{*bench.Sim, device};
  std::vector<std::string> lines;
  TMemo::Subscription listening;
};

TEST_F(SimMerovoxTest, AnswersReachTheChannelAfterTheLatency) {
  adapter.SetIn();
  Run(10);
  ASSERT_TRUE(bench.Form.DeviceReady);
  EXPECT_TRUE(LogHas("Connect device : Merovox TV004"));
  bench.Form.SendCommand("VER");
  Run(4);
  EXPECT_FALSE(bench.Form.ResponseReceived);
  Run(1);
  EXPECT_TRUE(bench.Form.ResponseReceived);
  EXPECT_EQ(bench.Form.ResponseText, "OK 201026");
}

TEST_F(SimMerovoxTest, InstallRestartsAsUnplugThenPlugWithTheNewVersion) {
  adapter.SetIn();
  Run(10);
  bench.Form.SendCommand(protocol::GcmdCommandPacket{protocol::kGcmdInstall, 0, "fw.tvu"}.Write());
  bench.Form.CloseDevice();
  bench.Form.SequencerState = 14;
  Run(600);
  EXPECT_FALSE(adapter.OnBus());
  Run(3000);
  ASSERT_TRUE(adapter.OnBus());
  EXPECT_EQ(bench.Form.SequencerState, 16);
  EXPECT_TRUE(bench.Form.DeviceReady);
  bench.Form.SendCommand("VER");
  Run(10);
  EXPECT_EQ(bench.Form.ResponseText, "OK 201041");
}

TEST_F(SimMerovoxTest, RemovalIsADisconnectAndAnswersOnTheirWayAreLost) {
  adapter.SetIn();
  Run(10);
  bench.Form.SendCommand("VER");
  adapter.Remove();
  Run(20);
  EXPECT_FALSE(bench.Form.ResponseReceived);
  EXPECT_EQ(bench.Form.CurrentDevice, nullptr);
  EXPECT_TRUE(LogHas("Disconnect device."));
  adapter.SetIn();
  Run(10);
  EXPECT_TRUE(bench.Form.DeviceReady);
}

}  // namespace
}  // namespace mvx::emu
