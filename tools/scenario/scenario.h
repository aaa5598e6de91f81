// A scenario: the package, the settings, the operator, the devices with what
// they are, hold and do wrong, the events that move them, and the transcript
// lines expected. Read from a JSON file (format in docs/scenarios.md).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/device_config.h"

namespace mvx::scenario {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The scenario cannot be played as asked on this system (a file system that
// cannot fail here, a device the kernel cannot present): the run is skipped.
class ScenarioSkipped : public ScenarioError {
 public:
  using ScenarioError::ScenarioError;
};

// The package the operator opens: an existing file, or one built from
// parameters.
struct PackageSpec {
  std::string Path;  // absolute once loaded; empty: build one
  std::string Magic = "Tavun";
  std::string Version = "201040";
  std::string SpecialCode;
  std::string FileName = "update.tvu";
  std::uint32_t ImageSize = 4000;
  std::optional<std::string> ImageContent;  // overrides ImageSize
  // Bytes written over the built package at an offset: a damaged package.
  struct Patch {
    std::uint64_t Offset = 0;
    std::string Bytes;
  };
  std::vector<Patch> Patches;
};

struct DeviceSpec {
  std::string Name;
  emu::DeviceConfig Config;
};

// When an event happens: at a virtual time, when the sequencer enters a
// state (its Occurrence-th time), when a device has received a command
// (Occurrence times), while the Box-th box or dialog is open, or before the
// window is created (folder actions only).
enum class Trigger { AtMs, AtState, AtCommand, AtBox, AtStart };

// What happens: a device is set in, removed or sends bytes unasked; the
// operator opens a package, sets a check box; time passes (inside a box); the
// working folder turns read-only, full or writable again; the transcript
// takes a snapshot of the state, the labels and the folder's files.
enum class Action {
  SetIn,
  Remove,
  Send,
  Open,
  Format,
  CrossType,
  Wait,
  FolderReadOnly,
  FolderFull,
  FolderWritable,
  Snapshot
};

struct Event {
  Trigger When = Trigger::AtMs;
  std::uint64_t Ms = 0;
  int State = 0;
  std::string Command;
  int Occurrence = 1;
  int Box = 0;
  std::string BoxText;        // AtBox by the box's text instead of its number
  std::string WatchedDevice;  // AtCommand

  Action Do = Action::Wait;
  std::string Device;  // SetIn, Remove, Send
  std::string Text;    // Send: the bytes; Open: the file ("" cancels); CrossType: the code
  std::optional<std::string> File;
  bool Flag = true;  // Format: check or uncheck; CrossType: answer Yes or No
  std::uint64_t WaitMs = 0;
  std::uint64_t FreeBytes = 0;  // FolderFull
};

struct Expectation {
  std::string Text;
  bool Regex = false;
};

struct Scenario {
  std::string Name;
  std::string Folder;  // of the scenario file: relative paths start here
  std::optional<PackageSpec> Package;
  // Further packages built beside the first, opened by their file names.
  std::vector<PackageSpec> OtherPackages;
  // Files the working folder holds before the window starts (after the
  // settings file, so they may replace it).
  std::map<std::string, std::string> FolderFiles;
  bool FormatAfterVersionup = false;
  std::vector<std::string> Answers;
  std::vector<DeviceSpec> Devices;
  std::vector<Event> Events;
  std::uint64_t RunMs = 60'000;
  std::vector<Expectation> Expect;
  // Lines that must appear nowhere in the transcript: what the run must not
  // do (a command not sent, a box not shown).
  std::vector<Expectation> Never;
};

// The name a package has in the working folder.
std::string NameInWorkingFolder(const PackageSpec& package);

// The scenario turns the working folder read-only or full: its run needs a
// private mount namespace (fault_folder.h).
bool UsesFolderFaults(const Scenario& scenario);

// Raises ScenarioError with the reason when the file cannot be read or does
// not describe a scenario.
Scenario LoadScenario(const std::string& path);
Scenario ParseScenario(const std::string& json_text, const std::string& folder);

// "\r", "\n", "\t", "\\", "\xNN" in a scenario's texts.
std::string Unescape(const std::string& text);

}  // namespace mvx::scenario
