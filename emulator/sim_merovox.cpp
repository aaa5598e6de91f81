#include "emulator/sim_merovox.h"

#include <cerrno>
#include <utility>

namespace mvx::emu {

SimMerovox::SimMerovox(SimBackend& sim, MerovoxDevice& device, std::string location)
    : sim_(sim), device_(device), location_(std::move(location)) {
  device_.SetHost(MerovoxDevice::Host::OfCradle(
      [this](const std::uint8_t* report, std::size_t length) {
        const int id = DeviceId();
        if (id >= 0) sim_.SendInput(id, report, length);
      },
      [this] { UnplugNow(); }, [this] { PlugNow(); }, OnBusChange));
}

SimMerovox::~SimMerovox() {
  device_.SetHost({});
  UnplugNow();
}

void SimMerovox::SetIn() {
  if (OnBus()) return;
  device_.Attached();
  PlugNow();
}

void SimMerovox::Remove() {
  device_.Removed();
  UnplugNow();
}

bool SimMerovox::OnBus() const {
  return DeviceId() >= 0;
}

int SimMerovox::DeviceId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return id_;
}

void SimMerovox::OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) {
  if (device_id == DeviceId()) device_.Receive(data, length);
}

std::uint32_t SimMerovox::WriteError(int device_id, const std::uint8_t* data, std::size_t length) {
  return device_id == DeviceId() && device_.RefusesWrite(data, length) ? EIO : 0;
}

void SimMerovox::PlugNow() {
  const DeviceIdentity identity = device_.Identity();
  SimDeviceConfig config;
  config.VendorID = identity.VendorId;
  config.ProductID = identity.ProductId;
  // The product string is ASCII text.
  config.ProductString.assign(identity.Product.begin(), identity.Product.end());
  config.InputReportByteLength = identity.InputReportLength;
  config.OutputReportByteLength = identity.OutputReportLength;
  config.Location = location_;
  std::lock_guard<std::mutex> lock(mutex_);
  if (id_ < 0) id_ = sim_.Plug(config, this);
}

void SimMerovox::UnplugNow() {
  int id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = id_;
    id_ = -1;
  }
  if (id >= 0) sim_.Unplug(id);
}

}  // namespace mvx::emu
