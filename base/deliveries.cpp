#include "base/deliveries.h"

#include <exception>

namespace mvx {

void Deliveries::Guarded(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    show_error_(e.what());
  } catch (...) {
    show_error_("Unknown error");
  }
}

void Deliveries::Deliver(const std::function<void()>& call) {
  std::deque<std::function<void()>> next;
  next_.push_back(&next);
  Guarded(call);
  // What the call asked to run next, oldest first; each may ask for more.
  while (!next.empty()) {
    const std::function<void()> run = std::move(next.front());
    next.pop_front();
    Guarded(run);
  }
  next_.pop_back();
}

bool Deliveries::QueueNext(std::function<void()>& call) {
  if (next_.empty()) return false;
  next_.back()->push_back(std::move(call));
  return true;
}

}  // namespace mvx
