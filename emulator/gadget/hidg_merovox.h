// A Merovox device model as a USB HID gadget: a configfs gadget with one
// f_hid function carries the model's identity and report descriptor, and
// binding it to a UDC (dummy_hcd's, in a test machine) makes the host's
// usbhid find a real USB HID device. The model reads the host's output
// reports from /dev/hidgN and writes its answers there; setting in, removal
// and the restart bind and unbind the gadget, so the host sees a USB plug
// and unplug. Linux only; needs configfs and usb_f_hid.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "emulator/merovox_device.h"

namespace mvx::emu {

class HidgMerovox {
 public:
  explicit HidgMerovox(MerovoxDevice& device);
  ~HidgMerovox();
  HidgMerovox(const HidgMerovox&) = delete;
  HidgMerovox& operator=(const HidgMerovox&) = delete;

  // Makes the gadget under configfs_root ("/sys/kernel/config") named name,
  // for the first UDC in /sys/class/udc (or udc when given), and starts
  // serving it; false with the reason when any step fails. Manufacturer
  // and product are the USB strings: usbhid names the device by both.
  bool Open(const std::string& configfs_root, const std::string& name,
            const std::string& manufacturer, std::string udc, std::string* error);

  void SetIn();
  void Remove();
  bool OnBus() const;

  struct Traffic {
    std::uint64_t Outputs = 0;
    std::uint64_t Inputs = 0;
    std::uint64_t Binds = 0;
    std::uint64_t Unbinds = 0;
  };
  Traffic Counts() const;

  // Bind, unbind and node events, one short line each, from any thread.
  std::function<void(std::string_view)> OnNote;
  // Told, on the device's thread, just before the device leaves the bus or
  // comes back by itself (its restart, a removal fault); false is leaving.
  std::function<void(bool on_bus)> OnBusChange;

 private:
  void Bind();
  void Unbind();
  void SendInput(const std::uint8_t* report, std::size_t length);
  void Serve();
  bool OpenNode();
  void CloseNode();
  void TearDown();
  void Note(std::string_view text) const;

  MerovoxDevice& device_;
  std::string gadget_;    // the gadget's configfs folder
  std::string function_;  // its f_hid function folder
  std::string udc_;
  std::size_t out_length_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  bool bound_ = false;
  int fd_ = -1;  // /dev/hidgN while bound and opened
  Traffic traffic_;
};

}  // namespace mvx::emu
