#include "emulator/device_options.h"

#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace mvx::emu {
namespace {

std::uint32_t Milliseconds(const std::string& text) {
  std::size_t used = 0;
  const unsigned long value = std::stoul(text, &used);
  if (used != text.size() || value > 3'600'000) throw std::invalid_argument(text);
  return static_cast<std::uint32_t>(value);
}

SerialItems Serial(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) items.push_back(item);
  if (items.size() != 3) throw std::invalid_argument(text);
  return {items[0], items[1], items[2]};
}

void Ids(const std::string& text, DeviceIdentity& id) {
  if (text.size() != 9 || text[4] != ':') throw std::invalid_argument(text);
  std::size_t used = 0;
  id.VendorId = static_cast<std::uint16_t>(std::stoul(text.substr(0, 4), &used, 16));
  if (used != 4) throw std::invalid_argument(text);
  id.ProductId = static_cast<std::uint16_t>(std::stoul(text.substr(5), &used, 16));
  if (used != 4) throw std::invalid_argument(text);
}

struct OptionRow {
  const char* Name;
  std::function<void(const std::string&, DeviceConfig&)> Apply;
};

const OptionRow kOptions[] = {
    {"--product", [](const std::string& v, DeviceConfig& c) { c.Identity.Product = v; }},
    {"--ids", [](const std::string& v, DeviceConfig& c) { Ids(v, c.Identity); }},
    {"--version", [](const std::string& v, DeviceConfig& c) { c.Identity.Version = v; }},
    {"--version-after",
     [](const std::string& v, DeviceConfig& c) { c.Identity.VersionAfterInstall = v; }},
    {"--model", [](const std::string& v, DeviceConfig& c) { c.Identity.Model = v; }},
    {"--detail", [](const std::string& v, DeviceConfig& c) { c.Identity.Detail = v; }},
    {"--language", [](const std::string& v, DeviceConfig& c) { c.Identity.Language = v; }},
    {"--serial", [](const std::string& v, DeviceConfig& c) { c.Identity.Serial = Serial(v); }},
    {"--serial-after",
     [](const std::string& v, DeviceConfig& c) { c.Identity.SerialAfterInstall = Serial(v); }},
    {"--latency",
     [](const std::string& v, DeviceConfig& c) { c.Timing.LatencyMs = Milliseconds(v); }},
    {"--backup",
     [](const std::string& v, DeviceConfig& c) { c.Timing.BackupMs = Milliseconds(v); }},
    {"--install",
     [](const std::string& v, DeviceConfig& c) { c.Timing.InstallMs = Milliseconds(v); }},
    {"--restart",
     [](const std::string& v, DeviceConfig& c) { c.Timing.RestartMs = Milliseconds(v); }},
    {"--format",
     [](const std::string& v, DeviceConfig& c) { c.Timing.FormatMs = Milliseconds(v); }},
};

}  // namespace

bool ApplyDeviceOption(const std::string& name, const std::string& value, DeviceConfig& config) {
  for (const OptionRow& row : kOptions) {
    if (name != row.Name) continue;
    row.Apply(value, config);
    return true;
  }
  return false;
}

}  // namespace mvx::emu
