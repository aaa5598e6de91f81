// Enumeration and the registry properties, against stand-in SetupAPI
// functions that check structure sizes as the system does, and against the
// system's own SetupAPI.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/windows/win_hid_api.h"
#include "scripted/virtual_loop.h"
#include "tests/windows/win_test_support.h"

namespace mvx {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

// ---- A stand-in device information set --------------------------------------

struct FakeInterface {
  std::string path;  // empty: its details cannot be read
  DWORD instance = 0;
};

struct FakePropertyAnswer {
  bool ok = true;
  std::vector<std::uint8_t> bytes;  // written into the caller's buffer, cut to its size
};

// A devnode above the interfaces' devices, as cfgmgr32 tells it.
struct FakeNode {
  DEVINST parent = 0;  // 0: the root, no parent
  std::string id;
  std::string location_paths;  // the multi-string's bytes; empty: none
  std::string location_information;
};

struct FakeSetupApi {
  std::vector<FakeInterface> interfaces;
  std::map<DEVINST, FakeNode> nodes;
  bool class_devs_fail = false;
  DWORD class_devs_flags = 0;
  int destroyed = 0;
  std::map<DWORD, FakePropertyAnswer> properties;  // a missing code fails
};

FakeSetupApi* g_fake = nullptr;

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
  g_fake->class_devs_flags = flags;
  if (g_fake->class_devs_fail) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HDEVINFO>(g_fake);
}

// The system refuses a structure whose cbSize is not its own size.
BOOL WINAPI FakeEnumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                               PSP_DEVICE_INTERFACE_DATA data) {
  if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= g_fake->interfaces.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}

BOOL WINAPI FakeGetDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                          PSP_DEVINFO_DATA device) {
  const FakeInterface& entry = g_fake->interfaces.at(data->Reserved);
  if (entry.path.empty()) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  const DWORD needed = static_cast<DWORD>(win::kDetailPathOffset + entry.path.size() + 1);
  if (required != nullptr) *required = needed;
  if (detail == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, entry.path.c_str(), entry.path.size() + 1);
  if (device != nullptr) device->DevInst = entry.instance;
  return TRUE;
}

BOOL WINAPI FakeGetProperty(HDEVINFO, PSP_DEVINFO_DATA device, DWORD code, PDWORD, PBYTE buffer,
                            DWORD size, PDWORD) {
  if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  auto it = g_fake->properties.find(code);
  if (it == g_fake->properties.end()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  // A failing call may still have scribbled on the buffer.
  const std::size_t count = std::min<std::size_t>(size, it->second.bytes.size());
  std::memcpy(buffer, it->second.bytes.data(), count);
  if (!it->second.ok) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return it->second.ok ? TRUE : FALSE;
}

CONFIGRET WINAPI FakeGetParent(PDEVINST parent, DEVINST node, ULONG) {
  auto it = g_fake->nodes.find(node);
  if (it == g_fake->nodes.end() || it->second.parent == 0) return CR_NO_SUCH_DEVNODE;
  *parent = it->second.parent;
  return CR_SUCCESS;
}

// Writes the whole ID, without a terminator when it fills the buffer.
CONFIGRET WINAPI FakeGetDeviceId(DEVINST node, PSTR buffer, ULONG length, ULONG) {
  auto it = g_fake->nodes.find(node);
  if (it == g_fake->nodes.end()) return CR_NO_SUCH_DEVNODE;
  const std::string& id = it->second.id;
  if (id.size() > length) return CR_BUFFER_SMALL;
  std::memcpy(buffer, id.data(), id.size());
  if (id.size() < length) buffer[id.size()] = 0;
  return CR_SUCCESS;
}

CONFIGRET WINAPI FakeGetNodeProperty(DEVINST node, ULONG property, PULONG, PVOID buffer,
                                     PULONG length, ULONG) {
  auto it = g_fake->nodes.find(node);
  if (it == g_fake->nodes.end()) return CR_NO_SUCH_DEVNODE;
  const std::string& value = property == CM_DRP_LOCATION_PATHS ? it->second.location_paths
                             : property == CM_DRP_LOCATION_INFORMATION
                                 ? it->second.location_information
                                 : std::string();
  if (value.empty()) return CR_NO_SUCH_VALUE;
  const ULONG needed = static_cast<ULONG>(value.size());
  if (needed > *length) {
    *length = needed;
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, value.data(), value.size());
  *length = needed;
  return CR_SUCCESS;
}

BOOL WINAPI FakeDestroy(HDEVINFO) {
  ++g_fake->destroyed;
  return TRUE;
}

class WinEnumerationTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }

  std::vector<HidInterfaceInfo> Enumerate() {
    win::SetupApiFunctions api;
    api.GetClassDevsA = FakeGetClassDevs;
    api.EnumDeviceInterfaces = FakeEnumInterfaces;
    api.GetDeviceInterfaceDetailA = FakeGetDetail;
    api.GetDeviceRegistryPropertyA = FakeGetProperty;
    api.DestroyDeviceInfoList = FakeDestroy;
    if (config_manager_) {
      api.GetParent = FakeGetParent;
      api.GetDeviceIdA = FakeGetDeviceId;
      api.GetDevNodeRegistryPropertyA = FakeGetNodeProperty;
    }
    return win::EnumerateInterfaces(api, win::kStandardHidGuid);
  }

  static std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }

  FakeSetupApi fake_;
  bool config_manager_ = true;
};

