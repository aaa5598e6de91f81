// The platform's message loop and clock on Qt's event loop, for the download
// benchmark: precise timers, calls posted through the event queue, watched
// descriptors through socket notifiers. It also counts timer events, so the
// benchmark can tell how often the tool wakes while it waits.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>

#include "app/platform.h"

namespace mvx::bench {

class QtLoop : public IEventLoop, public IClock {
 public:
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override;
  void Post(std::function<void()> call) override;  // any thread
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override;

  LocalTime Now() override;
  void Sleep(unsigned ms) override;

  // Timer events delivered so far, every timer of this loop together.
  std::uint64_t TimerEvents() const { return timer_events_.load(); }

 private:
  QObject context_;  // lives on the GUI thread; posted calls run in its name
  std::atomic<std::uint64_t> timer_events_{0};
};

}  // namespace mvx::bench
