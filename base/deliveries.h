// How a GUI shell runs the calls its loop delivers (timers, posted calls,
// watches): each is guarded, so that no exception unwinds through the
// platform's loop, and what a call asks to run right after it (PostNext) runs
// as soon as it returns, oldest first. A modal box runs deliveries of its own
// inside one; each keeps its own list.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace mvx {

class Deliveries {
 public:
  // show_error is told the text of an error that escaped a call.
  explicit Deliveries(std::function<void(const std::string&)> show_error)
      : show_error_(std::move(show_error)) {}

  // GUI thread.
  void Deliver(const std::function<void()>& call);
  // GUI thread: queues call to run right after the delivery now running;
  // false (call untouched) outside a delivery.
  bool QueueNext(std::function<void()>& call);

 private:
  void Guarded(const std::function<void()>& call);
  std::function<void(const std::string&)> show_error_;
  std::vector<std::deque<std::function<void()>>*> next_;
};

}  // namespace mvx
