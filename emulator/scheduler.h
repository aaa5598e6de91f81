// Where the device model gets its time from. The model never sleeps: it asks
// for a call after a delay, so the same model runs on a virtual clock in tests
// and in the scenario runner, and on real time behind a real HID backend.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace mvx::emu {

class IScheduler {
 public:
  virtual ~IScheduler() = default;
  // Runs call once, delay_ms from now. Calls due at the same time run in the
  // order they were asked for. May be called from within a call.
  virtual void After(std::uint32_t delay_ms, std::function<void()> call) = 0;
  // True when a call with this delay is due at once and nothing asked for
  // earlier is still to run: the model may then run it itself, right away,
  // instead of handing it over with After().
  virtual bool DueAtOnce(std::uint32_t /*delay_ms*/) { return false; }
};

// A virtual clock that moves only when told to.
class ManualScheduler : public IScheduler {
 public:
  void After(std::uint32_t delay_ms, std::function<void()> call) override;
  std::uint64_t NowMs() const { return now_ms_; }
  // Runs every call due within the next ms milliseconds, in time order.
  void Advance(std::uint64_t ms);
  // Runs calls until none is left or limit_ms have passed.
  void RunUntilIdle(std::uint64_t limit_ms = 3'600'000);
  bool Idle() const { return agenda_.empty(); }

 private:
  std::uint64_t now_ms_ = 0;
  std::uint64_t sequence_ = 0;
  std::multimap<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> agenda_;
};

// Real time: one thread of its own runs the calls when they are due.
class ThreadScheduler : public IScheduler {
 public:
  ThreadScheduler();
  ~ThreadScheduler() override;
  ThreadScheduler(const ThreadScheduler&) = delete;
  ThreadScheduler& operator=(const ThreadScheduler&) = delete;
  void After(std::uint32_t delay_ms, std::function<void()> call) override;

 private:
  using Clock = std::chrono::steady_clock;
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::uint64_t sequence_ = 0;
  std::multimap<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> agenda_;
  std::thread thread_;
};

}  // namespace mvx::emu
