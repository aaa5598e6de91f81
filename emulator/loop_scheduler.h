// The device model's time from the GUI thread's message loop: each delay is a
// one-shot platform timer. On the virtual loop the device's answers then come
// in virtual time, ordered with the tool's own timers.
#pragma once

#include <list>
#include <memory>

#include "base/platform.h"
#include "emulator/scheduler.h"

namespace mvx::emu {

class LoopScheduler : public IScheduler {
 public:
  explicit LoopScheduler(IEventLoop& loop) : loop_(loop) {}
  // Loop thread only.
  void After(std::uint32_t delay_ms, std::function<void()> call) override;

 private:
  struct Pending {
    std::unique_ptr<ITimerSource> Timer;
    bool Done = false;
  };
  IEventLoop& loop_;
  // A fired timer is destroyed later, never inside its own handler.
  std::list<std::shared_ptr<Pending>> pending_;
};

}  // namespace mvx::emu
