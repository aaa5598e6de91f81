// Builds a 512 MiB package in a temporary folder, then times the tool's check
// (validation, XOR, MD5 and extraction to "_fwbin") against the work it cannot
// avoid, done by standard tools back to back: md5sum of the image, then cp of
// the image to a new file. Rounds alternate the two, so both see the same
// machine; md5sum of the package alone is timed too, for the reading without
// the writing. Reports medians and the check's peak resident memory. Each
// measurement runs in a child process of its own, so the figures are the
// child's alone.
//
//   bench_package_check [MiB] [rounds]     (defaults 512 and 5)
//
// Targets: check time / (md5sum + cp) <= 1.10, check peak RSS <= 16 MiB.
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
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 126;
  execlp("md5sum", "md5sum", path.c_str(), static_cast<char*>(nullptr));
  return 127;
}

int Copy(const std::string& from, const std::string& to) {
  execlp("cp", "cp", from.c_str(), to.c_str(), static_cast<char*>(nullptr));
  return 127;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (mib == 0 || mib > 2000 || rounds <= 0) {
    std::fprintf(stderr, "usage: bench_package_check [MiB, 1 to 2000] [rounds]\n");
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
  std::printf("package: %s, %llu MiB image + 64-byte header, %d rounds\n", package.c_str(),
              static_cast<unsigned long long>(mib), rounds);

  // One unmeasured check gives the image as a file of its own, for md5sum
  // and cp; one unmeasured read brings both files into the page cache.
  if (RunChild([&] { return CheckPackage(package); }).Status != 0) {
    std::fprintf(stderr, "the package was not accepted\n");
    return 1;
  }
  const std::string image = std::string(folder) + "/image.bin";
  const std::string copy = std::string(folder) + "/copy.bin";
  std::filesystem::rename("_fwbin", image);
  RunChild([&] { return Md5sum(package); });
  RunChild([&] { return Md5sum(image); });

  std::vector<double> checks, tools, sums;
  long peak = 0;
  for (int round = 0; round < rounds; ++round) {
    // The previous output goes first, outside the timing: removing 512 MiB of
    // cached pages is not part of the work.
    std::filesystem::remove("_fwbin");
    std::filesystem::remove(copy);
    ChildRun check, md5, cp, sum;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (round % 2 == 0)) {
        check = RunChild([&] { return CheckPackage(package); });
      } else {
        md5 = RunChild([&] { return Md5sum(image); });
        cp = RunChild([&] { return Copy(image, copy); });
      }
    }
    sum = RunChild([&] { return Md5sum(package); });
    if (check.Status != 0 || md5.Status != 0 || cp.Status != 0 || sum.Status != 0) {
      std::fprintf(stderr, "a run failed (check %d, md5sum %d, cp %d, md5sum %d)\n", check.Status,
                   md5.Status, cp.Status, sum.Status);
      return 1;
    }
    checks.push_back(check.Seconds);
    tools.push_back(md5.Seconds + cp.Seconds);
    sums.push_back(sum.Seconds);
    peak = std::max(peak, check.PeakRssKiB);
    std::printf(
        "round %d: check %.3f s (peak RSS %ld KiB); md5sum %.3f s + cp %.3f s = %.3f s; "
        "md5sum of the package %.3f s\n",
        round + 1, check.Seconds, check.PeakRssKiB, md5.Seconds, cp.Seconds, tools.back(),
        sum.Seconds);
  }

  const double check_s = Median(checks), tools_s = Median(tools), sum_s = Median(sums);
  std::vector<double> ratios;
  for (std::size_t i = 0; i < checks.size(); ++i) ratios.push_back(checks[i] / tools[i]);
  std::printf("check (median):          %.3f s  (%.0f MiB/s)\n", check_s,
              static_cast<double>(mib) / check_s);
  std::printf("md5sum + cp (median):    %.3f s\n", tools_s);
  std::printf(
      "ratio check / (md5sum + cp): %.3f, round by round median %.3f  (target <= 1.10: %s)\n",
      check_s / tools_s, Median(ratios), check_s / tools_s <= 1.10 ? "met" : "NOT met");
  std::printf("ratio check / md5sum alone, which writes nothing: %.3f\n", check_s / sum_s);
  std::printf("check peak RSS:          %.1f MiB  (target <= 16 MiB: %s)\n",
              static_cast<double>(peak) / 1024.0, peak <= 16 * 1024 ? "met" : "NOT met");

  std::filesystem::current_path("/");
  std::filesystem::remove_all(folder);
  return 0;
}
