#include "hid/synchronizer.h"

#include <chrono>

namespace mvx {

void TSynchronizer::Synchronize(const std::function<void()>& call) {
  Pending pending{&call};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(&pending);
  }
  cv_.notify_all();
  std::weak_ptr<TSynchronizer> weak = weak_from_this();
  // One wake-up serves one call, so calls the loop queued meanwhile (a tick
  // that a delivery asked for) run before the next delivery.
  loop_.Post([weak] {
    if (auto self = weak.lock()) self->ServeOne();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return pending.done; });
}

void TSynchronizer::ServePending() {
  while (ServeOne()) {
  }
}

bool TSynchronizer::ServeOne() {
  {
    Pending* pending = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return false;
      pending = queue_.front();
      queue_.pop_front();
    }
    try {
      (*pending->call)();
    } catch (...) {
      // The handlers guard themselves; nothing may reach the worker's stack.
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending->done = true;
    }
    cv_.notify_all();
  }
  return true;
}

void TSynchronizer::WaitServing(const std::function<bool()>& finished) {
  while (!finished()) {
    ServePending();
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(10),
                 [&] { return !queue_.empty() || finished(); });
  }
  ServePending();
}

void TSynchronizer::Wake() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  cv_.notify_all();
}

}  // namespace mvx
