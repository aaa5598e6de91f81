// What the Windows backend takes from setupapi.dll, hid.dll and kernel32: the
// function types it looks up at run time (so the build needs no driver kit and
// no import library), the structures it passes, and the pieces of the backend
// that tests drive with stand-in functions.
#pragma once

#include "base/windows_api.h"
// windows.h first
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "hid/hid_backend.h"

namespace mvx::win {

// ---- Structure sizes ------------------------------------------------------
// The SetupAPI checks cbSize against its own structure size and fails every
// call with another value. The sizes differ between 32-bit and 64-bit builds
// (the 32-bit SetupAPI structures are byte-packed), so the compiler's sizes
// are used; hard-coded 32-bit values would find no device in a 64-bit build.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
static_assert(sizeof(OVERLAPPED) == 32);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(OVERLAPPED) == 20);
#endif
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);

constexpr DWORD kInterfaceDataSize = sizeof(SP_DEVICE_INTERFACE_DATA);
constexpr DWORD kDevInfoDataSize = sizeof(SP_DEVINFO_DATA);
constexpr DWORD kDetailDataSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
constexpr std::size_t kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

// hid.dll fills HIDD_ATTRIBUTES and HIDP_CAPS; the backend interface's own
// records have their layout and are passed as they are.
static_assert(std::is_standard_layout_v<HidAttributes> && sizeof(HidAttributes) == 12);
static_assert(offsetof(HidAttributes, VendorID) == 4 &&
              offsetof(HidAttributes, VersionNumber) == 8);
static_assert(std::is_standard_layout_v<HidCaps> && sizeof(HidCaps) == 64);
static_assert(offsetof(HidCaps, InputReportByteLength) == 4);
static_assert(offsetof(HidCaps, OutputReportByteLength) == 6);
static_assert(offsetof(HidCaps, NumberLinkCollectionNodes) == 44);
static_assert(offsetof(HidCaps, NumberFeatureDataIndices) == 62);

// ---- Functions looked up at run time --------------------------------------

struct SetupApiFunctions {
  HDEVINFO(WINAPI* GetClassDevsA)(const GUID*, PCSTR, HWND, DWORD) = nullptr;
  BOOL(WINAPI* EnumDeviceInterfaces)
  (HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA) = nullptr;
  BOOL(WINAPI* GetDeviceInterfaceDetailA)
  (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
   PSP_DEVINFO_DATA) = nullptr;
  BOOL(WINAPI* GetDeviceRegistryPropertyA)
  (HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) = nullptr;
  BOOL(WINAPI* DestroyDeviceInfoList)(HDEVINFO) = nullptr;
  // cfgmgr32.dll's, for the walk up from an interface's device to its USB
  // device. Optional: without them Location and SerialNumber stay empty.
  CONFIGRET(WINAPI* GetParent)(PDEVINST, DEVINST, ULONG) = nullptr;
  CONFIGRET(WINAPI* GetDeviceIdA)(DEVINST, PSTR, ULONG, ULONG) = nullptr;
  CONFIGRET(WINAPI* GetDevNodeRegistryPropertyA)
  (DEVINST, ULONG, PULONG, PVOID, PULONG, ULONG) = nullptr;
};

struct HidDllFunctions {
  void(WINAPI* GetHidGuid)(GUID*) = nullptr;
  BOOLEAN(WINAPI* GetAttributes)(HANDLE, HidAttributes*) = nullptr;
  BOOLEAN(WINAPI* GetPreparsedData)(HANDLE, void**) = nullptr;
  BOOLEAN(WINAPI* FreePreparsedData)(void*) = nullptr;
  LONG(WINAPI* GetCaps)(void*, HidCaps*) = nullptr;
  BOOLEAN(WINAPI* GetProductString)(HANDLE, void*, ULONG) = nullptr;
};

// The functions as the loaded libraries have them; a missing one stays null.
SetupApiFunctions LookUpSetupApi(HMODULE setupapi);
// Adds cfgmgr32's functions to a table.
void LookUpConfigManager(HMODULE cfgmgr32, SetupApiFunctions& functions);
HidDllFunctions LookUpHidDll(HMODULE hid);
bool Complete(const SetupApiFunctions& functions);
bool Complete(const HidDllFunctions& functions);

constexpr LONG kHidpStatusSuccess = 0x00110000;

// The standard HID interface class, used when hid.dll cannot say.
constexpr GUID kStandardHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::string GuidText(const GUID& guid);

// ---- Enumeration -----------------------------------------------------------

// Buffer sizes of the registry property reads.
constexpr DWORD kPropertyTextSize = 1024;
constexpr DWORD kPropertyListSize = 16384;

// The 26 registry properties of one interface's device, in the order they are
// read; a failing read gives 0, empty text or an empty list.
std::vector<HidProperty> ReadRegistryProperties(const SetupApiFunctions& api, HDEVINFO set,
                                                SP_DEVINFO_DATA& device);

// Where the USB device of an interface's devnode is plugged in and its serial
// number. Its parents are walked up to the USB device (at most kMaxAncestors
// of them): the port is the first location path of the first that has one
// (for an interface of a composite device without its "#USBMI(n)"), else the
// USB device's location information, else that of the first that has it,
// else nothing. The serial number is the last segment of the USB device's
// instance ID ("USB\VID_5E3A&PID_0051\MVX0042") where the device has one:
// Windows makes up a segment with '&' for a device without.
struct UsbPort {
  std::string Location;
  std::string SerialNumber;
};
constexpr int kMaxAncestors = 16;
UsbPort FindUsbPort(const SetupApiFunctions& api, DEVINST devnode);

// What names one connection of an interface. A DevInst is only valid while
// its device is present: after a removal the same value can name the device
// that takes its place, so the interface path goes with it. Under wine the
// DevInst is the device's position in the set, which moves when an interface
// is registered before it: there the path alone names it.
enum class InterfaceIdentity { InstanceAndPath, PathOnly };

// Under wine (ntdll exports wine_get_version) the path alone, else both.
InterfaceIdentity SystemInterfaceIdentity();

// Every present interface of the class; interfaces whose details cannot be
// read are skipped.
std::vector<HidInterfaceInfo> EnumerateInterfaces(
    const SetupApiFunctions& api, const GUID& guid,
    InterfaceIdentity identity = InterfaceIdentity::InstanceAndPath);

// ---- Devices and change notification --------------------------------------

// Wraps an open device handle; kernel32's CancelIo is looked up once.
std::unique_ptr<IHidHandle> MakeDeviceHandle(HANDLE handle, const HidDllFunctions& hid);

// A hidden top-level window (broadcasts do not reach message-only windows) that
// calls on_change for every WM_DEVICECHANGE with DBT_DEVNODES_CHANGED; nullptr
// when the window cannot be made.
std::unique_ptr<IWatch> CreateChangeWindow(std::function<void()> on_change);
// The class name of that window, for tests that look for it.
constexpr const char* kChangeWindowClass = "MvxHidChangeWindow";

// ---- Errors ------------------------------------------------------------------

// The calling thread's last error of a failed backend call.
std::uint32_t LastBackendError();
void SetLastBackendError(std::uint32_t code);
std::string SystemErrorMessage(std::uint32_t code);

// ---- Code page helpers --------------------------------------------------------

std::string WideToUtf8(const wchar_t* text, std::size_t length);
std::wstring Utf8ToWide(const std::string& text);

}  // namespace mvx::win
