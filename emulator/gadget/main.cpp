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
#include <string>

#include "base/text.h"
#include "emulator/device_daemon.h"
#include "emulator/gadget/hidg_merovox.h"
#include "emulator/scheduler.h"

using namespace mvx::emu;

int main(int argc, char** argv) {
  DeviceDaemon daemon("mvx-gadget-device", "gadget");
  std::map<std::string, std::string> own{{"--udc", ""}, {"--name", ""}};
  if (!daemon.Start(argc, argv, own)) return 2;
  // Two devices on two controllers need two gadgets of their own.
  const std::string& udc = own["--udc"];
  if (own["--name"].empty()) own["--name"] = "mvx-" + (udc.empty() ? std::string("device") : udc);

  ThreadScheduler scheduler;
  MerovoxDevice device(daemon.Config, scheduler);
  HidgMerovox gadget(device);
  gadget.OnNote = daemon.Notes();
  std::string error;
  if (!gadget.Open("/sys/kernel/config", own["--name"], "Merovox", udc, &error))
    return daemon.Fail(error);
  gadget.SetIn();
  if (!gadget.OnBus()) return daemon.Fail("the gadget cannot be bound to its controller");

  daemon.WaitForStop();
  gadget.Remove();
  const HidgMerovox::Traffic t = gadget.Counts();
  daemon.PrintSummary(device, mvx::Format("outputs %llu inputs %llu binds %llu unbinds %llu",
                                          static_cast<unsigned long long>(t.Outputs),
                                          static_cast<unsigned long long>(t.Inputs),
                                          static_cast<unsigned long long>(t.Binds),
                                          static_cast<unsigned long long>(t.Unbinds)));
  return 0;
}
