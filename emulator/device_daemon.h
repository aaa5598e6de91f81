// What the programs that set one emulated device into a kernel cradle share
// (mvx-uhid-device, mvx-gadget-device): their command line, the run until
// SIGINT or SIGTERM, the notes with their times and the closing summary.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "emulator/device_config.h"
#include "emulator/merovox_device.h"

namespace mvx::emu {

class DeviceDaemon {
 public:
  // program names the messages, tag the notes ("uhid", "gadget").
  DeviceDaemon(std::string program, std::string tag)
      : program_(std::move(program)), tag_(std::move(tag)) {}

  // Reads --quiet, the device options (emulator/device_options.h) and the
  // program's own options, whose names own lists with their defaults; false
  // after printing what is wrong. From then on SIGINT and SIGTERM are kept
  // for WaitForStop: every thread started later blocks them.
  bool Start(int argc, char** argv, std::map<std::string, std::string>& own);

  DeviceConfig Config;
  bool Quiet = false;

  // Prints "seconds.millis TAG text", for the adapter's notes (none when
  // quiet).
  std::function<void(std::string_view)> Notes();
  // An error line on standard error; returns 1, the status to end with.
  int Fail(const std::string& text) const;
  void WaitForStop();
  // What the device received and holds, after the traffic line.
  void PrintSummary(const MerovoxDevice& device, const std::string& traffic);

 private:
  std::string program_, tag_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex out_mutex_;
};

}  // namespace mvx::emu
