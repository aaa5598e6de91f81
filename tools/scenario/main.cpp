// mvxtvup-scenario [--real-time | --backend hidraw|windows [--device uhid|gadget]
// [--relay HOST:PORT]] SCENARIO-FILE: plays a scenario against emulated
// devices and prints its transcript. On the simulated backend by default
// (virtual clock, or real time); with --backend on the platform's own HID
// backend (hidraw on Linux, windows on Windows), each device a kernel HID
// device behind /dev/uhid or (--device gadget) a USB gadget; with --relay the
// uhid events go to mvx-uhid-relay at HOST:PORT, which makes the devices on
// its Linux machine (how the Windows build under wine meets a kernel device).
// Exit status 0 when every expected line appeared in order and no line of
// "never" appeared, 1 otherwise (the line is named on standard error), 2 when
// the scenario file or the options cannot be used, 77 when the scenario
// cannot be played as asked on this system (skipped; the reason on standard
// error). Runs on real time write the download's packet rate and each kernel
// device's traffic to standard error.
#include <exception>
#include <iostream>
#include <string>

#include "tools/scenario/fault_folder.h"
#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace {

constexpr const char* kUsage =
    "usage: mvxtvup-scenario [--real-time | --backend sim|hidraw|windows "
    "[--device uhid|gadget] [--relay HOST:PORT]] SCENARIO-FILE\n";

#ifdef _WIN32
constexpr const char* kPlatformBackend = "windows";
#else
constexpr const char* kPlatformBackend = "hidraw";
#endif

// The options before the file; false when one is unknown or incomplete. A
// platform backend other than this system's own leaves its name in foreign.
bool ParseOptions(int argc, char** argv, mvx::scenario::Runner::Options& options, int& arg,
                  std::string& foreign) {
  using mvx::scenario::KernelDevice;
  std::string backend = "sim";
  bool kernel_option = false;
  mvx::scenario::KernelPath path;
  for (arg = 1; arg < argc - 1; ++arg) {
    const std::string name = argv[arg];
    if (name == "--real-time") {
      options.RealTime = true;
      continue;
    }
    if (arg + 2 >= argc) return false;
    const std::string value = argv[++arg];
    if (name == "--backend" && (value == "sim" || value == "hidraw" || value == "windows")) {
      backend = value;
    } else if (name == "--device" && (value == "uhid" || value == "gadget")) {
      path.Kind = value == "uhid" ? KernelDevice::Uhid : KernelDevice::Gadget;
      kernel_option = true;
    } else if (name == "--relay" && !value.empty()) {
      path.Relay = value;
      kernel_option = true;
    } else {
      return false;
    }
  }
  if (backend == "sim") {
    if (kernel_option) return false;
  } else if (backend != kPlatformBackend) {
    foreign = backend;
  } else {
    if (!path.Relay.empty() && path.Kind != KernelDevice::Uhid) return false;
    options.Kernel = path;
  }
  return arg == argc - 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mvx::scenario;
  Runner::Options options;
  int arg = 1;
  std::string foreign;
  if (!ParseOptions(argc, argv, options, arg, foreign)) {
    std::cerr << kUsage;
    return 2;
  }
  options.Report = &std::cerr;
  const char* file = argv[arg];
  if (!foreign.empty()) {
    std::cerr << file << ": skipped: no " << foreign << " backend on this system\n";
    return 77;
  }
  try {
    const Scenario scenario = LoadScenario(file);
    if (UsesFolderFaults(scenario)) {
      const std::string why = EnterPrivateMountNamespace();
      if (!why.empty()) {
        std::cerr << file << ": skipped (no mount namespace): " << why << "\n";
        return 77;
      }
    }
    Runner runner(scenario, &std::cout, options);
    runner.Run();
    std::cout.flush();
    const int unmet = FirstUnmet(scenario.Expect, runner.Lines());
    if (unmet >= 0) {
      const Expectation& e = scenario.Expect[static_cast<std::size_t>(unmet)];
      std::cerr << "expected " << (e.Regex ? "a line matching: " : "line not found: ") << e.Text
                << "\n";
      return 1;
    }
    const int present = FirstPresent(scenario.Never, runner.Lines());
    if (present >= 0) {
      const Expectation& e = scenario.Never[static_cast<std::size_t>(present)];
      std::cerr << "never expected " << (e.Regex ? "a line matching: " : "the line: ") << e.Text
                << "\n";
      return 1;
    }
    return 0;
  } catch (const ScenarioSkipped& e) {
    std::cout.flush();
    std::cerr << file << ": skipped: " << e.what() << "\n";
    return 77;
  } catch (const ScenarioError& e) {
    std::cout.flush();
    std::cerr << file << ": " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    // What the system refused on the way (a folder, a file): the run could
    // not be made, which is no verdict on the file.
    std::cout.flush();
    std::cerr << file << ": cannot play: " << e.what() << "\n";
    return 2;
  }
}
