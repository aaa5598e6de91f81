// --list: the accepted devices present, one line each, asked nothing that
// would disturb a version-up another copy runs on them.
#pragma once

#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace mvx::cli {

struct ListedDevice {
  std::string Path;
  std::uint16_t VendorID = 0, ProductID = 0;
  std::string Product;
  std::string Location;
  std::string SerialNumber;
};

std::vector<ListedDevice> ListDevices(IHidBackend& hid);
// "PATH  VVVV:PPPP  PRODUCT  location LOCATION  serial SERIAL"
std::string DeviceLine(const ListedDevice& device);

}  // namespace mvx::cli
