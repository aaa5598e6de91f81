#include "app/console/demo_units.h"

#include "base/text.h"

namespace mvx::cli {

DemoUnits::DemoUnits(IEventLoop& loop, SimBackend& hid, std::string location,
                     std::string version_after)
    : scheduler_(loop),
      hid_(hid),
      location_(std::move(location)),
      version_after_(std::move(version_after)) {}

DemoUnits::~DemoUnits() {
  cradle_.reset();
  device_.reset();
}

void DemoUnits::SetNextIn(std::uint32_t delay_ms) {
  scheduler_.After(delay_ms, [this] {
    TakeOut();
    cradle_.reset();
    device_.reset();
    ++number_;
    emu::DeviceConfig config;
    config.Identity.Version = "201033";
    config.Identity.VersionAfterInstall = version_after_;
    config.Identity.Serial.Serial = Format("TV04%08d", number_);
    config.Identity.Serial.Pcb = Format("PCB%09d", number_);
    config.Identity.Serial.Bat = Format("BAT%09d", number_);
    config.Timing.LatencyMs = 1;
    config.Timing.RestartMs = 2000;
    device_ = std::make_unique<emu::MerovoxDevice>(config, scheduler_);
    cradle_ = std::make_unique<emu::SimMerovox>(hid_, *device_, location_);
    cradle_->SetIn();
  });
}

void DemoUnits::TakeOut() {
  if (cradle_ && cradle_->OnBus()) cradle_->Remove();
}

}  // namespace mvx::cli
