// A main window holding a simulated device whose output reports are recorded,
// run in a fresh working directory. The steps are called directly; responses
// are set as the channel would leave them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "base/ini_profile.h"
#include "hid/sim/sim_backend.h"
#include "package/package_check.h"
#include "protocol/packet.h"
#include "scripted/scripted_operator.h"
#include "scripted/virtual_loop.h"

namespace mvx::testing_ops {

// Records every command line the device receives (report ID removed; the
// report's zero fill stays).
class RecordingModel : public ISimDeviceModel {
 public:
  void OnOutputReport(int, const std::uint8_t* data, std::size_t length) override {
    if (length > 0) Reports.emplace_back(reinterpret_cast<const char*>(data) + 1, length - 1);
  }
  std::vector<std::string> Reports;
};

class OpsTest : public ::testing::Test {
 protected:
  OpsTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("mvx_ops_" + name);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);

    SimDeviceConfig config;
    config.InputReportByteLength = 1025;
    config.OutputReportByteLength = 1025;
    device_ = Sim.Plug(config, &Model);
    Loop.RunPending();  // the controller's first scan claims the device
    EXPECT_TRUE(Form.DeviceReady);
    Form.PackageFileName = "fw.tvu";
  }

  ~OpsTest() override {
    Form.FirmwareImage.reset();
    std::filesystem::current_path(old_dir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // The channel's state after a response arrived.
  void Respond(const std::string& bytes) {
    Form.ResponseText = bytes;
    Form.ResponseReceived = true;
  }

  // Writes an image of the given size (a repeating pattern) and opens it as
  // the loaded package's firmware image.
  std::string MakeImage(std::int64_t size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>((i * 7 + i / 1016) & 0xFF);
    std::ofstream(kFirmwareFile, std::ios::binary).write(bytes.data(), size);
    std::string error;
    Form.FirmwareImage = TFileStream::OpenRead(kFirmwareFile, &error);
    EXPECT_TRUE(Form.FirmwareImage) << error;
    return bytes;
  }

  static std::string Ack(const char* keyword, std::int32_t code, std::int32_t status) {
    return protocol::PacketWriter()
        .Keyword(keyword)
        .U32LE(static_cast<std::uint32_t>(code))
        .U32LE(static_cast<std::uint32_t>(status))
        .PadTo(1024)
        .Take();
  }

  // Lines of the log without the time stamp, marker kept ("<<", ">>", "  ").
  std::vector<std::string> Log() const {
    std::vector<std::string> out;
    for (const std::string& line : Recorded.Lines().Copy())
      out.push_back(line.size() >= 22 ? line.substr(22) : line);
    return out;
  }
  // Log lines from index from on.
  std::vector<std::string> LogFrom(std::size_t from) const {
    const auto all = Log();
    return from < all.size() ? std::vector<std::string>(all.begin() + from, all.end())
                             : std::vector<std::string>{};
  }
  std::size_t LogSize() const { return Recorded.Lines().Count(); }

  // The last command line the device received, cut to length bytes.
  std::string LastSent(std::size_t length) const {
    EXPECT_FALSE(Model.Reports.empty());
    return Model.Reports.empty() ? std::string() : Model.Reports.back().substr(0, length);
  }
  std::size_t SentCount() const { return Model.Reports.size(); }

  VirtualLoop Loop;
  ScriptedOperator Operator;
  IniProfile Settings;
  SimBackend Sim{Loop};
  RecordingModel Model;
  TForm1 Form{FormServices{Operator, Loop, Loop, Settings, Sim}};
  MemoRecorder Recorded{Form.Memo1};

 private:
  std::filesystem::path dir_, old_dir_;
  int device_ = 0;
};

}  // namespace mvx::testing_ops
