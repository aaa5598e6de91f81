// mvxtvup-scenario [--real-time | --backend hidraw [--device uhid|gadget]]
// SCENARIO-FILE: plays a scenario against emulated devices and prints its
// transcript. On the simulated backend by default (virtual clock, or real
// time); with --backend hidraw on the platform's own HID backend, each device
// a kernel HID device behind /dev/uhid or (--device gadget) a USB gadget.
// Exit status 0 when every expected line appeared in order and no line of
// "never" appeared, 1 otherwise (the line is named on standard error), 2 when
// the scenario file or the options cannot be used, 77 when the scenario
// cannot be played as asked on this system (skipped; the reason on standard
// error). Runs on real time write the download's packet rate and each kernel
// device's traffic to standard error.
#include <iostream>
#include <string>

#include "tools/scenario/fault_folder.h"
#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace {

constexpr const char* kUsage =
    "usage: mvxtvup-scenario [--real-time | --backend sim|hidraw [--device uhid|gadget]] "
    "SCENARIO-FILE\n";

// The options before the file; false when one is unknown or incomplete.
bool ParseOptions(int argc, char** argv, mvx::scenario::Runner::Options& options, int& arg) {
  using mvx::scenario::KernelDevice;
  bool hidraw = false;
  bool device_given = false;
  KernelDevice device = KernelDevice::Uhid;
  for (arg = 1; arg < argc - 1; ++arg) {
    const std::string name = argv[arg];
    if (name == "--real-time") {
      options.RealTime = true;
    } else if ((name == "--backend" || name == "--device") && arg + 2 < argc) {
      const std::string value = argv[++arg];
      if (name == "--backend" && (value == "sim" || value == "hidraw"))
        hidraw = value == "hidraw";
      else if (name == "--device" && (value == "uhid" || value == "gadget"))
        device = value == "uhid" ? KernelDevice::Uhid : KernelDevice::Gadget;
      else
        return false;
      device_given = device_given || name == "--device";
    } else {
      return false;
    }
  }
  if (device_given && !hidraw) return false;
  if (hidraw) options.Kernel = device;
  return arg == argc - 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mvx::scenario;
  Runner::Options options;
  int arg = 1;
  if (!ParseOptions(argc, argv, options, arg)) {
    std::cerr << kUsage;
    return 2;
  }
  options.Report = &std::cerr;
  const char* file = argv[arg];
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
  }
}
