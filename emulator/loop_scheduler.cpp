#include "emulator/loop_scheduler.h"

namespace mvx::emu {

void LoopScheduler::After(std::uint32_t delay_ms, std::function<void()> call) {
  pending_.remove_if([](const std::shared_ptr<Pending>& p) { return p->Done; });
  auto pending = std::make_shared<Pending>();
  std::weak_ptr<Pending> weak = pending;
  pending->Timer = loop_.CreateTimer([weak, call = std::move(call)] {
    const auto p = weak.lock();
    if (!p || p->Done) return;
    p->Done = true;
    p->Timer->Stop();
    call();
  });
  pending->Timer->Start(delay_ms);
  pending_.push_back(std::move(pending));
}

}  // namespace mvx::emu
