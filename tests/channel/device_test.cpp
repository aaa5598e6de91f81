// The channel with devices: which device is chosen, what connect and
// disconnect do to the run, what goes out in a report, and write failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>

#include "hid/hid_device.h"
#include "hid/sim/sim_backend.h"
#include "scripted/form_bench.h"

namespace mvx {
namespace {

class RecordingModel : public ISimDeviceModel {
 public:
  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    writes.push_back({device_id, std::string(reinterpret_cast<const char*>(data), length)});
  }
  struct Write {
    int device;
    std::string report;
  };
  std::mutex mutex;
  std::vector<Write> writes;
};

class ChannelTest : public ::testing::Test {
 protected:
  void Run(std::uint64_t ms = 5) { bench.Loop.RunFor(ms); }

  int Plug(std::uint16_t vid, std::uint16_t pid, std::u16string name = u"Merovox") {
    SimDeviceConfig config;
    config.VendorID = vid;
    config.ProductID = pid;
    config.ProductString = std::move(name);
    return sim.Plug(config, &model);
  }

  RecordingModel model;
  FormBench bench{FormBench::Devices::Simulated};
  SimBackend& sim = *bench.Sim;
};

TEST_F(ChannelTest, FirstScanWithoutDeviceChangesNothingButLogs) {
  Run();
  EXPECT_EQ(bench.Form.CurrentDevice, nullptr);
  EXPECT_FALSE(bench.Form.DeviceReady);
  EXPECT_EQ(bench.NoteLines(), std::vector<std::string>{"device change."});
}

TEST_F(ChannelTest, ConnectClaimsDeviceAndStartsRunOnlyWithPackage) {
  Plug(0x5E3A, 0x0051, u"Merovox TV");
  Run();
  ASSERT_NE(bench.Form.CurrentDevice, nullptr);
  EXPECT_TRUE(bench.Form.DeviceReady);
  EXPECT_EQ(bench.Form.SequencerState, 2);
  EXPECT_FALSE(bench.Form.Timer1.Enabled());  // no package yet
  EXPECT_EQ(bench.Form.LabelSerialNumber.Caption(), "------------");
}

TEST_F(ChannelTest, PairOneIsPreferredWhateverTheListOrder) {
  Plug(0x4B9D, 0x6A02);
  Plug(0x4B9D, 0x6A00);
  const int preferred = Plug(0x5E3A, 0x0051);
  Run();
  ASSERT_NE(bench.Form.CurrentDevice, nullptr);
  EXPECT_EQ(bench.Form.CurrentDevice->PnPInfo().Instance, sim.InstanceOf(preferred));
}

TEST_F(ChannelTest, UnacceptedDeviceIsNotClaimed) {
  Plug(0x5E3A, 0x0052);
  Plug(0x1234, 0x0051);
  Run();
  EXPECT_EQ(bench.Form.CurrentDevice, nullptr);
  EXPECT_FALSE(bench.Form.DeviceReady);
}

TEST_F(ChannelTest, CommandGoesOutAsOneFullLengthReport) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  bench.Form.ResponseReceived = true;
  EXPECT_TRUE(bench.Form.WriteCommand("VER"));
  EXPECT_FALSE(bench.Form.ResponseReceived);
  ASSERT_EQ(model.writes.size(), 1u);
  EXPECT_EQ(model.writes[0].device, id);
  std::string expected("\0VER", 4);
  expected.resize(1025, '\0');
  EXPECT_EQ(model.writes[0].report, expected);
}

TEST_F(ChannelTest, InputReportBecomesResponse) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  const std::string report("\0OK 201022\r\n", 12);
  sim.SendInput(id, reinterpret_cast<const std::uint8_t*>(report.data()), report.size());
  Run();
  EXPECT_TRUE(bench.Form.ResponseReceived);
  EXPECT_EQ(bench.Form.ResponseText, "OK 201022");
}

TEST_F(ChannelTest, WriteFailureLogsSystemMessageAndCode) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  sim.SetWriteError(id, EIO);
  EXPECT_FALSE(bench.Form.WriteCommand("VER"));
  const auto notes = bench.NoteLines();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.back(), "WRITE1_ERROR," + sim.ErrorMessage(EIO) + " (5)");
}

