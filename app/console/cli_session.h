// One run of mvxtvup-cli: the package checked in a working folder of its own,
// then unit after unit through the main window's steps until the units asked
// for have ended, no unit comes in time, or Ctrl+C.
#pragma once

#include <functional>
#include <string>

#include "app/console/cli_options.h"
#include "base/real_time_loop.h"
#include "hid/hid_backend.h"

namespace mvx {
class SimBackend;
}

namespace mvx::cli {

struct SessionParts {
  RealTimeLoop& Loop;
  IHidBackend& Hid;
  // Prints one line of the program's output.
  std::function<void(const std::string&)> Print;
  // How often Ctrl+C was pressed so far.
  std::function<int()> Interrupts;
  // Asks the person at the terminal while wanted() holds; nothing when no
  // answer came (interrupted, input closed, no longer wanted). Null without
  // a terminal.
  std::function<std::optional<bool>(const std::string&, const std::function<bool()>& wanted)>
      AskTerminal;
  // The family of the tool's lock names; empty: the tool's own (tests use
  // one of their own, so as never to meet a running tool).
  std::string LockFamily;
  // With --demo: the simulated backend (Hid) into which the emulated units
  // are set.
  SimBackend* DemoHid = nullptr;
};

// Runs the version-ups the options ask for and returns the exit status.
int RunSession(const CliOptions& options, const SessionParts& parts);

// Where the record and the logs go when the options do not say.
std::string DefaultRecordFile(const std::string& package, bool json);
std::string DefaultLogDir(const std::string& record_file);

}  // namespace mvx::cli
