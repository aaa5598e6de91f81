// A message loop on real time, for the console program and the scenario
// runner's real-time mode:
// timers fire when their interval has passed, posted calls run in order,
// watched file descriptors are polled, and sleeps block.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/platform.h"

namespace mvx {

class RealTimeLoop : public IEventLoop, public IClock {
 public:
  RealTimeLoop();
  ~RealTimeLoop() override;

  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override;
  void Post(std::function<void()> call) override;  // any thread
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override;

  LocalTime Now() override;
  void Sleep(unsigned ms) override;

  // Milliseconds since the loop was made.
  std::uint64_t NowMs() const;
  // Runs posted calls, due timers and ready descriptors for ms milliseconds,
  // or until stop() holds after one of them. Returns whether stop() held.
  bool RunFor(std::uint64_t ms, const std::function<bool()>& stop = nullptr);
  // A call at ms after the loop was made.
  void At(std::uint64_t ms, std::function<void()> call);

 private:
  struct Timer;
  struct Watch;
  class Source;
  class WatchHandle;
  using Clock = std::chrono::steady_clock;

  void Arm(const std::shared_ptr<Timer>& timer);
  bool RunOnePosted();
  bool RunOneDue();
  void PollWatches(int timeout_ms);

  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::condition_variable posted_cv_;
  std::deque<std::function<void()>> posted_;
  std::uint64_t sequence_ = 0;
  std::multimap<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> agenda_;
  std::vector<std::shared_ptr<Watch>> watches_;
};

}  // namespace mvx
