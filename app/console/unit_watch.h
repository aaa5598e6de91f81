// Follows the main window through each unit's version-up: prints a line per
// phase (with the transfer's percentage at most once a second), keeps the
// unit's log in a file of its own, and when the unit ends appends its record.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console/console_operator.h"
#include "app/console/unit_record.h"
#include "app/form.h"

namespace mvx::cli {

enum class Phase {
  None,
  Identifying,
  Transfer,
  Install,
  RestartWait,
  SerialRestore,
  Format,
  Report
};

// The phase a sequencer state belongs to.
Phase PhaseOfState(int state);
const char* PhaseName(Phase phase);

struct WatchSettings {
  std::string Cradle;
  std::string PackageName, PackageMd5;
  std::string LogDir;  // made when the first unit begins
  RecordFile Record;
};

class UnitWatch {
 public:
  UnitWatch(TForm1& form, WatchSettings settings, std::function<void(const std::string&)> print);
  ~UnitWatch();
  UnitWatch(const UnitWatch&) = delete;
  UnitWatch& operator=(const UnitWatch&) = delete;

  // Looks at the window: a unit begun, a phase reached, a unit ended. Called
  // on every log line, every box and from a timer.
  void Poll();
  // Told before each box is shown and after it is answered.
  void BoxComing();
  void BoxSeen(const BoxSeen& box);
  // Ends the unit in progress as interrupted (the run is left where it is).
  void Interrupt();

  bool Active() const { return unit_ != nullptr; }
  Phase CurrentPhase() const;
  // Whether the install command has gone to the unit in progress: from then
  // on it must be let finish.
  bool Installing() const;
  int Ended() const { return ended_; }
  int Failed() const { return failed_; }
  // Told after each unit's record is written.
  std::function<void(const UnitRecord&)> UnitEnded;
  // Told when a unit begins.
  std::function<void()> UnitBegun;

 private:
  struct Unit;
  void Begin();
  void Follow();
  void End(const std::string& result);
  void LineAdded(std::string_view line);
  // What a log line of the unit tells for its record.
  void Learn(std::string_view body);
  void OpenLog();
  // What the log says last of a run that ended without a box.
  std::string LastWord() const;

  TForm1& form_;
  WatchSettings settings_;
  std::function<void(const std::string&)> print_;
  TMemo::Subscription log_;
  std::vector<std::string> lines_;       // since the log was last cleared
  std::vector<std::uint64_t> box_runs_;  // the run of each box open now
  std::unique_ptr<Unit> unit_;
  std::optional<std::uint64_t> ended_run_;
  int ended_ = 0;
  int failed_ = 0;
  int numbered_ = 0;
  bool polling_ = false;
};

}  // namespace mvx::cli
