#include "emulator/scheduler.h"

namespace mvx::emu {

void ManualScheduler::After(std::uint32_t delay_ms, std::function<void()> call) {
  agenda_.emplace(std::make_pair(now_ms_ + delay_ms, sequence_++), std::move(call));
}

void ManualScheduler::Advance(std::uint64_t ms) {
  const std::uint64_t target = now_ms_ + ms;
  while (!agenda_.empty() && agenda_.begin()->first.first <= target) {
    auto node = agenda_.extract(agenda_.begin());
    now_ms_ = node.key().first;
    node.mapped()();
  }
  now_ms_ = target;
}

void ManualScheduler::RunUntilIdle(std::uint64_t limit_ms) {
  const std::uint64_t limit = now_ms_ + limit_ms;
  while (!agenda_.empty() && agenda_.begin()->first.first <= limit) {
    auto node = agenda_.extract(agenda_.begin());
    now_ms_ = node.key().first;
    node.mapped()();
  }
}

ThreadScheduler::ThreadScheduler() : thread_([this] { Run(); }) {}

ThreadScheduler::~ThreadScheduler() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ThreadScheduler::After(std::uint32_t delay_ms, std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    agenda_.emplace(std::make_pair(Clock::now() + std::chrono::milliseconds(delay_ms), sequence_++),
                    std::move(call));
  }
  wake_.notify_all();
}

void ThreadScheduler::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (agenda_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = agenda_.begin()->first.first;
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    auto node = agenda_.extract(agenda_.begin());
    lock.unlock();
    node.mapped()();
    lock.lock();
  }
}

}  // namespace mvx::emu
