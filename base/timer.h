// A component timer: an interval, an enabled flag, a handler and a Tag. The
// platform timer runs only while the timer is enabled, its interval is not 0
// and a handler is attached; any change restarts the period.
#pragma once

#include <functional>
#include <memory>

#include "base/platform.h"

namespace mvx {

class TTimer {
 public:
  TTimer(IEventLoop& loop, unsigned interval_ms);
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool HasHandler() const { return static_cast<bool>(on_timer_); }
  void SetOnTimer(std::function<void()> handler);
  void ClearOnTimer() { SetOnTimer(nullptr); }
  // One tick now, as the platform timer would give it: runs the handler only
  // while the timer runs (enabled, an interval, a handler attached).
  void FireNow() { Fire(); }
  // The owner knows that ticks would change nothing until something else
  // happens: the platform timer sleeps while the timer stays enabled, until
  // Unpark() or any change to the timer. Saves the idle wake-ups of a short
  // interval.
  void Park();
  void Unpark();
  bool Parked() const { return parked_; }

  // Free for the owner; the sequencer keeps its last logged state here.
  int Tag = 0;

 private:
  void Update();
  void Fire();

  std::unique_ptr<ITimerSource> source_;
  unsigned interval_;
  bool enabled_ = false;
  bool running_ = false;
  bool parked_ = false;
  std::function<void()> on_timer_;
};

}  // namespace mvx