TEST_F(ChannelTest, DisconnectReleasesAndStopsTimerButKeepsState) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  bench.Form.PackagePath = "/tmp/x.tvu";
  bench.Form.SequencerState = 9;
  bench.Form.Timer1.SetEnabled(true);
  sim.Unplug(id);
  Run();
  EXPECT_EQ(bench.Form.CurrentDevice, nullptr);
  EXPECT_FALSE(bench.Form.Timer1.Enabled());
  EXPECT_EQ(bench.Form.SequencerState, 9);
  EXPECT_EQ(bench.NoteLines().back(), "Disconnect device.");
}

TEST_F(ChannelTest, ReconnectDuringRestartWaitResumesWithoutClearingLog) {
  Plug(0x5E3A, 0x0051);
  Run();
  bench.Form.PackagePath = "/tmp/x.tvu";
  bench.Form.CloseDevice();
  bench.Form.SequencerState = 14;
  bench.Form.Timer2.SetEnabled(true);
  bench.Form.LogNote("before restart");
  // The device comes back as a new interface.
  sim.Unplug(1);
  Plug(0x5E3A, 0x0051);
  Run();
  // 16 at the arrival; its step asks for the new version on the next tick.
  EXPECT_EQ(bench.Form.SequencerState, 21);
  EXPECT_EQ(bench.SentLines().back(), "VER");
  EXPECT_FALSE(bench.Form.Timer2.Enabled());
  EXPECT_TRUE(bench.Form.Timer1.Enabled());
  const auto notes = bench.NoteLines();
  EXPECT_NE(std::find(notes.begin(), notes.end(), "before restart"), notes.end());
}

TEST_F(ChannelTest, ConnectOutsideRestartWaitClearsLogAndStartsAtTwo) {
  bench.Form.SequencerState = 21;
  bench.Form.LogNote("old run");
  Plug(0x5E3A, 0x0051);
  Run();
  EXPECT_EQ(bench.Form.SequencerState, 2);
  for (const auto& line : bench.LogLines()) EXPECT_EQ(line.find("old run"), std::string::npos);
}

TEST_F(ChannelTest, RemovalInClosingStateReturnsToIdleWithPrompt) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  bench.Form.PackagePath = "/tmp/x.tvu";
  bench.Form.CloseDevice();
  bench.Form.SequencerState = 99;
  bench.Form.ProgressBar1.SetPosition(40);
  sim.Unplug(id);
  Run();
  EXPECT_EQ(bench.Form.SequencerState, 1);
  EXPECT_EQ(bench.Form.ProgressBar1.Position(), 0);
  EXPECT_EQ(bench.Form.Label1.Caption(), kCradlePrompt);
}

// A keyboard plugged in mid-run must not stall the run or reset what the
// steps read back.
TEST_F(ChannelTest, UnrelatedDeviceLeavesTheRunAlone) {
  Plug(0x5E3A, 0x0051);
  Run();
  bench.Form.SequencerState = 9;
  bench.Form.LabelSerialNumber.SetCaption("TV04123456");
  bench.Form.FormatAttempts = 3;
  const int keyboard = Plug(0x046D, 0xC31C, u"Keyboard");
  Run();
  EXPECT_TRUE(bench.Form.DeviceReady);
  EXPECT_EQ(bench.Form.SequencerState, 9);
  EXPECT_EQ(bench.Form.LabelSerialNumber.Caption(), "TV04123456");
  EXPECT_EQ(bench.Form.FormatAttempts, 3);
  EXPECT_EQ(bench.NoteLines().back(), "device change.");
  sim.Unplug(keyboard);
  Run();
  EXPECT_TRUE(bench.Form.DeviceReady);
  EXPECT_EQ(bench.Form.SequencerState, 9);
}

TEST_F(ChannelTest, DataDeliveredWhileTimerRunsQueuesATick) {
  const int id = Plug(0x5E3A, 0x0051);
  Run();
  int ticks = 0;
  bench.Form.Timer1.SetOnTimer([&] { ++ticks; });
  bench.Form.Timer1.SetInterval(100000);  // the period alone would not tick
  bench.Form.Timer1.SetEnabled(true);
  const std::string report("\0OK\r\n", 5);
  sim.SendInput(id, reinterpret_cast<const std::uint8_t*>(report.data()), report.size());
  Run(1);
  EXPECT_TRUE(bench.Form.ResponseReceived);
  EXPECT_EQ(ticks, 1);
  bench.Form.Timer1.ClearOnTimer();  // detached, as while a step holds a box open
  sim.SendInput(id, reinterpret_cast<const std::uint8_t*>(report.data()), report.size());
  Run(1);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace mvx
