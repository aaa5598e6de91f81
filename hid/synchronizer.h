// Synchronized delivery: a worker thread hands a call to the GUI thread and
// waits until it has returned, so the GUI side needs no locks. The GUI thread
// serves pending calls from the message loop (a posted wake-up) and while it
// waits for a worker to end, so a worker blocked in a delivery can finish.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "base/platform.h"

namespace mvx {

class TSynchronizer : public std::enable_shared_from_this<TSynchronizer> {
 public:
  explicit TSynchronizer(IEventLoop& loop) : loop_(loop) {}

  // Worker thread: runs call on the GUI thread; returns when it has returned.
  void Synchronize(const std::function<void()>& call);
  // GUI thread: runs every pending call, oldest first.
  void ServePending();
  // GUI thread: runs the oldest pending call; false when there was none.
  bool ServeOne();
  // GUI thread: returns when finished() holds, serving pending calls meanwhile.
  // A worker calls Wake() when finished() may have become true.
  void WaitServing(const std::function<bool()>& finished);
  void Wake();

 private:
  struct Pending {
    const std::function<void()>* call;
    bool done = false;
  };

  IEventLoop& loop_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Pending*> queue_;
};

}  // namespace mvx
