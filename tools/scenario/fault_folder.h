// A working folder that can fail: a small file system of the run's own that a
// scenario makes read-only or full while the tool writes into it, and
// writable again. Its mounts live in a mount namespace of the process's own,
// so nothing outside the run ever sees them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace mvx::scenario {

// Moves the process into a mount namespace of its own with private
// propagation (inside a user namespace of its own when it may not mount
// otherwise) and makes sure a file system can be mounted there. Call it while
// the process has a single thread. Returns empty text when done, else why it
// cannot be done here.
std::string EnterPrivateMountNamespace();
bool InPrivateMountNamespace();

class FaultFolder {
 public:
  static constexpr std::uint64_t kSizeBytes = 16u << 20;

  // Mounts the file system on a fresh folder in the system's temporary
  // folder; raises ScenarioError outside a private mount namespace or when
  // the mount fails.
  FaultFolder();
  ~FaultFolder();
  FaultFolder(const FaultFolder&) = delete;
  FaultFolder& operator=(const FaultFolder&) = delete;

  // Where the run makes its working folder.
  const std::filesystem::path& Root() const { return root_; }

  // Each raises ScenarioError when the file system does not do it.
  void ReadOnly();
  // Fills the file system so that only free_bytes (in whole blocks, rounded
  // up) stay free.
  void Full(std::uint64_t free_bytes);
  // Undoes both.
  void Writable();
  std::uint64_t FreeBytes() const;

 private:
  std::filesystem::path root_;
  std::filesystem::path filler_;
  bool read_only_ = false;
};

}  // namespace mvx::scenario
