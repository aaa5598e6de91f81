#include "bench/download/answer_scheduler.h"

#include <sys/prctl.h>

namespace mvx::bench {
namespace {

// Sleeping wakes up this much before the call is due; the rest is spun.
constexpr std::chrono::microseconds kSpin{60};

}  // namespace

AnswerScheduler::AnswerScheduler(std::chrono::microseconds extra)
    : extra_(extra), thread_([this] { Loop(); }) {}

AnswerScheduler::~AnswerScheduler() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void AnswerScheduler::After(std::uint32_t delay_ms, std::function<void()> call) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    agenda_.emplace(std::make_pair(now + std::chrono::milliseconds(delay_ms) + extra_, sequence_++),
                    Call{std::move(call), now, delay_ms == 0});
  }
  wake_.notify_all();
}

bool AnswerScheduler::DueAtOnce(std::uint32_t delay_ms) {
  if (delay_ms != 0 || extra_.count() != 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!agenda_.empty() || running_) return false;
  ++answers_;  // leaves now: no delay to add
  return true;
}

AnswerScheduler::Answers AnswerScheduler::Measured() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {answers_, answers_ ? answer_delay_us_ / static_cast<double>(answers_) : 0};
}

void AnswerScheduler::ResetMeasure() {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_ = 0;
  answer_delay_us_ = 0;
}

void AnswerScheduler::Loop() {
  // Timed waits of this thread end when asked, not up to 50 us later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (agenda_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point due = agenda_.begin()->first.first;
    const Clock::time_point now = Clock::now();
    if (now + kSpin < due) {
      wake_.wait_until(lock, due - kSpin);
      continue;
    }
    if (now < due) {
      // Spin without the lock, so the tool can hand over its next command.
      lock.unlock();
      while (Clock::now() < due) {
      }
      lock.lock();
      continue;
    }
    auto node = agenda_.extract(agenda_.begin());
    Call call = std::move(node.mapped());
    if (call.Answer) {
      ++answers_;
      answer_delay_us_ += std::chrono::duration<double, std::micro>(now - call.Asked).count();
    }
    running_ = true;
    lock.unlock();
    call.Run();
    lock.lock();
    running_ = false;
  }
}

}  // namespace mvx::bench
