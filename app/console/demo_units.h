// --demo: emulated Merovox units set into a simulated cradle one after
// another, each taken out when its version-up has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/platform.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"

namespace mvx::cli {

class DemoUnits {
 public:
  // Units of version "201033" that take version_after when installed, in
  // the cradle at location.
  DemoUnits(IEventLoop& loop, SimBackend& hid, std::string location, std::string version_after);
  ~DemoUnits();
  // The next unit, with a serial number of its own, is set in after delay_ms.
  void SetNextIn(std::uint32_t delay_ms);
  // The unit in the cradle is taken out.
  void TakeOut();

 private:
  emu::LoopScheduler scheduler_;
  SimBackend& hid_;
  std::string location_;
  std::string version_after_;
  int number_ = 0;
  std::unique_ptr<emu::MerovoxDevice> device_;
  std::unique_ptr<emu::SimMerovox> cradle_;
};

}  // namespace mvx::cli
