// Where a scenario's device meets the tool: the cradle it is set into and
// taken out of. On the simulated backend the model plugs a simulated device;
// on a real kernel it becomes a kernel HID device, behind /dev/uhid or as a
// USB gadget, that the platform's backend finds as it would find the real one.
// The uhid events may go through mvx-uhid-relay on a Linux machine, so that
// the Windows backend under wine meets a kernel device too.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "emulator/merovox_device.h"

namespace mvx::scenario {

class Cradle {
 public:
  virtual ~Cradle() = default;
  virtual void SetIn() = 0;
  virtual void Remove() = 0;
  virtual bool OnBus() const = 0;
  // What went over the kernel's side, one line for standard error; empty
  // where nothing is counted.
  virtual std::string Traffic() const { return {}; }
};

enum class KernelDevice { Uhid, Gadget };

// Told on the device's thread just before the device leaves the bus or comes
// back by itself (its restart, a removal fault); false is leaving.
using BusChange = std::function<void(bool on_bus)>;

// Where the kernel device is made: on this machine, or (uhid only) through
// the relay at "HOST:PORT".
struct KernelPath {
  KernelDevice Kind = KernelDevice::Uhid;
  std::string Relay;
};

// Why the model cannot be a kernel device on that path here (its report
// lengths beyond what the kernel carries, Linux missing); empty when it can.
std::string KernelDeviceRefusal(const KernelPath& path, const emu::DeviceIdentity& identity);

// The model as a kernel device on that path, named name (the gadget's
// configfs folder is "mvx-NAME"); not on the bus until SetIn. Raises
// ScenarioSkipped when the device cannot be made here (no /dev/uhid, no
// relay, no configfs or UDC).
std::unique_ptr<Cradle> MakeKernelCradle(const KernelPath& path, emu::MerovoxDevice& model,
                                         const std::string& name, BusChange on_bus_change);

}  // namespace mvx::scenario
