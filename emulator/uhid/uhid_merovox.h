// A Merovox device model behind the kernel's /dev/uhid: setting it into the
// cradle creates a virtual USB HID device with the model's identity, every
// output report the host writes goes to the model, the model's answers go
// back as input reports, and its restart destroys the device and creates it
// again, so the host sees a real removal and arrival. The events go to the
// kernel's node directly (Linux) or through mvx-uhid-relay (any system).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "emulator/merovox_device.h"
#include "emulator/uhid/uhid_channel.h"

namespace mvx::emu {

namespace uhid {
struct Event;
}

// A vendor-defined report descriptor without report IDs: one input report of
// input_bytes and one output report of output_bytes, bytes of 0..255.
std::vector<std::uint8_t> VendorReportDescriptor(std::uint16_t input_bytes,
                                                 std::uint16_t output_bytes);

class UhidMerovox {
 public:
  explicit UhidMerovox(MerovoxDevice& device);
  ~UhidMerovox();
  UhidMerovox(const UhidMerovox&) = delete;
  UhidMerovox& operator=(const UhidMerovox&) = delete;

  // Opens the uhid node ("/dev/uhid") and starts serving its events; false
  // with the reason when it cannot be opened.
  bool Open(const std::string& node, std::string* error);
  // Serves a channel that speaks the uhid event protocol (taken over,
  // closed at destruction).
  void Attach(std::unique_ptr<UhidChannel> channel);
#ifndef _WIN32
  void Attach(int fd) {
    Attach(UhidChannelOnDescriptor(fd));
  }
#endif

  // The operator sets the device into the cradle, or takes it out.
  void SetIn();
  void Remove();
  bool OnBus() const;

  struct Traffic {
    std::uint64_t Outputs = 0;  // output reports handed to the model
    std::uint64_t Inputs = 0;   // input reports sent
    std::uint64_t Creates = 0;
    std::uint64_t Destroys = 0;
  };
  Traffic Counts() const;

  // What happens on the kernel side, one short line each ("created",
  // "started", "opened", "destroyed", ...), from any thread. Set before Open.
  std::function<void(std::string_view)> OnNote;
  // Told, on the device's thread, just before the device leaves the bus or
  // comes back by itself (its restart, a removal fault); false is leaving.
  // Set before Open.
  std::function<void(bool on_bus)> OnBusChange;

 private:
  void CreateNow();
  void DestroyNow();
  void SendInput(const std::uint8_t* report, std::size_t length);
  void Serve();
  void HandleEvent(uhid::Event* event, std::size_t length);
  void Note(std::string_view text) const;

  MerovoxDevice& device_;
  std::unique_ptr<UhidChannel> channel_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  bool created_ = false;
  // Output reports count only between the kernel's start and stop of the
  // device made by the last create: a report of a destroyed device still in
  // the queue is not the new device's.
  bool started_ = false;
  Traffic traffic_;
};

}  // namespace mvx::emu
