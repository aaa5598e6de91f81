// The HID backend of the platform the program runs on.
#pragma once

#include <memory>

#include "hid/hid_backend.h"

namespace mvx {

// hidraw and libudev on Linux; SetupAPI, hid.dll and kernel32 on Windows.
// Where no backend exists the result reports itself unavailable, and the
// controller stays empty as without the HID library.
std::unique_ptr<IHidBackend> CreatePlatformHidBackend();

}  // namespace mvx
