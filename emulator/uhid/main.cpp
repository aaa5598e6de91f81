// mvx-uhid-device [OPTION VALUE]...: an emulated Merovox device set into a
// virtual cradle through /dev/uhid. It stays until SIGINT or SIGTERM, then
// takes the device out and prints what the device received and holds.
//
//   the device's own options (emulator/device_options.h): --product,
//   --ids, --version, --version-after, --model, --detail, --language,
//   --serial, --serial-after, --latency, --backup, --install, --restart, --format
//   --node PATH           the uhid node (default /dev/uhid)
//   --quiet               print only the closing summary
#include <string>

#include "base/text.h"
#include "emulator/device_daemon.h"
#include "emulator/scheduler.h"
#include "emulator/uhid/uhid_merovox.h"

using namespace mvx::emu;

int main(int argc, char** argv) {
  DeviceDaemon daemon("mvx-uhid-device", "uhid");
  std::map<std::string, std::string> own{{"--node", "/dev/uhid"}};
  if (!daemon.Start(argc, argv, own)) return 2;

  ThreadScheduler scheduler;
  MerovoxDevice device(daemon.Config, scheduler);
  UhidMerovox uhid(device);
  uhid.OnNote = daemon.Notes();
  std::string error;
  if (!uhid.Open(own["--node"], &error)) return daemon.Fail(error);
  uhid.SetIn();
  if (!uhid.OnBus()) return daemon.Fail("the kernel refused the device");

  daemon.WaitForStop();
  uhid.Remove();
  const UhidMerovox::Traffic t = uhid.Counts();
  daemon.PrintSummary(device, mvx::Format("outputs %llu inputs %llu creates %llu destroys %llu",
                                          static_cast<unsigned long long>(t.Outputs),
                                          static_cast<unsigned long long>(t.Inputs),
                                          static_cast<unsigned long long>(t.Creates),
                                          static_cast<unsigned long long>(t.Destroys)));
  return 0;
}
