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
  // Transcript lines are written to out (may be null) as they happen.
  Runner(const Scenario& scenario, std::ostream* out);
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
};

}  // namespace mvx::scenario
