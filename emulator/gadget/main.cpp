// mvx-gadget-device --udc NAME [OPTION VALUE]...: an emulated Merovox device
// set into a virtual cradle as a configfs f_hid USB gadget on the USB device
// controller NAME (one of /sys/class/udc), so that the host side of that
// controller finds a USB HID device on its port. It stays until SIGINT or
// SIGTERM, then takes the device out, removes the gadget and prints what the
// device received and holds.
//
//   --udc NAME            the USB device controller (default: the first)
//   --name NAME           the gadget's configfs name (default mvx-UDC)
//   the device's own options (emulator/device_options.h): --product,
//   --ids, --version, --version-after, --model, --detail, --language,
//   --serial, --serial-after, --latency, --backup, --install, --restart, --format
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
#include "emulator/gadget/hidg_merovox.h"
#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"

namespace {

using namespace mvx::emu;

struct Options {
  DeviceConfig Config;
  std::string Udc;
  std::string Name;
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
    if (name == "--udc")
      o.Udc = value;
    else if (name == "--name")
      o.Name = value;
    else if (!ApplyDeviceOption(name, value, o.Config))
      throw std::invalid_argument("unknown option " + name);
  }
  // Two devices on two controllers need two gadgets of their own.
  if (o.Name.empty()) o.Name = "mvx-" + (o.Udc.empty() ? std::string("device") : o.Udc);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "mvx-gadget-device: bad arguments (" << e.what() << ")\n";
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
    std::printf("%lld.%03lld gadget %.*s\n", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000), static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
  };

  ThreadScheduler scheduler;
  MerovoxDevice device(options.Config, scheduler);
  HidgMerovox gadget(device);
  if (!options.Quiet) gadget.OnNote = say;
  std::string error;
  if (!gadget.Open("/sys/kernel/config", options.Name, "Merovox", options.Udc, &error)) {
    std::cerr << "mvx-gadget-device: " << error << "\n";
    return 1;
  }
  gadget.SetIn();
  if (!gadget.OnBus()) {
    std::cerr << "mvx-gadget-device: the gadget cannot be bound to its controller\n";
    return 1;
  }

  int signal = 0;
  sigwait(&stop_signals, &signal);
  gadget.Remove();

  const HidgMerovox::Traffic traffic = gadget.Counts();
  const DeviceIdentity identity = device.Identity();
  std::lock_guard<std::mutex> lock(out_mutex);
  std::printf("commands %zu outputs %llu inputs %llu binds %llu unbinds %llu\n",
              device.Commands().size(), static_cast<unsigned long long>(traffic.Outputs),
              static_cast<unsigned long long>(traffic.Inputs),
              static_cast<unsigned long long>(traffic.Binds),
              static_cast<unsigned long long>(traffic.Unbinds));
  std::printf("version %s serial %s %s %s\n", identity.Version.c_str(), identity.Serial.Pcb.c_str(),
              identity.Serial.Bat.c_str(), identity.Serial.Serial.c_str());
  for (const auto& [name, file] : device.Files())
    std::printf("file %s %u %s\n", name.c_str(), file.Size(), file.Digest().c_str());
  return 0;
}
