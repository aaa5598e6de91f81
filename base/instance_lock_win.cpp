// The lock is a named mutex in the global namespace, so that the copies of
// every session on the PC see it; the system closes it with the process.
#include "base/windows_api.h"

#include <cstdint>
#include <string>

#include "base/instance_lock.h"

namespace mvx {

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string& name, Outcome& outcome,
                                                    std::error_code* error) {
  outcome = Outcome::Unavailable;
  const std::string full = "Global\\mvxtvup-lock-" + name;
  const std::wstring wide(full.begin(), full.end());
  HANDLE mutex = CreateMutexW(nullptr, FALSE, wide.c_str());
  const DWORD code = GetLastError();
  // Another session's copy made it with rights this user lacks: it is held.
  if (mutex == nullptr) {
    outcome = code == ERROR_ACCESS_DENIED ? Outcome::Busy : Outcome::Unavailable;
    if (error) *error = std::error_code(static_cast<int>(code), std::system_category());
    return nullptr;
  }
  if (code == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    outcome = Outcome::Busy;
    return nullptr;
  }
  outcome = Outcome::Held;
  return std::unique_ptr<InstanceLock>(new InstanceLock(reinterpret_cast<std::intptr_t>(mutex)));
}

InstanceLock::~InstanceLock() {
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace mvx
