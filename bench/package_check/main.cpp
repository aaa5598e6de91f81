// Builds a 512 MiB package in a temporary folder, then times the tool's check
// (validation, XOR, MD5 and extraction to "_fwbin") against md5sum reading the
// same file, and reports the check's peak resident memory. Each measurement
// runs in a child process of its own, so the figures are the child's alone.
//
//   bench_package_check [MiB]     (default 512)
//
// Targets: check time / md5sum time <= 1.15, check peak RSS <= 64 MiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/package_builder.h"
#include "package/package_check.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ChildRun {
  double Seconds = 0;
  long PeakRssKiB = 0;
  int Status = -1;
};

// Runs body in a child process; wall time from fork to exit and the child's
// own peak RSS.
template <class F>
ChildRun RunChild(F body) {
  std::fflush(stdout);  // else the child repeats what is still buffered
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(2);
  }
  if (pid == 0) _exit(body());
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ChildRun run;
  run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.PeakRssKiB = usage.ru_maxrss;
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

int CheckPackage(const std::string& path) {
  std::string error;
  const auto package = mvx::TFileStream::OpenRead(path, &error);
  if (!package) return 3;
  mvx::PackageCheckSteps steps;
  steps.AskAccess = [](const mvx::PackageMode&) {
    return std::optional<std::string>(mvx::kPackageAccessValue);
  };
  const auto result = mvx::CheckAndExtractPackage(*package, "_fwbin", steps);
  return result.Verdict == mvx::PackageVerdict::Accepted ? 0 : 1;
}

int Md5sum(const std::string& path) {
  std::freopen("/dev/null", "w", stdout);
  execlp("md5sum", "md5sum", path.c_str(), static_cast<char*>(nullptr));
  return 127;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  if (mib == 0 || mib > 2000) {
    std::fprintf(stderr, "usage: bench_package_check [MiB, 1 to 2000]\n");
    return 2;
  }
  char folder_template[] = "/tmp/mvx-bench-XXXXXX";
  const char* folder = mkdtemp(folder_template);
  if (folder == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  std::filesystem::current_path(folder);
  const std::string package = std::string(folder) + "/bench.tvu";

  // Image bytes from a xorshift generator: incompressible, cheap to make.
  {
    mvx::PackageWriter writer(package, mvx::PackageOptions{"201022", "SAR", "Tavun"});
    std::vector<std::uint8_t> block(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::uint64_t i = 0; i < mib; ++i) {
      for (std::size_t j = 0; j < block.size(); j += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(block.data() + j, &state, 8);
      }
      writer.Append(block);
    }
    writer.Finish();
  }
  std::printf("package: %s, %llu MiB image + 64-byte header\n", package.c_str(),
              static_cast<unsigned long long>(mib));

  // One unmeasured read brings the file into the page cache for both.
  RunChild([&] { return Md5sum(package); });

  constexpr int kRounds = 3;
  std::vector<ChildRun> checks, sums;
  for (int round = 0; round < kRounds; ++round) {
    // The previous image goes first, outside the timing: removing 512 MiB of
    // cached pages is not part of a check.
    std::filesystem::remove("_fwbin");
    checks.push_back(RunChild([&] { return CheckPackage(package); }));
    sums.push_back(RunChild([&] { return Md5sum(package); }));
    if (checks.back().Status != 0 || sums.back().Status != 0) {
      std::fprintf(stderr, "a run failed (check %d, md5sum %d)\n", checks.back().Status,
                   sums.back().Status);
      return 1;
    }
    std::printf("round %d: check %.3f s (peak RSS %ld KiB), md5sum %.3f s\n", round + 1,
                checks.back().Seconds, checks.back().PeakRssKiB, sums.back().Seconds);
  }

  auto fastest = [](const std::vector<ChildRun>& runs) {
    return std::min_element(
               runs.begin(), runs.end(),
               [](const ChildRun& a, const ChildRun& b) { return a.Seconds < b.Seconds; })
        ->Seconds;
  };
  long peak = 0;
  for (const ChildRun& run : checks) peak = std::max(peak, run.PeakRssKiB);
  const double check_s = fastest(checks);
  const double md5_s = fastest(sums);
  std::printf("check time (best of %d):  %.3f s  (%.0f MiB/s)\n", kRounds, check_s,
              static_cast<double>(mib) / check_s);
  std::printf("md5sum time (best of %d): %.3f s  (%.0f MiB/s)\n", kRounds, md5_s,
              static_cast<double>(mib) / md5_s);
  std::printf("ratio check / md5sum:    %.3f  (target <= 1.15)\n", check_s / md5_s);
  std::printf("check peak RSS:          %.1f MiB  (target <= 64 MiB)\n",
              static_cast<double>(peak) / 1024.0);

  std::filesystem::current_path("/");
  std::filesystem::remove_all(folder);
  return 0;
}
