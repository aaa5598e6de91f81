// The Linux HID backend: hidraw nodes found and watched through libudev.
//
// A device is identified without opening it, from its HID parent in sysfs
// (HID_ID, HID_NAME, report_descriptor), because hidraw nodes are readable by
// root only unless a udev rule says otherwise: a scan that opened every node
// would fail on the first keyboard. A node that cannot be opened for reading
// and writing is still listed, query-only. The path given out is the hidraw
// node's sysfs path, which names the HID device and so changes with every
// connection, where /dev/hidrawN is reused at once.
#pragma once

#include <memory>

#include "hid/hid_backend.h"

namespace mvx {

class HidrawBackend : public IHidBackend {
 public:
  HidrawBackend();
  ~HidrawBackend() override;
  HidrawBackend(const HidrawBackend&) = delete;
  HidrawBackend& operator=(const HidrawBackend&) = delete;

  bool Available() override;
  std::vector<HidInterfaceInfo> Enumerate() override;
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override;
  // The udev monitor on the "udev" source, which reports a node after udev
  // has applied its rules and permissions; every add or remove of a hidraw
  // node calls on_change.
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> on_change) override;
  std::uint32_t LastError() override;
  std::string ErrorMessage(std::uint32_t code) override;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace mvx
