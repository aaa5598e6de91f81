// Event handlers with identity: the controller hands a new handler to every
// device whose handler is still the old one, so handlers must compare equal
// exactly when they are the same assignment.
#pragma once

#include <functional>
#include <memory>

namespace mvx {

template <class... Args>
class TEvent {
 public:
  TEvent() = default;
  TEvent(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  template <class F, class = std::enable_if_t<std::is_invocable_v<F&, Args...> &&
                                              !std::is_same_v<std::decay_t<F>, TEvent>>>
  TEvent(F f)  // NOLINT(google-explicit-constructor)
      : fn_(std::make_shared<std::function<void(Args...)>>(std::move(f))) {}

  explicit operator bool() const { return fn_ && *fn_; }
  void operator()(Args... args) const {
    if (*this) (*fn_)(args...);
  }
  bool operator==(const TEvent& other) const { return fn_ == other.fn_; }
  bool operator!=(const TEvent& other) const { return fn_ != other.fn_; }

 private:
  std::shared_ptr<std::function<void(Args...)>> fn_;
};

}  // namespace mvx
