// Enumeration of the present HID interfaces through the SetupAPI.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "hid/device_properties.h"
#include "hid/windows/win_hid_api.h"

namespace mvx::win {
namespace {

using Kind = HidProperty::Kind;

// Text up to the first zero byte, never past the end of the buffer: the
// registry does not promise a terminator.
std::string TextUpToZero(const char* data, std::size_t size) {
  const void* zero = std::memchr(data, 0, size);
  return std::string(data, zero ? static_cast<const char*>(zero) - data : size);
}

// Zero-terminated entries up to the first empty one or the buffer's end.
std::vector<std::string> SplitList(const char* data, std::size_t size) {
  std::vector<std::string> entries;
  std::size_t at = 0;
  while (at < size && data[at] != 0) {
    std::string entry = TextUpToZero(data + at, size - at);
    at += entry.size() + 1;
    entries.push_back(std::move(entry));
  }
  return entries;
}

HidProperty ReadProperty(const SetupApiFunctions& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                         const DevicePropertySpec& spec) {
  HidProperty property;
  property.Code = Code(spec.Code);
  property.Type = spec.Kind;
  if (api.GetDeviceRegistryPropertyA == nullptr) return property;
  if (spec.Kind == Kind::Number) {
    DWORD value = 0;
    if (api.GetDeviceRegistryPropertyA(set, &device, Code(spec.Code), nullptr,
                                       reinterpret_cast<PBYTE>(&value), sizeof value, nullptr))
      property.Number = value;
    return property;
  }
  const DWORD size = spec.Kind == Kind::String ? kPropertyTextSize : kPropertyListSize;
  std::vector<char> buffer(size, 0);
  if (!api.GetDeviceRegistryPropertyA(set, &device, Code(spec.Code), nullptr,
                                      reinterpret_cast<PBYTE>(buffer.data()), size, nullptr))
    return property;
  if (spec.Kind == Kind::String)
    property.Text = TextUpToZero(buffer.data(), buffer.size());
  else
    property.List = SplitList(buffer.data(), buffer.size());
  return property;
}

// The device path of one interface and its device data; false when the
// details cannot be read.
bool ReadInterfaceDetail(const SetupApiFunctions& api, HDEVINFO set,
                         SP_DEVICE_INTERFACE_DATA& interface_data, SP_DEVINFO_DATA& device,
                         std::string& path) {
  device = {};
  device.cbSize = kDevInfoDataSize;
  DWORD required = 0;
  api.GetDeviceInterfaceDetailA(set, &interface_data, nullptr, 0, &required, &device);
  if (required == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  // The fixed part is written even when the system asks for less.
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(required, kDetailDataSize + 1), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
  detail->cbSize = kDetailDataSize;
  if (!api.GetDeviceInterfaceDetailA(set, &interface_data, detail,
                                     static_cast<DWORD>(buffer.size()), nullptr, &device))
    return false;
  path = TextUpToZero(reinterpret_cast<const char*>(buffer.data()) + kDetailPathOffset,
                      buffer.size() - kDetailPathOffset);
  return !path.empty();
}

}  // namespace

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::vector<HidProperty> ReadRegistryProperties(const SetupApiFunctions& api, HDEVINFO set,
                                                SP_DEVINFO_DATA& device) {
  std::vector<HidProperty> properties;
  properties.reserve(std::size(kDeviceProperties));
  for (const DevicePropertySpec& spec : kDeviceProperties)
    properties.push_back(ReadProperty(api, set, device, spec));
  return properties;
}

InterfaceIdentity SystemInterfaceIdentity() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  return wine ? InterfaceIdentity::PathOnly : InterfaceIdentity::InstanceAndPath;
}

std::vector<HidInterfaceInfo> EnumerateInterfaces(const SetupApiFunctions& api, const GUID& guid,
                                                  InterfaceIdentity identity) {
  std::vector<HidInterfaceInfo> found;
  if (api.GetClassDevsA == nullptr) return found;
  HDEVINFO set = api.GetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return found;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = kInterfaceDataSize;
    if (!api.EnumDeviceInterfaces(set, nullptr, &guid, index, &interface_data)) break;
    SP_DEVINFO_DATA device{};
    HidInterfaceInfo info;
    if (!ReadInterfaceDetail(api, set, interface_data, device, info.Path)) continue;
    info.Instance = device.DevInst;
    info.Identity = identity == InterfaceIdentity::PathOnly
                        ? info.Path
                        : std::to_string(device.DevInst) + ' ' + info.Path;
    info.Properties = ReadRegistryProperties(api, set, device);
    found.push_back(std::move(info));
  }
  api.DestroyDeviceInfoList(set);
  return found;
}

}  // namespace mvx::win
