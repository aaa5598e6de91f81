// The command-line options that describe an emulated device, shared by the
// programs that set one into a kernel cradle (mvx-uhid-device,
// mvx-gadget-device):
//
//   --product TEXT        the product name (default "Merovox TV")
//   --ids VVVV:PPPP       vendor and product ID in hex (default 5E3A:0051)
//   --version TEXT        the "VER" text (default 201026)
//   --version-after TEXT  the version after an install of a file it holds
//   --model TEXT, --detail TEXT, --language TEXT
//   --serial PCB,BAT,SERIAL          the serial items "GSER" reports
//   --serial-after PCB,BAT,SERIAL    the items after an install
//   --latency MS, --backup MS, --install MS, --restart MS, --format MS
#pragma once

#include <string>

#include "emulator/device_config.h"

namespace mvx::emu {

// Applies one option and its value to config. False when name is not one of
// the device's options; std::invalid_argument for a value it cannot take.
bool ApplyDeviceOption(const std::string& name, const std::string& value, DeviceConfig& config);

}  // namespace mvx::emu
