#include "emulator/device_daemon.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "emulator/device_options.h"

namespace mvx::emu {
namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

bool DeviceDaemon::Start(int argc, char** argv, std::map<std::string, std::string>& own) {
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string name = argv[i];
      if (name == "--quiet") {
        Quiet = true;
        continue;
      }
      if (i + 1 >= argc) throw std::invalid_argument(name + " needs a value");
      const std::string value = argv[++i];
      if (own.count(name) != 0)
        own[name] = value;
      else if (!ApplyDeviceOption(name, value, Config))
        throw std::invalid_argument("unknown option " + name);
    }
  } catch (const std::exception& e) {
    std::cerr << program_ << ": bad arguments (" << e.what() << ")\n";
    return false;
  }
  // The signals are taken by sigwait, never by a handler.
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return true;
}

std::function<void(std::string_view)> DeviceDaemon::Notes() {
  if (Quiet) return nullptr;
  return [this](std::string_view text) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    std::lock_guard<std::mutex> lock(out_mutex_);
    std::printf("%lld.%03lld %s %.*s\n", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000), tag_.c_str(), static_cast<int>(text.size()),
                text.data());
    std::fflush(stdout);
  };
}

int DeviceDaemon::Fail(const std::string& text) const {
  std::cerr << program_ << ": " << text << "\n";
  return 1;
}

void DeviceDaemon::WaitForStop() {
  const sigset_t signals = StopSignals();
  int signal = 0;
  sigwait(&signals, &signal);
}

void DeviceDaemon::PrintSummary(const MerovoxDevice& device, const std::string& traffic) {
  const DeviceIdentity identity = device.Identity();
  std::lock_guard<std::mutex> lock(out_mutex_);
  std::printf("commands %zu %s\n", device.Commands().size(), traffic.c_str());
  std::printf("version %s serial %s %s %s\n", identity.Version.c_str(), identity.Serial.Pcb.c_str(),
              identity.Serial.Bat.c_str(), identity.Serial.Serial.c_str());
  for (const auto& [name, file] : device.Files())
    std::printf("file %s %u %s\n", name.c_str(), file.Size(), file.Digest().c_str());
  std::fflush(stdout);
}

}  // namespace mvx::emu
