// mvx-uhid-device [OPTION VALUE]...: an emulated Merovox device set into a
// virtual cradle through /dev/uhid. It stays until SIGINT or SIGTERM, then
// takes the device out and prints what the device received and holds.
//
//   the device's own options (emulator/device_options.h): --product,
//   --ids, --version, --version-after, --model, --detail, --language,
//   --serial, --serial-after, --latency, --backup, --install, --restart, --format
//   --node PATH           the uhid node (default /dev/uhid)
//   --quiet               print only the closing summary
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/device_options.h"
#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"
#include "emulator/uhid/uhid_merovox.h"

namespace {

using namespace mvx::emu;

struct Options {
  DeviceConfig Config;
  std::string Node = "/dev/uhid";
  bool Quiet = false;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--quiet") {
      o.Quiet = true;
      continue;
    }
    if (i + 1 >= argc) throw std::invalid_argument(name + " needs a value");
    const std::string value = argv[++i];
    if (name == "--node")
      o.Node = value;
    else if (!ApplyDeviceOption(name, value, o.Config))
      throw std::invalid_argument("unknown option " + name);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "mvx-uhid-device: bad arguments (" << e.what() << ")\n";
    return 2;
  }

  // The signals are taken by sigwait below, never by a handler, so every
  // thread started from here on blocks them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const auto start = std::chrono::steady_clock::now();
  std::mutex out_mutex;
  auto say = [&](std::string_view text) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::lock_guard<std::mutex> lock(out_mutex);
    std::printf("%lld.%03lld uhid %.*s\n", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000), static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
  };

  ThreadScheduler scheduler;
  MerovoxDevice device(options.Config, scheduler);
  UhidMerovox uhid(device);
  if (!options.Quiet) uhid.OnNote = say;
  std::string error;
  if (!uhid.Open(options.Node, &error)) {
    std::cerr << "mvx-uhid-device: " << error << "\n";
    return 1;
  }
  uhid.SetIn();
  if (!uhid.OnBus()) {
    std::cerr << "mvx-uhid-device: the kernel refused the device\n";
    return 1;
  }

  int signal = 0;
  sigwait(&stop_signals, &signal);
  uhid.Remove();

  const UhidMerovox::Traffic traffic = uhid.Counts();
  const DeviceIdentity identity = device.Identity();
  std::lock_guard<std::mutex> lock(out_mutex);
  std::printf("commands %zu outputs %llu inputs %llu creates %llu destroys %llu\n",
              device.Commands().size(), static_cast<unsigned long long>(traffic.Outputs),
              static_cast<unsigned long long>(traffic.Inputs),
              static_cast<unsigned long long>(traffic.Creates),
              static_cast<unsigned long long>(traffic.Destroys));
  std::printf("version %s serial %s %s %s\n", identity.Version.c_str(), identity.Serial.Pcb.c_str(),
              identity.Serial.Bat.c_str(), identity.Serial.Serial.c_str());
  for (const auto& [name, file] : device.Files())
    std::printf("file %s %u %s\n", name.c_str(), file.Size(), file.Digest().c_str());
  return 0;
}
