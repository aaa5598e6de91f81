// Plays a scenario: the tool's real main window core on the simulated HID
// backend with emulated devices, a scripted operator and a virtual clock, in a
// working folder of its own. Every event goes to the transcript.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace mvx::scenario {

class Runner {
 public:
  struct Options {
    // Real time instead of the virtual clock: the loop waits for timers and
    // the emulated devices answer from a thread of their own.
    bool RealTime = false;
  };
  // Transcript lines are written to out (may be null) as they happen.
  Runner(const Scenario& scenario, std::ostream* out, Options options);
  Runner(const Scenario& scenario, std::ostream* out) : Runner(scenario, out, Options{}) {}
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Runs the scenario to its end; raises ScenarioError when the working
  // folder or the package cannot be made.
  void Run();
  const std::vector<std::string>& Lines() const { return transcript_.Lines(); }

 private:
  struct Session;
  const Scenario& scenario_;
  Transcript transcript_;
  Options options_;
};

}  // namespace mvx::scenario
