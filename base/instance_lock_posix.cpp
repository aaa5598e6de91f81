// The lock is a socket bound to a name in Linux's abstract namespace: no file
// to leave behind or to be refused by another user's permissions, and the
// kernel frees the name with the process's last descriptor.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/instance_lock.h"

namespace mvx {

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string& name, Outcome& outcome,
                                                    std::error_code* error) {
  outcome = Outcome::Unavailable;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A leading NUL byte puts the name in the abstract namespace.
  const std::string path = "mvxtvup-lock-" + name;
  if (path.size() + 1 > sizeof address.sun_path) {
    if (error) *error = std::make_error_code(std::errc::filename_too_long);
    return nullptr;
  }
  std::memcpy(address.sun_path + 1, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::error_code(errno, std::system_category());
    return nullptr;
  }
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int code = errno;
    close(fd);
    outcome = code == EADDRINUSE ? Outcome::Busy : Outcome::Unavailable;
    if (error) *error = std::error_code(code, std::system_category());
    return nullptr;
  }
  outcome = Outcome::Held;
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  close(static_cast<int>(handle_));
}

}  // namespace mvx
