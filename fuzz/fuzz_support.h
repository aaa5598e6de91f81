// What every fuzz target shares: a failed property aborts (libFuzzer keeps the
// input that broke it), and targets that write files get a private working
// directory of their own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace mvx::fuzz {

[[noreturn]] inline void Fail(const char* property, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
  std::fflush(stderr);
  std::abort();
}

#define MVX_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::mvx::fuzz::Fail(#condition, __FILE__, __LINE__))

// A fresh directory under the system's temporary folder, made the working
// directory for the life of the process and removed at its end. It is made
// from LLVMFuzzerInitialize, before libFuzzer reads its flags: the paths it
// was given (corpus folders and files, artifact and dictionary paths) are
// turned absolute first, so that they still name the caller's files from the
// new directory, and artifacts land in the caller's directory by default.
class WorkDir {
 public:
  WorkDir(std::string_view target, int* argc, char*** argv)
      : home_(std::filesystem::current_path()) {
    AbsolutePaths(argc, argv);
    path_ = std::filesystem::temp_directory_path() /
            (std::string("mvx_fuzz_") + std::string(target) + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~WorkDir() {
    std::error_code ignored;
    std::filesystem::current_path(home_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The names in the directory, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  void AbsolutePaths(int* argc, char*** argv) {
    static const char* const kPathFlags[] = {
        "-artifact_prefix=",    "-exact_artifact_path=", "-dict=",
        "-merge_control_file=", "-features_dir=",        "-stop_file=",
        "-load_coverage_dump="};
    bool prefix_given = false;
    for (int i = 1; i < *argc; ++i) {
      std::string arg = (*argv)[i];
      if (arg.empty()) continue;
      if (arg[0] != '-') {
        arg = (home_ / arg).string();
      } else {
        for (const std::string_view flag : kPathFlags) {
          if (arg.compare(0, flag.size(), flag) != 0 || arg.size() == flag.size()) continue;
          if (flag == "-artifact_prefix=") prefix_given = true;
          arg = std::string(flag) + (home_ / arg.substr(flag.size())).string();
        }
      }
      args_.push_back(arg);
    }
    if (!prefix_given) args_.push_back("-artifact_prefix=" + (home_ / "").string());
    pointers_.push_back((*argv)[0]);
    for (std::string& arg : args_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
    *argc = static_cast<int>(pointers_.size() - 1);
    *argv = pointers_.data();
  }

  std::filesystem::path home_;
  std::filesystem::path path_;
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

// Plain descriptors rather than file streams: UBSan checks the dynamic type
// of every stream it constructs, through a pipe, and a target that makes a
// few streams for each input spends most of its time in those system calls.
inline void WriteFile(const std::string& name, std::string_view bytes) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  MVX_FUZZ_CHECK(fd >= 0);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    MVX_FUZZ_CHECK(n > 0);
    done += static_cast<std::size_t>(n);
  }
  MVX_FUZZ_CHECK(close(fd) == 0);
}

// The whole file, or nothing when it does not exist.
inline bool ReadFile(const std::string& name, std::string& bytes) {
  bytes.clear();
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    MVX_FUZZ_CHECK(errno == ENOENT);
    return false;
  }
  char chunk[8192];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    MVX_FUZZ_CHECK(n >= 0);
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

// The fuzzer's bytes taken one field at a time; what runs out reads as zero.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  bool Empty() const { return rest_.empty(); }
  std::uint8_t U8() {
    if (rest_.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | U8() << 8); }
  std::string_view Take(std::size_t length) {
    const std::string_view part = rest_.substr(0, length);
    rest_.remove_prefix(part.size());
    return part;
  }
  std::string_view Rest() { return Take(rest_.size()); }

 private:
  std::string_view rest_;
};

}  // namespace mvx::fuzz
