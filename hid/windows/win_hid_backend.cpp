#include "hid/windows/win_hid_backend.h"

#include "hid/windows/win_hid_api.h"

namespace mvx {

namespace win {
namespace {

thread_local std::uint32_t t_last_error = 0;

// GetProcAddress gives a generic function pointer; the looked-up function has
// the type the table declares for it.
template <typename Function>
void LookUp(HMODULE module, const char* name, Function& function) {
  FARPROC proc = GetProcAddress(module, name);
  function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

template <typename... Functions>
bool AllFound(const Functions*... functions) {
  return ((*functions != nullptr) && ...);
}

}  // namespace

SetupApiFunctions LookUpSetupApi(HMODULE setupapi) {
  SetupApiFunctions f;
  LookUp(setupapi, "SetupDiGetClassDevsA", f.GetClassDevsA);
  LookUp(setupapi, "SetupDiEnumDeviceInterfaces", f.EnumDeviceInterfaces);
  LookUp(setupapi, "SetupDiGetDeviceInterfaceDetailA", f.GetDeviceInterfaceDetailA);
  LookUp(setupapi, "SetupDiGetDeviceRegistryPropertyA", f.GetDeviceRegistryPropertyA);
  LookUp(setupapi, "SetupDiDestroyDeviceInfoList", f.DestroyDeviceInfoList);
  return f;
}

void LookUpConfigManager(HMODULE cfgmgr32, SetupApiFunctions& f) {
  LookUp(cfgmgr32, "CM_Get_Parent", f.GetParent);
  LookUp(cfgmgr32, "CM_Get_Device_IDA", f.GetDeviceIdA);
  LookUp(cfgmgr32, "CM_Get_DevNode_Registry_PropertyA", f.GetDevNodeRegistryPropertyA);
}

HidDllFunctions LookUpHidDll(HMODULE hid) {
  HidDllFunctions f;
  LookUp(hid, "HidD_GetHidGuid", f.GetHidGuid);
  LookUp(hid, "HidD_GetAttributes", f.GetAttributes);
  LookUp(hid, "HidD_GetPreparsedData", f.GetPreparsedData);
  LookUp(hid, "HidD_FreePreparsedData", f.FreePreparsedData);
  LookUp(hid, "HidP_GetCaps", f.GetCaps);
  LookUp(hid, "HidD_GetProductString", f.GetProductString);
  return f;
}

bool Complete(const SetupApiFunctions& f) {
  return AllFound(&f.GetClassDevsA, &f.EnumDeviceInterfaces, &f.GetDeviceInterfaceDetailA,
                  &f.GetDeviceRegistryPropertyA, &f.DestroyDeviceInfoList);
}

bool Complete(const HidDllFunctions& f) {
  return AllFound(&f.GetHidGuid, &f.GetAttributes, &f.GetPreparsedData, &f.FreePreparsedData,
                  &f.GetCaps, &f.GetProductString);
}

std::uint32_t LastBackendError() {
  return t_last_error;
}

void SetLastBackendError(std::uint32_t code) {
  t_last_error = code;
}

std::string WideToUtf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  const int wide_length = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide_length, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), size);
  return out;
}

std::string SystemErrorMessage(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) text = WideToUtf8(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "System error " + std::to_string(code);
  return text;
}

}  // namespace win

struct WinHidBackend::Libraries {
  HMODULE setupapi = nullptr;
  HMODULE hid = nullptr;
  HMODULE cfgmgr32 = nullptr;
  win::SetupApiFunctions setup;
  win::HidDllFunctions hid_fns;
  GUID guid = win::kStandardHidGuid;

  Libraries(const std::string& setupapi_name, const std::string& hid_name) {
    setupapi = LoadLibraryA(setupapi_name.c_str());
    if (setupapi == nullptr) return;
    setup = win::LookUpSetupApi(setupapi);
    if (!win::Complete(setup)) return;
    // Only the devices' ports and serial numbers need it.
    cfgmgr32 = LoadLibraryA("cfgmgr32.dll");
    if (cfgmgr32 != nullptr) win::LookUpConfigManager(cfgmgr32, setup);
    hid = LoadLibraryA(hid_name.c_str());
    if (hid == nullptr) return;
    hid_fns = win::LookUpHidDll(hid);
    if (!win::Complete(hid_fns)) {
      FreeLibrary(hid);
      hid = nullptr;
      return;
    }
    hid_fns.GetHidGuid(&guid);
  }

  ~Libraries() {
    if (hid != nullptr) FreeLibrary(hid);
    if (cfgmgr32 != nullptr) FreeLibrary(cfgmgr32);
    if (setupapi != nullptr) FreeLibrary(setupapi);
  }

  bool Loaded() const { return setupapi != nullptr && hid != nullptr; }
};

WinHidBackend::WinHidBackend() : WinHidBackend("setupapi.dll", "hid.dll") {}

WinHidBackend::WinHidBackend(const std::string& setupapi_name, const std::string& hid_name)
    : libs_(std::make_unique<Libraries>(setupapi_name, hid_name)) {}

WinHidBackend::~WinHidBackend() = default;

bool WinHidBackend::Available() {
  return libs_->Loaded();
}

std::string WinHidBackend::HidClassGuidText() const {
  return win::GuidText(libs_->guid);
}

std::vector<HidInterfaceInfo> WinHidBackend::Enumerate() {
  if (!libs_->Loaded()) return {};
  static const win::InterfaceIdentity identity = win::SystemInterfaceIdentity();
  return win::EnumerateInterfaces(libs_->setup, libs_->guid, identity);
}

std::unique_ptr<IHidHandle> WinHidBackend::Open(const std::string& path, HidOpenMode mode) {
  if (!libs_->Loaded()) {
    win::SetLastBackendError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  DWORD access = 0;
  DWORD flags = 0;
  switch (mode) {
    case HidOpenMode::ReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case HidOpenMode::QueryOnly:
      access = 0;
      break;
    case HidOpenMode::ReadAsync:
      access = GENERIC_READ;
      flags = FILE_FLAG_OVERLAPPED;
      break;
  }
  HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    win::SetLastBackendError(GetLastError());
    return nullptr;
  }
  return win::MakeDeviceHandle(handle, libs_->hid_fns);
}

std::unique_ptr<IWatch> WinHidBackend::WatchChanges(IEventLoop&, std::function<void()> on_change) {
  if (!libs_->Loaded()) return nullptr;
  return win::CreateChangeWindow(std::move(on_change));
}

std::uint32_t WinHidBackend::LastError() {
  return win::LastBackendError();
}

std::string WinHidBackend::ErrorMessage(std::uint32_t code) {
  return win::SystemErrorMessage(code);
}

}  // namespace mvx
