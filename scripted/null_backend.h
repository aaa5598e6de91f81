// A HID backend without a HID library: the controller never scans and stays
// empty. For tests of the window's logic that need no device.
#pragma once

#include "hid/hid_backend.h"

namespace mvx {

class NullHidBackend : public IHidBackend {
 public:
  bool Available() override { return false; }
  std::vector<HidInterfaceInfo> Enumerate() override { return {}; }
  std::unique_ptr<IHidHandle> Open(const std::string&, HidOpenMode) override { return nullptr; }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop&, std::function<void()>) override {
    return nullptr;
  }
  std::uint32_t LastError() override { return 0; }
  std::string ErrorMessage(std::uint32_t) override { return {}; }
};

}  // namespace mvx
