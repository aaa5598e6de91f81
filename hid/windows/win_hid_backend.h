// The Windows HID backend: enumeration through the SetupAPI, devices through
// hid.dll and kernel32 file I/O, change notification through a hidden window.
// setupapi.dll and hid.dll are loaded at run time by name; without them the
// backend is not Available and the controller stays empty.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace mvx {

class WinHidBackend : public IHidBackend {
 public:
  WinHidBackend();
  // The library names are a seam for tests that need a missing library.
  WinHidBackend(const std::string& setupapi_name, const std::string& hid_name);
  ~WinHidBackend() override;
  WinHidBackend(const WinHidBackend&) = delete;
  WinHidBackend& operator=(const WinHidBackend&) = delete;

  bool Available() override;
  std::vector<HidInterfaceInfo> Enumerate() override;
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override;
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> on_change) override;
  std::uint32_t LastError() override;
  std::string ErrorMessage(std::uint32_t code) override;

  // The interface class every scan uses, as "{XXXXXXXX-XXXX-...}": hid.dll's
  // answer, or the standard HID class when hid.dll is missing.
  std::string HidClassGuidText() const;

  struct Libraries;

 private:
  std::unique_ptr<Libraries> libs_;
};

}  // namespace mvx
