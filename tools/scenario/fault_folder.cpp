#include "tools/scenario/fault_folder.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "tools/scenario/scenario.h"

#ifdef __linux__
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace mvx::scenario {

namespace fs = std::filesystem;

namespace {

bool in_private_namespace = false;

#ifdef __linux__

std::string Reason(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// A fresh empty folder in the system's temporary folder.
fs::path MakeMountPoint(const char* prefix) {
  std::string name = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(name.data())) throw ScenarioError(Reason("cannot make " + name, errno));
  return name;
}

void MountSmallFileSystem(const fs::path& at, std::uint64_t size) {
  const std::string options = "size=" + std::to_string(size) + ",mode=0700";
  if (mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
    throw ScenarioError(Reason("cannot mount a file system on " + at.string(), errno));
}

void Unmount(const fs::path& at) {
  umount2(at.c_str(), MNT_DETACH);
  rmdir(at.c_str());
}

#endif

}  // namespace

std::string EnterPrivateMountNamespace() {
#ifdef __linux__
  if (in_private_namespace) return {};
  if (unshare(CLONE_NEWNS) != 0) {
    const int plain = errno;
    // Without the right to mount, a user namespace of the process's own gives
    // it, with the caller as root inside.
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return Reason("unshare", plain) + ", " + Reason("with a user namespace", errno);
    WriteProcFile("/proc/self/setgroups", "deny");  // absent before Linux 3.19
    if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return Reason("cannot map the user into its namespace", errno);
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return Reason("cannot make the mounts private", errno);
  // Some systems grant the namespace but no file system in it.
  try {
    const fs::path probe = MakeMountPoint("mvxtvup-probe");
    const int mounted =
        mount("tmpfs", probe.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=65536,mode=0700");
    const int error = errno;
    Unmount(probe);
    if (mounted != 0) return Reason("cannot mount a file system", error);
  } catch (const ScenarioError& e) {
    return e.what();
  }
  in_private_namespace = true;
  return {};
#else
  return "no mount namespaces on this system";
#endif
}

bool InPrivateMountNamespace() {
  return in_private_namespace;
}

#ifdef __linux__

FaultFolder::FaultFolder() {
  if (!in_private_namespace)
    throw ScenarioError("folder faults need a mount namespace of the run's own");
  root_ = MakeMountPoint("mvxtvup-folder");
  try {
    MountSmallFileSystem(root_, kSizeBytes);
  } catch (...) {
    rmdir(root_.c_str());
    throw;
  }
  filler_ = root_ / "filler";
}

FaultFolder::~FaultFolder() {
  Unmount(root_);
}

void FaultFolder::ReadOnly() {
  // Read-only for this mount only; it fails while a file on it is open for
  // writing.
  if (mount(nullptr, root_.c_str(), nullptr,
            MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
    throw ScenarioError(Reason("folder_read_only", errno));
  read_only_ = true;
}

std::uint64_t FaultFolder::FreeBytes() const {
  struct statvfs s {};
  if (statvfs(root_.c_str(), &s) != 0) throw ScenarioError(Reason("statvfs", errno));
  return static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize;
}

void FaultFolder::Full(std::uint64_t free_bytes) {
  if (read_only_) throw ScenarioError("folder_full: the folder is read-only");
  struct statvfs s {};
  if (statvfs(root_.c_str(), &s) != 0) throw ScenarioError(Reason("statvfs", errno));
  const std::uint64_t block = s.f_frsize;
  const std::uint64_t keep = (free_bytes + block - 1) / block * block;
  const std::uint64_t available = static_cast<std::uint64_t>(s.f_bavail) * block;
  if (available <= keep) return;
  const int fd = open(filler_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw ScenarioError(Reason("folder_full", errno));
  struct stat st {};
  int result = fstat(fd, &st);
  if (result == 0) result = fallocate(fd, 0, st.st_size, static_cast<off_t>(available - keep));
  const int error = errno;
  close(fd);
  if (result != 0) throw ScenarioError(Reason("folder_full", error));
  if (FreeBytes() != keep)
    throw ScenarioError("folder_full: " + std::to_string(FreeBytes()) + " bytes stay free, not " +
                        std::to_string(keep));
}

void FaultFolder::Writable() {
  if (read_only_) {
    if (mount(nullptr, root_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_NOSUID | MS_NODEV,
              nullptr) != 0)
      throw ScenarioError(Reason("folder_writable", errno));
    read_only_ = false;
  }
  if (unlink(filler_.c_str()) != 0 && errno != ENOENT)
    throw ScenarioError(Reason("folder_writable", errno));
}

#else

FaultFolder::FaultFolder() {
  throw ScenarioError("folder faults need a mount namespace of the run's own");
}
FaultFolder::~FaultFolder() = default;
void FaultFolder::ReadOnly() {}
void FaultFolder::Full(std::uint64_t) {}
void FaultFolder::Writable() {}
std::uint64_t FaultFolder::FreeBytes() const {
  return 0;
}

#endif

}  // namespace mvx::scenario
