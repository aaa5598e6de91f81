// A Merovox device model on the simulated HID backend: setting it into the
// cradle plugs a simulated device with the model's identity, its answers go
// back as input reports, and its restart unplugs it and plugs it again.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "emulator/merovox_device.h"
#include "hid/sim/sim_backend.h"

namespace mvx::emu {

class SimMerovox : public ISimDeviceModel {
 public:
  // location: the USB port of the cradle, which every device set into it
  // reports.
  SimMerovox(SimBackend& sim, MerovoxDevice& device, std::string location = {});
  ~SimMerovox() override;
  SimMerovox(const SimMerovox&) = delete;
  SimMerovox& operator=(const SimMerovox&) = delete;

  // The operator sets the device into the cradle, or takes it out.
  void SetIn();
  void Remove();
  bool OnBus() const;
  int DeviceId() const;

  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override;
  std::uint32_t WriteError(int device_id, const std::uint8_t* data, std::size_t length) override;

  // Told, on the device's thread, just before the device leaves the bus or
  // comes back by itself (its restart, a removal fault); false is leaving.
  std::function<void(bool on_bus)> OnBusChange;

 private:
  void PlugNow();
  void UnplugNow();

  SimBackend& sim_;
  MerovoxDevice& device_;
  const std::string location_;
  mutable std::mutex mutex_;
  int id_ = -1;
};

}  // namespace mvx::emu