TEST_F(WinEnumerationTest, FindsPresentInterfacesInOrderAndSkipsUnreadableOnes) {
  fake_.interfaces = {
      {"\\\\?\\hid#vid_0f0f&pid_0001#a", 11}, {"", 12}, {"\\\\?\\hid#vid_0f0f&pid_0002#b", 13}};
  const auto found = Enumerate();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Path, "\\\\?\\hid#vid_0f0f&pid_0001#a");
  EXPECT_EQ(found[0].Instance, 11u);
  EXPECT_EQ(found[1].Path, "\\\\?\\hid#vid_0f0f&pid_0002#b");
  EXPECT_EQ(found[1].Instance, 13u);
  EXPECT_NE(found[0].Identity, found[1].Identity);
  EXPECT_EQ(fake_.class_devs_flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  EXPECT_EQ(fake_.destroyed, 1);
}

TEST_F(WinEnumerationTest, AFailedDeviceSetFindsNothing) {
  fake_.interfaces = {{"\\\\?\\hid#a", 1}};
  fake_.class_devs_fail = true;
  EXPECT_TRUE(Enumerate().empty());
  EXPECT_EQ(fake_.destroyed, 0);
}

TEST_F(WinEnumerationTest, PropertiesComeInRecordOrderAndFillThePnPRecord) {
  fake_.interfaces = {{"\\\\?\\hid#a", 1}};
  fake_.properties[12] = {true, Bytes(std::string("Merovox Cradle\0junk", 19))};
  fake_.properties[1] = {true,
                         Bytes(std::string("HID\\VID_0F0F&PID_0001\0HID_DEVICE\0\0junk\0", 40))};
  fake_.properties[15] = {true, {0x84, 0x00, 0x00, 0x00}};
  const auto found = Enumerate();
  ASSERT_EQ(found.size(), 1u);
  std::vector<std::uint32_t> codes;
  for (const HidProperty& p : found[0].Properties) codes.push_back(p.Code);
  EXPECT_THAT(codes, ElementsAre(15, 7, 8, 2, 10, 0, 9, 12, 1, 18, 11, 17, 28, 21, 19, 27, 25, 22,
                                 26, 20, 13, 14, 24, 4, 16, 30));

  const auto pnp = THidPnPInfo::FromInterface(found[0]);
  EXPECT_EQ(pnp->FriendlyName, "Merovox Cradle");
  EXPECT_THAT(pnp->HardwareID, ElementsAre("HID\\VID_0F0F&PID_0001", "HID_DEVICE"));
  EXPECT_EQ(pnp->Capabilities, 0x84u);
  EXPECT_EQ(pnp->Path, "\\\\?\\hid#a");
  EXPECT_EQ(pnp->Instance, 1u);
}

// What a property read yields for each way the call can go wrong.
struct PropertyCase {
  const char* name;
  DWORD code;
  FakePropertyAnswer answer;
  std::uint32_t number;
  std::size_t text_length;
  std::vector<std::string> list;
};

class WinPropertyTest : public WinEnumerationTest,
                        public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(WinPropertyTest, ReadsWithinItsBufferAndFailsToEmpty) {
  const PropertyCase& c = GetParam();
  fake_.interfaces = {{"\\\\?\\hid#a", 1}};
  fake_.properties[c.code] = c.answer;
  const auto found = Enumerate();
  ASSERT_EQ(found.size(), 1u);
  const HidProperty* property = nullptr;
  for (const HidProperty& p : found[0].Properties)
    if (p.Code == c.code) property = &p;
  ASSERT_NE(property, nullptr);
  EXPECT_EQ(property->Number, c.number);
  EXPECT_EQ(property->Text.size(), c.text_length);
  EXPECT_EQ(property->List, c.list);
  // Every other property failed and is empty.
  for (const HidProperty& p : found[0].Properties) {
    if (p.Code == c.code) continue;
    EXPECT_EQ(p.Number, 0u);
    EXPECT_TRUE(p.Text.empty());
    EXPECT_TRUE(p.List.empty());
  }
}

