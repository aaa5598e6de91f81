// An exclusive lock named for what it guards (the whole PC, a cradle, a
// slot; ToolLock in base/tool_lock.h combines them into the lock of one
// copy), held while the object lives and given back by the system when the
// process ends, however it ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace mvx {

class InstanceLock {
 public:
  enum class Outcome { Held, Busy, Unavailable };

  // Takes the lock named name. Busy: another process holds it. Unavailable:
  // the system could not make it (the reason in error); the caller decides
  // whether to go on without it.
  static std::unique_ptr<InstanceLock> Acquire(const std::string& name, Outcome& outcome,
                                               std::error_code* error = nullptr);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace mvx
