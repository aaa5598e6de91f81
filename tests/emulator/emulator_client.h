// A scripted client for the device model: it writes command lines as output
// reports and collects every input report with the virtual time it came at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"
#include "protocol/layouts.h"

namespace mvx::emu {

class EmulatorClient {
 public:
  struct Answer {
    std::uint64_t AtMs;
    std::string Bytes;  // after the report ID, padding included
    // The text up to its first NUL byte.
    std::string Text() const { return Bytes.substr(0, Bytes.find('\0')); }
    std::string Keyword() const { return Bytes.substr(0, 4); }
  };

  explicit EmulatorClient(DeviceConfig config) : device(std::move(config), scheduler) {
    MerovoxDevice::Host host;
    host.Input = [this](const std::uint8_t* report, std::size_t length) {
      reports.emplace_back(reinterpret_cast<const char*>(report), length);
      answers.push_back({scheduler.NowMs(), reports.back().substr(1)});
    };
    host.LeaveBus = [this] { events.push_back("leave@" + std::to_string(scheduler.NowMs())); };
    host.ReturnToBus = [this] { events.push_back("return@" + std::to_string(scheduler.NowMs())); };
    device.SetHost(host);
  }

  // Writes one output report: report ID 0, the line, zero fill.
  void Send(const std::string& line) {
    std::string report(device.Identity().OutputReportLength, '\0');
    report.replace(1, std::min(line.size(), report.size() - 1), line.substr(0, report.size() - 1));
    device.Receive(reinterpret_cast<const std::uint8_t*>(report.data()), report.size());
  }

  // Sends the line and runs the clock until the device is quiet; returns the
  // answers that came meanwhile.
  std::vector<Answer> Exchange(const std::string& line) {
    const std::size_t before = answers.size();
    Send(line);
    scheduler.RunUntilIdle();
    return {answers.begin() + static_cast<std::ptrdiff_t>(before), answers.end()};
  }

  ManualScheduler scheduler;
  MerovoxDevice device;
  std::vector<std::string> reports;  // whole input reports, report ID first
  std::vector<Answer> answers;
  std::vector<std::string> events;
};

inline std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

inline std::string UploadAck(std::uint32_t code, std::uint32_t status = 0) {
  return protocol::UploadAckPacket{code, status}.Write();
}

}  // namespace mvx::emu