std::vector<std::uint8_t> Filled(std::size_t size, char c) {
  return std::vector<std::uint8_t>(size, static_cast<std::uint8_t>(c));
}

std::vector<std::uint8_t> ListFillingTheBuffer() {
  std::vector<std::uint8_t> bytes = Filled(win::kPropertyListSize, 'x');
  bytes[3] = 0;  // "xxx", then one entry that runs to the buffer's end
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WinPropertyTest,
    ::testing::Values(PropertyCase{"NumberRead", 21, {true, {7, 0, 0, 0}}, 7, 0, {}},
                      PropertyCase{"NumberFailing", 21, {false, {7, 0, 0, 0}}, 0, 0, {}},
                      PropertyCase{"TextFailingAfterWriting", 12, {false, {'a', 'b', 0}}, 0, 0, {}},
                      PropertyCase{
                          "TextWithoutTerminator", 12, {true, Filled(5000, 'm')}, 0, 1024, {}},
                      PropertyCase{"ListFailing", 1, {false, {'a', 0, 0}}, 0, 0, {}},
                      PropertyCase{"EmptyList", 1, {true, {0, 0}}, 0, 0, {}},
                      PropertyCase{"ListWithoutFinalTerminator",
                                   1,
                                   {true, ListFillingTheBuffer()},
                                   0,
                                   0,
                                   {"xxx", std::string(win::kPropertyListSize - 4, 'x')}}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// ---- The USB port above an interface ---------------------------------------

// The tree above the interface's devnode 10, and the port and serial number
// found in it.
struct PortCase {
  const char* name;
  std::map<DEVINST, FakeNode> nodes;
  std::string location, serial;
  bool config_manager = true;
};

class WinUsbPortTest : public WinEnumerationTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(WinUsbPortTest, LocationAndSerialNumberOfTheUsbDevice) {
  const PortCase& c = GetParam();
  fake_.interfaces = {{"\\\\?\\hid#vid_5e3a&pid_0051#a", 10}};
  fake_.nodes = c.nodes;
  config_manager_ = c.config_manager;
  const auto found = Enumerate();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Location, c.location);
  EXPECT_EQ(found[0].SerialNumber, c.serial);
  const auto pnp = THidPnPInfo::FromInterface(found[0]);
  EXPECT_EQ(pnp->Location, c.location);
}

const std::string kPort3 = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)";
const std::string kPaths = kPort3 + std::string("\0ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)\0\0", 35);
const FakeNode kHidNode{11, "HID\\VID_5E3A&PID_0051\\7&1A2B&0&0000", "", ""};
const FakeNode kRootHub{0, "USB\\ROOT_HUB30\\4&1F2E&0&0", "PCIROOT(0)#PCI(1400)#USBROOT(0)", ""};

