// A message loop on a virtual clock for tests and the scenario runner: timers
// fire in virtual time, posted calls run in order, and sleeps only move the
// clock, so a 30-second wait takes no real time and every run is the same.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/platform.h"

namespace mvx {

class VirtualLoop : public IEventLoop, public IClock {
 public:
  VirtualLoop();
  ~VirtualLoop() override;

  // IEventLoop
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override;
  void Post(std::function<void()> call) override;
  void PostNext(std::function<void()> call) override;
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override;

  // IClock: the local time is Start plus the virtual milliseconds elapsed.
  LocalTime Now() override;
  void Sleep(unsigned ms) override;

  std::uint64_t NowMs() const { return now_ms_; }
  LocalTime Start{2026, 12, 8, 9, 0, 0, 0};

  // Runs posted calls and due timers, moving the clock forward, until the
  // clock has advanced by ms (or stop() holds between two events). Returns
  // whether stop() became true.
  bool RunFor(std::uint64_t ms, const std::function<bool()>& stop = nullptr);
  // Runs everything that is due now without moving the clock.
  void RunPending();

  // Work in flight on other threads (a device model's answer on its way to a
  // read thread): while it returns true the loop waits in real time for posted
  // calls instead of moving the clock.
  std::function<bool()> Busy;

  // Calls at a virtual time (the scenario's own events, the device's timing).
  void At(std::uint64_t ms, std::function<void()> call);

 private:
  struct Timer;
  class Source;
  bool RunOnePosted();
  // Runs one call of the loop, then what it asked to run next (PostNext).
  void Dispatch(const std::function<void()>& call);
  void Arm(const std::shared_ptr<Timer>& timer, unsigned interval_ms);

  std::mutex mutex_;
  std::condition_variable posted_cv_;
  std::deque<std::function<void()>> posted_;
  // Per call being dispatched (innermost last): the calls to run after it.
  std::vector<std::deque<std::function<void()>>*> next_;
  const std::thread::id thread_ = std::this_thread::get_id();  // the loop's thread
  std::uint64_t now_ms_ = 0;
  std::uint64_t sequence_ = 0;
  // Due time and sequence → call; timers re-arm themselves.
  std::multimap<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> agenda_;
};

}  // namespace mvx
