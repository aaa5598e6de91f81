#include "hid/platform_backend.h"

#if defined(__linux__)
#include "hid/linux/hidraw_backend.h"
#elif defined(_WIN32)
#include "hid/windows/win_hid_backend.h"
#endif

namespace mvx {
namespace {

class NoHidBackend : public IHidBackend {
 public:
  bool Available() override { return false; }
  std::vector<HidInterfaceInfo> Enumerate() override { return {}; }
  std::unique_ptr<IHidHandle> Open(const std::string&, HidOpenMode) override { return nullptr; }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop&, std::function<void()>) override {
    return std::make_unique<IWatch>();
  }
  std::uint32_t LastError() override { return 0; }
  std::string ErrorMessage(std::uint32_t) override { return {}; }
};

}  // namespace

std::unique_ptr<IHidBackend> CreatePlatformHidBackend() {
#if defined(__linux__)
  return std::make_unique<HidrawBackend>();
#elif defined(_WIN32)
  return std::make_unique<WinHidBackend>();
#else
  return std::make_unique<NoHidBackend>();
#endif
}

}  // namespace mvx
