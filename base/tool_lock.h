// The lock of one copy of the tool, made of InstanceLock's exclusive named
// locks. The window and a copy not bound to a cradle exclude every other
// copy; a copy bound to a cradle excludes the window, the unbound copies and
// another copy bound to the same cradle, and runs beside copies bound to
// other cradles.
//
// The whole-PC lock "pc" (the one lock of the tool's earlier versions)
// serializes the starts. The window and an unbound copy take it and keep it,
// then look at the 64 slot locks: one that is held belongs to a running bound
// copy, and the starter lets everything go again. A bound copy takes "pc"
// (waiting a little, as another bound copy holds it while it starts), then
// its cradle's lock and one free slot, and lets "pc" go.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/instance_lock.h"

namespace mvx {

class ToolLock {
 public:
  enum class Outcome {
    Held,
    Busy,        // the window or an unbound copy runs (for the window: any copy)
    CradleBusy,  // a copy serves that cradle
    Unavailable  // the system could not make a lock (the reason in error)
  };

  // How many bound copies may run at once, and how long a bound copy waits
  // for the whole-PC lock.
  static constexpr int kBoundSlots = 64;
  static constexpr std::chrono::milliseconds kStartWait{2000};

  // Takes the lock of a copy bound to cradle (a device's Location), or of the
  // whole PC when cradle is empty.
  static std::unique_ptr<ToolLock> Acquire(const std::string& cradle, Outcome& outcome,
                                           std::error_code* error = nullptr);
  // The same with every lock name prefixed with family, so that tests never
  // meet a running tool, and a bound copy waiting at most wait.
  static std::unique_ptr<ToolLock> AcquireIn(const std::string& family, const std::string& cradle,
                                             Outcome& outcome, std::error_code* error,
                                             std::chrono::milliseconds wait = kStartWait);

  // The lock name of a cradle: "cradle-" and the location when it is short
  // and made of [A-Za-z0-9._-] only; otherwise "cradleh-", the location with
  // every other byte as '_', cut, and a hash of the whole location. At most
  // kMaxCradleLockName bytes, which both systems' name limits take with the
  // lock's own prefix.
  static constexpr std::size_t kMaxCradleLockName = 64;
  static std::string CradleLockName(const std::string& cradle);

  ~ToolLock();
  ToolLock(const ToolLock&) = delete;
  ToolLock& operator=(const ToolLock&) = delete;

 private:
  ToolLock() = default;
  std::vector<std::unique_ptr<InstanceLock>> locks_;
};

}  // namespace mvx
