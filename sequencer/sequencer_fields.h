// The sequencer's state in the main window: the current state, the tick in
// progress, the cross-type unlock, and what the identification learnt.
#pragma once

#include <string>

namespace mvx {

struct SequencerFields {
  int SequencerState = 0;
  // Set while a tick runs (its step may hold a modal box open).
  bool TickInProgress = false;
  // Set by the cross-type unlock, read by the compatibility rules.
  bool CrossTypeEnabled = false;

  // What the identification learnt of the device.
  std::string CurrentVersion;
  int UpdateType = 0;
  std::string VersionSubCode;
  std::string NewVersionSubCode;
  bool FormatAllowed = false;
  // The serial number the identification read before the install, when it
  // is well formed; empty: the unit cannot be recognised by it.
  std::string IdentifiedSerial;
};

}  // namespace mvx
