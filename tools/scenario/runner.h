// Plays a scenario: the tool's real main window core on the simulated HID
// backend with emulated devices, a scripted operator and a virtual clock, in a
// working folder of its own; or on real time with the platform's own HID
// backend and the devices as kernel HID devices. Every event goes to the
// transcript.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tools/scenario/cradle.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace mvx::scenario {

class Runner {
 public:
  struct Options {
    // Real time instead of the virtual clock: the loop waits for timers and
    // the emulated devices answer from a thread of their own. The run ends
    // once the same file on the virtual clock shows nothing more can happen
    // (quiet_rule.h).
    bool RealTime = false;
    // The tool on the platform's own HID backend (hidraw and libudev, or
    // Windows' HID stack), the devices kernel HID devices made on this path;
    // always on real time.
    std::optional<KernelPath> Kernel;
    // Where a run on real time writes the download's packet rate and each
    // kernel device's traffic (may be null).
    std::ostream* Report = nullptr;
  };
  // Transcript lines are written to out (may be null) as they happen.
  Runner(const Scenario& scenario, std::ostream* out, Options options);
  Runner(const Scenario& scenario, std::ostream* out) : Runner(scenario, out, Options{}) {}
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Runs the scenario to its end; raises ScenarioError when the working
  // folder or the package cannot be made, ScenarioSkipped when the run
  // cannot be played as asked here.
  void Run();
  const std::vector<std::string>& Lines() const { return transcript_.Lines(); }
  const std::vector<std::uint64_t>& Times() const { return transcript_.Times(); }
  // When the run played each of the scenario's events (ms on its clock), in
  // the file's order; kNotPlayed for those it never played.
  static constexpr std::uint64_t kNotPlayed = UINT64_MAX;
  const std::vector<std::uint64_t>& PlayedAt() const { return played_at_; }

 private:
  struct Session;
  const Scenario& scenario_;
  Transcript transcript_;
  Options options_;
  std::vector<std::uint64_t> played_at_;
};

}  // namespace mvx::scenario
