#include "scripted/virtual_loop.h"

#include <chrono>

#include "base/calendar.h"

namespace mvx {
namespace {

class NoWatch : public IWatch {};

}  // namespace

// A timer's shared state: agenda entries hold it weakly, so a destroyed timer
// never fires, and a generation count drops entries of a stopped period.
struct VirtualLoop::Timer {
  std::function<void()> on_fire;
  std::uint64_t generation = 0;
  unsigned interval = 0;
  bool started = false;
};

class VirtualLoop::Source : public ITimerSource {
 public:
  Source(VirtualLoop& loop, std::function<void()> on_fire)
      : loop_(loop), timer_(std::make_shared<Timer>()) {
    timer_->on_fire = std::move(on_fire);
  }
  ~Source() override { Stop(); }
  void Start(unsigned interval_ms) override {
    ++timer_->generation;
    timer_->started = true;
    timer_->interval = interval_ms == 0 ? 1 : interval_ms;
    loop_.Arm(timer_, timer_->interval);
  }
  void Stop() override {
    ++timer_->generation;
    timer_->started = false;
  }

 private:
  VirtualLoop& loop_;
  std::shared_ptr<Timer> timer_;
};

VirtualLoop::VirtualLoop() = default;
VirtualLoop::~VirtualLoop() = default;

std::unique_ptr<ITimerSource> VirtualLoop::CreateTimer(std::function<void()> on_fire) {
  return std::make_unique<Source>(*this, std::move(on_fire));
}

void VirtualLoop::Arm(const std::shared_ptr<Timer>& timer, unsigned interval_ms) {
  std::weak_ptr<Timer> weak = timer;
  const std::uint64_t generation = timer->generation;
  At(now_ms_ + interval_ms, [this, weak, generation] {
    auto t = weak.lock();
    if (!t || !t->started || t->generation != generation) return;
    t->on_fire();
    // Re-arm after the handler, as a platform timer's next tick waits for the
    // loop; unless the handler stopped or restarted it.
    if (t->started && t->generation == generation) Arm(t, t->interval);
  });
}

void VirtualLoop::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(call));
  }
  posted_cv_.notify_all();
}

std::unique_ptr<IWatch> VirtualLoop::WatchFd(int, std::function<void()>) {
  return std::make_unique<NoWatch>();
}

LocalTime VirtualLoop::Now() {
  const long long start_ms = (DaysFromCivil(Start.year, Start.month, Start.day) * 86400LL +
                              Start.hour * 3600LL + Start.minute * 60LL + Start.second) *
                                 1000LL +
                             Start.millisecond;
  const long long ms = start_ms + static_cast<long long>(now_ms_);
  const long long days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
  const long long in_day = ms - days * 86400000;
  LocalTime t;
  const CivilDate date = CivilFromDays(days);
  t.year = date.year;
  t.month = date.month;
  t.day = date.day;
  t.hour = static_cast<int>(in_day / 3600000);
  t.minute = static_cast<int>(in_day / 60000 % 60);
  t.second = static_cast<int>(in_day / 1000 % 60);
  t.millisecond = static_cast<int>(in_day % 1000);
  return t;
}

void VirtualLoop::Sleep(unsigned ms) {
  now_ms_ += ms;
}

void VirtualLoop::At(std::uint64_t ms, std::function<void()> call) {
  agenda_.emplace(std::make_pair(ms, sequence_++), std::move(call));
}

bool VirtualLoop::RunOnePosted() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (posted_.empty()) return false;
    call = std::move(posted_.front());
    posted_.pop_front();
  }
  Dispatch(call);
  return true;
}

void VirtualLoop::Dispatch(const std::function<void()>& call) {
  std::deque<std::function<void()>> next;
  next_.push_back(&next);
  struct Pop {
    std::vector<std::deque<std::function<void()>>*>& levels;
    ~Pop() { levels.pop_back(); }
  } pop{next_};
  call();
  while (!next.empty()) {
    const std::function<void()> run = std::move(next.front());
    next.pop_front();
    run();
  }
}

void VirtualLoop::PostNext(std::function<void()> call) {
  // Only the loop's own thread dispatches; other threads simply queue.
  if (std::this_thread::get_id() != thread_ || next_.empty()) {
    Post(std::move(call));
    return;
  }
  next_.back()->push_back(std::move(call));
}

void VirtualLoop::RunPending() {
  while (true) {
    while (RunOnePosted()) {
    }
    if (agenda_.empty() || agenda_.begin()->first.first > now_ms_) return;
    auto node = agenda_.extract(agenda_.begin());
    Dispatch(node.mapped());
  }
}

bool VirtualLoop::RunFor(std::uint64_t ms, const std::function<bool()>& stop) {
  const std::uint64_t target = now_ms_ + ms;
  while (true) {
    while (RunOnePosted())
      if (stop && stop()) return true;
    if (stop && stop()) return true;
    if (Busy && Busy()) {
      std::unique_lock<std::mutex> lock(mutex_);
      posted_cv_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !posted_.empty(); });
      continue;
    }
    if (agenda_.empty() || agenda_.begin()->first.first > target) {
      if (now_ms_ < target) now_ms_ = target;
      return false;
    }
    auto node = agenda_.extract(agenda_.begin());
    if (node.key().first > now_ms_) now_ms_ = node.key().first;
    Dispatch(node.mapped());
    if (stop && stop()) return true;
  }
}

}  // namespace mvx
