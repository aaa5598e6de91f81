// mvxtvup-scenario [--real-time] SCENARIO-FILE: plays a scenario against the
// emulated device and prints its transcript. Exit status 0 when every expected line appeared
// in order and no line of "never" appeared, 1 otherwise (the line is named on
// standard error), 2 when the scenario file cannot be read or used, 77 when
// its folder faults cannot be made on this system (skipped).
#include <iostream>
#include <string>

#include "tools/scenario/fault_folder.h"
#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

int main(int argc, char** argv) {
  using namespace mvx::scenario;
  Runner::Options options;
  int arg = 1;
  if (argc == 3 && std::string(argv[1]) == "--real-time") {
    options.RealTime = true;
    ++arg;
  }
  if (arg != argc - 1) {
    std::cerr << "usage: mvxtvup-scenario [--real-time] SCENARIO-FILE\n";
    return 2;
  }
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
  } catch (const ScenarioError& e) {
    std::cout.flush();
    std::cerr << file << ": " << e.what() << "\n";
    return 2;
  }
}
