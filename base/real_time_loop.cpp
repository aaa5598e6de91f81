#include "base/real_time_loop.h"

#ifdef _WIN32
#include "base/windows_api.h"
#else
#include <poll.h>
#endif

#include <thread>

#include "base/calendar.h"

namespace mvx {

struct RealTimeLoop::Timer {
  std::function<void()> on_fire;
  std::uint64_t generation = 0;
  unsigned interval = 1;
  bool started = false;
};

struct RealTimeLoop::Watch {
  int fd = -1;
  std::function<void()> on_ready;
  bool active = true;
};

class RealTimeLoop::Source : public ITimerSource {
 public:
  Source(RealTimeLoop& loop, std::function<void()> on_fire)
      : loop_(loop), timer_(std::make_shared<Timer>()) {
    timer_->on_fire = std::move(on_fire);
  }
  ~Source() override { Stop(); }
  void Start(unsigned interval_ms) override {
    ++timer_->generation;
    timer_->started = true;
    timer_->interval = interval_ms == 0 ? 1 : interval_ms;
    loop_.Arm(timer_);
  }
  void Stop() override {
    ++timer_->generation;
    timer_->started = false;
  }

 private:
  RealTimeLoop& loop_;
  std::shared_ptr<Timer> timer_;
};

class RealTimeLoop::WatchHandle : public IWatch {
 public:
  explicit WatchHandle(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}
  ~WatchHandle() override { watch_->active = false; }

 private:
  std::shared_ptr<Watch> watch_;
};

RealTimeLoop::RealTimeLoop() = default;
RealTimeLoop::~RealTimeLoop() = default;

std::unique_ptr<ITimerSource> RealTimeLoop::CreateTimer(std::function<void()> on_fire) {
  return std::make_unique<Source>(*this, std::move(on_fire));
}

void RealTimeLoop::Arm(const std::shared_ptr<Timer>& timer) {
  std::weak_ptr<Timer> weak = timer;
  const std::uint64_t generation = timer->generation;
  const auto due = Clock::now() + std::chrono::milliseconds(timer->interval);
  std::lock_guard<std::mutex> lock(mutex_);
  agenda_.emplace(std::make_pair(due, sequence_++), [this, weak, generation] {
    auto t = weak.lock();
    if (!t || !t->started || t->generation != generation) return;
    t->on_fire();
    if (t->started && t->generation == generation) Arm(t);
  });
}

void RealTimeLoop::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(call));
  }
  posted_cv_.notify_all();
}

std::unique_ptr<IWatch> RealTimeLoop::WatchFd(int fd, std::function<void()> on_ready) {
  auto watch = std::make_shared<Watch>();
  watch->fd = fd;
  watch->on_ready = std::move(on_ready);
  watches_.push_back(watch);
  return std::make_unique<WatchHandle>(watch);
}

LocalTime RealTimeLoop::Now() {
  return SystemLocalTime();
}

void RealTimeLoop::Sleep(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t RealTimeLoop::NowMs() const {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

void RealTimeLoop::At(std::uint64_t ms, std::function<void()> call) {
  std::lock_guard<std::mutex> lock(mutex_);
  agenda_.emplace(std::make_pair(start_ + std::chrono::milliseconds(ms), sequence_++),
                  std::move(call));
}

bool RealTimeLoop::RunOnePosted() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (posted_.empty()) return false;
    call = std::move(posted_.front());
    posted_.pop_front();
  }
  call();
  return true;
}

bool RealTimeLoop::RunOneDue() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (agenda_.empty() || agenda_.begin()->first.first > Clock::now()) return false;
    auto node = agenda_.extract(agenda_.begin());
    call = std::move(node.mapped());
  }
  call();
  return true;
}

void RealTimeLoop::PollWatches(int timeout_ms) {
  std::erase_if(watches_, [](const std::shared_ptr<Watch>& w) { return !w->active; });
#ifdef _WIN32
  // Windows has no descriptors to watch: devices speak through their own
  // threads, and the system through this thread's windows (the HID
  // backend's change window hears the device-change broadcasts), whose
  // messages are dispatched here before the wait for a posted call.
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  const bool nothing_to_poll = true;
#else
  const bool nothing_to_poll = watches_.empty();
#endif
  if (nothing_to_poll) {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [this] { return !posted_.empty(); });
    return;
  }
#ifndef _WIN32
  std::vector<pollfd> fds;
  for (const auto& w : watches_) fds.push_back({w->fd, POLLIN, 0});
  if (::poll(fds.data(), fds.size(), timeout_ms) <= 0) return;
  const auto watches = watches_;
  // What was posted before a watch became ready happened first: a device's
  // own line ("leaves the bus") comes before the tool hears of the change.
  while (RunOnePosted()) {
  }
  for (std::size_t i = 0; i < fds.size(); ++i)
    if ((fds[i].revents & POLLIN) && watches[i]->active) watches[i]->on_ready();
#endif
}

bool RealTimeLoop::RunFor(std::uint64_t ms, const std::function<bool()>& stop) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    bool ran = false;
    while (RunOnePosted()) {
      ran = true;
      if (stop && stop()) return true;
    }
    if (RunOneDue()) {
      ran = true;
      if (stop && stop()) return true;
    }
    if (!ran) {
      // Idle: wait up to 1 ms for a watch, then look again, so that stop()
      // still sees every millisecond while the tool has no timer running.
      PollWatches(1);
      if (stop && stop()) return true;
    }
  }
  return false;
}

}  // namespace mvx