INSTANTIATE_TEST_SUITE_P(
    Trees, WinUsbPortTest,
    ::testing::Values(
        // HID devnode, a USB interface without paths, the USB device with them.
        PortCase{"PathsOnTheGrandparent",
                 {{10, kHidNode},
                  {11, {12, "USB\\VID_5E3A&PID_0051&MI_00\\8&3C&0&0000", "", "0000.0014.0000"}},
                  {12, {13, "USB\\VID_5E3A&PID_0051\\MVX0042", kPaths, "Port_#0003.Hub_#0001"}},
                  {13, kRootHub}},
                 kPort3,
                 "MVX0042"},
        // The interface has paths of its own; the port is its device's.
        PortCase{"PathsOfACompositeInterface",
                 {{10, kHidNode},
                  {11, {12, "USB\\VID_5E3A&PID_0051&MI_01\\8&3C&0&0001", kPort3 + "#USBMI(1)", ""}},
                  {12, {13, "USB\\VID_5E3A&PID_0051\\6&2F1A3B&0&3", kPaths, ""}},
                  {13, kRootHub}},
                 kPort3,
                 ""},
        PortCase{"LocationInformationWithoutPaths",
                 {{10, kHidNode},
                  {11, {12, "USB\\VID_5E3A&PID_0051\\6&2F1A3B&0&3", "", "Port_#0003.Hub_#0001"}},
                  {12, {0, "USB\\ROOT_HUB30\\4&1F2E&0&0", "", "root hub"}}},
                 "Port_#0003.Hub_#0001",
                 ""},
        // The USB device's own place, not its interface's or its hub's.
        PortCase{"LocationInformationOfTheUsbDevice",
                 {{10, kHidNode},
                  {11, {12, "USB\\VID_5E3A&PID_0051&MI_00\\8&3C&0&0000", "", "0000.0014.0000"}},
                  {12, {13, "USB\\VID_5E3A&PID_0051\\MVX0042", "", "Port_#0003.Hub_#0001"}},
                  {13, {0, "USB\\VID_05E3&PID_0610\\5&1&0&2", kPaths, "Port_#0002.Hub_#0001"}}},
                 "Port_#0003.Hub_#0001",
                 "MVX0042"},
        PortCase{"NoneAtAll",
                 {{10, kHidNode}, {11, {12, "WINEBUS\\VID_5E3A&PID_0051\\0", "", ""}}, {12, {}}},
                 "",
                 ""},
        PortCase{"NoConfigManager",
                 {{10, kHidNode}, {11, {0, "USB\\VID_5E3A&PID_0051\\MVX0042", kPaths, ""}}},
                 "",
                 "",
                 false},
        // A tree that loops and an ID that fills the buffer end the walk
        // cleanly.
        PortCase{"ParentsInALoop",
                 {{10, kHidNode},
                  {11, {12, std::string(MAX_DEVICE_ID_LEN, 'U'), "", ""}},
                  {12, {11, "HID\\LOOP\\0", "", ""}}},
                 "",
                 ""}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// ---- The controller over the stand-in set ----------------------------------

// Scans through the stand-in set; every interface opens and answers as a
// cradle would, without I/O.
class StandInBackend : public IHidBackend {
 public:
  explicit StandInBackend(win::InterfaceIdentity identity) : identity_(identity) {}
  bool Available() override { return true; }
  std::vector<HidInterfaceInfo> Enumerate() override {
    win::SetupApiFunctions api;
    api.GetClassDevsA = FakeGetClassDevs;
    api.EnumDeviceInterfaces = FakeEnumInterfaces;
    api.GetDeviceInterfaceDetailA = FakeGetDetail;
    api.GetDeviceRegistryPropertyA = FakeGetProperty;
    api.DestroyDeviceInfoList = FakeDestroy;
    return win::EnumerateInterfaces(api, win::kStandardHidGuid, identity_);
  }
  std::unique_ptr<IHidHandle> Open(const std::string&, HidOpenMode) override {
    return std::make_unique<wintest::AnswerHandle>();
  }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop&, std::function<void()>) override {
    return nullptr;
  }
  std::uint32_t LastError() override { return 0; }
  std::string ErrorMessage(std::uint32_t) override { return {}; }

 private:
  win::InterfaceIdentity identity_;
};

// Two scans of the set: what the controller takes for gone and for new.
struct SlotCase {
  const char* name;
  win::InterfaceIdentity identity;
  std::vector<FakeInterface> before, after;
  std::vector<std::string> removed, arrived;
};

class WinDeviceSlotTest : public WinEnumerationTest,
                          public ::testing::WithParamInterface<SlotCase> {};

TEST_P(WinDeviceSlotTest, ADeviceIsTheSameOnlyWhenItsIdentityIs) {
  const SlotCase& c = GetParam();
  StandInBackend backend(c.identity);
  VirtualLoop loop;
  THidDeviceController controller(loop, backend);
  std::vector<std::string> removed, arrived;
  controller.OnRemoval = [&removed](THidDevice* d) { removed.push_back(d->PnPInfo().Path); };
  controller.OnArrival = [&arrived](THidDevice* d) { arrived.push_back(d->PnPInfo().Path); };
  fake_.interfaces = c.before;
  controller.DeviceChange();
  arrived.clear();
  fake_.interfaces = c.after;
  controller.DeviceChange();
  EXPECT_EQ(removed, c.removed);
  EXPECT_EQ(arrived, c.arrived);
  std::vector<std::string> listed, present;
  for (int i = 0; i < controller.Count(); ++i)
    listed.push_back(controller.Device(i)->PnPInfo().Path);
  for (const FakeInterface& i : c.after) present.push_back(i.path);
  std::sort(listed.begin(), listed.end());
  std::sort(present.begin(), present.end());
  EXPECT_EQ(listed, present);
}

const std::string kCradleA = "\\\\?\\hid#vid_5e3a&pid_0051#7&1a2b&0&0000#{4d1e55b2}";
const std::string kCradleB = "\\\\?\\hid#vid_5e3a&pid_0051#7&3c4d&0&0000#{4d1e55b2}";
const std::string kMouse = "\\\\?\\hid#vid_046d&pid_c077#7&5e6f&0&0000#{4d1e55b2}";
using win::InterfaceIdentity;

INSTANTIATE_TEST_SUITE_P(Slots, WinDeviceSlotTest,
                         ::testing::Values(
                             // Windows hands the freed DevInst to the device that arrives next.
                             SlotCase{"ArrivalInTheFreedDevInstIsNew",
                                      InterfaceIdentity::InstanceAndPath,
                                      {{kCradleA, 7}},
                                      {{kCradleB, 7}},
                                      {kCradleA},
                                      {kCradleB}},
                             SlotCase{"ReenumeratedOnTheSamePathIsNew",
                                      InterfaceIdentity::InstanceAndPath,
                                      {{kCradleA, 7}},
                                      {{kCradleA, 9}},
                                      {kCradleA},
                                      {kCradleA}},
                             SlotCase{"UnchangedStays",
                                      InterfaceIdentity::InstanceAndPath,
                                      {{kCradleA, 7}, {kMouse, 8}},
                                      {{kCradleA, 7}, {kMouse, 8}},
                                      {},
                                      {}},
                             // Wine numbers by position: a new interface before the mouse moves
                             // the mouse's number, and a device in the slot of one that left
                             // takes its number.
                             SlotCase{"WineArrivalBeforeAListedDevice",
                                      InterfaceIdentity::PathOnly,
                                      {{kMouse, 3}},
                                      {{kCradleA, 3}, {kMouse, 4}},
                                      {},
                                      {kCradleA}},
                             SlotCase{"WineArrivalInTheSlotOfOneThatLeft",
                                      InterfaceIdentity::PathOnly,
                                      {{kCradleA, 3}, {kMouse, 4}},
                                      {{kCradleB, 3}, {kMouse, 4}},
                                      {kCradleA},
                                      {kCradleB}}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

// ---- The system's own SetupAPI ------------------------------------------------

// Monitors are device interfaces that Windows, and wine without a display,
// always list; no HID device is needed to see the structure sizes accepted.
constexpr GUID kMonitorInterface = {
    0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};

TEST(WinSetupApiTest, TheSystemAcceptsTheCompilerSizedStructures) {
  HMODULE setupapi = LoadLibraryA("setupapi.dll");
  ASSERT_NE(setupapi, nullptr);
  const win::SetupApiFunctions api = win::LookUpSetupApi(setupapi);
  ASSERT_TRUE(win::Complete(api));

  HDEVINFO set = api.GetClassDevsA(&kMonitorInterface, nullptr, nullptr,
                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  const bool listed =
      api.EnumDeviceInterfaces(set, nullptr, &kMonitorInterface, 0, &interface_data);
  // The sizes of 32-bit Windows, refused by a 64-bit SetupAPI: with them the
  // scan would find nothing.
  interface_data.cbSize = 28;
  const bool with_32_bit_size =
      api.EnumDeviceInterfaces(set, nullptr, &kMonitorInterface, 0, &interface_data);
  api.DestroyDeviceInfoList(set);
  if (!listed) {
    FreeLibrary(setupapi);
    GTEST_SKIP() << "this system lists no monitor interface";
  }
#if defined(_WIN64)
  EXPECT_FALSE(with_32_bit_size);
#else
  EXPECT_TRUE(with_32_bit_size);
#endif

  // With the walk up the device tree, through the system's own cfgmgr32.
  HMODULE cfgmgr32 = LoadLibraryA("cfgmgr32.dll");
  ASSERT_NE(cfgmgr32, nullptr);
  win::SetupApiFunctions walking = api;
  win::LookUpConfigManager(cfgmgr32, walking);
  EXPECT_NE(walking.GetParent, nullptr);
  const auto found = win::EnumerateInterfaces(walking, kMonitorInterface);
  FreeLibrary(cfgmgr32);
  FreeLibrary(setupapi);
  ASSERT_FALSE(found.empty());
  EXPECT_THAT(found[0].Path, StartsWith("\\\\?\\"));
  EXPECT_EQ(found[0].Properties.size(), 26u);
}

}  // namespace
}  // namespace mvx
