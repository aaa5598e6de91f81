#include "base/timer.h"

namespace mvx {

TTimer::TTimer(IEventLoop& loop, unsigned interval_ms)
    : source_(loop.CreateTimer([this] { Fire(); })), interval_(interval_ms) {}

void TTimer::SetInterval(unsigned ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) {
    // Enabling a running timer changes nothing, except that it wakes up.
    if (enabled) Unpark();
    return;
  }
  enabled_ = enabled;
  Update();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
  on_timer_ = std::move(handler);
  Update();
}

void TTimer::Park() {
  if (!running_ || parked_) return;
  parked_ = true;
  source_->Stop();
}

void TTimer::Unpark() {
  if (!parked_) return;
  parked_ = false;
  if (running_) source_->Start(interval_);
}

void TTimer::Update() {
  parked_ = false;
  source_->Stop();
  running_ = enabled_ && interval_ != 0 && on_timer_;
  if (running_) source_->Start(interval_);
}

void TTimer::Fire() {
  if (!running_ || !on_timer_) return;
  // Hold a copy: the handler may detach itself while it runs.
  auto handler = on_timer_;
  handler();
}

}  // namespace mvx
