// Identification against simulated devices through the real HID classes and
// channel: answers that arrive back to back, and a device swapped while the
// operator is being asked.
#include <gtest/gtest.h>

#include <map>

#include "hid/sim/sim_backend.h"
#include "scripted/form_bench.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

// Answers each command line that begins with a key with the reports given,
// sent one right after the other.
class AnsweringDevice : public ISimDeviceModel {
 public:
  explicit AnsweringDevice(SimBackend& sim) : sim_(sim) {}
  std::map<std::string, std::vector<std::string>> Answers;
  std::vector<std::string> Commands;

  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override {
    std::string command(reinterpret_cast<const char*>(data) + 1, length - 1);
    command.resize(command.find('\0') == std::string::npos ? command.size() : command.find('\0'));
    Commands.push_back(command);
    for (const auto& [key, reports] : Answers) {
      if (command.rfind(key, 0) != 0) continue;
      for (const std::string& text : reports) {
        const std::string report = std::string(1, '\0') + text + "\r\n";
        sim_.SendInput(device_id, reinterpret_cast<const std::uint8_t*>(report.data()),
                       report.size());
      }
    }
  }

 private:
  SimBackend& sim_;
};

class DeviceRunTest : public ::testing::Test {
 protected:
  DeviceRunTest() {
    form.PackagePath = form.PackageFileName = "x.tvu";
    form.UpdateTypeCode = "201";
    form.UpdateVersionNumber = "030";
    first.Answers = {{"RTC SET", {"OK"}}, {"VER", {"OK 1.0"}}, {"GSER", {"OK 0 0 ABCDE01234"}}};
    second.Answers = first.Answers;
  }

  FormBench bench{FormBench::Devices::Simulated};
  TForm1& form = bench.Form;
  SimBackend& sim = *bench.Sim;
  AnsweringDevice first{sim}, second{sim};
};

// The device answers "VER" and, ahead of the question, "GSER" at once: both
// answers reach their steps although no timer period passes between them.
TEST_F(DeviceRunTest, BackToBackAnswersBothReachTheirSteps) {
  first.Answers["VER"] = {"OK 1.0", "OK 0 0 ABCDE01234"};
  first.Answers.erase("GSER");
  bench.Operator.Answers = {"OK"};
  sim.Plug(SimDeviceConfig{}, &first);
  bench.Loop.RunFor(20);
  EXPECT_EQ(first.Commands,
            (std::vector<std::string>{"RTC SET 818413200", "VER", "GSER", "FINS x.tvu"}));
  EXPECT_EQ(form.CurrentVersion, "1.0");
  EXPECT_EQ(form.LabelSerialNumber.Caption(), "ABCDE01234");
  EXPECT_EQ(form.SequencerState, state::FileInfoReply);
}

// Removed and set again while the confirmation is open: the answer was for the
// device that left; the one that came is identified from the start and gets
// nothing it was not asked for.
TEST_F(DeviceRunTest, DeviceSwappedDuringConfirmationStartsOver) {
  int id = 0;
  // The first box swaps the device and is answered OK; the second, for the
  // new device, is cancelled.
  bench.Operator.Answers = {"OK", "Cancel"};
  bench.Operator.WhileOpen = [&](const ScriptedOperator::Record&) {
    if (!second.Commands.empty()) return;
    sim.Unplug(id);
    bench.Loop.RunFor(5);
    sim.Plug(SimDeviceConfig{}, &second);
    bench.Loop.RunFor(5);
  };
  id = sim.Plug(SimDeviceConfig{}, &first);
  bench.Loop.RunFor(40);
  const std::vector<std::string> asked{"VER", "GSER"};
  ASSERT_EQ(first.Commands.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(first.Commands.begin() + 1, first.Commands.end()), asked);
  ASSERT_EQ(second.Commands.size(), 3u);
  EXPECT_EQ(second.Commands[0].rfind("RTC SET ", 0), 0u);
  EXPECT_EQ(std::vector<std::string>(second.Commands.begin() + 1, second.Commands.end()), asked);
  EXPECT_EQ(bench.Operator.Records.size(), 2u);
  EXPECT_EQ(form.SequencerState, state::Closing);
  EXPECT_EQ(form.Label1.Caption(), kRemovePrompt);
}

}  // namespace
}  // namespace mvx
