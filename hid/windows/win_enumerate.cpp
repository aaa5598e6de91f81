// Enumeration of the present HID interfaces through the SetupAPI.
#include <algorithm>
#include <cctype>
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
  if (size == 0) return {};
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

// What a devnode's registry property holds, cut to the buffer; empty when the
// devnode does not have it.
std::vector<char> NodeProperty(const SetupApiFunctions& api, DEVINST node, ULONG property) {
  std::vector<char> buffer(kPropertyTextSize, 0);
  ULONG length = static_cast<ULONG>(buffer.size());
  if (api.GetDevNodeRegistryPropertyA == nullptr ||
      api.GetDevNodeRegistryPropertyA(node, property, nullptr, buffer.data(), &length, 0) !=
          CR_SUCCESS)
    return {};
  buffer.resize(std::min<std::size_t>(length, buffer.size()));
  return buffer;
}

std::string NodeId(const SetupApiFunctions& api, DEVINST node) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  if (api.GetDeviceIdA == nullptr || api.GetDeviceIdA(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
    return {};
  return TextUpToZero(id, sizeof id);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  return text.size() >= length &&
         std::equal(prefix, prefix + length, text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

bool ContainsNoCase(const std::string& text, const char* part) {
  for (std::size_t at = 0; at < text.size(); ++at)
    if (StartsWithNoCase(text.substr(at), part)) return true;
  return false;
}

// A USB device's ID: "USB\<hardware>\<instance>"; an interface of a
// composite device has "&MI_nn" in its hardware part.
bool IsUsbDeviceId(const std::string& id) {
  const std::size_t first = id.find('\\'), last = id.rfind('\\');
  return first != std::string::npos && first != last && StartsWithNoCase(id, "USB\\") &&
         !ContainsNoCase(id.substr(first, last - first), "&MI_");
}

std::string SerialFromInstanceId(const std::string& id) {
  const std::string segment = id.substr(id.rfind('\\') + 1);
  return segment.find('&') == std::string::npos ? segment : std::string();
}

// A composite device's interface is placed at "<device>#USBMI(n)"; the port
// is the device's.
std::string PortFromLocationPath(std::string path) {
  const std::size_t mark = path.rfind('#');
  if (mark != std::string::npos && StartsWithNoCase(path.substr(mark), "#USBMI("))
    path.resize(mark);
  return path;
}

}  // namespace

UsbPort FindUsbPort(const SetupApiFunctions& api, DEVINST devnode) {
  UsbPort port;
  if (api.GetParent == nullptr) return port;
  std::string information;
  DEVINST node = devnode;
  for (int level = 0; level < kMaxAncestors; ++level) {
    DEVINST parent = 0;
    if (api.GetParent(&parent, node, 0) != CR_SUCCESS || parent == node) break;
    node = parent;
    const std::string id = NodeId(api, node);
    const bool usb_device = IsUsbDeviceId(id);
    if (usb_device) port.SerialNumber = SerialFromInstanceId(id);
    if (port.Location.empty()) {
      const std::vector<char> paths = NodeProperty(api, node, CM_DRP_LOCATION_PATHS);
      const std::vector<std::string> list = SplitList(paths.data(), paths.size());
      if (!list.empty()) port.Location = PortFromLocationPath(list.front());
    }
    const std::vector<char> text = NodeProperty(api, node, CM_DRP_LOCATION_INFORMATION);
    std::string here = TextUpToZero(text.data(), text.size());
    if (information.empty() || (usb_device && !here.empty())) information = std::move(here);
    // Above the USB device are its hubs, whose places are not its port.
    if (usb_device) break;
  }
  if (port.Location.empty()) port.Location = information;
  return port;
}

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
    UsbPort port = FindUsbPort(api, device.DevInst);
    info.Location = std::move(port.Location);
    info.SerialNumber = std::move(port.SerialNumber);
    found.push_back(std::move(info));
  }
  api.DestroyDeviceInfoList(set);
  return found;
}

}  // namespace mvx::win
