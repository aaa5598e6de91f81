// The sequencer's state in the main window: the current state, the tick in
// progress, the cross-type unlock, and what the identification learnt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/channel_fields.h"

namespace mvx {

// The device's transfer path, told by the length of its version text (three
// characters: type 1, six: type 2); the log shows the number.
enum class UpdateKind : int { None = 0, Type1 = 1, Type2 = 2 };

struct SequencerFields {
  int SequencerState = 0;
  // Set while a tick runs (its step may hold a modal box open).
  bool TickInProgress = false;
  // Set by the cross-type unlock, read by the compatibility rules.
  bool CrossTypeEnabled = false;
  // Counts the runs begun and the held units lost: a box's answer steers a
  // run only while this is what it was when the box opened.
  std::uint64_t RunNumber = 0;

  // What the identification learnt of the device.
  std::string CurrentVersion;
  UpdateKind UpdateType = UpdateKind::None;
  std::string VersionSubCode;
  std::string NewVersionSubCode;
  bool FormatAllowed = false;
  // The serial number the identification read before the install, when it
  // is well formed; empty: the unit cannot be recognised by it.
  std::string IdentifiedSerial;

  // The restart wait: the unit the install command went to; set from the
  // install command until that unit has left the bus (until then no device
  // change is its return, and an old version from it means it still
  // installs); how often the watchdog found it still on its old firmware.
  DeviceKey InstalledUnit;
  // The other devices listed when the install command went out.
  std::vector<DeviceKey> RestartBystanders;
  bool InstallingUnitListed = false;
  int InstallWatchdogs = 0;
  // Set once the unit back from its restart answered with the package's
  // version: nothing before that is reported as finished.
  bool NewFirmwareProven = false;
};

}  // namespace mvx
